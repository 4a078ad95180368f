// What one clock tick costs the editor's panes while playing: the viewer (strip and
// readouts) beside the inspector, with a transcript of 300 lines in segment mode and the
// Short's transcript in Short mode. Each iteration moves the clock by 1/30 s and lets the
// window paint what changed.

#include "bench/ViewMain.h"
#include "model/lifecycle/AppModel.h"
#include "support/FakePlayer.h"
#include "views/editor/Inspector.h"
#include "views/editor/Viewer.h"
#include "views/kit/Style.h"

#include <QApplication>
#include <QHBoxLayout>
#include <benchmark/benchmark.h>
#include <clocale>

namespace {

Project project(QUuid shortId)
{
    Project p;
    p.duration = 7200;
    Segment seg;
    seg.id = QStringLiteral("01");
    seg.start = 600;
    seg.end = 600 + 330;
    seg.markers = {750, 800};
    std::vector<Line> lines;
    for (int l = 0; l < 300; ++l)
        lines.push_back({seg.start + l * 1.1, seg.start + l * 1.1 + 1.0,
                         QStringLiteral("line %1 of what was said, long enough to wrap once in a narrow panel").arg(l)});
    seg.lines = lines;
    QByteArray peaks(330 * 20, 0);
    for (int i = 0; i < peaks.size(); ++i)
        peaks[i] = char((i * 37) % 251);
    seg.peaks = peaks;
    seg.title = QStringLiteral("A title");
    p.segments = {seg};
    Short s;
    s.id = shortId;
    s.title = QStringLiteral("A Short");
    for (int c = 0; c < 8; ++c)
        s.cuts.push_back({QUuid::createUuid(), 610.0 + c * 30, 610.0 + c * 30 + 6, {}});
    p.shorts = {s};
    return p;
}

void tick(benchmark::State& state, bool shortMode, double step)
{
    AppModel model(std::make_unique<FakePlayer>(), std::make_unique<FakePlayer>());
    const QUuid id = QUuid::createUuid();
    model.setProject(project(id));
    model.activate(id);
    if (!shortMode)
        model.setMode(Mode::segment);
    model.setSelection(QStringLiteral("01"));
    QWidget window;
    auto* row = new QHBoxLayout(&window);
    row->addWidget(new ViewerView(model, &window), 1);
    auto* inspector = new InspectorView(model, &window);
    inspector->setFixedWidth(380);
    row->addWidget(inspector);
    window.resize(1280, 720);
    window.show();
    QApplication::processEvents();
    model.clock().setPlaying(true);
    const double from = shortMode ? 0 : 600;
    const double length = shortMode ? 48 : 330;
    double t = 0;
    for (auto _ : state) {
        t += step;
        if (t >= length)
            t = 0;
        model.clock().setTime(from + t);
        QApplication::processEvents();
    }
}

void BM_TickSegment(benchmark::State& state) { tick(state, false, 1.0 / 30); }
void BM_TickShort(benchmark::State& state) { tick(state, true, 1.0 / 30); }
// The worst tick: every one lights a new line (or cut) and scrolls the list to it.
void BM_TickSegmentNewLine(benchmark::State& state) { tick(state, false, 1.1); }
void BM_TickShortNewCut(benchmark::State& state) { tick(state, true, 6); }
BENCHMARK(BM_TickSegment)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TickSegmentNewLine)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TickShort)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TickShortNewCut)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    return runViewBenchmarks(argc, argv);
}
