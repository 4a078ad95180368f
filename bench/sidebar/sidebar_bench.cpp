// The workspace sidebar after one change: a project of 300 segments, 40 Shorts and 30
// ideas in which one segment's rating changes, from the change to the next painted frame
// (the coalesced refresh, then the sidebar painted). Offscreen, with the fixed font.

#include "bench/ViewMain.h"
#include "model/lifecycle/AppModel.h"
#include "support/FakePlayer.h"
#include "support/gui/SampleProject.h"
#include "views/kit/Style.h"
#include "views/start/SidebarView.h"

#include <QApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <clocale>

namespace {

struct Shown {
    QTemporaryDir settings;
    AppModel model{std::make_unique<FakePlayer>(), std::make_unique<FakePlayer>()};
    std::unique_ptr<SidebarView> side;
    explicit Shown(int tab)
    {
        model.setProject(sample::largeProject(QStringLiteral("/nowhere/Stream.mp4"), 300, 40, 30));
        side = std::make_unique<SidebarView>(model);
        side->resize(312, 720);
        side->show();
        side->setTab(tab);
        QApplication::processEvents();
        side->repaint();
    }
};

void change(benchmark::State& state, int tab)
{
    Shown shown(tab);
    std::optional<int> rating = 1;
    for (auto _ : state) {
        state.PauseTiming();
        Project p = shown.model.project();
        p.segments[150].rating = rating;
        rating = rating ? std::nullopt : std::optional<int>(1);
        state.ResumeTiming();
        shown.model.setProject(std::move(p));
        QApplication::processEvents();
        shown.side->repaint();
    }
}

void BM_SidebarSegmentsAfterARating(benchmark::State& state)
{
    change(state, 0);
}
BENCHMARK(BM_SidebarSegmentsAfterARating)->Unit(benchmark::kMillisecond);

void BM_SidebarShortsAfterARating(benchmark::State& state)
{
    change(state, 1);
}
BENCHMARK(BM_SidebarShortsAfterARating)->Unit(benchmark::kMillisecond);

// The first showing, every row made.
void BM_SidebarFirstFill(benchmark::State& state)
{
    QTemporaryDir settings;
    AppModel model{std::make_unique<FakePlayer>(), std::make_unique<FakePlayer>()};
    model.setProject(sample::largeProject(QStringLiteral("/nowhere/Stream.mp4"), 300, 40, 30));
    for (auto _ : state) {
        SidebarView side(model);
        side.resize(312, 720);
        side.show();
        side.repaint();
    }
}
BENCHMARK(BM_SidebarFirstFill)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    return runViewBenchmarks(argc, argv);
}
