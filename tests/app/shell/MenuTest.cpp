// The menu bar: which commands are enabled in which state, the notice after an update
// check, and the commands on a real model.

#include "app/shell/MainWindow.h"
#include "app/shell/Menus.h"
#include "core/services/Transcription.h"
#include "model/lifecycle/LifecycleTesting.h"
#include "views/kit/Windows.h"
#include "views/start/StartView.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>

using namespace lifecycle;

namespace {

MenuState openWith(void (*change)(MenuState&))
{
    MenuState s;
    s.video = s.file = true;
    change(s);
    return s;
}

} // namespace

TEST(Menus, EnabledRules)
{
    const MenuState none;
    const struct {
        Command command;
        MenuState state;
        bool on;
    } cases[] = {
        {Command::open, none, true},
        {Command::closeProject, none, false},
        {Command::save, none, false},
        {Command::showActivity, none, true},
        {Command::askAI, none, false},
        {Command::playPause, none, false},
        {Command::closeProject, openWith([](MenuState&) {}), true},
        {Command::save, openWith([](MenuState& s) { s.file = false; }), false},
        {Command::exportShort, openWith([](MenuState& s) { s.anyCuts = true; }), false},
        {Command::exportShort, openWith([](MenuState& s) { s.activeCuts = s.exportRunning = true; }), true},
        {Command::exportAll, openWith([](MenuState& s) { s.anyCuts = true; }), true},
        {Command::exportAll, openWith([](MenuState& s) { s.anyCuts = s.exportRunning = true; }), false},
        {Command::exportAll, openWith([](MenuState&) {}), false},
        {Command::transcribeMissing, openWith([](MenuState& s) { s.working = true; }), false},
        {Command::transcribeAgain, openWith([](MenuState&) {}), true},
        {Command::askAI, openWith([](MenuState& s) { s.working = true; }), true},
        {Command::favourite, openWith([](MenuState&) {}), false},
        {Command::favourite, openWith([](MenuState& s) { s.segment = true; }), true},
        {Command::addRange, openWith([](MenuState& s) { s.segment = true; }), false},
        {Command::addRange, openWith([](MenuState& s) { s.segment = s.range = true; }), true},
        {Command::joinNext, openWith([](MenuState& s) { s.segment = true; }), false},
        {Command::joinNext, openWith([](MenuState& s) { s.segment = s.touchesNext = true; }), true},
        {Command::summarizeThis, openWith([](MenuState& s) { s.segment = s.working = true; }), false},
        {Command::splitSegment, openWith([](MenuState& s) { s.segment = true; }), true},
        {Command::splitSegment, openWith([](MenuState& s) { s.segment = true, s.segmentMode = false; }), false},
        {Command::splitCut, openWith([](MenuState&) {}), false},
        {Command::splitCut, openWith([](MenuState& s) { s.segmentMode = false; }), true},
        {Command::removeCut, openWith([](MenuState& s) { s.selectedCut = true; }), true},
        {Command::closeTab, openWith([](MenuState&) {}), false},
        {Command::undo, openWith([](MenuState& s) { s.canUndo = true; }), true},
        {Command::redo, openWith([](MenuState& s) { s.canUndo = true; }), false},
    };
    int row = 0;
    for (const auto& c : cases)
        EXPECT_EQ(enabled(c.command, c.state), c.on) << "row " << row++;
}

TEST(Menus, UpdateNoticePointsToSettingsOnlyForANewerVersion)
{
    const QString far = QStringLiteral("The release site could not be reached.");
    EXPECT_EQ(updateNotice(far, std::nullopt, QStringLiteral("1.9")), far);
    EXPECT_EQ(updateNotice(far, QStringLiteral("1.10"), QStringLiteral("1.9")), far + QStringLiteral(" See Settings ▸ Updates"));
    EXPECT_EQ(updateNotice(QStringLiteral("You have the latest version."), QStringLiteral("1.9"), QStringLiteral("1.9")),
              QStringLiteral("You have the latest version."));
}

class MenuBarTest : public LifecycleTest {
protected:
    std::unique_ptr<AppModel> model = makeModel();
    MainWindow window{*model, {}, {std::chrono::milliseconds(60000), false}};
    Menus& menus = *window.menus();
    bool on(Command c)
    {
        QCoreApplication::processEvents();
        return menus.action(c)->isEnabled();
    }
};

TEST_F(MenuBarTest, OnTheStartScreenOnlyTheOpeningCommandsWork)
{
    for (Command c : {Command::closeProject, Command::save, Command::duplicate, Command::purgeCache,
                      Command::showInFileManager, Command::exportShort, Command::exportAll, Command::undo,
                      Command::redo, Command::transcribeMissing, Command::askAI, Command::newShort})
        EXPECT_FALSE(on(c)) << int(c);
    for (Command c : {Command::open, Command::showActivity, Command::checkForUpdates, Command::settings, Command::quit})
        EXPECT_TRUE(on(c)) << int(c);
    EXPECT_FALSE(menus.menu(QStringLiteral("Segment"))->menuAction()->isEnabled());
}

TEST_F(MenuBarTest, EveryCommandIsOneApplicationWideActionWithoutMnemonics)
{
    for (QAction* action : window.findChildren<QAction*>()) {
        EXPECT_FALSE(action->text().contains(u'&')) << action->text().toStdString();
        if (!action->shortcut().isEmpty()) {
            EXPECT_EQ(action->shortcutContext(), Qt::ApplicationShortcut) << action->text().toStdString();
        }
    }
    EXPECT_EQ(menus.action(Command::settings)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Comma));
    EXPECT_EQ(menus.action(Command::quit)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
}

TEST_F(MenuBarTest, StatesFollowTheModelAndTheCommandsReachIt)
{
    openPackage(*model, QStringLiteral("Evening"));
    ASSERT_TRUE(model->video());
    EXPECT_TRUE(on(Command::closeProject));
    EXPECT_TRUE(on(Command::save));
    EXPECT_TRUE(on(Command::askAI));
    model->setSelection(QStringLiteral("02"));
    EXPECT_TRUE(on(Command::favourite));
    EXPECT_TRUE(menus.menu(QStringLiteral("Segment"))->menuAction()->isEnabled());
    model->setSelection(QStringLiteral("99"));
    EXPECT_FALSE(on(Command::favourite));

    // Rating with the rating a segment already has clears it.
    model->setSelection(QStringLiteral("02"));
    ASSERT_TRUE(on(Command::favourite));
    menus.action(Command::favourite)->trigger();
    EXPECT_EQ(model->project().segments.at(1).rating, 1);
    menus.action(Command::favourite)->trigger();
    EXPECT_EQ(model->project().segments.at(1).rating, std::nullopt);

    EXPECT_FALSE(on(Command::undo));
    menus.action(Command::newShort)->trigger();
    EXPECT_TRUE(on(Command::undo));
    EXPECT_TRUE(on(Command::closeTab));
    menus.action(Command::undo)->trigger();
    EXPECT_TRUE(on(Command::redo));
    EXPECT_TRUE(model->project().shorts.empty());

    menus.action(Command::askAI)->trigger();
    EXPECT_TRUE(model->askingAI());
    menus.action(Command::save)->trigger();
    EXPECT_EQ(model->toast(), QStringLiteral("Saved Evening.vtrl"));

    // The recent list shows the package that is open, under its name.
    menus.recentMenu()->popup({0, 0});
    ASSERT_EQ(menus.recentMenu()->actions().size(), 1);
    EXPECT_EQ(menus.recentMenu()->actions().front()->text(), QStringLiteral("Evening"));
    menus.recentMenu()->hide();

    menus.action(Command::closeProject)->trigger();
    EXPECT_FALSE(model->video());
    EXPECT_FALSE(on(Command::closeProject));
}

TEST_F(MenuBarTest, ShowActivityTwiceMakesOneWindow)
{
    MainWindow::defineWindows(*model);
    menus.action(Command::showActivity)->trigger();
    QWidget* first = Windows::existing(QStringLiteral("activity"));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->windowTitle(), QStringLiteral("Activity"));
    menus.action(Command::showActivity)->trigger();
    EXPECT_EQ(Windows::existing(QStringLiteral("activity")), first);
    Windows::reset();
}

// Ctrl+W closes the stream window and the activity window as it closes Settings, whatever
// holds the focus in them; the main window stays.
TEST_F(MenuBarTest, CtrlWClosesTheStreamAndActivityWindows)
{
    openPackage(*model, QStringLiteral("Evening"));
    MainWindow::defineWindows(*model);
    window.show();
    for (const QString id : {"activity", "stream"}) {
        SCOPED_TRACE(id.toStdString());
        QWidget* opened = Windows::open(id);
        ASSERT_NE(opened, nullptr);
        opened->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(opened));
        if (QWidget* field = opened->findChild<QWidget*>(); field && field->focusPolicy() != Qt::NoFocus)
            field->setFocus(Qt::TabFocusReason);
        QTest::keyClick(opened->windowHandle(), Qt::Key_W, Qt::ControlModifier);
        QCoreApplication::processEvents();
        EXPECT_FALSE(opened->isVisible());
        EXPECT_TRUE(window.isVisible());
        EXPECT_TRUE(model->video()) << "the project stays open";
    }
    Windows::reset();
}

// Each editing command reaches its own model call: a command wired to a neighbour's
// call would pass every enabled-state test.
TEST_F(MenuBarTest, EachEditingCommandReachesItsModelCall)
{
    openPackage(*model, QStringLiteral("Evening"), plainClip(), {segment("01", 0, 2.5, {1}), segment("02", 2.5, 5.5, {4})});
    ASSERT_TRUE(model->video());
    FakePlayer& player = playerOf(*model);
    const auto rating = [&] { return model->project().segments.at(0).rating; };
    const auto cutsOfShorts = [&] {
        size_t n = 0;
        for (const Short& s : model->project().shorts)
            n += s.cuts.size();
        return n;
    };
    size_t shorts = 0, cuts = 0;
    double at = 0;
    QUuid closing;
    const struct {
        const char* name;
        Command command;
        std::function<void()> before;
        std::function<bool()> reached;
    } cases[] = {
        {"reject", Command::reject, [&] { model->setSelection(QStringLiteral("01")); }, [&] { return rating() == -1; }},
        {"favourite", Command::favourite, [] {}, [&] { return rating() == 1; }},
        {"clear rating", Command::clearRating, [] {}, [&] { return rating() == std::nullopt; }},
        {"mark start", Command::markStart, [&] { model->seek(0.5); },
         [&] { return model->range() && std::abs(model->range()->lower - 0.5) < 1e-6; }},
        {"mark end", Command::markEnd, [&] { model->seek(1.5); },
         [&] { return model->range() && std::abs(model->range()->upper - 1.5) < 1e-6; }},
        {"add range", Command::addRange, [&] { cuts = cutsOfShorts(); }, [&] { return cutsOfShorts() == cuts + 1; }},
        {"new short", Command::newShort, [&] { shorts = model->project().shorts.size(); },
         [&] { return model->project().shorts.size() == shorts + 1; }},
        {"undo", Command::undo, [] {}, [&] { return model->project().shorts.size() == shorts; }},
        {"redo", Command::redo, [] {}, [&] { return model->project().shorts.size() == shorts + 1; }},
        {"close tab", Command::closeTab, [&] { closing = model->activeShort().value_or(QUuid()); },
         [&] {
             for (const Short& s : model->project().shorts)
                 if (s.id == closing)
                     return s.closed == true;
             return false;
         }},
        {"play or pause", Command::playPause, [&] { player.calls.clear(); },
         [&] { return player.calls.contains(QStringLiteral("play")); }},
        {"step forward", Command::stepForward,
         [&] {
             model->setMode(Mode::segment);
             model->setSelection(QStringLiteral("01"));
             model->seek(1);
             at = model->clock().time();
         },
         [&] { return std::abs(model->clock().time() - (at + 1.0 / 30)) < 1e-6; }},
        {"step back", Command::stepBack, [&] { at = model->clock().time(); },
         [&] { return std::abs(model->clock().time() - (at - 1.0 / 30)) < 1e-6; }},
        {"split segment", Command::splitSegment,
         [&] {
             model->setSelection(QStringLiteral("01"));
             player.calls.clear();
         },
         [&] { return model->splitting() && player.calls.contains(QStringLiteral("pause")); }},
        {"join", Command::joinNext, [&] { model->setSplitting(false); },
         [&] { return model->project().segments.size() == 1; }},
        {"ask AI", Command::askAI, [] {}, [&] { return model->askingAI(); }},
        {"split cut", Command::splitCut,
         [&] {
             for (const Short& s : model->project().shorts)
                 if (!s.cuts.empty())
                     model->activate(s.id);
             model->setMode(Mode::shortClip);
             model->seek(0.5);
         },
         [&] { return model->cuts().size() == 2; }},
        {"remove cut", Command::removeCut, [&] { model->setSelectedCut(model->cuts().front().id); },
         [&] { return model->cuts().size() == 1; }},
        {"export short", Command::exportShort, [] {}, [&] { return model->exporting(); }},
        // Each engine of "Transcribe Everything Again" runs with that engine, not the other.
        {"transcribe with whisper", Command::transcribeWhisper, [&] { model->setExporting(false); },
         [&] { return waitUntil([&] { return model->status().contains(Transcribers::named("whisper")->name()); }); }},
        {"transcribe with scribe", Command::transcribeScribe, [&] { model->cancelWork(); },
         [&] { return waitUntil([&] { return model->status().contains(Transcribers::named("scribe")->name()); }); }},
    };
    for (const auto& c : cases) {
        c.before();
        ASSERT_TRUE(on(c.command)) << c.name;
        menus.action(c.command)->trigger();
        QCoreApplication::processEvents();
        EXPECT_TRUE(c.reached()) << c.name;
    }
}

// Ctrl+Q ends the program from every window and sheet: over the set-up sheet, an alert,
// the About box and a sheet of the workspace (each window-modal on the main window, so
// the menu bar under it takes no keys), from the main window under a sheet, and from
// another window while a sheet is up.
TEST_F(MenuBarTest, CtrlQQuitsWhateverSheetOrWindowIsInFront)
{
    MainWindow::defineWindows(*model);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    auto* start = qobject_cast<StartView*>(window.root()->face());
    ASSERT_NE(start, nullptr);
    const struct {
        const char* name;
        std::function<QWidget*()> show; // what takes the key
    } cases[] = {
        {"the main window alone", [&]() -> QWidget* { return &window; }},
        {"set-up sheet",
         [&]() -> QWidget* {
             model->setFresh(copy(plainClip(), root + QStringLiteral("/New.mp4")));
             waitUntil([&] { return start->sheet() != nullptr; });
             return start->sheet();
         }},
        {"alert",
         [&]() -> QWidget* {
             model->setProblem(QStringLiteral("Something broke."));
             return window.root()->alert();
         }},
        {"about box",
         [&]() -> QWidget* {
             MainWindow::showAbout(&window);
             return QApplication::activeModalWidget();
         }},
        // Qt hands a window that a modal one blocks no key at all, so nothing there sees it.
        {"the main window under an open sheet",
         [&]() -> QWidget* {
             model->setFresh(copy(plainClip(), root + QStringLiteral("/Under.mp4")));
             waitUntil([&] { return start->sheet() != nullptr; });
             return &window;
         }},
        {"a window beside an open sheet",
         [&]() -> QWidget* {
             model->setFresh(copy(plainClip(), root + QStringLiteral("/Other.mp4")));
             waitUntil([&] { return start->sheet() != nullptr; });
             return Windows::open(QStringLiteral("activity"));
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        window.show();
        QWidget* front = c.show();
        ASSERT_NE(front, nullptr);
        front->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(front));
        QSignalSpy quit(&window, &MainWindow::closed);
        // The focus in a text field of the sheet, where a stray key would be typed.
        if (auto* field = front->findChild<QPlainTextEdit*>())
            field->setFocus(Qt::TabFocusReason);
        QTest::keyClick(front->windowHandle(), Qt::Key_Q, Qt::ControlModifier);
        QCoreApplication::processEvents();
        EXPECT_EQ(quit.count(), 1);
        EXPECT_FALSE(window.isVisible());
        // Ready for the next case: whatever was in front goes.
        for (QWidget* top : QApplication::topLevelWidgets())
            if (top != &window && top->isVisible())
                top->close();
        model->setFresh(std::nullopt);
        model->setProblem(std::nullopt);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    Windows::reset();
}
