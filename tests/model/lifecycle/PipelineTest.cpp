// The background pipeline from a marker file to Short ideas, transcribing again, and Ask
// AI: the real ffmpeg on a generated clip, a stand-in whisper-cli and the fake gateway.

#include "model/lifecycle/LifecycleTesting.h"
#include "support/Await.h"
#include "support/Env.h"
#include "support/FakeServer.h"

using namespace lifecycle;

namespace {

const QByteArray chat = "/api/v1/chat/completions";
const QString whisperName = "whisper (on this computer)";

// Call n (counted in $WHISPER_COUNT) waits the n-th of the seconds in $WHISPER_SLEEP (the
// last one repeats), fails when $WHISPER_FAIL lists n, and else writes two lines, the
// second ending long after any segment does.
const QByteArray whisper = R"(#!/bin/sh
while [ $# -gt 0 ]; do if [ "$1" = "-of" ]; then base="$2"; fi; shift; done
n=$(( $(cat "$WHISPER_COUNT" 2>/dev/null || echo 0) + 1 )); echo $n > "$WHISPER_COUNT"
pause=0; i=0; for p in $WHISPER_SLEEP; do i=$((i+1)); if [ $i -le $n ]; then pause=$p; fi; done
sleep $pause
case " $WHISPER_FAIL " in *" $n "*) echo "whisper_init: failed to load model" >&2; exit 3;; esac
printf '{"transcription":[{"offsets":{"from":500,"to":1500},"text":" hello chat "},{"offsets":{"from":1500,"to":90000},"text":" goodbye "}]}' > "$base.json"
)";

QByteArray completion(const std::string& content, double cost)
{
    const Json reply = {{"choices", Json::array({{{"message", {{"content", content}}}}})}, {"usage", {{"cost", cost}}}};
    return QByteArray::fromStdString(reply.dump());
}
const QByteArray summaries = completion(
    R"({"segments":[{"id":"01","short":"Hello chat","long":"A greeting.","type":"banter","key_line":"01.01"},
                    {"id":"02","short":"Goodbye","unsure":"a word","key_line":"02.02"}]})", 0.01);
const QByteArray ideas = completion(
    R"({"ideas":[{"title":"Hi and bye","cuts":[{"from":"01.01","to":"01.01"},{"from":"02.02","to":"02.02"}]}]})", 0.02);

Segment heard(const QString& id, double start)
{
    Segment s = segment(id, start, start + 2.5);
    s.lines = std::vector<Line>{{start + 0.5, start + 1.5, "hello chat"}, {start + 1.5, start + 2.5, "goodbye"}};
    return s;
}

class PipelineTest : public LifecycleTest {
protected:
    QTemporaryDir bin, home;
    FakeServer server;
    ScopedEnv tools{"VANTOREL_TOOL_DIRS", bin.path().toUtf8()};
    ScopedEnv homeFolder{"HOME", home.path().toUtf8()};
    ScopedEnv api{"VANTOREL_API_BASE", server.base().toUtf8()};
    ScopedEnv key{"OPENROUTER_API_KEY", QByteArray("sk-or-test")};
    ScopedEnv count{"WHISPER_COUNT", bin.filePath("count").toUtf8()};
    std::unique_ptr<AppModel> model = makeModel();
    QStringList statuses;

    void SetUp() override
    {
        LifecycleTest::SetUp();
        ASSERT_TRUE(writeFile(bin.filePath("whisper-cli"), whisper, true));
        ASSERT_TRUE(writeFile(home.filePath(".whisper-models/ggml-large-v3-turbo.bin"), "model"));
        QObject::connect(model.get(), &AppModel::statusChanged, [this] { statuses << model->status(); });
    }
    // A new stream from its marker file: segments 01 (0-2.5 s) and 02 (3-5.5 s).
    void createStream()
    {
        const QString video = copy(plainClip(), root + "/Stream.mp4");
        writeFile(root + "/Stream.csv", "Time,Name\n0:00:01,a\n0:00:04,b\n");
        QCoro::waitFor(model->create(video, root + "/Stream.csv", "Chat says hi", 1, 1.5, true, true, true));
        ASSERT_TRUE(model->pipeline());
    }
    // A transcribed stream, opened; its own run has nothing to do.
    QString openHeard(const QString& name, const std::function<void(Project&)>& change = {})
    {
        Project p = projectOf(copy(plainClip(), root + u'/' + name + ".mp4"), {heard("01", 0), heard("02", 3)});
        if (change)
            change(p);
        const QString package = writePackage(root + u'/' + name + ".vtrl", p);
        QCoro::waitFor(model->openProject(package));
        finish();
        return package;
    }
    // Until the work has ended, also when a run hands over to a new one at its end.
    void finish()
    {
        do
            await(model->pipeline()->done());
        while (!model->pipeline()->finished());
    }
    const Segment& segmentAt(size_t i) const { return model->project().segments.at(i); }
};

TEST_F(PipelineTest, MainRoadFromMarkersToIdeasWithOneSegmentFailing)
{
    ScopedEnv fail{"WHISPER_FAIL", QByteArray("2")};
    server.reply(chat, 200, summaries);
    server.reply(chat, 200, ideas);
    createStream();
    finish();

    EXPECT_EQ(statuses, (QStringList{"Transcribing 1 of 2", "Transcribing 2 of 2", "Summarizing 2 segments",
                                     "Looking for Short ideas", "1 segment could not be transcribed"}));
    EXPECT_FALSE(model->working());
    const Project saved = Project::load(*model->file());
    ASSERT_EQ(saved.segments.size(), 2u);
    EXPECT_EQ(saved.segments[0].lines, (std::vector<Line>{{0.5, 1.5, "hello chat"}, {1.5, 2.5, "goodbye"}}))
        << "moved to recording time, no line ending after its segment";
    EXPECT_GT(saved.segments[0].peaks.value_or("").size(), 40);
    EXPECT_EQ(saved.segments[1].error, "whisper-cli stopped with an error. whisper_init: failed to load model");
    EXPECT_EQ(saved.segments[0].title, "Hello chat");
    EXPECT_EQ(saved.segments[0].keyLine, 0);
    EXPECT_EQ(saved.segments[1].unsure, "a word");
    EXPECT_TRUE(saved.analyzed);
    EXPECT_EQ(saved.ideated, true);
    ASSERT_EQ(saved.ideas.size(), 1u);

    QList<QByteArray> lines = readFile(*model->file() + "/activity.jsonl").split('\n');
    ASSERT_EQ(lines.takeLast(), "");
    QStringList seen;
    for (const QByteArray& line : lines) {
        Job job;
        json::read(json::parse(line), job);
        seen << QStringList{job.kind, job.title, job.detail, job.engine, job.state,
                            QString::number(job.cost.value_or(0))}.join(" | ");
        EXPECT_EQ(job, model->jobs().at(model->jobs().size() - seen.size())) << "the same as in the window";
    }
    EXPECT_EQ(seen, (QStringList{
                        "transcribe | Transcribe segment 01 | 0:00:00 to 0:00:02 | " + whisperName + " | done | 0",
                        "transcribe | Transcribe segment 02 | 0:00:03 to 0:00:05 | " + whisperName + " | failed | 0",
                        "summarize | Summarize every segment |  | anthropic/claude-haiku-5.5 | done | 0.01",
                        "ideas | Look for Short ideas |  | anthropic/claude-sonnet-5.5 | done | 0.02"}));
    EXPECT_EQ(model->jobs().back().rerun, (Rerun{Rerun::Transcribe{"01", "whisper"}}));

    model->retry("02");
    finish();
    EXPECT_TRUE(segmentAt(1).lines && !segmentAt(1).error);
    EXPECT_EQ(model->status(), "");
    EXPECT_EQ(server.requests(chat).size(), 2u) << "a retry runs no AI step";
}

TEST_F(PipelineTest, AReplacedRunLeavesTheStateToTheNewOneWhichStopsAfterItsSegment)
{
    ScopedEnv slow{"WHISPER_SLEEP", QByteArray("0.2 0.8")};
    createStream();
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(bin.filePath("count")); })); // the first run's whisper-cli
    model->runPipeline(false, false, false, false, {});
    ASSERT_TRUE(waitUntil([&] { return model->jobs().back().state == "done"; })); // the first run's segment
    EXPECT_TRUE(model->working());
    // The new run waited for the segment under way instead of hearing it a second time.
    ASSERT_TRUE(waitUntil([&] { return readFile(bin.filePath("count")).trimmed() == "2"; }));
    EXPECT_EQ(model->status(), "Transcribing 1 of 1");
    EXPECT_EQ(model->jobs()[0].title, "Transcribe segment 02");

    model->cancelWork();
    finish();
    EXPECT_EQ(model->jobs()[0].state, "done") << "the segment under way finishes";
    EXPECT_TRUE(segmentAt(0).lines && segmentAt(1).lines);
    EXPECT_EQ(readFile(bin.filePath("count")).trimmed(), "2") << "each segment heard once";
    EXPECT_TRUE(server.requests(chat).empty());
    EXPECT_FALSE(model->working());
    EXPECT_EQ(model->status(), "");
}

TEST_F(PipelineTest, AnotherRecordingOpenedMidSummaryGetsNothingOfTheOldRun)
{
    server.hang(chat);
    createStream();
    ASSERT_TRUE(waitUntil([&] { return server.requests(chat).size() == 1; }));
    const TaskHandle old = *model->pipeline();
    const QString first = *model->file();
    const QString other = openHeard("Other");
    await(old.done());
    EXPECT_EQ(model->file(), other);
    EXPECT_EQ(model->project().segments[0].title, "");
    EXPECT_TRUE(model->jobs().empty());
    EXPECT_FALSE(QFile::exists(other + "/activity.jsonl"));
    EXPECT_EQ(model->problem(), std::nullopt);
    EXPECT_FALSE(Project::load(first).analyzed);
}

TEST_F(PipelineTest, LookingAgainReplacesOnlyTheIdeasNoShortWasOpenedFrom)
{
    for (const bool opened : {true, false}) {
        server.reply(chat, 200, ideas);
        openHeard(opened ? "Opened" : "Unopened", [&](Project& p) {
            for (int n = 1; n <= 3; ++n)
                p.ideas.push_back({uuid(n), QString("Idea %1").arg(n), "", "", "", {}});
            if (opened)
                p.shorts.push_back({uuid(9), "Mine", uuid(2), {}, std::nullopt});
        });
        model->runPipeline(true, false, false, false, {});
        finish();
        QStringList titles;
        for (const Idea& idea : model->project().ideas)
            titles << idea.title;
        EXPECT_EQ(titles, opened ? QStringList({"Idea 2", "Hi and bye"}) : QStringList{"Hi and bye"});
        EXPECT_EQ(model->project().ideated, true);
    }
}

TEST_F(PipelineTest, AFailedSummaryStopsTheRunAndIsShown)
{
    ScopedEnv noKey{"OPENROUTER_API_KEY", QByteArray()};
    openHeard("Keyless");
    model->runPipeline(true, true, false, false, {});
    finish();
    ASSERT_EQ(model->jobs().size(), 1u) << "no idea step after a failed summary";
    EXPECT_EQ(model->jobs()[0].state, "failed");
    EXPECT_EQ(model->problem(), model->jobs()[0].error);
    EXPECT_EQ(model->status(), "");
    EXPECT_FALSE(model->working());
}

TEST_F(PipelineTest, TranscribingAgainSaysHowItWent)
{
    const QString unchanged = " again. Summaries are unchanged; Stream \u25B8 Summarize Segments Again refreshes them";
    const std::tuple<std::vector<QString>, QByteArray, QString> rows[] = {
        {{"01"}, "", "Transcribed 1 segment" + unchanged},
        {{"01", "02", "zz"}, "2", "1 of 3 could not be transcribed again. See Activity"},
        {{}, "", "Transcribed 0 segments" + unchanged}};
    int n = 0;
    for (const auto& [ids, failing, toast] : rows) {
        ScopedEnv fail{"WHISPER_FAIL", failing};
        QFile::remove(bin.filePath("count"));
        openHeard(QString("Again %1").arg(++n));
        statuses.clear();
        model->transcribeAgain(ids, "whisper");
        finish();
        EXPECT_EQ(model->toast(), toast);
        const QString first = "Transcribing 1 of " + QString::number(ids.size()) + " again with " + whisperName;
        EXPECT_EQ(statuses.value(0), ids.empty() ? "" : first);
        EXPECT_FALSE(model->working());
        EXPECT_EQ(segmentAt(1).error.has_value(), !failing.isEmpty());
        EXPECT_TRUE(segmentAt(1).lines) << "a failed transcription keeps the old lines";
    }

    // Closed while the last segment is under way: no notice.
    ScopedEnv slow{"WHISPER_SLEEP", QByteArray("0.3")};
    model->setToast(std::nullopt);
    model->transcribeAgain({"01"}, "whisper");
    ASSERT_TRUE(waitUntil([&] { return !model->jobs().empty(); }));
    model->close();
    finish();
    EXPECT_EQ(model->toast(), std::nullopt);
}

// A segment that lies past where the recording's data stops (a project made from it before
// it was cut off) does not end "done" without a line: its job fails, saying where it stops.
TEST_F(PipelineTest, ASegmentPastTheDataFailsSayingWhereItStops)
{
    openHeard("Past", [](Project& p) {
        p.duration = 12;
        p.segments[1].start = 8;
        p.segments[1].end = 10.5;
    });
    model->transcribeAgain({"01", "02"}, "whisper");
    finish();
    EXPECT_EQ(segmentAt(0).error, std::nullopt);
    EXPECT_EQ(segmentAt(1).error, "Past.mp4 ends early: it holds pictures up to 0:00:06 only.");
    ASSERT_FALSE(model->jobs().empty());
    EXPECT_EQ(model->jobs().front().title, "Transcribe segment 02");
    EXPECT_EQ(model->jobs().front().state, "failed");
}

TEST_F(PipelineTest, AskAIAddsTheShortOrSaysWhyNot)
{
    const QString package = openHeard("Ask");
    server.reply(chat, 200, completion(R"({"title":"Greeting","cuts":[{"from":"02.01","to":"02.02"}]})", 0.03));
    EXPECT_EQ(await(model->compose("the greeting", {"02", "01"})), std::nullopt);
    ASSERT_EQ(model->project().shorts.size(), 1u);
    EXPECT_EQ(model->activeShort(), model->project().shorts[0].id);
    EXPECT_EQ(model->mode(), Mode::shortClip);
    EXPECT_EQ(Project::load(package).shorts, model->project().shorts);
    EXPECT_EQ(model->jobs()[0].rerun, (Rerun{Rerun::Ask{"the greeting", {"01", "02"}}}));
    const std::vector<Short> made = model->project().shorts;
    model->undo();
    EXPECT_TRUE(model->project().shorts.empty()) << "one undo removes exactly the new Short";
    EXPECT_FALSE(model->canUndo());

    // Stopped while asked, and answered after the stream was closed: no Short either way.
    server.hang(chat);
    const Cancel stop = Cancel::make();
    auto stopping = QObject::connect(&server, &FakeServer::received, [&] { stop.cancel(); });
    EXPECT_EQ(await(model->compose("more", {}, stop)), "The request was cancelled.");
    EXPECT_EQ(model->jobs()[0].state, "cancelled");
    EXPECT_TRUE(model->canRedo()) << "no undo point for a request that made nothing";
    QObject::disconnect(stopping);
    model->redo();
    EXPECT_EQ(model->project().shorts, made);
    server.reply(chat, 200, completion(R"({"title":"Late","cuts":[{"from":"01.01","to":"01.02"}]})", 0.03));
    QObject::connect(&server, &FakeServer::received, model.get(), [&] { model->close(); });
    EXPECT_EQ(await(model->compose("late", {"01"})), "The stream was closed before the answer arrived.");
    EXPECT_EQ(Project::load(package).shorts.size(), 1u);
    EXPECT_FALSE(model->composing());

    EXPECT_EQ(await(model->compose("anything", {})), "No segment has a transcript yet.");
}

TEST_F(PipelineTest, OverlappingAskAIRequestsComposeUntilTheLastReturns)
{
    openHeard("Overlap");
    server.hang(chat);
    const Cancel first = Cancel::make();
    const Cancel second = Cancel::make();
    auto one = model->compose("one", {}, first);
    auto two = model->compose("two", {}, second);
    first.cancel();
    EXPECT_EQ(await(std::move(one)), "The request was cancelled.");
    EXPECT_TRUE(model->composing()) << "the second request still runs";
    second.cancel();
    EXPECT_EQ(await(std::move(two)), "The request was cancelled.");
    EXPECT_FALSE(model->composing());
}

// Every AI step of a run that was asked for on its own leaves its result on disk.
TEST_F(PipelineTest, EachStepAskedForAloneIsSaved)
{
    const struct {
        const char* name;
        QByteArray reply;
        std::function<void(AppModel&)> ask;
    } rows[] = {
        {"summarize segments again", summaries, [](AppModel& m) { m.runPipeline(false, true, false, false, {}); }},
        {"summarize this segment", summaries, [](AppModel& m) { m.runPipeline(false, false, false, false, {"02"}); }},
        {"look for ideas again", ideas, [](AppModel& m) { m.runPipeline(true, false, false, false, {}); }},
    };
    int n = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const QString package = openHeard(QString("Alone %1").arg(++n));
        const Project before = model->project();
        server.reply(chat, 200, row.reply);
        row.ask(*model);
        finish();
        ASSERT_EQ(model->problem(), std::nullopt);
        EXPECT_NE(model->project(), before);
        const Project saved = Project::load(package);
        EXPECT_EQ(saved.segments, model->project().segments);
        EXPECT_EQ(saved.ideas, model->project().ideas);
        EXPECT_EQ(saved.analyzed, model->project().analyzed);
    }
}

// An edit made while a segment is transcribed (a join, a split) may leave segments without
// a transcript: the one under way, whose result is dropped because it no longer matches
// the stretch that was heard, or another one. Each is transcribed as it is now, once;
// nothing runs past its segment, and a run the user stopped queues nothing. The engine's
// runs are counted, since each may be a paid call.
TEST_F(PipelineTest, AResultLandsOnlyOnTheStretchThatWasHeard)
{
    const QString longClip = sharedClip("twelve.mp4", [](const QString& p) { return Clips::video(p, 12); });
    ASSERT_TRUE(QFileInfo::exists(longClip));
    // What the stand-in hears in a stretch: its second line runs to the stretch's end.
    const auto fresh = [](const QString& id, double start, double end) {
        Segment s = segment(id, start, end);
        s.lines = std::vector<Line>{{start + 0.5, start + 1.5, "hello chat"}, {start + 1.5, end, "goodbye"}};
        return s;
    };
    const auto unheard = [](const QString& id, double start, double end) { return segment(id, start, end); };
    const auto leftToWait = [](const QString& id, double start, double end) {
        Segment s = segment(id, start, end);
        s.waiting = true;
        return s;
    };
    Segment old = unheard("01", 0, 12);
    old.lines = std::vector<Line>{{1, 2, "old one"}, {8, 9, "old two"}};
    Segment oldPart = unheard("01a", 6, 12);
    oldPart.lines = std::vector<Line>{{8, 9, "old two"}}; // not asked for again
    const auto splitAt = [](double t) {
        return [t](AppModel& m) { m.setSelection("01"), m.clock().setTime(t), m.splitSegment(); };
    };
    const auto join = [](const QString& id) { return [id](AppModel& m) { m.joinWithNext(id); }; };
    const auto pipeline = [](AppModel&) {}; // the run that opening starts
    const auto again = [](AppModel& m) { m.transcribeAgain({"01"}, "whisper"); };
    const QString kept = "done", dropped = "cancelled";
    const struct {
        const char* name;
        QString clip;
        std::vector<Segment> segments;
        bool automatic; // the project's autoTranscribe
        std::function<void(AppModel&)> start, edit;
        std::vector<Segment> expected; // ids, bounds and lines
        int runs;                      // of the stand-in whisper-cli
        QStringList jobs;              // the states of the transcription jobs, oldest first
    } rows[] = {
        {"joined with a transcribed one", plainClip(), {unheard("01", 0, 3), heard("02", 3)}, true, pipeline,
         join("01"), {fresh("01", 0, 5.5)}, 2, {dropped, kept}},
        {"joined into the one before", plainClip(), {heard("01", 0), unheard("02", 2.5, 5.5)}, true, pipeline,
         join("01"), {fresh("01", 0, 5.5)}, 2, {dropped, kept}},
        {"two joined that are not under way", plainClip(),
         {unheard("01", 0, 2), fresh("02", 2, 4), unheard("03", 4, 6)}, true, pipeline, join("02"),
         {fresh("01", 0, 2), fresh("02", 2, 6)}, 2, {kept, kept}},
        {"split", longClip, {unheard("01", 0, 12)}, true, pipeline, splitAt(6),
         {fresh("01", 0, 6), fresh("01a", 6, 12)}, 3, {dropped, kept, kept}},
        // The segment after the split one is queued already: it is not queued again.
        {"split with another one waiting", longClip, {unheard("01", 0, 10), unheard("02", 10, 12)}, true, pipeline,
         splitAt(5), {fresh("01", 0, 5), fresh("01a", 5, 10), fresh("02", 10, 12)}, 4, {dropped, kept, kept, kept}},
        {"split while transcribed again", longClip, {old}, true, again, splitAt(6), {fresh("01", 0, 6), oldPart}, 2,
         {dropped, kept}},
        {"split while transcribed again, never transcribed before", longClip, {unheard("01", 0, 12)}, false, again,
         splitAt(6), {fresh("01", 0, 6), fresh("01a", 6, 12)}, 3, {dropped, kept, kept}},
        // 02 failed before: only the join makes 01 a segment that waits to be heard.
        {"two joined beside the one transcribed again", plainClip(),
         {heard("01", 0), fresh("02", 2.5, 3.5), fresh("03", 3.5, 6)}, true,
         [](AppModel& m) {
             Project failed = m.project();
             failed.segments[1].lines.reset();
             failed.segments[1].error = "whisper-cli stopped with an error.";
             m.setProject(failed);
             m.transcribeAgain({"03"}, "whisper");
         },
         join("01"), {fresh("01", 0, 3.5), fresh("03", 3.5, 6)}, 2, {kept, kept}},
        // 02 is queued from the start; joined with 03, which the user keeps for later, it
        // waits too, and its turn hears nothing.
        {"joined with one left to wait", plainClip(),
         {unheard("01", 0, 2), unheard("02", 2, 4), leftToWait("03", 4, 6)}, true, pipeline, join("02"),
         {fresh("01", 0, 2), leftToWait("02", 2, 6)}, 1, {kept}},
        // Joined with 02 under way, the heard 01 loses its lines and is queued behind 03; the
        // Undo, made while 03 is heard, gives them back. 01 is not heard again, and 02, whose
        // first result the join dropped, is heard once more after 03's program has ended.
        {"joined into a heard one, then undone", plainClip(),
         {fresh("01", 0, 2), unheard("02", 2, 4), unheard("03", 4, 6)}, true, pipeline,
         [this](AppModel& m) {
             m.joinWithNext("01");
             qputenv("WHISPER_SLEEP", "0.5 0.5 0"); // 03's program takes its time too
             EXPECT_TRUE(waitUntil([&] { return readFile(bin.filePath("count")).trimmed() == "2"; }));
             m.undo();
         },
         {fresh("01", 0, 2), fresh("02", 2, 4), fresh("03", 4, 6)}, 3, {dropped, kept, kept}},
        {"joined into the one before, then stopped", plainClip(), {heard("01", 0), unheard("02", 2.5, 5.5)}, true,
         pipeline,
         [](AppModel& m) {
             m.joinWithNext("01");
             m.cancelWork();
         },
         {unheard("01", 0, 5.5)}, 1, {dropped}},
    };
    const auto shown = [](const std::vector<Segment>& segments) {
        QStringList out;
        for (const Segment& s : segments) {
            out << s.id + QString(" %1-%2 ").arg(s.start).arg(s.end);
            for (const Line& l : s.lines.value_or(std::vector<Line>{}))
                out.back() += QString("[%1-%2 %3]").arg(l.t0).arg(l.t1).arg(l.text);
            if (s.error)
                out.back() += " error";
            if (s.waiting.value_or(false))
                out.back() += " waiting";
        }
        return out;
    };
    int n = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ScopedEnv slow{"WHISPER_SLEEP", QByteArray("0.5 0")};
        QFile::remove(bin.filePath("count"));
        Project p = projectOf(copy(row.clip, root + QString("/Edited %1.mp4").arg(++n)), row.segments);
        p.autoTranscribe = row.automatic;
        p.duration = 12;
        const QString package = writePackage(root + QString("/Edited %1.vtrl").arg(n), p);
        QCoro::waitFor(model->openProject(package));
        row.start(*model);
        ASSERT_TRUE(waitUntil([&] { return QFile::exists(bin.filePath("count")); })); // whisper-cli is under way
        row.edit(*model);
        finish();

        EXPECT_EQ(shown(model->project().segments), shown(row.expected));
        EXPECT_EQ(shown(Project::load(package).segments), shown(row.expected));
        EXPECT_EQ(readFile(bin.filePath("count")).trimmed().toInt(), row.runs);
        QStringList jobs;
        for (const Job& job : model->jobs()) {
            jobs.prepend(job.state);
            if (job.state == dropped) {
                EXPECT_EQ(job.error, "The segment changed while it was transcribed (a join, a split or an undo), "
                                     "so this transcript was not kept.");
            }
        }
        EXPECT_EQ(jobs, row.jobs);
        EXPECT_FALSE(model->working());
    }
}

// An edit made during a summary can leave a segment without lines too (a join with one
// that failed): the run hears it before it ends. A segment that failed in the run waits for
// the user's retry, and is not heard again with it.
TEST_F(PipelineTest, ASegmentAJoinLeftWithoutLinesDuringASummaryIsHeard)
{
    for (const bool anotherFails : {false, true}) {
        SCOPED_TRACE(anotherFails ? "with another segment failing" : "alone");
        QFile::remove(bin.filePath("count"));
        // With 03: the opening's run fails on it (1), then this run on 02 (2) and on 03 (3).
        ScopedEnv fail{"WHISPER_FAIL", QByteArray(anotherFails ? "1 2 3" : "1")};
        openHeard(anotherFails ? "Failing too" : "Summarized", [&](Project& p) {
            p.autoTranscribe = true;
            p.segments[1] = heard("02", 2.5);
            if (anotherFails)
                p.segments.push_back(segment("03", 5.5, 6.0));
        });
        Project failed = model->project();
        failed.segments[1].lines.reset(); // failed before, so the run tries it again
        model->setProject(failed);
        server.reply(chat, 200, summaries);
        const auto join = QObject::connect(&server, &FakeServer::received, model.get(),
                                           [&](const FakeServer::Request& request) {
                                               if (request.path == chat)
                                                   model->joinWithNext("01");
                                           });
        model->runPipeline(false, true, false, false, {});
        finish();
        QObject::disconnect(join);
        EXPECT_EQ(readFile(bin.filePath("count")).trimmed().toInt(), anotherFails ? 4 : 2)
            << "02 (and 03), then the joined 01 alone";
        ASSERT_EQ(model->project().segments.size(), anotherFails ? 2u : 1u);
        EXPECT_EQ(model->project().segments[0].lines.value_or(std::vector<Line>{}).size(), 2u);
        EXPECT_EQ(model->project().segments[0].title, "Hello chat") << "the summary landed too";
        if (anotherFails) {
            EXPECT_TRUE(model->project().segments[1].error.has_value());
        }
        EXPECT_FALSE(model->working());
    }
}

// Stopping the work while a segment is transcribed: whisper-cli runs to its end and its
// lines land; a Scribe request is aborted. Either way the segment is not marked failed.
TEST_F(PipelineTest, AStoppedTranscriptionLeavesItsSegmentUnfailed)
{
    const QByteArray scribe = "/api/v1/audio/transcriptions";
    server.hang(scribe);
    for (const auto& [engine, state, heardIt] : {std::tuple{"whisper", "done", true}, {"scribe", "cancelled", false}}) {
        SCOPED_TRACE(engine);
        ScopedEnv slow{"WHISPER_SLEEP", QByteArray("0.5")};
        Prefs::shared().set("transcriber", QString(engine));
        QFile::remove(bin.filePath("count"));
        Project p = projectOf(copy(plainClip(), root + "/Stopped " + engine + ".mp4"), {segment("01", 0, 2.5)});
        p.autoTranscribe = true;
        const QString package = writePackage(root + "/Stopped " + engine + ".vtrl", p);
        QCoro::waitFor(model->openProject(package));
        ASSERT_TRUE(waitUntil([&] {
            return QFile::exists(bin.filePath("count")) || !server.requests(scribe).empty();
        }));
        ASSERT_EQ(model->jobs().size(), 1u);
        model->stop(model->jobs()[0].id);
        finish();
        EXPECT_EQ(model->jobs()[0].state, state);
        EXPECT_EQ(segmentAt(0).error, std::nullopt);
        EXPECT_EQ(Project::load(package).segments[0].error, std::nullopt);
        EXPECT_EQ(segmentAt(0).lines.has_value(), heardIt);
        EXPECT_FALSE(model->working());
    }
    Prefs::shared().remove("transcriber");
}

} // namespace
