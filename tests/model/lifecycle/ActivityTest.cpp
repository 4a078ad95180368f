// The activity log as a project's opening reads it back, the money spent, the segments
// still waiting for work, and the cost estimates of re-runs.
//
// Nothing public starts a job or a note yet (their callers, the pipeline, undo and the
// Short tabs, come later), so the log's lines are written here as a finished job or a
// note would have written them, and read back through opening the project.

#include "core/services/Pricing.h"
#include "core/services/Prompts.h"
#include "model/lifecycle/LifecycleTesting.h"

#include <QVariantList>
#include <QVariantMap>

using namespace lifecycle;

namespace {

class ActivityTest : public LifecycleTest {
protected:
    // Opens a package whose log holds `log`; the jobs it loaded.
    std::vector<Job> load(const QByteArray& log)
    {
        model = makeModel();
        const QString recording = copy(plainClip(), root + "/Stream.mp4");
        package = writePackage(root + "/Stream.vtrl", projectOf(recording));
        writeFile(package + "/activity.jsonl", log);
        QCoro::waitFor(model->openProject(package));
        EXPECT_EQ(model->problem(), std::nullopt);
        return model->jobs();
    }
    static std::vector<QUuid> ids(const std::vector<Job>& jobs)
    {
        std::vector<QUuid> out;
        for (const Job& j : jobs)
            out.push_back(j.id);
        return out;
    }

    std::unique_ptr<AppModel> model;
    QString package;
};

Segment transcribed(const QString& id, double start, const QString& text)
{
    Segment s = segment(id, start, start + 10, {start + 5});
    s.lines = std::vector<Line>{{start, start + 4, text}, {start + 4, start + 9, text + " again"}};
    return s;
}

} // namespace

TEST_F(ActivityTest, OnlyTheLast400LinesAreRead)
{
    QByteArray log;
    for (int i = 0; i <= 400; ++i)
        log += line(job(i, "done", 1000 + i, 1001 + i));
    const auto jobs = load(log);
    ASSERT_EQ(jobs.size(), 400u);
    EXPECT_EQ(jobs.front().id, uuid(400)) << "newest first";
    EXPECT_EQ(jobs.back().id, uuid(1)) << "the oldest line is ignored";
}

TEST_F(ActivityTest, ARepeatedIdKeepsItsFirstPlaceAndItsLastContent)
{
    Job started = job(1, "running", 100);
    started.title = "first words";
    Job ended = job(1, "done", 100, 160);
    ended.title = "last words";
    ended.cost = 0.02;
    const auto jobs = load(line(started) + line(job(2, "done", 110, 120)) + line(job(3, "note", 130, 130))
                           + line(ended));

    EXPECT_EQ(ids(jobs), (std::vector<QUuid>{uuid(3), uuid(2), uuid(1)}));
    EXPECT_EQ(jobs.back(), ended);
}

TEST_F(ActivityTest, JobsLeftRunningReadAsInterrupted)
{
    const auto jobs = load(line(job(1, "running", 100)) + line(job(2, "running", 200, 250)));
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(jobs[1].state, "interrupted");
    EXPECT_EQ(jobs[1].ended, 100) << "no end stored: it ended when it started";
    EXPECT_EQ(jobs[0].state, "interrupted");
    EXPECT_EQ(jobs[0].ended, 250);
}

TEST_F(ActivityTest, BrokenLinesAreSkippedOneByOne)
{
    auto thai = [](int n) {
        Job j = job(n, "done", 100 * n, 100 * n + 10);
        j.title = QStringLiteral("สรุปช่วงแรก");
        return line(j);
    };
    const qsizetype character = thai(6).indexOf("\xe0\xb8");
    ASSERT_GT(character, 0);
    // A complete line holding two bytes of a three-byte character.
    const QByteArray halfCharacter = thai(6).left(character + 2) + thai(6).mid(character + 3);
    QByteArray missingKey = line(job(3, "done", 300, 310));
    ASSERT_TRUE(missingKey.contains("\"kind\":\"summarize\","));
    missingKey.replace("\"kind\":\"summarize\",", "");

    const auto jobs = load(line(job(1, "done", 100, 110)) + "not json at all\n" + missingKey
                           + line(job(4, "done", 400, 410)) + halfCharacter + "\n\n" + thai(5)
                           + thai(7).left(character + 1)); // cut by a crash inside a character
    EXPECT_EQ(ids(jobs), (std::vector<QUuid>{uuid(5), uuid(4), uuid(1)}));
    EXPECT_EQ(jobs.front().title, QStringLiteral("สรุปช่วงแรก"));
}

TEST_F(ActivityTest, APackageWithoutALogHasNoJobs)
{
    const auto jobs = load({});
    QFile::remove(package + "/activity.jsonl");
    model->close();
    QCoro::waitFor(model->openProject(package));
    EXPECT_TRUE(model->jobs().empty());
    EXPECT_FALSE(QFileInfo::exists(package + "/activity.jsonl")) << "opening writes no line";

    // A project kept in the older single-file form.
    const QString single = root + "/Single.vtrl";
    QFile::copy(package + "/project.json", single);
    QCoro::waitFor(model->openProject(single));
    EXPECT_EQ(model->file(), single);
    EXPECT_TRUE(model->jobs().empty());
}

TEST_F(ActivityTest, SpentAddsEveryCost)
{
    Job a = job(1, "done", 100, 110);
    a.cost = 0.25;
    Job b = job(2, "failed", 120, 130);
    Job c = job(3, "done", 140, 150);
    c.cost = 0.5;
    load(line(a) + line(b) + line(c));
    EXPECT_DOUBLE_EQ(model->spent(), 0.75);
    model->close();
    EXPECT_TRUE(model->jobs().empty());
    EXPECT_EQ(model->spent(), 0);
}

TEST_F(ActivityTest, SegmentsWaitingForWork)
{
    auto m = makeModel();
    Project p = projectOf("/streams/Stream.mp4");
    Segment summarized = transcribed("01", 0, "hello");
    summarized.title = "Greeting";
    Segment unsummarized = transcribed("02", 20, "more");
    Segment silent = segment("03", 40, 50);
    silent.lines = std::vector<Line>{};
    Segment failed = segment("04", 60, 70);
    failed.error = "The engine stopped.";
    Segment waiting = segment("05", 80, 90);
    waiting.waiting = true;
    Segment fresh = segment("06", 100, 110);
    p.segments = {summarized, unsummarized, silent, failed, waiting, fresh};
    m->setProject(p);

    EXPECT_EQ(m->unsummarized(), std::vector<QString>{"02"});
    EXPECT_EQ(m->untranscribed(), (std::vector<QString>{"05", "06"}));
}

TEST_F(ActivityTest, EstimatesOfRunningWorkAgain)
{
    const QString cheap = QStringLiteral("anthropic/claude-haiku-5.5");
    const QString clever = QStringLiteral("anthropic/claude-sonnet-5.5");
    Prefs::shared().set("pricing", QVariantMap{{cheap, QVariantList{0.000001, 0.000004}},
                                               {clever, QVariantList{0.000003, 0.000015}}});
    auto m = makeModel();
    Project p = projectOf("/streams/Stream.mp4");
    Segment rejected = transcribed("02", 20, "a long rejected stretch of talk");
    rejected.rating = -1;
    Segment favourite = transcribed("03", 40, "the best bit");
    favourite.rating = 1;
    const std::vector<Segment> all{transcribed("01", 0, "hello"), rejected, favourite};
    const std::vector<Segment> kept{all[0], all[2]};
    p.segments = all;
    m->setProject(p);

    EXPECT_EQ(m->estimate(Rerun{Rerun::Transcribe{"01", "whisper"}}), std::nullopt);

    const auto everything = m->estimate(Rerun{Rerun::Summarize{}});
    ASSERT_TRUE(everything);
    EXPECT_DOUBLE_EQ(*everything, *Pricing::estimate(cheap, Analyst::transcript(all), 4450))
        << "all segments, the rejected one too";
    EXPECT_DOUBLE_EQ(*m->estimate(Rerun{Rerun::Summarize{{"02"}}}),
                     *Pricing::estimate(cheap, Analyst::transcript({all[1]}), 4150));

    const auto ideas = m->estimate(Rerun{Rerun::Ideas{}});
    ASSERT_TRUE(ideas);
    EXPECT_DOUBLE_EQ(*ideas, *Pricing::estimate(clever, Analyst::digest(kept) + Analyst::transcript(kept), 6000));

    const auto ask = m->estimate(Rerun{Rerun::Ask{"make it short", {"02", "03"}}});
    ASSERT_TRUE(ask);
    EXPECT_DOUBLE_EQ(*ask, *Pricing::estimate(clever, Analyst::digest(kept) + Analyst::transcript({all[2]}), 4500))
        << "the rejected segment is not read, the instruction is not counted";

    Prefs::shared().set("model", "someone/unpriced");
    EXPECT_EQ(m->estimate(Rerun{Rerun::Summarize{}}), std::nullopt);
}
