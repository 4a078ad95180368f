// The two jobs that need no project: transcribing a stretch of a recording, and testing
// the gateway key.

#include "app/cli/Main.h"

#include "core/project/Fail.h"
#include "core/services/Analyst.h"
#include "core/services/Transcription.h"
#include "platform/Prefs.h"
#include "platform/media/Media.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <cmath>

namespace Main {

QCoro::Task<> transcribe(QString recording, double start, double length, QString hint)
{
    const std::shared_ptr<const Transcriber> engine = Transcribers::current();
    QElapsedTimer began;
    began.start();
    const QString video = QFileInfo(recording).absoluteFilePath();
    const QString language = Prefs::shared().language();

    // Refused before any audio is cut: such a stretch cannot be cut from a recording.
    Segment stretch;
    stretch.start = start;
    stretch.end = start + length;
    if (!std::isfinite(start) || !std::isfinite(length) || !std::isfinite(stretch.end))
        throw Fail(QStringLiteral("The start and the length must be finite numbers of seconds."));
    refuseBefore(start);
    if (length <= 0)
        throw Fail(QStringLiteral("The length must be more than 0 seconds."));
    // A stretch past the recording's end would be cut as no sound and read as no words,
    // which is a failure that looks like success.
    const MediaInfo info = co_await Media::probe(video);
    refuseAfter(start, stretch.end, info.duration, QStringLiteral("The stretch must not reach past"));

    const Pipeline::Transcript transcript = co_await Pipeline::transcribe(stretch, video, language, hint, engine, nullptr);
    for (const Line& line : transcript.lines)
        say(QString::asprintf("%7.2f %7.2f  ", line.t0 - start, line.t1 - start) + line.text);
    say(QString::number(transcript.lines.size()) + QStringLiteral(" lines from ") + engine->name()
        + QStringLiteral(" in ") + QString::asprintf("%.1f", double(began.elapsed()) / 1000.0) + QStringLiteral(" s"));
}

QCoro::Task<> checkKey()
{
    say(co_await Analyst::checkKey());
}

} // namespace Main
