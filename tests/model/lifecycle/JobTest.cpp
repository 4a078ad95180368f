// The job facility around a piece of work: what `jobs` shows while it runs, how it ends,
// and what reaches the activity log.

#include "model/lifecycle/Jobs.h"
#include "model/lifecycle/LifecycleTesting.h"
#include "support/Await.h"

#include <QCoro/QCoroTimer>

using namespace lifecycle;

struct AppModelProbe {
    // A job whose work fills the trace, waits a little and then ends as `outcome` says.
    static QCoro::Task<int> run(AppModel& model, QString outcome, Cancel cancel, QString request = "asked",
                                double cost = 0.25)
    {
        // Named, not made inside the co_await: GCC 12 destroys such a temporary twice.
        auto work = [outcome, request, cost](Trace& trace) -> QCoro::Task<int> {
            trace.request = request;
            trace.reply = "answered";
            trace.cost = cost;
            co_await QCoro::sleepFor(std::chrono::milliseconds(20));
            if (outcome != "done")
                throw Fail("The gateway said no.");
            co_return 7;
        };
        const Rerun rerun{Rerun::Summarize{}};
        co_return co_await model.job<int>("summarize", "Summarize every segment", "", "model-x", rerun,
                                          std::move(work), cancel);
    }
    static void note(AppModel& model, const QString& title, const QString& detail) { model.note(title, detail); }
};

namespace {

class JobTest : public LifecycleTest {
protected:
    std::unique_ptr<AppModel> model = makeModel();
    QString package;

    void SetUp() override
    {
        LifecycleTest::SetUp();
        package = openPackage(*model, "Stream");
        ASSERT_EQ(model->problem(), std::nullopt);
    }
    QList<QByteArray> logLines() const { return readFile(package + "/activity.jsonl").split('\n'); }
};

TEST_F(JobTest, AJobShowsWhileItRunsAndIsLoggedWhenItEnds)
{
    auto task = AppModelProbe::run(*model, "done", {});
    ASSERT_EQ(model->jobs().size(), 1u);
    EXPECT_EQ(model->jobs()[0].state, "running");
    EXPECT_FALSE(QFile::exists(package + "/activity.jsonl")) << "the start of a job is not written";

    EXPECT_EQ(await(std::move(task)), 7);
    const Job& done = model->jobs()[0];
    EXPECT_EQ(done.state, "done");
    EXPECT_EQ(done.cost, 0.25);
    EXPECT_EQ(done.request, "asked");
    EXPECT_EQ(done.reply, "answered");
    EXPECT_EQ(done.error, std::nullopt);
    ASSERT_TRUE(done.ended.has_value());
    EXPECT_GE(*done.ended, done.started);

    const auto lines = logLines();
    ASSERT_EQ(lines.size(), 2); // one line and the empty piece after its line feed
    Job logged;
    json::read(json::parse(lines[0]), logged);
    EXPECT_EQ(logged, done);
}

TEST_F(JobTest, FailuresAndCancelsAreRecordedAndPassedOn)
{
    EXPECT_EQ(failureOf(AppModelProbe::run(*model, "fail", {})), "The gateway said no.");
    EXPECT_EQ(model->jobs()[0].state, "failed");
    EXPECT_EQ(model->jobs()[0].error, "The gateway said no.");

    const Cancel cancel = Cancel::make();
    auto task = AppModelProbe::run(*model, "fail", cancel);
    cancel.cancel();
    EXPECT_EQ(failureOf(std::move(task)), "The gateway said no.");
    EXPECT_EQ(model->jobs()[0].state, "cancelled");
    EXPECT_EQ(model->jobs()[0].error, std::nullopt);
    EXPECT_EQ(logLines().size(), 3);
}

TEST_F(JobTest, NothingCostNothingAskedIsLeftOutAndLongTextsAreCut)
{
    await(AppModelProbe::run(*model, "done", {}, "", 0));
    EXPECT_EQ(model->jobs()[0].cost, std::nullopt);
    EXPECT_EQ(model->jobs()[0].request, std::nullopt);
    EXPECT_FALSE(logLines()[0].contains("\"cost\""));

    // Characters as a user sees them: a letter with a combining mark is one.
    const QString accented = QStringLiteral("e\u0301");
    QString huge;
    for (int i = 0; i < 60005; ++i)
        huge += accented;
    await(AppModelProbe::run(*model, "done", {}, huge));
    EXPECT_EQ(model->jobs()[0].request, huge.left(2 * 60000));
}

TEST_F(JobTest, AJobEndingAfterTheProjectClosedLeavesNoTrace)
{
    auto task = AppModelProbe::run(*model, "done", {});
    model->close();
    EXPECT_EQ(await(std::move(task)), 7);
    EXPECT_TRUE(model->jobs().empty());
    EXPECT_FALSE(QFile::exists(package + "/activity.jsonl"));
}

TEST_F(JobTest, NotesAreLoggedAtOnceAndALineCutByACrashDoesNotSwallowThem)
{
    writeFile(package + "/activity.jsonl", "{\"id\":\"01234567-89AB-CDEF-0123-0000");
    AppModelProbe::note(*model, "Deleted the Short", "3 cuts");
    ASSERT_EQ(model->jobs().size(), 1u);
    EXPECT_EQ(model->jobs()[0].state, "note");
    EXPECT_EQ(model->jobs()[0].ended, model->jobs()[0].started);

    const Job note = model->jobs()[0];
    auto reopened = makeModel();
    QCoro::waitFor(reopened->openProject(package));
    ASSERT_EQ(reopened->jobs().size(), 1u);
    EXPECT_EQ(reopened->jobs()[0], note);
}

TEST_F(JobTest, AProjectKeptAsOneFileGetsNoLog)
{
    const QString recording = copy(plainClip(), root + "/Single.mp4");
    const QString single = root + "/Single.vtrl";
    writeFile(single, json::dumpBytes(json::write(projectOf(recording))));
    auto other = makeModel();
    QCoro::waitFor(other->openProject(single));
    // The first save turns it into a folder; a log is written only into a folder.
    EXPECT_TRUE(QFileInfo(single).isDir());
    await(AppModelProbe::run(*other, "done", {}));
    EXPECT_TRUE(QFile::exists(single + "/activity.jsonl"));
}

} // namespace
