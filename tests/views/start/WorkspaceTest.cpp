// The set-up sheet, the workspace and its sidebar on a real model: the key map acts once
// and stands aside for text fields and Ctrl, sheets follow their flags, the sidebar
// follows the project and reuses its rows.

#include "app/shell/MainWindow.h"
#include "model/lifecycle/LifecycleTesting.h"
#include "support/gui/SampleProject.h"
#include "views/start/SetupSheet.h"
#include "views/start/StartView.h"
#include "views/start/SidebarView.h"
#include "views/start/WorkspaceView.h"
#include "views/kit/Style.h"
#include "core/services/Transcription.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>

using namespace lifecycle;

namespace {

class WorkspaceTest : public LifecycleTest {
protected:
    std::unique_ptr<AppModel> model = makeModel();
    MainWindow window{*model, {}, {std::chrono::milliseconds(60000), false}};

    WorkspaceView* open(const QString& name = QStringLiteral("Evening"))
    {
        window.show();
        openPackage(*model, name);
        EXPECT_TRUE(waitUntil([&] { return qobject_cast<WorkspaceView*>(window.root()->face()) != nullptr; }));
        auto* space = qobject_cast<WorkspaceView*>(window.root()->face());
        QApplication::setActiveWindow(&window);
        settle(20);
        return space;
    }
    int playCalls()
    {
        const QStringList& calls = playerOf(*model).calls;
        return int(calls.count(QStringLiteral("play")));
    }
};

} // namespace

TEST_F(WorkspaceTest, TheSheetCreatesTheProjectAndDoesNotComeBack)
{
    window.show();
    const QString recording = copy(plainClip(), root + QStringLiteral("/Stream 12 final.mp4"));
    writeFile(root + QStringLiteral("/Stream 12.csv"), "0:00:01\n0:00:03\n");
    model->setFresh(recording);
    auto* start = qobject_cast<StartView*>(window.root()->face());
    ASSERT_TRUE(start);
    ASSERT_TRUE(waitUntil([&] { return start->sheet() != nullptr; }));
    QPointer<SetupSheet> sheet = qobject_cast<SetupSheet*>(start->sheet());
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->markers(), root + QStringLiteral("/Stream 12.csv"));
    EXPECT_EQ(sheet->preview().package, QStringLiteral("Stream 12.vtrl"));
    EXPECT_TRUE(sheet->openButton()->isEnabled());

    // Summaries and ideas follow the first switch without changing their own.
    sheet->transcribeBox()->setChecked(false);
    EXPECT_FALSE(sheet->summarizeBox()->isEnabled());
    EXPECT_TRUE(sheet->summarizeBox()->isChecked());
    sheet->transcribeBox()->setChecked(true);
    EXPECT_TRUE(sheet->ideasBox()->isEnabled());

    sheet->openButton()->click();
    EXPECT_FALSE(sheet->openButton()->isEnabled()); // no second create
    EXPECT_FALSE(sheet->cancelButton()->isEnabled());
    ASSERT_TRUE(waitUntil([&] { return qobject_cast<WorkspaceView*>(window.root()->face()) != nullptr; }));
    EXPECT_TRUE(waitUntil([&] { return !model->fresh(); }));
    EXPECT_TRUE(QFileInfo::exists(root + QStringLiteral("/Stream 12.vtrl")));
    EXPECT_EQ(model->project().markerCount, 2);

    // Back on the start screen, the recording is not waiting any more.
    model->close();
    ASSERT_TRUE(waitUntil([&] { return qobject_cast<StartView*>(window.root()->face()) != nullptr; }));
    settle(50);
    EXPECT_EQ(qobject_cast<StartView*>(window.root()->face())->sheet(), nullptr);
}

TEST_F(WorkspaceTest, TheSheetNamesThePackageCreateWillWrite)
{
    const QString recording = copy(plainClip(), root + QStringLiteral("/Late.mp4"));
    writeFile(root + QStringLiteral("/Late.csv"), "0:00:01\n");
    // Another recording's project holds the usual name.
    writePackage(root + QStringLiteral("/Late.vtrl"), projectOf(root + QStringLiteral("/Other.mp4")));
    SetupSheet sheet(*model, recording);
    sheet.setMarkers(root + QStringLiteral("/Late.csv"));
    EXPECT_EQ(sheet.preview().package, QStringLiteral("Late 2.vtrl"));
    writeFile(root + QStringLiteral("/Empty.csv"), "no times here\n");
    sheet.setMarkers(root + QStringLiteral("/Empty.csv"));
    EXPECT_FALSE(sheet.openButton()->isEnabled());
    sheet.setMarkers(std::nullopt);
    EXPECT_EQ(sheet.preview().package, QStringLiteral("Late 2.vtrl"));
}

TEST_F(WorkspaceTest, EachKeyActsOnceAndTextFieldsAndCtrlPass)
{
    WorkspaceView* space = open();
    ASSERT_TRUE(space);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Evening"));
    playerOf(*model).calls.clear();
    QWindow* handle = window.windowHandle();
    QTest::keyClick(handle, Qt::Key_Space);
    EXPECT_EQ(playCalls(), 1);
    // Rating twice would clear it again.
    model->setSelection(QStringLiteral("01"));
    QTest::keyClick(handle, Qt::Key_F);
    EXPECT_EQ(model->project().segments.at(0).rating, 1);
    QTest::keyClick(handle, Qt::Key_Space, Qt::ControlModifier);
    EXPECT_EQ(playCalls(), 1);
    // No button holds keyboard focus: a Ctrl+Space let through would press it ("Streams"
    // closed the project when it had the focus).
    for (QWidget* part : {space->findChild<QWidget*>(QStringLiteral("toolbar")), static_cast<QWidget*>(space->findChild<SidebarView*>())}) {
        ASSERT_TRUE(part);
        for (QAbstractButton* button : part->findChildren<QAbstractButton*>())
            EXPECT_EQ(button->focusPolicy(), Qt::NoFocus) << button->text().toStdString();
    }
    ASSERT_TRUE(model->video());

    // A text field in a pane takes its letters and spaces.
    auto* field = new QLineEdit;
    space->setPane(WorkspaceView::Pane::inspector, field);
    EXPECT_EQ(space->pane(WorkspaceView::Pane::inspector), field);
    EXPECT_EQ(field->objectName(), QStringLiteral("inspectorPane"));
    field->setFocus();
    for (char c : {'u', ' ', 'b'})
        QTest::keyClick(handle, c);
    EXPECT_EQ(field->text(), QStringLiteral("u b"));
    EXPECT_EQ(model->project().segments.at(0).rating, 1);
    EXPECT_FALSE(model->splitting());
    EXPECT_EQ(playCalls(), 1);

    // Hidden, the workspace no longer listens.
    field->clearFocus();
    window.setFocus();
    QTest::keyClick(handle, Qt::Key_U);
    EXPECT_EQ(model->project().segments.at(0).rating, std::nullopt);
    space->hide();
    QTest::keyClick(handle, Qt::Key_F);
    EXPECT_EQ(model->project().segments.at(0).rating, std::nullopt);
}

TEST_F(WorkspaceTest, SheetsAndTheSplitFollowTheirFlags)
{
    WorkspaceView* space = open();
    ASSERT_TRUE(space);
    WorkspaceView::exportSheet() = [](AppModel&, QWidget* parent) { return new QDialog(parent); };
    model->setExporting(true);
    ASSERT_TRUE(space->shownSheet());
    space->shownSheet()->reject();
    EXPECT_FALSE(model->exporting());
    model->setExporting(true);
    ASSERT_TRUE(waitUntil([&] { return space->shownSheet() != nullptr; }));
    model->setExporting(false);
    EXPECT_TRUE(waitUntil([&] { return space->shownSheet() == nullptr; }));
    WorkspaceView::exportSheet() = nullptr;
    QApplication::setActiveWindow(&window);

    Project longer = model->project();
    longer.segments = {segment("01", 0, 20, {10})};
    model->setProject(longer);
    model->setSelection(QStringLiteral("01"));
    model->seek(10);
    QTest::keyClick(window.windowHandle(), Qt::Key_B);
    ASSERT_TRUE(model->splitting());
    ASSERT_TRUE(space->splitDialog());
    EXPECT_EQ(space->splitDialog()->text(), QStringLiteral("Split segment 01 at 0:00:10?"));
    space->splitDialog()->reject();
    EXPECT_FALSE(model->splitting());
    EXPECT_EQ(model->project().segments.size(), 1u);
    model->setSplitting(true);
    ASSERT_TRUE(space->splitDialog());
    for (QAbstractButton* b : space->splitDialog()->buttons())
        if (b->text() == QStringLiteral("Split"))
            b->click();
    EXPECT_FALSE(model->splitting());
    EXPECT_EQ(model->project().segments.size(), 2u);
}

TEST_F(WorkspaceTest, TheSidebarFollowsTheProjectAndReusesItsRows)
{
    WorkspaceView* space = open();
    ASSERT_TRUE(space);
    SidebarView* side = space->sidebar();
    model->setProject(sample::sampleProject(model->project().video));
    QCoreApplication::processEvents();
    ASSERT_EQ(side->segmentRows().size(), 9u);
    const int made = side->rowsMade();
    EXPECT_TRUE(side->transcribeNoticeRow()->isVisibleTo(side));
    EXPECT_EQ(side->transcribeNoticeRow()->sentence(), QStringLiteral("1 segment is not transcribed"));
    EXPECT_EQ(side->summaryNoticeRow()->sentence(), QStringLiteral("1 segment has no summary"));

    // Many sets in one turn, one refresh, no new rows.
    for (int i = 0; i < 20; ++i)
        model->rate(QStringLiteral("02"), i % 2 ? std::nullopt : std::optional<int>(1));
    QCoreApplication::processEvents();
    EXPECT_EQ(side->rowsMade(), made);
    EXPECT_EQ(side->segmentRows().at(1)->look().segment.rating, std::nullopt);

    Prefs::shared().set(QStringLiteral("segmentFilter"), 1);
    QCoreApplication::processEvents();
    ASSERT_EQ(side->segmentRows().size(), 1u);
    EXPECT_EQ(side->segmentRows().front()->look().segment.id, QStringLiteral("01"));
    Prefs::shared().set(QStringLiteral("segmentFilter"), 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(side->segmentRows().size(), 9u);
    EXPECT_EQ(side->rowsMade(), made);

    side->setTab(1);
    EXPECT_EQ(side->shortRows().size(), 4u);
    ASSERT_EQ(side->ideaCards().size(), 1u);
    EXPECT_FALSE(side->shortsEmptyLabel()->isVisibleTo(side));
    EXPECT_FALSE(side->ideasEmptyLabel()->isVisibleTo(side));
    side->ideaCards().front()->openButton()->click();
    QCoreApplication::processEvents();
    EXPECT_EQ(side->shortRows().size(), 5u);
    EXPECT_TRUE(side->ideaCards().empty());
    EXPECT_EQ(side->ideasEmptyLabel()->text(), QStringLiteral("Every idea is already one of your Shorts."));

    // The rename alert: blanks leave the title as it was.
    ShortRow* row = side->shortRows().front();
    const QString title = row->look().item.title;
    row->startRename();
    ASSERT_TRUE(row->renameDialog());
    row->renameDialog()->findChild<QLineEdit*>()->setText(QStringLiteral("   "));
    row->renameDialog()->accept();
    EXPECT_EQ(model->project().shorts.front().title, title);
}

TEST_F(WorkspaceTest, TheWindowSizeIsKeptAfterAQuietMoment)
{
    Prefs::shared().remove(QStringLiteral("workspaceWidth"));
    WorkspaceView* space = open();
    ASSERT_TRUE(space);
    settle(50);
    window.resize(1300, 800);
    settle(WorkspaceView::quietMs + 200);
    EXPECT_EQ(Prefs::shared().workspaceWidth(), 1300);
    EXPECT_EQ(Prefs::shared().workspaceHeight(), 800);
    Prefs::shared().remove(QStringLiteral("workspaceWidth"));
    Prefs::shared().remove(QStringLiteral("workspaceHeight"));
}

TEST_F(WorkspaceTest, MinimizingAndMaximizingLeaveTheWorkspaceAsItWas)
{
    Prefs::shared().remove(QStringLiteral("workspaceWidth"));
    Prefs::shared().remove(QStringLiteral("workspaceHeight"));
    WorkspaceView* space = open();
    ASSERT_TRUE(space);
    settle(50);
    // Minimized, the taskbar still names the stream; brought back, the keys still act.
    window.setWindowState(Qt::WindowMinimized);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Evening"));
    window.setWindowState(Qt::WindowNoState);
    settle(20);
    QApplication::setActiveWindow(&window);
    model->setSelection(QStringLiteral("01"));
    QTest::keyClick(window.windowHandle(), Qt::Key_F);
    EXPECT_EQ(model->project().segments.at(0).rating, 1);
    // The screen's size is not the user's.
    window.setWindowState(Qt::WindowMaximized);
    settle(WorkspaceView::quietMs + 200);
    EXPECT_EQ(Prefs::shared().workspaceWidth(), std::nullopt);
}

TEST_F(WorkspaceTest, NoticesAndRowsFitEverySidebarWidth)
{
    WorkspaceView* space = open();
    ASSERT_TRUE(space);
    Project project = sample::sampleProject(model->project().video);
    // Many waiting segments make the longest sentences.
    for (int i = 0; i < 12; ++i) {
        Segment s = sample::seg(QString::asprintf("w%02d", i), 8000 + i * 300, 8200 + i * 300,
                                QStringLiteral("A title long enough to wrap onto a second line and then some more"));
        s.lines = sample::said(s.start);
        if (i % 2)
            s.lines.reset();
        project.segments.push_back(s);
    }
    // Texts the AI or the user wrote: a run without breaks (a link, a hashtag), Thai and a
    // very long one never push the list past the column either.
    const QString odd[] = {QStringLiteral("#") + QString(90, u'w'),
                           QString::fromUtf8("ไฮไลต์การต่อสู้กับบอสที่ยาวมากจนต้องขึ้นบรรทัดใหม่และยังยาวต่อไปอีก"),
                           QStringLiteral("A sentence that goes on ").repeated(20)};
    for (int i = 0; i < 3; ++i) {
        const QString& t = odd[i];
        project.ideas.push_back({sample::id(900 + i), t, t, t, t, {sample::cut(90 + i, 100, 110)}});
        project.shorts.push_back({sample::id(950 + i), t, std::nullopt, {sample::cut(95 + i, 100, 110)}, std::nullopt});
        Segment s = sample::seg(QString::asprintf("x%d", i), 12000 + i * 300, 12200 + i * 300, t);
        s.lines = sample::said(s.start);
        s.energy = t;
        s.kind = t;
        project.segments.push_back(s);
    }
    model->setProject(project);
    // Inside a window, as in the workspace: a window of its own keeps a width of its choosing.
    QWidget host;
    host.resize(600, 4000);
    SidebarView side(*model, &host);
    host.setAttribute(Qt::WA_DontShowOnScreen);
    host.show();
    for (const bool scrolling : {false, true}) {
        for (int width = 280; width <= 380; width += 4) {
            side.setGeometry(0, 0, width, scrolling ? 400 : 4000);
            side.refreshNow();
            for (int i = 0; i < 3; ++i)
                QCoreApplication::processEvents();
            auto* scroll = side.findChild<QScrollArea*>();
            ASSERT_TRUE(scroll);
            const QString where = QStringLiteral("width %1, scroll bar %2").arg(width).arg(scrolling);
            ASSERT_EQ(scroll->verticalScrollBar()->isVisible(), scrolling) << where.toStdString();
            const int room = scroll->viewport()->width();
            EXPECT_LE(scroll->widget()->width(), room) << where.toStdString();
            for (Notice* notice : {side.transcribeNoticeRow(), side.summaryNoticeRow()}) {
                ASSERT_TRUE(notice->isVisibleTo(&side)) << where.toStdString();
                QPushButton* button = notice->button();
                EXPECT_GE(button->width(), button->sizeHint().width()) << where.toStdString();
                EXPECT_LE(button->mapTo(scroll->viewport(), QPoint(button->width(), 0)).x(), room) << where.toStdString();
            }
            for (SegmentRow* row : side.segmentRows())
                EXPECT_LE(row->mapTo(scroll->viewport(), QPoint(row->width(), 0)).x(), room - 8) << where.toStdString();
            // The list switch reads whole: "Segments 18", "Shorts 7".
            for (QToolButton* tab : side.findChildren<QToolButton*>()) {
                if (tab->isCheckable()) {
                    EXPECT_GE(tab->width(), tab->fontMetrics().horizontalAdvance(tab->text()) + 2 * 6)
                        << tab->text().toStdString() << ", " << where.toStdString();
                }
            }
            // The Shorts and the ideas' cards too.
            side.setTab(1);
            side.refreshNow();
            for (int i = 0; i < 3; ++i)
                QCoreApplication::processEvents();
            EXPECT_LE(scroll->widget()->width(), scroll->viewport()->width()) << where.toStdString();
            for (IdeaCard* card : side.ideaCards())
                EXPECT_LE(card->openButton()->mapTo(scroll->viewport(), QPoint(card->openButton()->width(), 0)).x(),
                          scroll->viewport()->width())
                    << where.toStdString();
            side.setTab(0);
        }
    }
}

namespace {

QAction* item(QMenu* menu, const QString& title)
{
    for (QAction* a : menu->actions()) {
        if (a->text() == title)
            return a;
        if (a->menu())
            if (QAction* inner = item(a->menu(), title))
                return inner;
    }
    return nullptr;
}

} // namespace

// Each click and menu item of a row reaches its own model call with the row's own id.
TEST_F(WorkspaceTest, RowClicksAndMenusReachTheirModelCalls)
{
    WorkspaceView* space = open();
    ASSERT_TRUE(space);
    model->setProject(sample::sampleProject(model->project().video));
    SidebarView side(*model);
    side.resize(312, 2000);
    side.show();
    side.refreshNow();
    QCoreApplication::processEvents();
    const auto segmentRow = [&](const QString& id) -> SegmentRow* {
        for (SegmentRow* row : side.segmentRows())
            if (row->look().segment.id == id)
                return row;
        return nullptr;
    };
    const auto segmentOf = [&](const QString& id) -> const Segment* {
        for (const Segment& s : model->project().segments)
            if (s.id == id)
                return &s;
        return nullptr;
    };
    const auto refresh = [&] {
        side.refreshNow();
        QCoreApplication::processEvents();
    };

    // A click on the row shows its segment; on "Retry" it runs the segment again.
    QTest::mouseClick(segmentRow(QStringLiteral("04")), Qt::LeftButton, {}, QPoint(20, 20));
    EXPECT_EQ(model->selection(), QStringLiteral("04"));
    SegmentRow* failed = segmentRow(QStringLiteral("03"));
    QTest::mouseClick(failed, Qt::LeftButton, {}, failed->stateRect().center().toPoint());
    EXPECT_FALSE(segmentOf(QStringLiteral("03"))->error);
    EXPECT_EQ(model->selection(), QStringLiteral("04"));
    model->cancelWork();
    refresh();

    const struct {
        const char* row;
        const char* title;
        std::function<bool()> reached;
    } segmentCases[] = {
        {"02", "Favourite", [&] { return segmentOf(QStringLiteral("02"))->rating == 1; }},
        {"02", "Not a Favourite", [&] { return segmentOf(QStringLiteral("02"))->rating == std::nullopt; }},
        {"02", "Reject", [&] { return segmentOf(QStringLiteral("02"))->rating == -1; }},
        {"02", "Not Rejected", [&] { return segmentOf(QStringLiteral("02"))->rating == std::nullopt; }},
        {"05a", "Remove Segment", [&] { return segmentOf(QStringLiteral("05a")) == nullptr; }},
        {"01", "Join With the Next Segment",
         [&] { return segmentOf(QStringLiteral("02")) == nullptr && segmentOf(QStringLiteral("01"))->end == 1030; }},
    };
    for (const auto& c : segmentCases) {
        SegmentRow* row = segmentRow(QString::fromUtf8(c.row));
        ASSERT_TRUE(row) << c.title;
        std::unique_ptr<QMenu> menu(row->makeMenu());
        QAction* action = item(menu.get(), QString::fromUtf8(c.title));
        ASSERT_TRUE(action) << c.title;
        EXPECT_EQ(Style::isDestructive(action), QByteArray(c.title) == "Remove Segment") << c.title;
        action->trigger();
        EXPECT_TRUE(c.reached()) << c.title;
        refresh();
    }

    // Each engine of "Transcribe Again" runs the segment with that engine, not the other.
    for (const char* engine : {"whisper", "scribe"}) {
        SegmentRow* row = segmentRow(QStringLiteral("01"));
        ASSERT_TRUE(row);
        std::unique_ptr<QMenu> menu(row->makeMenu());
        QAction* action = item(menu.get(), engine == QByteArray("whisper") ? QStringLiteral("With whisper, on this computer")
                                                                           : QStringLiteral("With ElevenLabs Scribe"));
        ASSERT_TRUE(action) << engine;
        action->trigger();
        const QString name = Transcribers::named(QString::fromUtf8(engine))->name();
        // (The sample's segments lie past the data of the short clip it plays: the job fails
        // at once, with the engine it was given.)
        EXPECT_TRUE(waitUntil([&] {
            return !model->jobs().empty() && model->jobs().front().title == QStringLiteral("Transcribe segment 01")
                   && model->jobs().front().engine == name;
        })) << engine;
        model->cancelWork();
        refresh();
    }

    side.setTab(1);
    const auto shortRow = [&](int n) -> ShortRow* {
        for (ShortRow* row : side.shortRows())
            if (row->look().item.id == sample::id(n))
                return row;
        return nullptr;
    };
    QTest::mouseClick(shortRow(202), Qt::LeftButton, {}, QPoint(30, 10));
    EXPECT_EQ(model->activeShort(), sample::id(202));
    const size_t shorts = model->project().shorts.size();
    std::unique_ptr<QMenu> menu(shortRow(202)->makeMenu());
    item(menu.get(), QStringLiteral("Duplicate"))->trigger();
    EXPECT_EQ(model->project().shorts.size(), shorts + 1);
    refresh();
    menu.reset(shortRow(204)->makeMenu());
    QAction* remove = item(menu.get(), QStringLiteral("Delete Short"));
    ASSERT_TRUE(remove);
    EXPECT_TRUE(Style::isDestructive(remove));
    remove->trigger();
    EXPECT_EQ(model->project().shorts.size(), shorts);
    EXPECT_TRUE(std::none_of(model->project().shorts.begin(), model->project().shorts.end(),
                             [](const Short& s) { return s.id == sample::id(204); }));
    refresh();

    // The edited Short goes back to its idea's cuts through the confirmation.
    ShortRow* edited = shortRow(201);
    ASSERT_TRUE(edited && edited->look().edited);
    menu.reset(edited->makeMenu());
    item(menu.get(), QStringLiteral("Revert to AI's Cut…"))->trigger();
    ASSERT_TRUE(edited->revertDialog());
    for (QAbstractButton* b : edited->revertDialog()->buttons())
        if (b->text() == QStringLiteral("Revert"))
            b->click();
    EXPECT_DOUBLE_EQ(model->project().shorts.front().cuts.at(1).end, 741.5);
}
