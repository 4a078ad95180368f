// Every hand scrub of the main player on a player whose seeks hold their caller while the
// one before decodes (as the real one does on a recording with key frames seconds apart):
// the playhead and the time label show each asked time at once, no seek goes out before the
// last one has landed, and the last asked time is the last seek.

#include "model/lifecycle/AppModel.h"
#include "platform/Prefs.h"
#include "support/BlockingPlayer.h"
#include "support/Segments.h"
#include "views/editor/Timeline.h"
#include "views/editor/TimelineTrack.h"
#include "views/editor/Viewer.h"
#include "views/kit/Format.h"

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QTest>
#include <functional>
#include <gtest/gtest.h>

namespace {

// Segment "01" (100–400 s) and a Short of four 14-second cuts, in a viewer and a timeline.
struct Editor {
    BlockingPlayer* player = new BlockingPlayer(80);
    AppModel model{std::unique_ptr<Player>(player), std::make_unique<FakePlayer>()};
    QUuid shortId = QUuid::createUuid();
    QWidget window;
    ViewerView* viewer;
    TimelineView* timeline;

    explicit Editor(Mode mode)
    {
        Prefs::shared().set(QStringLiteral("timelineZoom"), 1.0);
        Project p;
        p.duration = 1200;
        p.segments = {segment(QStringLiteral("01"), 100, 400)};
        Short s;
        s.id = shortId;
        s.title = QStringLiteral("A Short");
        for (int c = 0; c < 4; ++c)
            s.cuts.push_back({QUuid::createUuid(), 110.0 + c * 60, 124.0 + c * 60, {}});
        p.shorts = {s};
        model.setProject(p);
        model.setSelection(QStringLiteral("01"));
        model.activate(shortId);
        model.setMode(mode);
        viewer = new ViewerView(model, &window);
        timeline = new TimelineView(model, &window);
        viewer->setGeometry(0, 0, 628, 400);
        timeline->setGeometry(0, 400, 628, 200);
        window.resize(628, 600);
        window.show();
        rest();
    }
    // Until the last seek has landed.
    void rest()
    {
        for (int i = 0; i < 400 && !player->shown; ++i)
            QTest::qWait(5);
        QApplication::processEvents();
    }
    QString label() const { return viewer->transport->time->text(); }
    QString labelOf(double t) const { return model.mode() == Mode::shortClip ? span(t) : clock(t); }
};

void mouse(QWidget* w, QEvent::Type type, QPointF at)
{
    QMouseEvent e(type, at, w->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                  type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

TEST(HandScrub, EveryScrubSeeksOneAtATimeShowsEachTimeAtOnceAndEndsOnTheLast)
{
    const struct {
        const char* what;
        Mode mode;
        std::function<QWidget*(Editor&)> target;
        std::function<QPointF(Editor&)> from;
        double step;
        bool trim = false;
    } table[] = {
        {"segment strip", Mode::segment, [](Editor& e) -> QWidget* { return e.viewer->strip; },
         [](Editor&) { return QPointF(40, 19); }, 23},
        {"Short strip", Mode::shortClip, [](Editor& e) -> QWidget* { return e.viewer->strip; },
         [](Editor&) { return QPointF(40, 19); }, 23},
        {"ruler", Mode::shortClip, [](Editor& e) -> QWidget* { return e.timeline->track; },
         [](Editor&) { return QPointF(40, 8); }, 20},
        {"ruler from segment mode", Mode::segment, [](Editor& e) -> QWidget* { return e.timeline->track; },
         [](Editor&) { return QPointF(40, 8); }, 20},
        {"playhead", Mode::shortClip, [](Editor& e) -> QWidget* { return e.timeline->track; },
         [](Editor& e) { return QPointF(e.timeline->track->playheadX().value_or(-100), 60); }, 20},
        {"trim", Mode::shortClip, [](Editor& e) -> QWidget* { return e.timeline->track; },
         [](Editor& e) { return QPointF(14 * e.timeline->track->scale() - 3, 60); }, -3, true},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.what);
        Editor e(row.mode);
        QWidget* target = row.target(e);
        const QPointF from = row.from(e);
        ASSERT_TRUE(target->rect().contains(from.toPoint()));
        e.player->calls.clear();
        e.player->sent = 0;
        mouse(target, QEvent::MouseButtonPress, from);
        for (int m = 1; m <= 15; ++m) {
            mouse(target, QEvent::MouseMove, from + QPointF(m * row.step, 0));
            QApplication::processEvents();
            if (!row.trim) {
                EXPECT_EQ(e.label(), e.labelOf(e.model.clock().time())) << m;
                QTest::qWait(10);
                EXPECT_EQ(e.label(), e.labelOf(e.model.clock().time())) << "a late report moved it, at " << m;
            } else {
                QTest::qWait(10);
            }
        }
        const double asked = row.trim ? e.model.cuts().front().end - 1.0 / 30 : e.model.clock().time();
        EXPECT_EQ(e.player->longestHold, 0) << "a seek held the window";
        // The pointer held still: the last move's time is sought once the one before lands.
        e.rest();
        EXPECT_EQ(e.player->overlapping, 0) << "of " << e.player->sent << " seeks";
        const QStringList seeks = e.player->calls.filter(QStringLiteral("seek "));
        ASSERT_FALSE(seeks.isEmpty());
        EXPECT_EQ(seeks.last(), QStringLiteral("seek %1").arg(asked));
        mouse(target, QEvent::MouseButtonRelease, from + QPointF(15 * row.step, 0));
        e.rest();
        if (!row.trim) {
            EXPECT_EQ(e.player->calls.filter(QStringLiteral("seek ")).last(), QStringLiteral("seek %1").arg(asked));
            EXPECT_EQ(e.model.clock().time(), asked);
            EXPECT_EQ(e.label(), e.labelOf(asked));
        }
    }
}

} // namespace
