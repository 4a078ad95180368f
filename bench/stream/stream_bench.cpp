// What one frame of the stream timeline costs for a four-hour recording whose stills and
// waveform chunks are cached: the whole stream, half an hour and ten seconds. Each
// iteration drops the cached picture and paints the band again, as a zoom or a scroll does.
// And how long the stream window takes from the last move of a selection drag to its final
// range label, with a player whose seeks take 50 ms to land.

#include "bench/LargeProject.h"
#include "bench/ViewMain.h"
#include "model/lifecycle/AppModel.h"
#include "support/FakePlayer.h"
#include "support/gui/StreamCaches.h"
#include "views/kit/FilmGrid.h"
#include "views/windows/BrowserView.h"
#include "views/windows/StreamRules.h"
#include "views/windows/StreamTimeline.h"

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <chrono>

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

void mouse(QWidget* w, QEvent::Type type, double x, Qt::MouseButtons buttons)
{
    const QPointF at(x, 50);
    QMouseEvent e(type, at, w->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons,
                  Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

void BM_SelectionDragToFinalLabel(benchmark::State& state)
{
    Project project = largeProject();
    project.duration = hours;
    std::erase_if(project.segments, [](const Segment& s) { return s.end > hours; });
    auto* player = new FakePlayer;
    player->seekDelay = 0.05;
    AppModel model(std::make_unique<FakePlayer>(), std::unique_ptr<Player>(player));
    model.setProject(project);
    StreamBrowser& browser = model.browser();
    browser.load(project.video, hours);
    browser.scroll(2 * 3600 - 120);
    QTemporaryDir caches;
    const auto seconds = filmGridLayout(browser.viewStart(), browser.viewStart() + browser.viewSpan(), width,
                                        stream::stripHeight, 16.0 / 9.0)
                             .seconds();
    if (!streamcaches::fill(model, caches.path(), project.video, int(hours / 60), seconds)) {
        state.SkipWithError("the caches could not be filled");
        return;
    }
    BrowserView window(model);
    window.resize(width + 28, 720);
    window.show();
    QApplication::processEvents();
    QWidget* timeline = window.timeline;
    int round = 0;
    for (auto _ : state) {
        // A drag of 30 moves, each taken in turn; its last one lands a little further each round.
        mouse(timeline, QEvent::MouseButtonPress, 300, Qt::LeftButton);
        for (int x = 310; x < 600; x += 10) {
            mouse(timeline, QEvent::MouseMove, x, Qt::LeftButton);
            QApplication::processEvents();
        }
        const double last = 600 + round++ % 50;
        const auto begin = std::chrono::steady_clock::now();
        mouse(timeline, QEvent::MouseMove, last, Qt::LeftButton);
        mouse(timeline, QEvent::MouseButtonRelease, last, Qt::NoButton);
        // The range is the last move's (snapped to speech); the label shows it once the
        // queued work has run.
        const QString wanted = browser.range() ? stream::rangeText(*browser.range()) : QString();
        for (int turns = 0; window.rangeLabel->text() != wanted; ++turns) {
            if (turns == 1000) {
                state.SkipWithError("the label never showed the range");
                return;
            }
            QApplication::processEvents();
        }
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count());
    }
}

void BM_TimelineWholeStream(benchmark::State& state) { paint(state, hours); }
void BM_TimelineHalfHour(benchmark::State& state) { paint(state, 1800); }
void BM_TimelineTenSeconds(benchmark::State& state) { paint(state, 10); }

} // namespace

BENCHMARK(BM_TimelineWholeStream)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TimelineHalfHour)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TimelineTenSeconds)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SelectionDragToFinalLabel)->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) { return runViewBenchmarks(argc, argv); }
