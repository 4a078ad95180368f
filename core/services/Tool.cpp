#include "core/services/Tool.h"

#include "core/project/Fail.h"
#include "core/project/Text.h"
#include "platform/TempFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringDecoder>
#include <csignal>
#include <memory>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

QStringList folders()
{
    QStringList out = qEnvironmentVariable("VANTOREL_TOOL_DIRS").split(u':', Qt::SkipEmptyParts);
    out << QStringLiteral("/opt/homebrew/bin") << QStringLiteral("/home/linuxbrew/.linuxbrew/bin")
        << QStringLiteral("/usr/local/bin") << QStringLiteral("/usr/bin");
    // An empty or relative entry names a folder relative to wherever we were started.
    for (const QString& folder : qEnvironmentVariable("PATH").split(u':', Qt::SkipEmptyParts))
        if (folder.startsWith(u'/'))
            out << folder;
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

void endWithUs(QProcess& process)
{
    const pid_t us = getpid();
    // Runs in the child between fork and exec: only calls that are safe there.
    process.setChildProcessModifier([us] {
        // The kernel kills the child when the thread that started it ends; every program is
        // started from the main thread, whose end is the program's.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        // We may have ended before the line above: then the child was handed to another parent.
        if (::getppid() != us)
            ::_exit(127);
    });
}

Ended::Ended(QProcess& process)
    : process_(process)
{
}

Ended::~Ended() = default; // the context takes its connections and any queued resume along

bool Ended::await_ready() const noexcept
{
    return process_.state() == QProcess::NotRunning;
}

void Ended::await_suspend(std::coroutine_handle<> waiting)
{
    context_ = std::make_unique<QObject>();
    QObject* const context = context_.get();
    auto end = [this, context, waiting] {
        if (fired_)
            return;
        fired_ = true;
        QMetaObject::invokeMethod(context, [waiting] { waiting.resume(); }, Qt::QueuedConnection);
    };
    QObject::connect(&process_, &QProcess::finished, context, end);
    QObject::connect(&process_, &QProcess::errorOccurred, context, [end](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            end();
    });
}

QCoro::Task<void> run(QString name, QStringList arguments)
{
    const std::optional<QString> program = require(name);

    const QString log = TempFiles::make(QString(), QStringLiteral(".log"));
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
    endWithUs(process);
    // A frame destroyed while the program runs ends the program with it.
    struct EndWithFrame {
        QProcess& process;
        ~EndWithFrame()
        {
            if (process.state() == QProcess::NotRunning)
                return;
            process.disconnect();
            process.kill();
            process.waitForFinished(1000);
        }
    } endWithFrame{process};
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
