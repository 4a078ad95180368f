// How long the editor takes from the last move of a hand scrub of the main player to its
// final time label, on a player whose seeks hold their caller as the real one does on a
// recording with key frames seconds apart (each seek decodes for 150 ms, and a seek made
// meanwhile waits for it inside the call). One benchmark per scrub: the segment strip, the
// Short strip, the timeline's ruler and playhead, and a trim (its preview seeks; the label
// there is the track painted with the new edge). "longest stop" is the longest the player
// held the window in any of the drags.

#include "bench/ViewMain.h"
#include "model/lifecycle/AppModel.h"
#include "support/BlockingPlayer.h"
#include "views/editor/Timeline.h"
#include "views/editor/TimelineDerive.h"
#include "views/editor/TimelineTrack.h"
#include "views/editor/Viewer.h"
#include "views/kit/Format.h"

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QThread>
#include <benchmark/benchmark.h>
#include <chrono>
#include <functional>

namespace {

constexpr int decodeMs = 150;
constexpr int moves = 12;

Project project(QUuid shortId)
{
    Project p;
    p.duration = 1200;
    Segment seg;
    seg.id = QStringLiteral("01");
    seg.start = 100;
    seg.end = 400;
    seg.peaks = QByteArray(300 * 20, '\x40');
    p.segments = {seg};
    Short s;
    s.id = shortId;
    s.title = QStringLiteral("A Short");
    for (int c = 0; c < 4; ++c)
        s.cuts.push_back({QUuid::createUuid(), 110.0 + c * 60, 124.0 + c * 60, {}});
    p.shorts = {s};
    return p;
}

void mouse(QWidget* w, QEvent::Type type, QPointF at)
{
    QMouseEvent e(type, at, w->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                  type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

struct Editor {
    BlockingPlayer* player = new BlockingPlayer(decodeMs);
    AppModel model{std::unique_ptr<Player>(player), std::make_unique<FakePlayer>()};
    QUuid shortId = QUuid::createUuid();
    QWidget window;
    ViewerView* viewer;
    TimelineView* timeline;

    explicit Editor(bool shortMode)
    {
        model.setProject(project(shortId));
        model.setSelection(QStringLiteral("01"));
        model.activate(shortId);
        if (!shortMode)
            model.setMode(Mode::segment);
        viewer = new ViewerView(model, &window);
        timeline = new TimelineView(model, &window);
        viewer->setGeometry(0, 0, 900, 500);
        timeline->setGeometry(0, 500, 900, 220);
        window.resize(900, 720);
        window.show();
        for (int i = 0; i < 20; ++i)
            QApplication::processEvents();
    }
    // Lets the last seek land (and any sent on its landing), outside the measured time.
    void rest()
    {
        for (int i = 0, quiet = 0; i < 1000 && quiet < 3; ++i) {
            QApplication::processEvents(QEventLoop::AllEvents, 5);
            QThread::msleep(2);
            quiet = player->shown ? quiet + 1 : 0;
        }
    }
};

// One drag of `moves` moves on `target`, from where `start` says by `step` points a move, and
// its release; measured from the last move to the moment the window has taken every event
// and `done` holds.
void drag(benchmark::State& state, Editor& e, QWidget* target, const std::function<QPointF()>& start, double step,
          const std::function<bool()>& done)
{
    int round = 0;
    qint64 longest = 0;
    int overlapping = 0;
    for (auto _ : state) {
        const QPointF from = start();
        e.player->longestHold = 0;
        const int before = e.player->overlapping;
        mouse(target, QEvent::MouseButtonPress, from);
        QApplication::processEvents();
        for (int m = 1; m < moves; ++m) {
            mouse(target, QEvent::MouseMove, from + QPointF(m * step, 0));
            QApplication::processEvents();
        }
        const QPointF last = from + QPointF(moves * step + round++ % 7, 0);
        const auto begin = std::chrono::steady_clock::now();
        mouse(target, QEvent::MouseMove, last);
        mouse(target, QEvent::MouseButtonRelease, last);
        for (int turns = 0; turns < 2 || !done(); ++turns) {
            if (turns == 10000) {
                state.SkipWithError("the final label never showed");
                return;
            }
            QApplication::processEvents();
        }
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count());
        // What the drag left to land counts as the drag's.
        e.rest();
        longest = std::max(longest, e.player->longestHold);
        overlapping += e.player->overlapping - before;
    }
    state.counters["longest stop ms"] = double(longest);
    state.counters["overlapping seeks"] = double(overlapping);
}

// The time label shows the clock, which the last move set.
std::function<bool()> labelShowsClock(Editor& e)
{
    return [&e] {
        const double t = e.model.clock().time();
        const QString wanted = e.model.mode() == Mode::shortClip ? span(t) : clock(t);
        return e.viewer->transport->time->text() == wanted;
    };
}

void BM_SegmentStripToFinalLabel(benchmark::State& state)
{
    Editor e(false);
    Strip* strip = e.viewer->strip;
    drag(state, e, strip, [] { return QPointF(100, 19); }, 25, labelShowsClock(e));
}

void BM_ShortStripToFinalLabel(benchmark::State& state)
{
    Editor e(true);
    Strip* strip = e.viewer->strip;
    drag(state, e, strip, [] { return QPointF(100, 19); }, 25, labelShowsClock(e));
}

void BM_RulerToFinalLabel(benchmark::State& state)
{
    Editor e(true);
    drag(state, e, e.timeline->track, [] { return QPointF(60, 8); }, 20, labelShowsClock(e));
}

void BM_PlayheadToFinalLabel(benchmark::State& state)
{
    Editor e(true);
    TimelineTrack* track = e.timeline->track;
    // Each round presses on the playhead, put back at 1 s first.
    const auto start = [&e, track] {
        e.model.seek(1.0);
        e.rest();
        return QPointF(track->playheadX().value_or(0), 60);
    };
    drag(state, e, track, start, 20, labelShowsClock(e));
}

void BM_TrimToFinalEdge(benchmark::State& state)
{
    Editor e(true);
    TimelineTrack* track = e.timeline->track;
    const double edge = 14 * track->scale(); // the first cut's end
    // Each round trims the same edge: the last round's trim is undone first.
    const auto start = [&e, edge] {
        if (e.model.canUndo())
            e.model.undo();
        e.rest();
        return QPointF(edge - 3, 60);
    };
    // The track shows the last move's edge once every event is taken.
    drag(state, e, track, start, -2, [&e] { return !e.model.scrubbing; });
    state.counters["edge"] = e.model.cuts().front().end;
}

} // namespace

BENCHMARK(BM_SegmentStripToFinalLabel)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(8);
BENCHMARK(BM_ShortStripToFinalLabel)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(8);
BENCHMARK(BM_RulerToFinalLabel)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(8);
BENCHMARK(BM_PlayheadToFinalLabel)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(8);
BENCHMARK(BM_TrimToFinalEdge)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(8);

int main(int argc, char** argv) { return runViewBenchmarks(argc, argv); }
