// What a pipeline run costs beyond the audio cuts it makes: a run that transcribes 20
// segments with a stand-in whisper-cli (it answers at once), against the same 20 ffmpeg
// cuts made one after the other. The difference is the run's own work per segment: jobs,
// the activity log, peaks, moving the lines, saving the project after every segment.

#include "bench/QtMain.h"
#include "core/services/Audio.h"
#include "core/services/Tool.h"
#include "model/lifecycle/AppModel.h"
#include "support/FakePlayer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <sys/resource.h>

namespace {

constexpr int segmentCount = 20;
constexpr double segmentLength = 8;

const QByteArray whisper = R"(#!/bin/sh
while [ $# -gt 0 ]; do if [ "$1" = "-of" ]; then base="$2"; fi; shift; done
printf '{"transcription":[{"offsets":{"from":500,"to":4000},"text":" hello chat "},{"offsets":{"from":4000,"to":7500},"text":" goodbye "}]}' > "$base.json"
)";

bool write(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A recording with 20 segments, a stand-in whisper-cli and private settings folders, made
// once for the whole program.
struct Stage {
    QTemporaryDir dir;
    QString video;
    QString package;
    bool ready = false;

    Stage()
    {
        for (const char* folder : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME"})
            qputenv(folder, dir.filePath(QString::fromLatin1(folder)).toUtf8());
        qputenv("VANTOREL_TOOL_DIRS", dir.filePath("bin").toUtf8());
        video = dir.filePath("Stream.mp4");
        package = dir.filePath("Stream.vtrl");
        const QString seconds = QString::number(segmentCount * (segmentLength + 1));
        ready = write(dir.filePath("bin/whisper-cli"), whisper)
            && QFile::setPermissions(dir.filePath("bin/whisper-cli"), QFile::ReadOwner | QFile::ExeOwner)
            && write(dir.filePath("HOME/.whisper-models/ggml-large-v3-turbo.bin"), "model")
            && QProcess::execute("ffmpeg", {"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                                            "testsrc=size=160x90:rate=10:duration=" + seconds, "-f", "lavfi", "-i",
                                            "sine=frequency=440:duration=" + seconds, "-c:v", "mpeg4", "-c:a", "aac",
                                            "-shortest", video})
                == 0;
    }

    std::vector<Segment> segments() const
    {
        std::vector<Segment> out;
        for (int i = 0; i < segmentCount; ++i) {
            Segment s;
            s.id = QString::asprintf("%02d", i + 1);
            s.start = i * (segmentLength + 1);
            s.end = s.start + segmentLength;
            out.push_back(s);
        }
        return out;
    }
};

Stage& stage()
{
    static Stage s;
    return s;
}

// CPU seconds of this process and of its finished children (ffmpeg, whisper-cli): steadier
// than wall time on a busy machine.
double cpu(int who)
{
    rusage use{};
    getrusage(who, &use);
    return double(use.ru_utime.tv_sec + use.ru_stime.tv_sec) + (use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
}

// Wall time per segment, and the CPU time per segment of this process and of the programs.
struct Meter {
    benchmark::State& state;
    double own = cpu(RUSAGE_SELF);
    double programs = cpu(RUSAGE_CHILDREN);
    ~Meter()
    {
        const double runs = double(state.iterations()) * segmentCount / 1000; // in ms per segment
        state.counters["ms_per_segment"] = benchmark::Counter(
            double(segmentCount) * 1e-3, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
        state.counters["own_cpu_ms"] = (cpu(RUSAGE_SELF) - own) / runs;
        state.counters["program_cpu_ms"] = (cpu(RUSAGE_CHILDREN) - programs) / runs;
    }
};

void pipelineRun(benchmark::State& state)
{
    Stage& s = stage();
    if (!s.ready) {
        state.SkipWithError("ffmpeg could not make the recording");
        return;
    }
    Project project;
    project.video = s.video;
    project.duration = segmentCount * (segmentLength + 1);
    project.segments = s.segments();
    project.autoTranscribe = false; // the opening's own run leaves it alone
    project.save(s.package);
    AppModel model(std::make_unique<FakePlayer>(), std::make_unique<FakePlayer>());
    QCoro::waitFor(model.openProject(s.package));
    QCoro::waitFor(model.pipeline()->done());
    while (model.thumbs().size() < segmentCount) // the opening's stills, out of the way
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);

    const Meter meter{state};
    for (auto _ : state) {
        state.PauseTiming();
        Project fresh = model.project();
        fresh.segments = s.segments();
        model.setProject(fresh);
        state.ResumeTiming();
        model.runPipeline(false, false, true, false, {});
        QCoro::waitFor(model.pipeline()->done());
    }
    if (!model.project().segments.back().lines)
        state.SkipWithError("the run transcribed nothing");
}
BENCHMARK(pipelineRun)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// The external programs alone: each segment's audio cut, and with `transcribe` the
// stand-in whisper-cli on it as a run starts it.
QCoro::Task<> programs(QString video, std::vector<Segment> segments, bool transcribe)
{
    for (const Segment& segment : segments) {
        const QString wav = co_await Audio::extract(video, segment.start, segment.end - segment.start);
        const QString base = wav.chopped(4);
        const QStringList arguments{QStringLiteral("-f"), wav, QStringLiteral("-oj"), QStringLiteral("-of"), base};
        if (transcribe)
            co_await Tool::run(QStringLiteral("whisper-cli"), arguments);
        QFile::remove(wav);
        QFile::remove(base + ".json");
    }
}

// The floors under a run: the 20 audio cuts alone (argument 0), and the cuts with the
// stand-in whisper-cli after each (argument 1).
void externalPrograms(benchmark::State& state)
{
    Stage& s = stage();
    if (!s.ready) {
        state.SkipWithError("ffmpeg could not make the recording");
        return;
    }
    const Meter meter{state};
    for (auto _ : state)
        QCoro::waitFor(programs(s.video, s.segments(), state.range(0) == 1));
}
BENCHMARK(externalPrograms)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

} // namespace

int main(int argc, char** argv)
{
    return runBenchmarks(argc, argv);
}
