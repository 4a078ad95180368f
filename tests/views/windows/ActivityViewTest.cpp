// The activity window on a real model: a new job comes in at the top without losing the
// chosen one, the footer counts and sums, Copy takes the whole of a clipped reply.

#include "model/lifecycle/LifecycleTesting.h"
#include "views/kit/Desktop.h"
#include "views/windows/ActivityView.h"

#include <QApplication>
#include <QFocusEvent>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QTextEdit>

// Puts jobs into the model as its own work would.
struct AppModelProbe {
    static void setJobs(AppModel& model, std::vector<Job> jobs) { model.setJobs(std::move(jobs)); }
};

using namespace lifecycle;

namespace {

class ActivityViewTest : public LifecycleTest {
protected:
    std::unique_ptr<AppModel> model = makeModel();
    Desktop saved = Desktop::current();
    QStringList copied;
    void SetUp() override
    {
        LifecycleTest::SetUp();
        Desktop::current().copy = [this](const QString& text) { copied << text; };
    }
    void TearDown() override
    {
        Desktop::current() = saved;
        LifecycleTest::TearDown();
    }
    static QPushButton* button(QWidget* in, const QString& text)
    {
        for (QPushButton* b : in->findChildren<QPushButton*>())
            if (b->text() == text && b->isVisibleTo(in))
                return b;
        return nullptr;
    }
};

} // namespace

TEST_F(ActivityViewTest, NewJobsComeInAtTheTopAndTheChosenOneStays)
{
    ActivityView view(*model);
    view.show();
    settle(10);
    EXPECT_EQ(view.footerLabel()->text(), "Nothing has run yet");
    EXPECT_EQ(view.shown(), std::nullopt);

    Job older = job(1, "done", 1000, 1002);
    older.cost = 0.02;
    older.reply = QString(6001, u'r');
    older.rerun = Rerun{Rerun::Ideas{}};
    Job newer = job(2, "failed", 1010, 1011);
    newer.error = "The gateway said no.";
    newer.cost = 0.012;
    AppModelProbe::setJobs(*model, {newer, older});
    settle(10);
    EXPECT_EQ(view.footerLabel()->text(), "2 entries · 3.2¢ spent");
    EXPECT_EQ(view.shown(), newer.id) << "the newest is shown until one is chosen";

    view.list()->setCurrentIndex(view.list()->model()->index(1, 0));
    settle(10);
    EXPECT_EQ(view.shown(), older.id);
    ASSERT_TRUE(view.headerButton());
    EXPECT_EQ(view.headerButton()->text(), "Run Again");

    AppModelProbe::setJobs(*model, {job(3, "running", 1020), newer, older});
    settle(10);
    EXPECT_EQ(view.list()->currentIndex().row(), 2);
    EXPECT_EQ(view.shown(), older.id);
    EXPECT_FALSE(view.footerStop()->isVisible()) << "nothing of the pipeline runs";

    // The reply is clipped on screen and whole on the clipboard.
    const QStringList texts = [&] {
        QStringList all;
        for (QLabel* l : view.detailPane()->findChildren<QLabel*>())
            all << l->text();
        for (QTextEdit* t : view.detailPane()->findChildren<QTextEdit*>())
            all << t->toPlainText();
        return all;
    }();
    EXPECT_TRUE(texts.contains(QString(6000, u'r') + "\n… (1 more characters; Copy takes everything)"));
    QPushButton* copy = button(view.detailPane(), "Copy");
    ASSERT_TRUE(copy);
    EXPECT_LE(copy->mapTo(&view, QPoint(copy->width(), 0)).x(), view.width()) << "an unbroken reply wraps in the pane";
    copy->click();
    EXPECT_EQ(copied, QStringList{QString(6001, u'r')});

    // Another project's jobs: the chosen one is gone, the newest is shown.
    AppModelProbe::setJobs(*model, {job(7, "note", 1030)});
    settle(10);
    EXPECT_EQ(view.shown(), uuid(7));
    EXPECT_FALSE(view.headerButton());
}

TEST_F(ActivityViewTest, UntilOneIsChosenTheNewestShowsAndAReaderKeepsTheirPlace)
{
    ActivityView view(*model);
    view.show();
    AppModelProbe::setJobs(*model, {job(1, "done", 1000, 1001)});
    settle(10);
    // The list makes its first row current when it takes the focus: that is no choice.
    QFocusEvent in(QEvent::FocusIn, Qt::TabFocusReason);
    QApplication::sendEvent(view.list(), &in);
    settle(10);
    AppModelProbe::setJobs(*model, {job(2, "running", 1010), job(1, "done", 1000, 1001)});
    settle(10);
    EXPECT_EQ(view.shown(), uuid(2));

    // A chosen job's pane stays as it is while other jobs come and go.
    view.list()->setCurrentIndex(view.list()->model()->index(1, 0));
    settle(10);
    ASSERT_EQ(view.shown(), uuid(1));
    const QWidget* pane = view.detailPane();
    AppModelProbe::setJobs(*model, {job(3, "running", 1020), job(2, "done", 1010, 1012), job(1, "done", 1000, 1001)});
    settle(10);
    EXPECT_EQ(view.shown(), uuid(1));
    EXPECT_EQ(view.detailPane(), pane);

    // Closed and opened again, the window starts with no choice: the newest shows.
    view.close();
    view.show();
    settle(10);
    EXPECT_EQ(view.shown(), uuid(3));
}
