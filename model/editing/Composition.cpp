#include "model/editing/Composition.h"

#include "core/project/Fail.h"
#include "core/project/Text.h"
#include "core/services/Tool.h"
#include "platform/PartialFile.h"
#include "platform/Pieces.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <cmath>

namespace {

double onGrid(double seconds)
{
    return std::round(seconds * 600.0) / 600.0;
}

QString stream(int input, int index)
{
    return QStringLiteral("[%1:%2]").arg(input).arg(index);
}

} // namespace

std::optional<Composition> Composition::of(const std::vector<Cut>& cuts, const MediaInfo& media, double madeFrom)
{
    if (!media.videoStream)
        return std::nullopt;
    Composition c;
    c.source = media.path;
    c.videoStream = *media.videoStream;
    c.audioStream = media.audioStream;
    c.size = media.naturalSize;
    c.transform = media.transform;
    c.frameRate = media.frameRate;
    c.dataEnd = media.dataEnd;
    for (const Cut& cut : cuts) {
        const Span piece = held(cut, std::max(media.duration, madeFrom));
        if (piece.length() > 0)
            c.pieces.push_back(piece);
    }
    if (c.pieces.empty())
        return std::nullopt;
    return c;
}

Span Composition::held(const Cut& cut, double duration)
{
    const double limit = duration > 0 ? duration : INFINITY;
    const double start = onGrid(std::clamp(cut.start, 0.0, limit));
    const double length = onGrid(std::min(cut.end, limit) - start);
    return {start, start + std::max(length, 0.0)};
}

ShortLine Composition::line(const std::vector<Cut>& cuts, double duration)
{
    ShortLine line;
    line.spans.reserve(cuts.size());
    for (const Cut& cut : cuts)
        line.spans.push_back(held(cut, duration));
    return line;
}

std::optional<double> Composition::shortTime(const ShortLine& line, double r)
{
    // Whole steps of the grid: an edge and the time it was rounded from fall on the same one.
    const auto step = [](double seconds) { return std::round(seconds * 600.0); };
    const double at = step(r);
    double acc = 0;
    for (const Span& s : line.spans) {
        if (step(s.start) <= at && at <= step(s.end)) {
            // An edge maps to exactly the Short time of that edge, which `ShortLine::at`
            // then finds again (a cut's end is the next cut's start there).
            if (at == step(s.start))
                return acc;
            return acc + (at == step(s.end) ? s.length() : r - s.start);
        }
        acc += s.length();
    }
    return std::nullopt;
}

double Composition::duration() const
{
    return ShortLine{pieces}.total();
}

QStringList Composition::arguments(const QString& output, const std::vector<StretchFrames>& frames) const
{
    QStringList args{"-nostdin", "-hide_banner", "-v", "error", "-y", "-progress", "pipe:1", "-nostats",
                     "-stats_period", "0.2"};
    const auto fixed = [](double seconds) { return QString::asprintf("%.6f", seconds); };
    const bool known = frames.size() == pieces.size();
    QString graph;
    QString joined;
    QString sounds;
    double at = 0; // where the piece starts on the Short's time line
    for (int i = 0; i < int(pieces.size()); ++i) {
        const Span& piece = pieces[i];
        // ffmpeg decodes from where its seek lands, and keeps what follows the seek point;
        // the piece keeps the frames from the one shown at its start (halfway from the one
        // before it, clear of the rounding of either time) to the last that starts before its end.
        double from = std::max(0.0, piece.start);
        double until = piece.end;
        // Where ffmpeg's times count from, in the picture and in the sound: each stream's
        // stamps are moved by the seek time counted in its own units (whole frames in an AVI).
        double pictureZero = from, soundZero = from;
        std::optional<double> firstKept;
        if (known) {
            const StretchFrames& f = frames[i];
            from = f.seekTo;
            pictureZero = f.pictureZero;
            soundZero = f.soundZero;
            firstKept = f.firstKept();
            if (const auto kept = f.keptUntil())
                until = *kept;
        }
        const double length = piece.length();
        const double offset = piece.start - pictureZero; // of the piece's start after the seek point
        const double heard = piece.start - soundZero;    // the same in the sound
        const double late = known ? frames[i].decodedLate.value_or(0) : 0; // of ffmpeg's stamps
        // From the recording's start ffmpeg reads on from the file's first packet, with times
        // counted as after a seek to 0. It is not asked to seek there: in an FLV or an AVI
        // whose video has B-frames that seek aims before the first key frame and fails, and
        // ffmpeg goes on from where it stopped reading to learn the file, seconds later.
        if (from >= 0.5e-6)
            args << "-ss" << fixed(from);
        args << "-t" << fixed(std::max(until, piece.end) - from + 0.1) << Pieces::ffmpegInput(source);
        // Times after -ss count from each stream's time 0; each frame goes where the player
        // shows it on the Short's time line, the first at the piece's own start.
        const QString before = fixed(until - pictureZero + late);
        const QString keep = firstKept
            ? QStringLiteral("gte(t,%1)*lt(t,%2)").arg(fixed(*firstKept - pictureZero + late), before)
            : QStringLiteral("lt(t,%1)").arg(before);
        graph += stream(i, videoStream)
                 + QStringLiteral("select='%1',settb=AVTB,setpts='(%2+max(0,T-%3))/TB'[v%4];")
                       .arg(keep, fixed(at), fixed(offset + late))
                       .arg(i);
        joined += QStringLiteral("[v%1]").arg(i);
        if (audioStream) {
            // The sound of the piece's stretch at its place from the piece's start, laid over
            // silence of exactly the piece's length: where the recording has no sound (a sound
            // track that starts late or ends early, or none at all over the piece), the piece is
            // silent there, and later cuts keep step.
            graph += stream(i, *audioStream)
                     + QStringLiteral("atrim=start=%1:end=%2,asetpts=PTS-%1/TB,"
                                      "aresample=async=1:min_hard_comp=0.001:first_pts=0[s%4];"
                                      "anullsrc=r=48000:cl=stereo,atrim=end=%3[z%4];"
                                      "[z%4][s%4]amix=inputs=2:duration=first:dropout_transition=0:normalize=0,"
                                      "atrim=end=%3[a%4];")
                           .arg(fixed(heard), fixed(heard + length), fixed(length))
                           .arg(i);
            sounds += QStringLiteral("[a%1]").arg(i);
        }
        at += length;
    }
    // The pictures already carry their times, so they are merged in time order rather than
    // laid end to end again; the sound pieces are laid end to end, each exactly its length.
    // H.264 in 4:2:0 needs even sides: an odd one loses its last row or column.
    const bool odd = size.width() % 2 != 0 || size.height() % 2 != 0;
    graph += joined + QStringLiteral("interleave=n=%1").arg(pieces.size());
    graph += odd ? QStringLiteral(",scale=trunc(iw/2)*2:trunc(ih/2)*2[v]") : QStringLiteral("[v]");
    if (audioStream)
        graph += u';' + sounds + QStringLiteral("concat=n=%1:v=0:a=1[a]").arg(pieces.size());
    args << "-filter_complex" << graph << "-map" << "[v]";
    if (audioStream)
        args << "-map" << "[a]";
    // Frames keep the times given above: none is repeated or dropped to fit a fixed rate.
    // The rate only tells how long the last frame lasts.
    args << "-fps_mode:v" << "vfr" << "-enc_time_base:v" << "1:90000";
    if (frameRate > 0)
        args << "-r:v" << Text::numberWithPoint(frameRate);
    args << "-c:v" << "libx264" << "-preset" << "fast" << "-crf" << "18" << "-pix_fmt" << "yuv420p";
    if (audioStream)
        args << "-c:a" << "aac" << "-b:a" << "192k";
    args << "-movflags" << "+faststart" << "-f" << "mp4" << output;
    return args;
}

QCoro::Task<> render(Composition composition, QString target, std::function<void(double)> progress, Cancel cancel)
{
    const QFileInfo info(target);
    const QString folder = info.absolutePath();
    if (!QFileInfo(folder).isDir())
        throw Fail(QStringLiteral("The folder %1 does not exist.").arg(QDir::toNativeSeparators(folder)));
    const QString ffmpeg = Tool::require(QStringLiteral("ffmpeg"));
    // A cut past where the recording's data stops would come out short of picture and sound.
    // (Where the file does not say so, its packets tell: see below.)
    for (const Span& piece : composition.pieces)
        if (composition.dataEnd && piece.end > *composition.dataEnd + 0.1)
            throw Fail(Media::endsEarly(composition.source, *composition.dataEnd));
    // Which frames each piece holds, and where ffmpeg must seek to have them, read from the
    // recording's packets.
    std::vector<StretchFrames> frames;
    try {
        frames = co_await Media::stretches(composition.source, composition.pieces);
    } catch (const Fail&) {
        // ffmpeg says what is wrong with the recording in a moment.
    }
    if (cancel.cancelled())
        throw Fail(QStringLiteral("The export was cancelled."));
    for (const StretchFrames& f : frames)
        if (f.picturesStop)
            throw Fail(Media::endsEarly(composition.source, *f.picturesStop));
    // What an export killed earlier left here (or anywhere) goes, unless its writer still runs.
    PartialFile::sweep(folder, QStringLiteral(".mp4"));
    // Locked while ffmpeg may write it; removed, however the frame ends, unless it became the target.
    PartialFile part = PartialFile::create(folder, QStringLiteral(".mp4"));

    // Declared before the process: its destructor still reads the program's output into them.
    QByteArray errors;
    QByteArray lines;
    const double total = composition.duration();
    QProcess process;
    process.setProgram(ffmpeg);
    process.setArguments(composition.arguments(part.path(), frames));
    Tool::endWithUs(process);
    QObject::connect(&process, &QProcess::readyReadStandardError, [&] {
        errors += process.readAllStandardError();
        if (errors.size() > 16384)
            errors = errors.right(8192);
    });
    QObject::connect(&process, &QProcess::readyReadStandardOutput, [&] {
        lines += process.readAllStandardOutput();
        qsizetype end;
        while ((end = lines.indexOf('\n')) >= 0) {
            const QByteArray line = lines.left(end).trimmed();
            lines.remove(0, end + 1);
            if (line.startsWith("out_time_us=") && total > 0) {
                bool ok = false;
                const double us = line.mid(12).toDouble(&ok);
                if (ok && progress)
                    progress(std::clamp(us / 1e6 / total, 0.0, 1.0));
            }
        }
    });
    const int stop = cancel.onCancel([&process] { process.kill(); });
    // A frame destroyed while ffmpeg runs (the program quitting mid-export) leaves no cancel
    // callback that points into it, and ffmpeg ends before its file is removed.
    auto leave = qScopeGuard([&] {
        cancel.forget(stop);
        if (process.state() != QProcess::NotRunning) {
            process.disconnect(); // no progress from a run nobody waits for
            process.kill();
            process.waitForFinished(2000);
        }
    });
    process.start();
    co_await Tool::ended(process);

    const bool done = process.error() != QProcess::FailedToStart && process.exitStatus() == QProcess::NormalExit
                      && process.exitCode() == 0;
    if (!done || cancel.cancelled()) {
        if (cancel.cancelled())
            throw Fail(QStringLiteral("The export was cancelled."));
        if (process.error() == QProcess::FailedToStart)
            throw Fail(QStringLiteral("ffmpeg could not be started from %1 (%2).")
                           .arg(QDir::toNativeSeparators(ffmpeg), process.errorString()));
        QString last;
        for (const QString& line : Text::lines(QString::fromUtf8(errors)))
            if (!line.trimmed().isEmpty())
                last = line.trimmed();
        throw Fail(QStringLiteral("ffmpeg stopped with an error. ") + last);
    }
    // ffmpeg ends well also where it could decode no picture of a piece: the file must hold
    // every frame asked for, and sound for the whole Short, before it counts as exported.
    Media::Held written;
    try {
        written = co_await Media::held(part.path());
    } catch (const Fail&) {
        throw Fail(QStringLiteral("The exported file could not be read back, so it was not kept."));
    }
    if (cancel.cancelled())
        throw Fail(QStringLiteral("The export was cancelled."));
    const QString damaged = QStringLiteral(" (the recording may be damaged at a cut), so the file was not kept.");
    if (written.pictures == 0)
        throw Fail(QStringLiteral("ffmpeg wrote no picture") + damaged);
    if (frames.size() == composition.pieces.size()) {
        int wanted = 0;
        bool rough = false; // a video without showing stamps: a frame more or less at each edge
        for (const StretchFrames& f : frames) {
            wanted += f.frames;
            rough = rough || f.decodedLate;
        }
        const int slack = rough ? 2 * int(frames.size()) : 0;
        if (std::abs(written.pictures - wanted) > slack)
            throw Fail(QStringLiteral("ffmpeg wrote %1 frames where the Short has %2").arg(written.pictures).arg(wanted)
                       + damaged);
    }
    if (composition.audioStream && written.sound < total - 0.05)
        throw Fail(QStringLiteral("ffmpeg wrote %1 s of sound for the Short's %2 s")
                       .arg(QString::asprintf("%.1f", written.sound), QString::asprintf("%.1f", total))
                   + damaged);
    if (!part.moveTo(target))
        throw Fail(QStringLiteral("The export could not be saved as %1.").arg(QDir::toNativeSeparators(target)));
    if (progress)
        progress(1.0);
}
