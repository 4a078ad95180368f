// The export sheet on a real model and real ffmpeg: it asks where, exports with the
// options of that moment, and closes exactly once when the export returns.

#include "app/shell/MainWindow.h"
#include "app/shell/Menus.h"
#include "model/editing/FileManager.h"
#include "model/editing/ShortTesting.h"
#include "platform/Prefs.h"
#include "views/kit/FilePicker.h"
#include "support/Await.h"
#include "views/windows/ExportSheet.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

using namespace shorts;

namespace {

class ExportSheetTest : public ShortTest {
protected:
    FilePicker saved = FilePicker::current();
    QStringList asked; // the proposed names
    std::optional<QString> chosen;
    void SetUp() override
    {
        ShortTest::SetUp();
        model->revealFile = [](QString) -> QCoro::Task<bool> { co_return true; };
        FilePicker::current().saveMovie = [this](QWidget*, QString folder, QString proposed) {
            asked << folder + u'|' + proposed;
            return answer(chosen);
        };
    }
    void TearDown() override
    {
        FilePicker::current() = saved;
        ShortTest::TearDown();
    }
};

} // namespace

TEST_F(ExportSheetTest, ExportsWithTheOptionsAndClosesOnce)
{
    openWith(plainClip(), {shortOf("Moon: part/two", {cut(1, 2), cut(3, 3.5)})});
    Prefs::shared().set(QStringLiteral("exportSubtitles"), false);
    QPointer<ExportSheet> sheet = new ExportSheet(*model);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    int closings = 0;
    QObject::connect(sheet, &QDialog::finished, [&] { ++closings; });
    sheet->show();
    EXPECT_EQ(sheet->lengthLabel()->text(), QStringLiteral("0:01.5 · 2 cuts"));
    EXPECT_FALSE(sheet->findChildren<QCheckBox*>()[0]->isChecked());
    EXPECT_FALSE(sheet->progressBar()->isVisible());
    EXPECT_EQ(sheet->width(), 420);

    // A cancelled save panel leaves the sheet as it was.
    sheet->exportButton()->click();
    ASSERT_TRUE(waitUntil([&] { return asked.size() == 1; }));
    settle(20);
    EXPECT_EQ(asked[0], root + QStringLiteral("|Stream.mp4 Moon part-two.mp4"));
    EXPECT_TRUE(sheet && sheet->isVisible());
    EXPECT_EQ(closings, 0);

    chosen = root + QStringLiteral("/out.mp4");
    sheet->exportButton()->click();
    ASSERT_TRUE(waitUntil([&] { return model->exportProgress().has_value(); }));
    EXPECT_FALSE(sheet->exportButton()->isEnabled());
    EXPECT_FALSE(sheet->cancelButton()->isEnabled());
    EXPECT_EQ(sheet->width(), 420) << "the progress bar does not widen the sheet";
    QTest::keyClick(sheet, Qt::Key_Escape); // does nothing while the export runs
    EXPECT_TRUE(sheet->isVisible());
    ASSERT_TRUE(waitUntil([&] { return !sheet; }));
    settle(50);
    EXPECT_EQ(closings, 1);
    EXPECT_TRUE(QFileInfo::exists(root + QStringLiteral("/out.mp4")));
    EXPECT_FALSE(QFileInfo::exists(root + QStringLiteral("/out.srt")));
    EXPECT_EQ(model->toast(), QStringLiteral("Exported out.mp4"));
}

TEST_F(ExportSheetTest, ASheetClosedWhileItsExportRunsIsLeftAlone)
{
    openWith(plainClip(), {shortOf("Moon", {cut(1, 2)})});
    chosen = root + QStringLiteral("/gone.mp4");
    QPointer<ExportSheet> first = new ExportSheet(*model);
    first->show();
    first->exportButton()->click();
    ASSERT_TRUE(waitUntil([&] { return model->exportProgress().has_value(); }));
    delete first;
    // A new sheet shows the running export and is not closed by the old one's end.
    QPointer<ExportSheet> second = new ExportSheet(*model);
    second->show();
    EXPECT_TRUE(second->progressBar()->isVisible());
    ASSERT_TRUE(waitUntil([&] { return !model->exportProgress(); }));
    settle(50);
    EXPECT_TRUE(second && second->isVisible());
    EXPECT_TRUE(second->exportButton()->isEnabled());
    EXPECT_TRUE(QFileInfo::exists(root + QStringLiteral("/gone.mp4")));
    delete second;
}

TEST_F(ExportSheetTest, ExportAllFromTheMenuCanBeStopped)
{
    openWith(plainClip(), {shortOf("One", {cut(1, 2)}), shortOf("Two", {cut(3, 4)})});
    MainWindow window{*model, {}, {std::chrono::milliseconds(60000), false}};
    FilePicker::current().folder = [&](QWidget*, QString, QString, QString) { return answer(root); };
    // The first export is stopped the moment it is listed, as the activity window's Stop
    // would (its button shows exactly when the job is stoppable).
    bool couldStop = false;
    QObject::connect(model.get(), &AppModel::jobsChanged, [&] {
        const Job& first = model->jobs().front();
        if (first.kind == u"export" && first.state == u"running" && !couldStop) {
            couldStop = model->stoppable(first.id);
            model->stop(first.id);
        }
    });
    window.menus()->action(Command::exportAll)->trigger();
    ASSERT_TRUE(waitUntil([&] { return couldStop && !model->exportProgress() && model->toast(); }, 20000));
    EXPECT_EQ(model->jobs().front().state, "cancelled");
    EXPECT_EQ(model->jobs().size(), 1u) << "the whole run stops, not just the Short under way";
    // The Short cut off was not finished.
    EXPECT_EQ(model->toast(), QStringLiteral("Export stopped after 0 of 2 Shorts"));
}

// The real reveal on a desktop without a file manager (the tests' own session bus has none):
// it says it could not show the file, and the sheet's export says so in its toast.
TEST_F(ExportSheetTest, WithoutAFileManagerTheToastSaysSo)
{
    EXPECT_FALSE(await(FileManager::show(root)));
    openWith(plainClip(), {shortOf("Moon", {cut(1, 2)})});
    model->revealFile = FileManager::show;
    Prefs::shared().set(QStringLiteral("exportReveal"), true);
    chosen = root + QStringLiteral("/moon.mp4");
    QPointer<ExportSheet> sheet = new ExportSheet(*model);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->show();
    sheet->exportButton()->click();
    ASSERT_TRUE(waitUntil([&] { return !sheet; }, 20000));
    EXPECT_TRUE(QFileInfo::exists(chosen.value()));
    EXPECT_EQ(model->toast(), QStringLiteral("Exported moon.mp4. No file manager could show it."));
    EXPECT_EQ(model->problem(), std::nullopt);
}
