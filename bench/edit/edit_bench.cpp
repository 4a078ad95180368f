// One drag of a cut's edge on a large project (300 transcribed segments, 40 Shorts): a
// step of the drag, which runs at pointer rate, and its end (undo point and save).

#include "bench/LargeProject.h"
#include "bench/QtMain.h"
#include "model/lifecycle/AppModel.h"
#include "support/FakePlayer.h"

#include <QCoro/QCoroTask>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

// The large project with 40 Shorts of 6 cuts each; the pipeline finds nothing to do in it.
Project withShorts(const QString& video)
{
    Project p = largeProject();
    p.video = video;
    p.analyzed = true;
    p.ideated = true;
    p.autoSummarize = false;
    p.autoIdeas = false;
    for (int n = 0; n < 40; ++n) {
        Short s;
        s.id = QUuid::createUuid();
        s.title = QStringLiteral("Short %1").arg(n);
        for (int c = 0; c < 6; ++c) {
            const double at = (n * 7 + c) * 120.0 + 20;
            s.cuts.push_back({QUuid::createUuid(), at, at + 8, QStringLiteral("hook")});
        }
        p.shorts.push_back(std::move(s));
    }
    return p;
}

// The large project, opened from a package in a temporary folder (with its own settings
// and data folders), beside a short clip that stands in for the recording.
struct Opened {
    QTemporaryDir dir;
    std::unique_ptr<AppModel> model;
    Opened()
    {
        qputenv("XDG_CONFIG_HOME", (dir.path() + "/config").toUtf8());
        qputenv("XDG_DATA_HOME", (dir.path() + "/data").toUtf8());
        qputenv("VANTOREL_API_BASE", "http://127.0.0.1:9");
        const QString video = dir.path() + "/Stream.mp4";
        QProcess::execute("ffmpeg", {"-v", "error", "-f", "lavfi", "-i", "testsrc=size=160x90:rate=10:duration=2",
                                     "-c:v", "mpeg4", video});
        const QString package = dir.path() + "/Stream.vtrl";
        withShorts(video).save(package);
        model = std::make_unique<AppModel>(std::make_unique<FakePlayer>(), std::make_unique<FakePlayer>());
        QCoro::waitFor(model->openProject(package));
        if (model->problem())
            qFatal("%s", qPrintable(*model->problem()));
    }
};

Opened& opened()
{
    static Opened once;
    return once;
}

void trimStep(benchmark::State& state)
{
    AppModel& model = *opened().model;
    const QUuid cut = model.cuts()[2].id;
    const double start = model.cuts()[2].start;
    model.trim(cut, Edge::start, start, 0.4); // the drag's first step: the undo point
    int n = 0;
    for (auto _ : state)
        model.trim(cut, Edge::start, start - 3 + (n++ % 60) * 0.1, 0.4);
    model.endTrim(cut, Edge::start);
}
BENCHMARK(trimStep)->Unit(benchmark::kMicrosecond);

void dragStartAndEnd(benchmark::State& state)
{
    AppModel& model = *opened().model;
    const QUuid cut = model.cuts()[2].id;
    const double end = model.cuts()[2].end;
    int n = 0;
    for (auto _ : state) {
        model.trim(cut, Edge::end, end + (n++ % 2), 0.4);
        model.endTrim(cut, Edge::end);
    }
}
BENCHMARK(dragStartAndEnd)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    return runBenchmarks(argc, argv);
}
