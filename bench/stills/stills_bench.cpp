// Film-strip stills over a 1080p H.264 recording of ten minutes: one open decoder serving
// 100 seconds against one ffmpeg process per still, and the memory of a full strip. And a
// thumbnail from that recording cut to a quarter of its bytes, inside its data and past it.

#include "bench/QtMain.h"
#include "model/editing/Frames.h"
#include "platform/media/Media.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QPromise>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <algorithm>
#include <random>

namespace {

bool ffmpeg(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral("ffmpeg"), QStringList{"-nostdin", "-v", "error", "-y"} + arguments);
    return process.waitForFinished(600000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// Ten minutes of 1080p30 H.264 at 6 Mbit/s as a streaming program records it (x264 at
// "veryfast" with two B-frames) with AAC sound, key frames every `gop` frames:
// one minute is encoded and repeated, which keeps the making quick. Made once per run.
QString recording(int gop)
{
    static QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("stream-g%1.mp4").arg(gop));
    if (QFile::exists(path))
        return path;
    const QString minute = folder.filePath(QStringLiteral("minute-g%1.mp4").arg(gop));
    const bool made =
        ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=30:duration=60", "-f", "lavfi", "-i",
                "sine=frequency=440:sample_rate=48000:duration=60", "-c:v", "libx264", "-preset", "veryfast", "-bf", "2", "-b:v",
                "6M", "-maxrate", "6M", "-bufsize", "12M", "-g", QString::number(gop), "-sc_threshold", "0",
                "-pix_fmt", "yuv420p", "-threads", "3", "-c:a", "aac", minute})
        && ffmpeg({"-stream_loop", "9", "-i", minute, "-c", "copy", path});
    QFile::remove(minute);
    return made ? path : QString();
}

// The recording for the benchmark's key-frame interval; empty (and the benchmark skipped)
// when it cannot be made.
QString recordingFor(benchmark::State& state)
{
    const QString path = recording(int(state.range(0)));
    if (path.isEmpty())
        state.SkipWithError("ffmpeg could not make the recording");
    return path;
}

// 100 seconds spread over the ten minutes, in the shuffled order a strip's tasks may ask.
std::vector<int> hundredSeconds()
{
    std::vector<int> seconds;
    for (int k = 0; k < 100; ++k)
        seconds.push_back(3 + 6 * k);
    std::shuffle(seconds.begin(), seconds.end(), std::mt19937(7));
    return seconds;
}

// A new decoder every iteration, so opening the file is part of the cost.
void stillsInProcess(benchmark::State& state)
{
    const QString path = recordingFor(state);
    if (path.isEmpty())
        return;
    int made = 0;
    for (auto _ : state) {
        StillDecoder decoder(path, QSize(Frames::side, Frames::side));
        std::vector<QFuture<std::optional<QImage>>> futures;
        for (int s : hundredSeconds())
            futures.push_back(decoder.still(s));
        made = 0;
        for (auto& f : futures) {
            f.waitForFinished();
            made += f.result().has_value();
        }
    }
    state.counters["stills"] = made;
}
// Key frames every 2 s (what streaming services ask for) and every 10 s.
BENCHMARK(stillsInProcess)->Arg(60)->Arg(300)->ArgName("gop")->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void stillsOneFfmpegEach(benchmark::State& state)
{
    const QString path = recordingFor(state);
    if (path.isEmpty())
        return;
    QTemporaryDir out;
    const QString jpeg = out.filePath("still.jpg");
    for (auto _ : state) {
        for (int s : hundredSeconds()) {
            if (!ffmpeg({"-ss", QString::number(s), "-i", path, "-frames:v", "1", "-vf",
                         "scale=240:240:force_original_aspect_ratio=decrease", jpeg})) {
                state.SkipWithError("ffmpeg failed");
                return;
            }
        }
    }
}
BENCHMARK(stillsOneFfmpegEach)->Arg(60)->Arg(300)->ArgName("gop")->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

// The recording (key frames 2 s apart) cut to its first quarter, as a copy off a full disk:
// an MP4 with its index first, or an MPEG-TS. Its data stops at 2:30.
QString cutRecording(bool ts)
{
    static QTemporaryDir folder;
    const QString path = folder.filePath(ts ? QStringLiteral("cut.ts") : QStringLiteral("cut.mp4"));
    if (QFile::exists(path))
        return path;
    const QString from = recording(60);
    const QString whole = folder.filePath(ts ? QStringLiteral("whole.ts") : QStringLiteral("whole.mp4"));
    if (from.isEmpty()
        || !ffmpeg(QStringList{"-i", from, "-c", "copy"} + (ts ? QStringList{} : QStringList{"-movflags", "+faststart"})
                   + QStringList{whole}))
        return QString();
    QFile in(whole), out(path);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly))
        return QString();
    out.write(in.read(in.size() / 4));
    out.close();
    QFile::remove(whole);
    return path;
}

// One thumbnail (a segment's, a recent project's) at `at` seconds: 100 inside the data, 300
// and 590 past it, where the last picture shows.
void stillOfACutRecording(benchmark::State& state)
{
    const QString path = cutRecording(state.range(0) != 0);
    if (path.isEmpty()) {
        state.SkipWithError("ffmpeg could not make the recording");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(Media::stillNow(path, double(state.range(1)), QSize(320, 180)));
}
BENCHMARK(stillOfACutRecording)
    ->ArgsProduct({{0, 1}, {100, 300, 590}})
    ->ArgNames({"ts", "at"})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

// Answers at once with a 16:9 still of the size the decoder makes.
class InstantStills : public StillSource {
public:
    QFuture<std::optional<QImage>> still(int second) override
    {
        QImage image(240, 135, QImage::Format_RGB32);
        image.fill(QColor::fromHsv(second % 360, 200, 200));
        QPromise<std::optional<QImage>> promise;
        promise.start();
        promise.addResult(std::optional<QImage>(std::move(image)));
        promise.finish();
        return promise.future();
    }
};

double residentMegabytes(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(strlen(field))).trimmed().split(' ').first().toDouble() / 1024;
    }
    return 0;
}

// The resident memory that a strip of 1500 stills adds (a 16:9 recording: 240x135 each).
void framesHolding1500(benchmark::State& state)
{
    double added = 0;
    for (auto _ : state) {
        const double before = residentMegabytes("VmRSS:");
        Frames frames([](const MediaInfo&) { return std::make_unique<InstantStills>(); });
        frames.use(MediaInfo{}, 16.0 / 9.0, std::nullopt);
        for (int s = 0; s < Frames::cap; ++s)
            frames.load(s);
        while (frames.images().size() < Frames::cap)
            QCoreApplication::processEvents();
        added = residentMegabytes("VmRSS:") - before;
    }
    state.counters["added_MB"] = added;
    state.counters["peak_MB"] = residentMegabytes("VmHWM:");
}
BENCHMARK(framesHolding1500)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char** argv)
{
    Media::pinHeapThresholds(); // as the program starts
    return runBenchmarks(argc, argv);
}
