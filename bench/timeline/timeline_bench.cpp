// What one step of a trim drag costs the Shorts timeline: a Short of 12 cuts with names,
// film strip and waveform shown and every still cached. Each iteration is one drag of 60
// pointer moves on the end handle of the sixth cut; each move is timed from the event to
// the painted track. "move" is the time per move.

#include "bench/ViewMain.h"
#include "model/lifecycle/AppModel.h"
#include "platform/Prefs.h"
#include "support/FakePlayer.h"
#include "views/editor/Timeline.h"
#include "views/editor/TimelineTrack.h"

#include <QApplication>
#include <QImageWriter>
#include <QMouseEvent>
#include <QPainter>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

Project project(QUuid shortId)
{
    Project p;
    p.duration = 7200;
    for (int s = 0; s < 4; ++s) {
        Segment seg;
        seg.id = QString::asprintf("%02d", s + 1);
        seg.start = 600 + s * 300;
        seg.end = seg.start + 210;
        seg.title = QStringLiteral("What happened in segment %1").arg(s + 1);
        std::vector<Line> lines;
        for (int l = 0; l < 60; ++l)
            lines.push_back({seg.start + l * 3.5, seg.start + l * 3.5 + 3, QStringLiteral("said")});
        seg.lines = lines;
        QByteArray peaks(210 * 20, 0);
        for (int i = 0; i < peaks.size(); ++i)
            peaks[i] = char((i * 37) % 251);
        seg.peaks = peaks;
        p.segments.push_back(seg);
    }
    Short s;
    s.id = shortId;
    s.title = QStringLiteral("A Short");
    for (int c = 0; c < 12; ++c) {
        const double start = 610.0 + (c % 4) * 300 + (c / 4) * 60;
        s.cuts.push_back({QUuid::createUuid(), start, start + 4.5, QStringLiteral("beat")});
    }
    p.shorts = {s};
    return p;
}

void mouse(QWidget* w, QEvent::Type type, QPointF at)
{
    QMouseEvent e(type, at, w->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                  type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

void BM_TrimDrag(benchmark::State& state)
{
    Prefs& prefs = Prefs::shared();
    prefs.set(QStringLiteral("clipNames"), true);
    prefs.set(QStringLiteral("clipFilmstrip"), true);
    prefs.set(QStringLiteral("clipWaveform"), true);
    AppModel model(std::make_unique<FakePlayer>(), std::make_unique<FakePlayer>());
    QTemporaryDir cache;
    QImage still(240, 135, QImage::Format_RGB32);
    for (int second = 590; second < 1600; ++second) {
        still.fill(QColor::fromHsv((second * 23) % 360, 120, 160));
        QImageWriter(cache.path() + u'/' + QString::number(second) + QStringLiteral(".jpg"), "jpg").write(still);
    }
    MediaInfo recording;
    recording.path = QStringLiteral("/nowhere/stream.mp4");
    model.frames().use(recording, 16.0 / 9, cache.path());
    const QUuid id = QUuid::createUuid();
    model.setProject(project(id));
    model.activate(id);
    TimelineView view(model);
    view.resize(1100, 220);
    view.show();
    // Every still the blocks show is in memory before the drags begin.
    for (int i = 0; i < 100; ++i)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    TimelineTrack* track = view.track;
    const double scale = track->scale();
    const double edge = 6 * 4.5 * scale - 3;
    for (auto _ : state) {
        mouse(track, QEvent::MouseButtonPress, {edge, 60});
        for (int m = 1; m <= 60; ++m) {
            mouse(track, QEvent::MouseMove, {edge - m * 0.8, 60});
            QApplication::processEvents();
            track->repaint();
        }
        state.PauseTiming();
        mouse(track, QEvent::MouseButtonRelease, {edge - 48, 60});
        model.undo();
        QApplication::processEvents();
        state.ResumeTiming();
    }
    state.counters["move"] = benchmark::Counter(60, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["stills"] = double(model.frames().images().size());
}
BENCHMARK(BM_TrimDrag)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) { return runViewBenchmarks(argc, argv); }
