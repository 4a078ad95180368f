#include "app/cli/Main.h"

#include "app/shell/Windowed.h"
#include "core/project/Fail.h"
#include "core/project/Records.h"
#include "platform/Ending.h"
#include "platform/PartialFile.h"
#include "platform/TempFile.h"
#include "platform/media/Media.h"

#include <QCoreApplication>
#include <QTimer>
#include <cctype>
#include <cmath>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <locale.h>

namespace Main {

namespace {

// A job speaks only on standard output; Qt's own notices have no place there.
void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

// Runs the job and ends the process from inside it: 0 after it finished, 1 after the
// "error:" line of its failure.
QCoro::Task<> conclude(Job job)
{
    int status = 0;
    try {
        co_await job();
    } catch (const Fail& fail) {
        say(QStringLiteral("error: ") + fail.errorDescription);
        status = 1;
    } catch (const std::exception& e) {
        say(QStringLiteral("error: ") + QString::fromLocal8Bit(e.what()));
        status = 1;
    } catch (...) {
        say(QStringLiteral("error: The job stopped on a failure it could not name."));
        status = 1;
    }
    // Ends at once: work that the job leaves behind (a price refresh, a cancelled
    // pipeline) may still run on other threads, which must not see the program's
    // statics being torn down under them.
    Ending::now(status);
}

// Runs one job on the main thread of an application without a display; never returns.
[[noreturn]] void headless(int& argc, char** argv, Job job)
{
    QCoreApplication app(argc, argv);
    // Number text must never follow the user's locale.
    std::setlocale(LC_NUMERIC, "C");
    qInstallMessageHandler(quiet);
    QTimer::singleShot(0, &app, [job = std::move(job)] { conclude(job); });
    app.exec();
    std::_Exit(0); // not reached: the job ends the process
}

} // namespace

std::optional<QString> valueAfter(const QString& flag, const QStringList& args)
{
    const qsizetype i = args.indexOf(flag);
    if (i < 0 || i + 1 >= args.size())
        return std::nullopt;
    return args[i + 1];
}

std::optional<double> number(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    if (bytes.isEmpty() || std::isspace(static_cast<unsigned char>(bytes.front())))
        return std::nullopt;
    static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    char* end = nullptr;
    const double value = strtod_l(bytes.constData(), &end, c);
    if (end != bytes.constData() + bytes.size())
        return std::nullopt;
    return value;
}

void refuseBefore(double start)
{
    if (start < 0)
        throw Fail(QStringLiteral("The start must not be before the beginning of the recording."));
}

void refuseAfter(double start, double end, double length, const QString& pastEnd)
{
    if (!(length > 0) || !std::isfinite(length))
        return;
    // The length in whole seconds as the listings show times, which is what the user sees
    // of the recording elsewhere.
    const QString told = QStringLiteral(" the end of the recording, which is ") + clock(length) + QStringLiteral(" long.");
    if (start >= length)
        throw Fail(QStringLiteral("The start must come before") + told);
    if (end > length)
        throw Fail(pastEnd + told);
}

std::optional<Job> dispatch(const QStringList& args)
{
    const qsizetype n = args.size();
    const QString note = valueAfter(QStringLiteral("--note"), args).value_or(QString());
    const auto at = [&](const char* flag) { return args.indexOf(QLatin1String(flag)); };
    // A flag with its operand i + offset and i + offset + 1 both numbers.
    const auto times = [&](qsizetype i, int offset) -> std::optional<std::pair<double, double>> {
        if (i < 0 || i + offset + 1 >= n)
            return std::nullopt;
        const auto a = number(args[i + offset]);
        const auto b = number(args[i + offset + 1]);
        if (!a || !b)
            return std::nullopt;
        return std::pair{*a, *b};
    };

    if (const qsizetype i = at("--transcribe"); const auto t = times(i, 2))
        return [recording = args[i + 1], t = *t, note] { return transcribe(recording, t.first, t.second, note); };
    if (const auto recording = valueAfter(QStringLiteral("--run"), args))
        return [recording = *recording, note] { return run(recording, note); };
    if (const qsizetype i = at("--export"); i >= 0 && i + 2 < n)
        return [recording = args[i + 1], output = args[i + 2]] { return exportShort(recording, output); };
    if (const qsizetype i = at("--ask"); i >= 0 && i + 3 < n)
        return [recording = args[i + 1], segments = args[i + 2], instruction = args[i + 3]] {
            return ask(recording, segments, instruction);
        };
    if (const qsizetype i = at("--add-segment"); const auto t = times(i, 2))
        return [recording = args[i + 1], t = *t] { return addSegment(recording, t.first, t.second); };
    if (at("--check-key") >= 0)
        return [] { return checkKey(); };
    return std::nullopt;
}

int main(int& argc, char** argv)
{
    Media::pinHeapThresholds();
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    // What an export killed earlier left goes now, not only with the next export. Cheap: it
    // reads a small folder of notes, and files that a running export holds are kept.
    PartialFile::sweep({}, QStringLiteral(".mp4"));
    // Likewise the temporary files (a segment's sound) of a process that was killed.
    TempFiles::sweep();
    if (auto job = dispatch(args))
        headless(argc, argv, std::move(*job));
    runWindowed(argc, argv);
}

void say(const QString& line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

} // namespace Main
