#include "core/services/Prompts.h"
#include "platform/Prefs.h"
#include "support/FakeServer.h"

#include <QCoro/QCoroTask>
#include <gtest/gtest.h>

namespace {

const QByteArray chatPath = "/api/v1/chat/completions";
const QString nothingMatched = QStringLiteral("Nothing in the transcripts matched that.");

const QString t03 = QStringLiteral("## Segment 03 (stream time 0:01:40 to 0:03:20)\n"
                                   "03.01 [0:01:45] we go in\n03.02 [0:01:50] it's dark\n\n");
const QString t05 = QStringLiteral("## Segment 05 (stream time 0:05:00 to 0:07:00)\n"
                                   "05.01 [0:05:01] hello chat\n05.02 [0:05:05] bob again\n\n");
const QString t07 = QStringLiteral("## Segment 07 (stream time 0:15:00 to 0:16:00)\n07.01 [0:15:01] nope\n\n");

Segment segment(const char* id, double start, double end, std::optional<std::vector<Line>> lines,
                const char* title, std::optional<int> rating = std::nullopt)
{
    Segment s;
    s.id = QString::fromUtf8(id);
    s.start = start;
    s.end = end;
    s.lines = std::move(lines);
    s.title = QString::fromUtf8(title);
    s.summary = QStringLiteral("Summary.");
    s.energy = QStringLiteral("calm");
    s.kind = QStringLiteral("banter");
    s.rating = rating;
    return s;
}

// Usable: 03, 05, 07, 10. 06 has no transcript, 09 is rejected.
Project project()
{
    Project p;
    p.note = QStringLiteral("Horror night.");
    p.segments = {
        segment("03", 100, 200, std::vector<Line>{{105, 107.5, "we go in"}, {110, 112, "it's dark"}}, "Cellar"),
        segment("05", 300, 420, std::vector<Line>{{301.2, 303, "hello chat"}, {305, 309, "bob again"}}, "Chat"),
        segment("06", 600, 810, std::nullopt, "Untranscribed"),
        segment("07", 900, 960, std::vector<Line>{{901, 905, "nope"}}, "Leaves"),
        segment("09", 1000, 1100, std::vector<Line>{{1001, 1005, "bad"}}, "Rejected", -1),
        segment("10", 1200, 1300, std::vector<Line>{{1201, 1204, "back"}}, "Returns"),
    };
    return p;
}

QByteArray completion(const std::string& content, double cost = 0.01)
{
    const Json reply = {{"choices", Json::array({{{"message", {{"content", content}}}}})},
                        {"usage", {{"cost", cost}}}};
    return QByteArray::fromStdString(reply.dump());
}

struct Outcome {
    std::optional<Short> made;
    std::optional<QString> failure;
    QStringList progress;
};

// Readable in a failure message.
std::string failureOf(const Outcome& out)
{
    return out.failure ? out.failure->toStdString() : std::string("(no failure)");
}

QCoro::Task<Outcome> run(QString instruction, Project p, std::set<QString> include,
                         std::optional<QString> onScreen, Trace* trace)
{
    Outcome out;
    // Named, not made inside the co_await: GCC 12 destroys such a temporary twice.
    std::function<void(const QString&)> progress = [&out](const QString& text) { out.progress.append(text); };
    try {
        out.made = co_await Analyst::compose(std::move(instruction), std::move(p), std::move(include),
                                             std::move(onScreen), trace, std::move(progress));
    } catch (const Fail& fail) {
        out.failure = fail.errorDescription;
    }
    co_return out;
}

Outcome compose(std::set<QString> include, std::optional<QString> onScreen = std::nullopt,
                Trace* trace = nullptr)
{
    return QCoro::waitFor(run(QStringLiteral("find the scare"), project(), std::move(include),
                              std::move(onScreen), trace));
}

QString content(const Json& body, size_t message)
{
    return QString::fromStdString(body.at("messages").at(message).at("content").get<std::string>());
}

class ComposeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        qputenv("VANTOREL_API_BASE", server.base().toUtf8());
        qputenv("OPENROUTER_API_KEY", "sk-or-test");
        savedEditModel = Prefs::shared().value(QStringLiteral("editModel"));
        Prefs::shared().set(QStringLiteral("editModel"), QStringLiteral("test/editor"));
    }
    void TearDown() override
    {
        qputenv("VANTOREL_API_BASE", "http://127.0.0.1:9");
        qunsetenv("OPENROUTER_API_KEY");
        if (savedEditModel.isValid())
            Prefs::shared().set(QStringLiteral("editModel"), savedEditModel);
        else
            Prefs::shared().remove(QStringLiteral("editModel"));
    }

    std::vector<Json> bodies() const
    {
        std::vector<Json> out;
        for (const FakeServer::Request& r : server.requests(chatPath))
            out.push_back(Json::parse(r.body.toStdString()));
        return out;
    }

    FakeServer server;
    QVariant savedEditModel;
};

TEST_F(ComposeTest, WithoutTranscriptsTheFirstRequestCarriesOnlyTheSummaries)
{
    const QString system =
        QStringLiteral("You cut one Short (a vertical video under 60 seconds) from a stream, following the "
                       "streamer's instruction.\n\n"
                       "The transcripts are automatic and unreliable, especially for English game terms, which "
                       "can come out as odd syllables in the spoken language. Use the streamer's note and the "
                       "other segments to work out what was meant. The streamer pressed a marker right after "
                       "something worth clipping, so each segment's key moment is usually near where the marker "
                       "falls, well into the segment. Every transcript line has an id like 06.03 (segment 06, "
                       "line 3).")
        + QString::fromUtf8(R"x(

You are given a one-line summary of every marked segment, and the full transcript of some of them. You can only cut from segments whose transcript you have read. If the instruction needs a segment you have not read, ask for it by replying with JSON only:
{"read": ["05", "07"]}
You will then get those transcripts. Ask only for what the instruction needs.

When you have what you need, choose the cuts that tell the moment well: enough lead-in to make sense, the moment itself, and a beat of reaction. Cuts play in the order listed. Each cut is a run of consecutive lines inside one segment. Keep the total under 60 seconds unless told otherwise; a person will trim it after you. Reply with JSON only:
{"title": "working title, English", "cuts": [{"from": "03.07", "to": "03.11", "role": "setup | build | payoff | reaction | button"}], "note": "one sentence: what you picked, or why you could not find it"}

If nothing in the stream matches what was asked for, return no cuts and say so in the note.

The streamer is looking at segment 05 while asking, so "this segment" or "here" means that one.

The streamer's note about this stream: Horror night.)x");
    const QString user = QStringLiteral(
        "Instruction: find the scare\n\nEvery segment:\n"
        "Segment 03 (0:01:40, calm banter): Cellar. Summary.\n"
        "Segment 05 (0:05:00, calm banter): Chat. Summary.\n"
        "Segment 07 (0:15:00, calm banter): Leaves. Summary.\n"
        "Segment 10 (0:20:00, calm banter): Returns. Summary.\n\n"
        "You have not been given any transcript yet. Work out from the summaries which segments the instruction "
        "is about, and ask to read those.");

    // An untranscribed, a rejected and an unknown id count for nothing.
    for (const std::set<QString>& include :
         {std::set<QString>{}, std::set<QString>{QStringLiteral("06"), QStringLiteral("09"), QStringLiteral("42")}}) {
        server.clear();
        // Cuts into a segment the model never read are dropped, and its note is the failure.
        server.reply(chatPath, 200,
                     completion(R"({"title": "Cellar", "cuts": [{"from": "03.01", "to": "03.02"}], "note": "The cellar walk."})"));
        const Outcome out = compose(include, QStringLiteral("05"));
        EXPECT_EQ(failureOf(out), "The cellar walk.");
        EXPECT_EQ(out.progress, QStringList{QStringLiteral("Reading the summaries")});
        const std::vector<Json> sent = bodies();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].at("model"), "test/editor");
        EXPECT_EQ(sent[0].at("max_tokens"), 10000);
        EXPECT_EQ(sent[0].at("reasoning"), Json({{"max_tokens", 4000}}));
        ASSERT_EQ(sent[0].at("messages").size(), 2u);
        EXPECT_EQ(sent[0]["messages"][0]["role"], "system");
        EXPECT_EQ(content(sent[0], 0), system);
        EXPECT_EQ(sent[0]["messages"][1]["role"], "user");
        EXPECT_EQ(content(sent[0], 1), user);
    }
}

TEST_F(ComposeTest, AReadTurnSendsTheAskedTranscriptsInProjectOrder)
{
    const std::string first = R"(Let me look. {"read": ["07", "05", "03", "09", "06", "42"]})";
    const std::string second = R"({"title": "Both", "cuts": [{"from": "07.01", "to": "07.01", "role": "payoff"},
        {"from": "03.01", "to": "03.02", "role": "setup"}], "note": "ok"})";
    server.reply(chatPath, 200, completion(first, 0.01));
    server.reply(chatPath, 200, completion(second, 0.02));
    Trace trace;
    const Outcome out = compose({QStringLiteral("03")}, std::nullopt, &trace);

    ASSERT_TRUE(out.made) << out.failure.value_or(QString()).toStdString();
    EXPECT_EQ(out.progress, (QStringList{QStringLiteral("Reading 1 segment"),
                                         QStringLiteral("It asked to read segments 07, 05"),
                                         QStringLiteral("Reading on")}));
    const std::vector<Json> sent = bodies();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_TRUE(content(sent[0], 1).endsWith("\n\nTranscripts you can read now:\n\n" + t03));
    ASSERT_EQ(sent[1].at("messages").size(), 4u);
    EXPECT_EQ(sent[1]["messages"][0], sent[0]["messages"][0]);
    EXPECT_EQ(sent[1]["messages"][1], sent[0]["messages"][1]);
    EXPECT_EQ(sent[1]["messages"][2], Json({{"role", "assistant"}, {"content", first}}));
    EXPECT_EQ(sent[1]["messages"][3]["role"], "user");
    EXPECT_EQ(content(sent[1], 3), t05 + t07);

    const Short& made = *out.made;
    EXPECT_EQ(made.title, "Both");
    EXPECT_FALSE(made.id.isNull());
    EXPECT_FALSE(made.idea);
    EXPECT_FALSE(made.closed);
    ASSERT_EQ(made.cuts.size(), 2u);
    EXPECT_EQ(made.cuts[0].start, 901);
    EXPECT_EQ(made.cuts[0].end, 905);
    EXPECT_EQ(made.cuts[0].role, "payoff");
    EXPECT_EQ(made.cuts[1].start, 105);
    EXPECT_EQ(made.cuts[1].end, 112);

    EXPECT_EQ(trace.request, "model: test/editor\n\n[system]\n" + content(sent[0], 0) + "\n\n[user]\n"
                                 + content(sent[0], 1) + "\n\n[assistant]\n" + QString::fromStdString(first)
                                 + "\n\n[user]\n" + t05 + t07);
    EXPECT_EQ(trace.reply, QString::fromStdString(first + "\n\n" + second + "\n\n"));
    EXPECT_DOUBLE_EQ(trace.cost, 0.03);
}

TEST_F(ComposeTest, AskingOnlyForWhatWasReadIsFinal)
{
    server.reply(chatPath, 200, completion(R"({"read": ["05"], "cuts": [{"from": "05.01", "to": "05.02"}]})"));
    const Outcome out = compose({QStringLiteral("03"), QStringLiteral("05")});
    ASSERT_TRUE(out.made) << out.failure.value_or(QString()).toStdString();
    EXPECT_EQ(server.requests(chatPath).size(), 1u);
    EXPECT_EQ(out.progress, QStringList{QStringLiteral("Reading 2 segments")});
    EXPECT_TRUE(content(bodies()[0], 1).endsWith("Transcripts you can read now:\n\n" + t03 + t05));
    EXPECT_EQ(out.made->title, "Untitled Short");
    ASSERT_EQ(out.made->cuts.size(), 1u);
    EXPECT_EQ(out.made->cuts[0].start, 301.2);
    EXPECT_EQ(out.made->cuts[0].end, 309);
    EXPECT_EQ(out.made->cuts[0].role, "");
}

TEST_F(ComposeTest, AfterThreeReadTurnsTheFourthAnswerIsFinal)
{
    for (const char* id : {"03", "05", "07"})
        server.reply(chatPath, 200, completion(std::string(R"({"read": [")") + id + R"("]})"));
    server.reply(chatPath, 200, completion(R"({"read": ["10"], "note": "Still looking."})"));
    const Outcome out = compose({});

    EXPECT_EQ(failureOf(out), "Still looking.");
    const std::vector<Json> sent = bodies();
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[3].at("messages").size(), 8u);
    EXPECT_EQ(content(sent[3], 7), t07);
    EXPECT_EQ(out.progress,
              (QStringList{QStringLiteral("Reading the summaries"), QStringLiteral("It asked to read segment 03"),
                           QStringLiteral("Reading on"), QStringLiteral("It asked to read segment 05"),
                           QStringLiteral("Reading on"), QStringLiteral("It asked to read segment 07"),
                           QStringLiteral("Reading on")}));
}

TEST_F(ComposeTest, NoCutsWithoutAUsableNoteFailWithTheStandardSentence)
{
    for (const char* reply : {R"({"title": "x", "cuts": []})", R"({"cuts": [], "note": ""})",
                              R"({"cuts": [{"from": "03.02", "to": "03.01"}], "note": 5})",
                              R"({"read": "07", "cuts": "03.01"})"}) {
        server.clear();
        server.reply(chatPath, 200, completion(reply));
        const Outcome out = compose({QStringLiteral("03")});
        EXPECT_EQ(failureOf(out), nothingMatched.toStdString()) << reply;
        EXPECT_EQ(server.requests(chatPath).size(), 1u) << reply;
    }
}

} // namespace
