// The main window's root: the face and its size as a recording opens and closes, the
// toast's time, the alert, and `--open`.

#include "app/shell/MainWindow.h"
#include "model/lifecycle/LifecycleTesting.h"
#include "views/kit/Toast.h"
#include "views/start/StartView.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QTest>

using namespace lifecycle;

TEST(Root, OpenArgumentTakesThePathAfterTheFirstOpen)
{
    const QString here = QStringLiteral("/work");
    using L = QStringList;
    EXPECT_EQ(Root::openArgument(L{"vantorel"}, here), std::nullopt);
    EXPECT_EQ(Root::openArgument(L{"vantorel", "--open"}, here), std::nullopt);
    EXPECT_EQ(Root::openArgument(L{"vantorel", "--open", "a.vtrl", "--open", "b.vtrl"}, here), "/work/a.vtrl");
    EXPECT_EQ(Root::openArgument(L{"vantorel", "--open", "/x/b.vtrl"}, here), "/x/b.vtrl");
}

class RootTest : public LifecycleTest {
protected:
    std::unique_ptr<AppModel> model = makeModel();
    std::unique_ptr<MainWindow> window;
    void make(QStringList arguments = {}, int toastMs = 60000)
    {
        window = std::make_unique<MainWindow>(*model, arguments,
                                              Root::Options{std::chrono::milliseconds(toastMs), false});
        window->show();
    }
};

TEST_F(RootTest, FaceAndSizeFollowTheRecording)
{
    make();
    Root& root = *window->root();
    EXPECT_TRUE(root.showsStart());
    EXPECT_EQ(root.minimumSize(), QSize(820, 470));
    EXPECT_EQ(root.maximumSize(), QSize(820, 470));
    EXPECT_EQ(root.size(), QSize(820, 470));

    openPackage(*model, QStringLiteral("Evening"));
    EXPECT_FALSE(root.showsStart());
    EXPECT_EQ(root.minimumSize(), QSize(1180, 720));
    EXPECT_GE(root.width(), 1180);
    EXPECT_GE(root.height(), 720);

    model->close();
    EXPECT_TRUE(root.showsStart());
    QCoreApplication::processEvents();
    EXPECT_EQ(root.size(), QSize(820, 470));
}

TEST_F(RootTest, AToastStaysItsFullTimeFromEachNewText)
{
    make({}, 1000);
    model->setToast(QStringLiteral("one"));
    QTest::qWait(600);
    model->setToast(QStringLiteral("two"));
    QTest::qWait(600); // past the first text's time, well inside the second's
    EXPECT_EQ(model->toast(), QStringLiteral("two"));
    EXPECT_EQ(window->root()->toast()->text(), QStringLiteral("two"));
    model->setToast(QStringLiteral("two")); // no change: no new time
    EXPECT_TRUE(waitUntil([&] { return !model->toast(); }, 1500));
    EXPECT_FALSE(window->root()->toast()->presented());
}

TEST_F(RootTest, TheAlertShowsTheProblemAndOkClearsIt)
{
    make();
    model->setProblem(QStringLiteral("Stream.vtrl could not be read as a Vantorel project."));
    QMessageBox* box = window->root()->alert();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), QStringLiteral("Something went wrong"));
    EXPECT_EQ(box->informativeText(), QStringLiteral("Stream.vtrl could not be read as a Vantorel project."));
    EXPECT_TRUE(box->isVisible());
    box->button(QMessageBox::Ok)->click();
    EXPECT_EQ(model->problem(), std::nullopt);
    EXPECT_TRUE(window->root()->showsStart());
}

TEST_F(RootTest, OpenArgumentOpensAProject)
{
    const QString recording = copy(plainClip(), root + QStringLiteral("/Night.mp4"));
    const QString package = writePackage(root + QStringLiteral("/Night.vtrl"), projectOf(recording));
    make({QStringLiteral("vantorel"), QStringLiteral("--open"), package});
    EXPECT_TRUE(waitUntil([&] { return model->video().has_value(); }));
    EXPECT_EQ(model->file(), package);
}

TEST_F(RootTest, OpenArgumentWithANewRecordingAsksToSetItUp)
{
    openPackage(*model, QStringLiteral("Earlier"));
    const QString recording = copy(plainClip(), root + QStringLiteral("/sub/New.mp4"));
    make({QStringLiteral("vantorel"), QStringLiteral("--open"), recording});
    ASSERT_TRUE(waitUntil([&] { return model->fresh().has_value(); }));
    EXPECT_EQ(model->fresh(), recording);
    EXPECT_FALSE(model->video()); // what was open is closed first
    auto* start = qobject_cast<StartView*>(window->root()->face());
    ASSERT_NE(start, nullptr);
    EXPECT_TRUE(waitUntil([&] { return start->sheet() != nullptr; }));
}

TEST_F(RootTest, AProblemRightAfterTheLastOneIsDismissedStillShows)
{
    make();
    model->setProblem(QStringLiteral("first"));
    ASSERT_NE(window->root()->alert(), nullptr);
    window->root()->alert()->button(QMessageBox::Ok)->click();
    // Before the dismissed alert is gone.
    model->setProblem(QStringLiteral("second"));
    QMessageBox* box = window->root()->alert();
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(box->informativeText(), QStringLiteral("second"));
}

TEST_F(RootTest, TheSetUpSheetGoesWithTheStartScreenWhenARecordingOpens)
{
    make();
    model->setFresh(copy(plainClip(), root + QStringLiteral("/New.mp4")));
    auto* start = qobject_cast<StartView*>(window->root()->face());
    ASSERT_NE(start, nullptr);
    ASSERT_TRUE(waitUntil([&] { return start->sheet() != nullptr; }));
    openPackage(*model, QStringLiteral("Evening"));
    ASSERT_TRUE(model->video());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); // the start screen goes
    EXPECT_FALSE(model->fresh());
    // Back on the start screen, the recording that was set up is not asked about again.
    model->close();
    auto* again = qobject_cast<StartView*>(window->root()->face());
    ASSERT_NE(again, nullptr);
    QTest::qWait(50);
    EXPECT_EQ(again->sheet(), nullptr);
}
