// The Shorts timeline on a model with a fake player: what a press on the track does (a
// click, a move, a trim), the scale a trim keeps, and which Short a rename renames.

#include "model/lifecycle/AppModel.h"
#include "platform/Prefs.h"
#include "support/FakePlayer.h"
#include "support/Segments.h"
#include "views/editor/Timeline.h"
#include "views/editor/TimelineHeader.h"
#include "views/editor/TimelineTrack.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <QMouseEvent>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QWindow>
#include <functional>
#include <gtest/gtest.h>

namespace {

// Segment "01" (100–130 s) with lines ending at 108 and 112, and two Shorts: "Roof" with
// cuts of 10, 5 and 5 seconds, and "Left".
struct Timeline : ::testing::Test {
    FakePlayer* player = new FakePlayer;
    AppModel model{std::unique_ptr<Player>(player), std::make_unique<FakePlayer>()};
    QUuid roof = QUuid::createUuid();
    QUuid left = QUuid::createUuid();
    std::unique_ptr<TimelineView> view;

    void SetUp() override
    {
        Prefs::shared().set(QStringLiteral("timelineZoom"), 1.0);
        Prefs::shared().set(QStringLiteral("snapToSpeech"), true);
        Project p;
        p.duration = 600;
        Segment a = segment(QStringLiteral("01"), 100, 130);
        a.lines = std::vector<Line>{{100, 108, QStringLiteral("one")}, {108.5, 112, QStringLiteral("two")}};
        p.segments = {a};
        Short s;
        s.id = roof;
        s.title = QStringLiteral("Roof");
        s.cuts = {cut(100, 110), cut(200, 205), cut(300, 305)};
        Short t;
        t.id = left;
        t.title = QStringLiteral("Left");
        p.shorts = {s, t};
        model.setProject(p);
        model.activate(roof);
        view = std::make_unique<TimelineView>(model);
        view->resize(628, 200); // a track 600 points wide: 30 points a second
        view->show();
        settle();
    }
    static Cut cut(double a, double b) { return {QUuid::createUuid(), a, b, {}}; }
    static void settle() { QApplication::processEvents(); }
    TimelineTrack* track() { return view->track; }
    std::vector<double> starts()
    {
        std::vector<double> list;
        for (const Cut& c : model.cuts())
            list.push_back(c.start);
        return list;
    }
    void mouse(QEvent::Type type, double x, Qt::KeyboardModifiers mods = {}, double y = 40, bool down = true)
    {
        const QPointF at(x, y);
        const Qt::MouseButtons held = type == QEvent::MouseButtonRelease || !down ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent e(type, at, track()->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                      held, mods);
        QApplication::sendEvent(track(), &e);
        settle();
    }
    // A press at `from`, moves through `through`, and the release at the last of them.
    void drag(double from, std::initializer_list<double> through, Qt::KeyboardModifiers mods = {})
    {
        mouse(QEvent::MouseButtonPress, from, mods);
        double last = from;
        for (double x : through)
            mouse(QEvent::MouseMove, last = x, mods);
        mouse(QEvent::MouseButtonRelease, last, mods);
    }
    int undoSteps()
    {
        int n = 0;
        for (; model.canUndo() && n < 20; ++n)
            model.undo();
        settle();
        return n;
    }
};

} // namespace

TEST_F(Timeline, APressThatBarelyMovesSelectsAndSeeksAndAFartherOneMovesTheCut)
{
    ASSERT_EQ(track()->scale(), 30);
    const std::vector<double> before = starts();
    const bool couldUndo = model.canUndo();
    player->play();

    // Into the second cut, 1.5 s in; 4 points of travel are still a click.
    drag(300 + 45, {300 + 47, 300 + 49});
    EXPECT_EQ(model.selectedCut(), model.cuts()[1].id);
    EXPECT_EQ(model.mode(), Mode::shortClip);
    EXPECT_DOUBLE_EQ(model.clock().time(), 11.5);
    EXPECT_TRUE(player->playing) << "a click during playback lets it go on";
    EXPECT_EQ(starts(), before);
    EXPECT_EQ(model.canUndo(), couldUndo);

    // The first cut dragged past the middle of the last one lands at the end, as one step.
    drag(150, {160, 560});
    EXPECT_EQ(starts(), (std::vector<double>{200, 300, 100}));
    EXPECT_EQ(model.selectedCut(), model.cuts()[2].id);
    EXPECT_FALSE(track()->movingID);
    model.undo();
    settle();
    EXPECT_EQ(starts(), before);

    // Dropped just behind itself: nothing changes and no step is taken.
    drag(150, {160, 320});
    EXPECT_EQ(starts(), before);
    EXPECT_EQ(model.canUndo(), couldUndo);
}

TEST_F(Timeline, ATrimKeepsItsScaleSnapsUnlessShiftOrAltIsHeldAndIsOneUndoStep)
{
    // The first cut's end handle, dragged 1.9 s left (57 points): the line ending at 108
    // lies 0.1 s away, within 8 points, so the end lands on it.
    mouse(QEvent::MouseButtonPress, 295);
    mouse(QEvent::MouseMove, 280);
    EXPECT_EQ(track()->frozen, 30);
    view->resize(1228, 200); // the window grows during the drag
    settle();
    EXPECT_EQ(track()->scale(), 30) << "the scale stays while the trim runs";
    mouse(QEvent::MouseMove, 238);
    EXPECT_DOUBLE_EQ(model.cuts()[0].end, 108);
    // With Shift held (Alt is often taken by the window manager) the edge goes where pointed.
    mouse(QEvent::MouseMove, 238, Qt::ShiftModifier);
    EXPECT_DOUBLE_EQ(model.cuts()[0].end, 108.1);
    mouse(QEvent::MouseMove, 238, Qt::AltModifier);
    EXPECT_DOUBLE_EQ(model.cuts()[0].end, 108.1);
    mouse(QEvent::MouseButtonRelease, 238, Qt::AltModifier);
    EXPECT_FALSE(track()->frozen);
    EXPECT_FALSE(track()->origin);
    EXPECT_NE(track()->scale(), 30) << "released, the track fits the new width ";
    EXPECT_EQ(model.selectedCut(), model.cuts()[0].id);
    EXPECT_EQ(undoSteps(), 1);
    EXPECT_DOUBLE_EQ(model.cuts()[0].end, 110);

    // Snapping off: the start handle of the second cut moves freely.
    Prefs::shared().set(QStringLiteral("snapToSpeech"), false);
    const double scale = track()->scale();
    drag(10 * scale + 2, {10.5 * scale + 2});
    EXPECT_DOUBLE_EQ(model.cuts()[1].start, 200.5);
}

TEST_F(Timeline, PointerInputWaitsForAScale)
{
    TimelineView hidden(model);
    ASSERT_EQ(hidden.track->scale(), 0);
    const std::optional<QUuid> selected = model.selectedCut();
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseMove, QEvent::MouseButtonRelease}) {
        QMouseEvent e(type, QPointF(5, 40), QPointF(5, 40), Qt::LeftButton, Qt::LeftButton, {});
        QApplication::sendEvent(hidden.track, &e);
    }
    EXPECT_EQ(model.selectedCut(), selected);
    EXPECT_DOUBLE_EQ(model.clock().time(), 0);
}

TEST_F(Timeline, ADragEndsCleanlyWhenItsCutGoesTheTrackHidesOrTheReleaseIsLost)
{
    // Cuts lie at 0–300, 300–450 and 450–600 points; the ruler is above y 18.
    const std::function<void()> removeLast = [this] { model.setSelectedCut(model.cuts()[2].id), model.removeCut(); },
                                emptyTab = [this] { model.activate(left); }, hide = [this] { view->hide(); },
                                letGo = [this] { mouse(QEvent::MouseMove, 500, {}, 40, false); };
    const struct {
        const char* what;
        double x, y, to;
        std::function<void()> meanwhile;
        size_t cuts; // left afterwards
    } cases[] = {
        {"a click on the cut removed", 520, 40, 520, removeLast, 2},
        {"a move of the cut removed", 520, 40, 100, removeLast, 2},
        {"a trim of the cut removed", 595, 40, 560, removeLast, 2},
        {"a trim while the tab changes", 595, 40, 560, emptyTab, 0},
        {"a trim when the track hides", 595, 40, 560, hide, 3},
        {"a trim whose release was lost", 595, 40, 560, letGo, 3},
        {"a ruler scrub while the tab changes", 100, 5, 100, emptyTab, 0},
    };
    for (const auto& c : cases) {
        SetUp();
        player->play();
        mouse(QEvent::MouseButtonPress, c.x, {}, c.y);
        mouse(QEvent::MouseMove, c.to, {}, c.y);
        c.meanwhile();
        settle();
        mouse(QEvent::MouseButtonRelease, c.to);
        EXPECT_EQ(model.cuts().size(), c.cuts) << c.what;
        EXPECT_FALSE(track()->movingID || track()->origin || track()->frozen || model.scrubbing || model.handScrubbing)
            << c.what;
        const std::vector<double> before = starts();
        mouse(QEvent::MouseMove, 20); // a hover, not the rest of the old drag
        EXPECT_EQ(starts(), before) << c.what;
    }
}

TEST_F(Timeline, ManyShortCutsScrollAsFarAsTheirBlocks)
{
    Project p = model.project();
    p.shorts[0].cuts.clear();
    for (int i = 0; i < 400; ++i)
        p.shorts[0].cuts.push_back(cut(100 + i, 100.3 + i));
    model.setProject(p);
    settle();
    EXPECT_GE(track()->width(), 1600) << "120 s at 5 points a second, but every block is drawn 4 wide";
}

TEST_F(Timeline, ARenameRenamesTheShortWhoseTabItBeganOn)
{
    view->startRename(left);
    EXPECT_EQ(model.activeShort(), left);
    QDialog* alert = view->renameAlert();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->findChild<QLineEdit*>()->text(), QStringLiteral("Left"));
    // Something else makes another Short active before the user answers.
    model.activate(roof);
    alert->findChild<QLineEdit*>()->setText(QStringLiteral("Chat said left"));
    alert->accept();
    EXPECT_EQ(model.project().shorts[1].title, QStringLiteral("Chat said left"));
    EXPECT_EQ(model.project().shorts[0].title, QStringLiteral("Roof"));
}

TEST_F(Timeline, TheHeaderShowsTabsZoomAndTheLength)
{
    TimelineHeader* header = view->header;
    ASSERT_EQ(header->tabs().size(), 2u);
    EXPECT_TRUE(header->tabs()[0]->active);
    EXPECT_TRUE(header->zoomControls->isVisibleTo(header));
    EXPECT_EQ(header->length->text(), QStringLiteral("0:20.0"));
    EXPECT_EQ(header->newShort->toolButtonStyle(), Qt::ToolButtonIconOnly);
    header->zoomIn->click();
    EXPECT_DOUBLE_EQ(Prefs::shared().timelineZoom(), 1.5);
    settle();
    EXPECT_EQ(track()->scale(), 45);
    model.activate(left);
    settle();
    EXPECT_FALSE(header->zoomControls->isVisibleTo(header));
    EXPECT_TRUE(view->empty->isVisibleTo(view.get()));
    // The options button at the screen's right edge: the popover stays on screen.
    const QRect screen = view->screen()->availableGeometry();
    view->move(screen.right() + 1 - view->width(), screen.top());
    header->showOptions();
    EXPECT_TRUE(screen.contains(header->popover->geometry())) << header->popover->x();

    // A title is shown as written, on one line.
    model.rename(left, QStringLiteral("<b>Left</b>\nagain"));
    settle();
    QLabel* title = header->tabs()[1]->title;
    EXPECT_EQ(title->textFormat(), Qt::PlainText);
    EXPECT_EQ(title->text(), QStringLiteral("<b>Left</b> again"));
}

// Another Short, opened by its tab or by closing the active one, shows its start, where its
// playhead is, whatever the track had been scrolled to.
TEST_F(Timeline, AnotherShortOpensAtItsStart)
{
    Project p = model.project();
    p.shorts[1].cuts = {cut(400, 420), cut(430, 440)};
    model.setProject(p);
    Prefs::shared().set(QStringLiteral("timelineZoom"), 6.0);
    settle();
    QScrollBar* bar = view->scroll->horizontalScrollBar();
    const std::function<void()> clickTab = [this] {
        for (ShortTab* tab : view->header->tabs())
            if (tab->id == left)
                QTest::mouseClick(tab, Qt::LeftButton, {}, tab->title->geometry().center());
    };
    const std::function<void()> closeActive = [this] { model.closeTab(model.activeShort().value()); };
    const struct {
        const char* what;
        std::function<void()> change;
        QUuid opened;
    } cases[] = {{"a tab clicked", clickTab, left}, {"the active tab closed", closeActive, left}};
    for (const auto& c : cases) {
        model.activate(roof);
        settle();
        ASSERT_GT(bar->maximum(), 0);
        bar->setValue(bar->maximum());
        c.change();
        settle();
        EXPECT_EQ(model.activeShort(), c.opened) << c.what;
        EXPECT_EQ(bar->value(), 0) << c.what;
    }
}

// At zoom the track follows playback so that the whole playhead stays in view at every
// tick, also while the track slides.
TEST_F(Timeline, FollowingPlaybackKeepsThePlayheadInView)
{
    Prefs::shared().set(QStringLiteral("timelineZoom"), 12.0);
    model.scrubShort(0);
    settle();
    ASSERT_EQ(model.mode(), Mode::shortClip);
    ASSERT_EQ(track()->scale(), 360);
    QScrollBar* bar = view->scroll->horizontalScrollBar();
    const int shown = view->scroll->viewport()->width();
    model.clock().setPlaying(true);
    // Four seconds of playback, a tick every 1/30 s, in real time so that the slides run as
    // they would (a busy machine slows the clock down rather than making it jump).
    int moved = 0;
    for (int tick = 0; tick < 120; ++tick) {
        const double t = tick / 30.0;
        model.clock().setTime(t);
        QTest::qWait(33);
        const double x = track()->playheadX().value();
        EXPECT_GE(std::max(x - 4.5, 0.0), bar->value() - 0.5) << "at " << t << " s";
        EXPECT_LE(x + 4.5, bar->value() + shown + 0.5) << "at " << t << " s";
        moved = std::max(moved, bar->value());
    }
    EXPECT_GT(moved, 3 * 360 - shown) << "the track went along";
}

// The tab gestures, through the window so that the platform makes the double-click: a
// click opens the tab's Short; a double-click on another tab opens it and asks for its name.
TEST_F(Timeline, ATabClickOpensItsShortAndADoubleClickRenamesIt)
{
    QWindow* window = view->windowHandle();
    ASSERT_TRUE(window);
    const auto pointOn = [this](const QUuid& id) {
        for (ShortTab* tab : view->header->tabs())
            if (tab->id == id)
                return tab->mapTo(view.get(), tab->title->geometry().center());
        return QPoint();
    };
    QTest::mouseClick(window, Qt::LeftButton, {}, pointOn(left));
    settle();
    EXPECT_EQ(model.activeShort(), left);
    EXPECT_FALSE(view->renameAlert());

    QTest::mouseDClick(window, Qt::LeftButton, {}, pointOn(roof));
    settle();
    EXPECT_EQ(model.activeShort(), roof);
    QDialog* alert = view->renameAlert();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->findChild<QLineEdit*>()->text(), QStringLiteral("Roof"));
    alert->findChild<QLineEdit*>()->setText(QStringLiteral("Off the roof"));
    alert->accept();
    EXPECT_EQ(model.project().shorts[0].title, QStringLiteral("Off the roof"));
}
