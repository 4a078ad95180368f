// What one frame of the stream timeline costs for a four-hour recording whose stills and
// waveform chunks are cached: the whole stream, half an hour and ten seconds. Each
// iteration drops the cached picture and paints the band again, as a zoom or a scroll does.

#include "bench/LargeProject.h"
#include "bench/ViewMain.h"
#include "model/lifecycle/AppModel.h"
#include "support/FakePlayer.h"
#include "support/gui/StreamCaches.h"
#include "views/kit/FilmGrid.h"
#include "views/windows/StreamTimeline.h"

#include <QApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

constexpr double hours = 4 * 3600;
constexpr int width = 972;

void paint(benchmark::State& state, double span)
{
    Project project = largeProject();
    project.duration = hours;
    std::erase_if(project.segments, [](const Segment& s) { return s.end > hours; });
    AppModel model(std::make_unique<FakePlayer>(), std::make_unique<FakePlayer>());
    model.setProject(project);
    StreamBrowser& browser = model.browser();
    browser.load(project.video, hours);
    browser.zoom(span, 0);
    browser.scroll(2 * 3600 - span / 2);
    browser.seek(2 * 3600);
    QTemporaryDir caches;
    const double from = browser.viewStart();
    const auto seconds = filmGridLayout(from, from + span, width, stream::stripHeight, 16.0 / 9.0).seconds();
    if (!streamcaches::fill(model, caches.path(), project.video, int(hours / 60), seconds)) {
        state.SkipWithError("the caches could not be filled");
        return;
    }
    StreamTimeline timeline(model);
    timeline.resize(width, int(stream::timelineHeight));
    timeline.show();
    QApplication::processEvents();
    for (auto _ : state) {
        timeline.redraw();
        timeline.repaint();
    }
    state.counters["segments"] = double(project.segments.size());
}

void BM_TimelineWholeStream(benchmark::State& state) { paint(state, hours); }
void BM_TimelineHalfHour(benchmark::State& state) { paint(state, 1800); }
void BM_TimelineTenSeconds(benchmark::State& state) { paint(state, 10); }

} // namespace

BENCHMARK(BM_TimelineWholeStream)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TimelineHalfHour)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TimelineTenSeconds)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) { return runViewBenchmarks(argc, argv); }
