#include "core/services/Tool.h"

#include "core/project/Fail.h"
#include "core/project/Text.h"
#include "platform/TempFile.h"

#include <QCoro/QCoroFuture>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QPromise>
#include <QStringDecoder>
#include <QUuid>
#include <memory>

namespace {

QStringList folders()
{
    QStringList out = qEnvironmentVariable("VANTOREL_TOOL_DIRS").split(u':', Qt::SkipEmptyParts);
    out << QStringLiteral("/opt/homebrew/bin") << QStringLiteral("/home/linuxbrew/.linuxbrew/bin")
        << QStringLiteral("/usr/local/bin") << QStringLiteral("/usr/bin");
    return out;
}

// The last non-empty line of the error output; a log that cannot be read or is not
// UTF-8 counts as empty.
QString lastLine(const QString& log)
{
    QFile file(log);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8(file.readAll());
    if (utf8.hasError())
        return {};
    const QStringList lines = Text::lines(text);
    for (auto line = lines.crbegin(); line != lines.crend(); ++line)
        if (!line->isEmpty())
            return *line;
    return {};
}

} // namespace

namespace Tool {

std::optional<QString> find(const QString& name)
{
    for (const QString& folder : folders()) {
        const QString path = folder + u'/' + name;
        const QFileInfo info(path);
        if (info.isFile() && info.isExecutable())
            return path;
    }
    return std::nullopt;
}

QString require(const QString& name)
{
    const std::optional<QString> program = find(name);
    if (!program) {
        // ffmpeg comes from the system's packages here; whisper-cpp only from Homebrew.
        const QString with = name == u"ffmpeg" ? QStringLiteral("sudo apt install ffmpeg") : QStringLiteral("Homebrew");
        throw Fail(name + QStringLiteral(" is not installed. Install it with ") + with + QStringLiteral(", then try again."));
    }
    return *program;
}

QCoro::Task<void> ended(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        co_return;
    auto promise = std::make_shared<QPromise<void>>();
    promise->start();
    const QFuture<void> over = promise->future();
    auto done = [promise] {
        if (!promise->future().isFinished())
            promise->finish();
    };
    const auto finished = QObject::connect(&process, &QProcess::finished, done);
    const auto failed = QObject::connect(&process, &QProcess::errorOccurred, [done](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            done();
    });
    co_await over;
    QObject::disconnect(finished);
    QObject::disconnect(failed);
}

QCoro::Task<void> run(QString name, QStringList arguments)
{
    const std::optional<QString> program = require(name);

    const QString log = QDir::tempPath() + u'/' + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()
                        + QStringLiteral(".log");
    const RemoveWhenDone removeLog{log};
    {
        QFile file(log);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            throw Fail(QStringLiteral("The error log for %1 could not be made in %2 (%3).")
                           .arg(name, QDir::toNativeSeparators(QDir::tempPath()), file.errorString()));
    }

    QProcess process;
    process.setProgram(*program);
    process.setArguments(arguments);
    process.setInputChannelMode(QProcess::ForwardedInputChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(log);
    process.start();
    co_await ended(process);

    if (process.error() == QProcess::FailedToStart)
        throw Fail(QStringLiteral("%1 could not be started from %2 (%3).")
                       .arg(name, QDir::toNativeSeparators(*program), process.errorString()));
    if (process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        co_return;
    throw Fail(name + QStringLiteral(" stopped with an error. ") + lastLine(log));
}

} // namespace Tool
