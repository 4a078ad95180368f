// Exporting a 30 s Short of three cuts from a four-hour 1080p recording, as MP4 and as
// MPEG-TS (which has no index to seek by): with the cuts near its start and near its end
// (the time should not grow with where they lie), and the same job as one hand-written
// ffmpeg command.

#include "bench/QtMain.h"
#include "model/editing/Composition.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QCoro/QCoroTask>
#include <benchmark/benchmark.h>
#include <sys/resource.h>

namespace {

bool ffmpeg(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral("ffmpeg"), QStringList{"-nostdin", "-v", "error", "-y"} + arguments);
    return process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QTemporaryDir& folder()
{
    static QTemporaryDir dir;
    return dir;
}

// Four hours (and a few seconds) of 1080p30 with sound and a key frame every 2 s, made by
// repeating a ten-second piece without encoding it again (about 1.3 GB, a few seconds);
// the MPEG-TS one is the same, copied.
const MediaInfo& recording(bool transport = false)
{
    static const MediaInfo mp4 = [] {
        const QString piece = folder().filePath("piece.mp4");
        const QString whole = folder().filePath("stream.mp4");
        if (!ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=30:duration=10", "-f", "lavfi", "-i",
                     "sine=frequency=440:sample_rate=48000:duration=10", "-c:v", "libx264", "-preset", "ultrafast",
                     "-b:v", "600k", "-g", "60", "-pix_fmt", "yuv420p", "-c:a", "aac", "-shortest", piece})
            || !ffmpeg({"-stream_loop", "1439", "-i", piece, "-c", "copy", whole}))
            return MediaInfo{};
        return Media::probeNow(whole);
    }();
    if (!transport)
        return mp4;
    static const MediaInfo ts = [] {
        const QString whole = folder().filePath("stream.ts");
        if (mp4.path.isEmpty() || !ffmpeg({"-i", mp4.path, "-c", "copy", "-f", "mpegts", whole}))
            return MediaInfo{};
        return Media::probeNow(whole);
    }();
    return ts;
}

// CPU seconds spent by finished child processes, or by this one: steadier than wall time
// on a busy machine.
double cpu(int who)
{
    rusage use{};
    getrusage(who, &use);
    return double(use.ru_utime.tv_sec + use.ru_stime.tv_sec) + (use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
}

// Runs `work` once per iteration and reports ffmpeg's CPU time per run beside the wall
// time, and the whole export's: ffmpeg's and ours (reading where the frames lie).
template <class Work>
void measure(benchmark::State& state, Work work)
{
    const double children = cpu(RUSAGE_CHILDREN), self = cpu(RUSAGE_SELF);
    for (auto _ : state)
        work();
    const double ffmpeg = cpu(RUSAGE_CHILDREN) - children;
    state.counters["ffmpeg_cpu_s"] = ffmpeg / double(state.iterations());
    state.counters["all_cpu_s"] = (ffmpeg + cpu(RUSAGE_SELF) - self) / double(state.iterations());
}

std::vector<Cut> cutsFrom(double first)
{
    std::vector<Cut> cuts;
    for (int i = 0; i < 3; ++i)
        cuts.push_back(Cut{QUuid::createUuid(), first + i * 20.0, first + i * 20.0 + 10.0, QString()});
    return cuts;
}

void exportFrom(benchmark::State& state, double first, bool transport)
{
    const auto composition = Composition::of(cutsFrom(first), recording(transport));
    if (!composition) {
        state.SkipWithError("the recording could not be made");
        return;
    }
    const QString out = folder().filePath("short.mp4");
    measure(state, [&] { QCoro::waitFor(render(*composition, out, {}, {})); });
}

// What a person would type for the same job: each cut read by seeking in its own input.
void handWritten(benchmark::State& state, bool transport)
{
    const QString source = recording(transport).path;
    QStringList args;
    for (const Cut& cut : cutsFrom(1))
        args << "-ss" << QString::number(cut.start) << "-t" << "10" << "-i" << source;
    args << "-filter_complex" << "[0:v][0:a][1:v][1:a][2:v][2:a]concat=n=3:v=1:a=1[v][a]" << "-map" << "[v]"
         << "-map" << "[a]" << "-c:v" << "libx264" << "-preset" << "fast" << "-crf" << "18" << "-pix_fmt" << "yuv420p"
         << "-c:a" << "aac" << "-b:a" << "192k" << "-movflags" << "+faststart" << folder().filePath("typed.mp4");
    measure(state, [&] {
        if (!ffmpeg(args))
            state.SkipWithError("ffmpeg failed");
    });
}

BENCHMARK_CAPTURE(exportFrom, mp4_cuts_at_0m01s, 1.0, false)->Unit(benchmark::kSecond)->Iterations(2)->UseRealTime();
BENCHMARK_CAPTURE(exportFrom, mp4_cuts_at_3h59m, 14340.0, false)->Unit(benchmark::kSecond)->Iterations(2)->UseRealTime();
BENCHMARK_CAPTURE(handWritten, mp4, false)->Unit(benchmark::kSecond)->Iterations(2)->UseRealTime();
BENCHMARK_CAPTURE(exportFrom, ts_cuts_at_0m01s, 1.0, true)->Unit(benchmark::kSecond)->Iterations(2)->UseRealTime();
BENCHMARK_CAPTURE(exportFrom, ts_cuts_at_3h59m, 14340.0, true)->Unit(benchmark::kSecond)->Iterations(2)->UseRealTime();
BENCHMARK_CAPTURE(handWritten, ts, true)->Unit(benchmark::kSecond)->Iterations(2)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    return runBenchmarks(argc, argv);
}
