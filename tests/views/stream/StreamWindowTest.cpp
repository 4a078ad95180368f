// The stream window's key and wheel maps on a real model: they act only while the window
// is the active one (and the wheel only over the timeline), Ctrl lets keys through, a
// handled key is swallowed, and hiding the window pauses and lets go.

#include "model/lifecycle/AppModel.h"
#include "support/FakePlayer.h"
#include "support/gui/StreamCaches.h"
#include "views/kit/Toast.h"
#include "views/kit/VideoSurface.h"
#include "views/windows/BrowserView.h"
#include "views/windows/StreamRules.h"
#include "views/windows/StreamTimeline.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>
#include <functional>
#include <gtest/gtest.h>

namespace {

// A window elsewhere in the program that records what reaches it.
class Probe : public QWidget {
public:
    QList<int> keys;

protected:
    void keyPressEvent(QKeyEvent* e) override { keys << e->key(); }
};

class StreamWindowTest : public ::testing::Test {
protected:
    AppModel model{std::make_unique<FakePlayer>(), std::make_unique<FakePlayer>()};
    StreamBrowser& browser = model.browser();
    BrowserView window{model};
    Probe other;

    void SetUp() override
    {
        browser.load(QStringLiteral("/streams/night.mp4"), 3600);
        other.resize(200, 100);
        other.show();
        window.resize(1000, 720);
        window.show();
        activate(&window);
    }
    static void activate(QWidget* w)
    {
        w->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(w));
    }
    // Sends a key to the other window, as the application would deliver it.
    void press(int key, Qt::KeyboardModifiers mods = {}, const QString& text = {})
    {
        QKeyEvent event(QEvent::KeyPress, key, mods, text);
        QApplication::sendEvent(&other, &event);
    }
    void wheel(QPoint angle, Qt::KeyboardModifiers mods = {})
    {
        QWheelEvent event(QPointF(100, 40), QPointF(100, 40), QPoint(), angle, Qt::NoButton, mods, Qt::NoScrollPhase,
                          false);
        QApplication::sendEvent(window.timeline, &event);
    }
    // A press, moves and a release on the timeline at the height `y`, the moves `pause` ms
    // apart; the release follows the last move at once.
    void drag(int y, int from, const std::vector<int>& moves, int pause = 0)
    {
        QTest::mousePress(window.timeline, Qt::LeftButton, {}, QPoint(from, y));
        for (int x : moves) {
            QTest::mouseMove(window.timeline, QPoint(x, y));
            if (pause && &x != &moves.back())
                QTest::qWait(pause);
        }
        QTest::mouseRelease(window.timeline, Qt::LeftButton, {}, QPoint(moves.empty() ? from : moves.back(), y));
    }
    FakePlayer& player() { return static_cast<FakePlayer&>(browser.player()); }
};

} // namespace

TEST_F(StreamWindowTest, KeysActOnlyWhileTheWindowIsActiveAndCtrlPasses)
{
    EXPECT_TRUE(browser.isKey());
    press(Qt::Key_Right);
    EXPECT_DOUBLE_EQ(browser.time(), 1);
    press(Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_DOUBLE_EQ(browser.time(), 11);
    press(Qt::Key_I, Qt::ShiftModifier, QStringLiteral("I"));
    EXPECT_EQ(browser.range(), (TimeRange{11, 12}));
    press(Qt::Key_Escape);
    press(Qt::Key_Escape); // swallowed with no range as well
    EXPECT_EQ(browser.range(), std::nullopt);
    EXPECT_TRUE(other.keys.isEmpty());

    press(Qt::Key_Right, Qt::ControlModifier);
    press(Qt::Key_X, {}, QStringLiteral("x"));
    EXPECT_DOUBLE_EQ(browser.time(), 11);
    EXPECT_EQ(other.keys, (QList<int>{Qt::Key_Right, Qt::Key_X}));

    // Another window of the program active: every key reaches it.
    activate(&other);
    EXPECT_FALSE(browser.isKey());
    press(Qt::Key_Right);
    press(Qt::Key_Escape);
    EXPECT_DOUBLE_EQ(browser.time(), 11);
    EXPECT_EQ(other.keys.size(), 4);
}

TEST_F(StreamWindowTest, ArrowsBringThePlayheadBackIntoView)
{
    browser.seek(235);
    press(Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_DOUBLE_EQ(browser.time(), 245);
    EXPECT_DOUBLE_EQ(browser.viewStart(), 125); // centred on it
    press(Qt::Key_Left);
    EXPECT_DOUBLE_EQ(browser.viewStart(), 125); // still inside: the view stays
}

TEST_F(StreamWindowTest, TheWheelActsOverTheTimelineOnly)
{
    browser.scroll(1000);
    const double width = window.timeline->width();
    wheel({0, -120});
    EXPECT_DOUBLE_EQ(browser.viewStart(), 1000); // the pointer is elsewhere

    QEnterEvent enter(QPointF(100, 40), QPointF(100, 40), QPointF(100, 40));
    QApplication::sendEvent(window.timeline, &enter);
    ASSERT_TRUE(window.timeline->over());
    wheel({0, -120}); // one notch down moves the view on
    EXPECT_DOUBLE_EQ(browser.viewStart(), 1000 + 20 / width * 240);
    wheel({0, 120}, Qt::ControlModifier); // Ctrl zooms, as Alt does
    EXPECT_NEAR(browser.viewSpan(), 240 * std::exp(-0.2), 1e-9);
    wheel({0, 120}, Qt::AltModifier);
    EXPECT_NEAR(browser.viewSpan(), 240 * std::exp(-0.4), 1e-9);

    activate(&other);
    const double span = browser.viewSpan();
    wheel({0, 120}, Qt::ControlModifier);
    EXPECT_DOUBLE_EQ(browser.viewSpan(), span);
}

TEST_F(StreamWindowTest, HidingPausesAndLetsGoOfTheKeys)
{
    browser.player().play();
    window.hide();
    EXPECT_EQ(browser.player().rate(), 0);
    EXPECT_FALSE(browser.isKey());
    press(Qt::Key_Space);
    EXPECT_EQ(other.keys, QList<int>{Qt::Key_Space});
    EXPECT_EQ(browser.player().rate(), 0);
}

TEST_F(StreamWindowTest, AddSegmentNeedsThreeSecondsAndClearsTheRange)
{
    EXPECT_FALSE(window.add->isEnabled());
    EXPECT_FALSE(window.rangeLabel->isVisibleTo(&window));
    browser.setRange(TimeRange{100, 102.9});
    QApplication::processEvents();
    EXPECT_FALSE(window.add->isEnabled());
    EXPECT_TRUE(window.clear->isVisibleTo(&window));
    browser.setRange(TimeRange{100, 103});
    QApplication::processEvents();
    ASSERT_TRUE(window.add->isEnabled());
    window.clear->click();
    QApplication::processEvents();
    EXPECT_FALSE(window.add->isEnabled());
}

// What the window's own player says (a click past where a recording's data stops) shows over
// its picture, where the user looks, and goes when the model's notice does.
TEST_F(StreamWindowTest, WhatItsPlayerSaysShowsOverThePicture)
{
    auto* notice = window.picture->findChild<Toast*>();
    ASSERT_NE(notice, nullptr);
    EXPECT_FALSE(notice->presented());
    const QString sentence = QStringLiteral("night.mp4 ends early: it holds pictures up to 0:09:56 only.");
    Q_EMIT browser.player().failed(sentence);
    EXPECT_EQ(model.toast(), std::optional<QString>(sentence));
    EXPECT_TRUE(notice->presented());
    EXPECT_EQ(notice->text(), sentence);
    EXPECT_TRUE(window.picture->rect().contains(notice->geometry())) << "over the picture";
    model.setToast(std::nullopt);
    EXPECT_FALSE(notice->presented());
}

TEST_F(StreamWindowTest, ClosingTheWindowMidDragLeavesItAtRest)
{
    // The ruler's scrub, a selection drag and the overview's scrub, each cut short.
    QWidget* timeline = window.timeline;
    for (const auto& [widget, y] : {std::pair{timeline, 5}, {timeline, 50}, {(QWidget*)window.overview, 10}}) {
        browser.player().play();
        QTest::mousePress(widget, Qt::LeftButton, {}, QPoint(300, y));
        QTest::mouseMove(widget, QPoint(340, y));
        ASSERT_TRUE(browser.dragging) << y;
        window.close(); // the release goes elsewhere
        window.show();
        EXPECT_TRUE(!browser.dragging && browser.player().rate() == 0) << y;
    }
    browser.scroll(0);
    QTest::mouseClick(timeline, Qt::LeftButton, {}, QPoint(timeline->width() / 2, 5));
    EXPECT_NEAR(browser.time(), 120, 0.5);
}

TEST_F(StreamWindowTest, ForgottenWaveChunksAreAskedForAgain)
{
    QTemporaryDir caches;
    ASSERT_TRUE(streamcaches::fill(model, caches.path(), QStringLiteral("/streams/night.mp4"), 5, {}));
    model.waves().clear(); // as freeing the cache does, with the view where it was
    EXPECT_TRUE(QTest::qWaitFor([&] { return model.waves().peaks().size() == 5; }));
}

TEST_F(StreamWindowTest, SelectionAndEdgeDragsThenAClickSeeks)
{
    // In turn, on a timeline that keeps its view (no pointer near its edges) and has no
    // speech to snap to: each drag takes hold where it was pressed, and a click after
    // them only moves the playhead.
    const stream::Map m = window.timeline->map();
    const auto x = [&](double t) { return int(std::lround(m.x(t))); };
    const auto t = [&](int at) { return *m.t(at); };
    struct Row {
        const char* what;
        std::function<void()> act;
        std::function<TimeRange()> range;
        std::function<double()> time;
    };
    const std::vector<Row> table{
        {"selection to the right", [&] { drag(50, 300, {310, 400, 500}); }, [&] { return TimeRange{t(300), t(500)}; },
         [&] { return t(500); }},
        {"selection to the left, anchored at its own press", [&] { drag(90, 600, {590, 450}); },
         [&] { return TimeRange{t(450), t(600)}; }, [&] { return t(450); }},
        {"start edge past the end", [&] { drag(50, x(t(450)) - 4, {x(t(450)) + 40, x(t(600)) + 50}); },
         [&] { return TimeRange{t(600) - 0.2, t(600)}; }, [&] { return t(600) - 0.2; }},
        {"end edge before the start", [&] { drag(50, x(t(600)) + 5, {x(t(600)) - 40, 100}); },
         [&] { return TimeRange{t(600) - 0.2, t(600)}; }, [&] { return t(600); }},
        {"a click", [&] { drag(60, 700, {702}); drag(60, 700, {}); }, [&] { return TimeRange{t(600) - 0.2, t(600)}; },
         [&] { return t(700); }},
    };
    for (const Row& row : table) {
        row.act();
        ASSERT_TRUE(browser.range()) << row.what;
        EXPECT_NEAR(browser.range()->lower, row.range().lower, 1e-9) << row.what;
        EXPECT_NEAR(browser.range()->upper, row.range().upper, 1e-9) << row.what;
        EXPECT_NEAR(browser.time(), row.time(), 1e-9) << row.what;
        EXPECT_NEAR(player().position, row.time(), 1e-9) << row.what;
        EXPECT_FALSE(browser.dragging) << row.what;
    }
}

TEST_F(StreamWindowTest, ASelectionIsFinalAtReleaseWhileSeeksLag)
{
    // Each seek of the player takes 50 ms to land; the pointer moves every 5 ms.
    player().seekDelay = 0.05;
    const stream::Map m = window.timeline->map();
    std::vector<int> moves;
    for (int i = 1; i <= 40; ++i)
        moves.push_back(300 + 7 * i);
    drag(50, 300, moves, 5);
    const TimeRange last{*m.t(300), *m.t(moves.back())};
    // At the release, before anything else runs.
    ASSERT_EQ(browser.range(), last);
    EXPECT_EQ(window.rangeLabel->text(), stream::rangeText(last));
    EXPECT_EQ(browser.time(), last.upper);

    QTest::qWait(300); // every seek has landed
    EXPECT_EQ(browser.range(), last);
    EXPECT_EQ(window.rangeLabel->text(), stream::rangeText(last));
    EXPECT_EQ(browser.time(), last.upper);
    EXPECT_EQ(player().position, last.upper);
    EXPECT_EQ(player().calls.back(), QStringLiteral("seek %1").arg(last.upper));
    EXPECT_EQ(player().mostInFlight, 1);
    EXPECT_LT(player().calls.filter(QRegularExpression(QStringLiteral("^seek"))).size(), 20);
}
