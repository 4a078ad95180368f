#include "core/services/Prompts.h"
#include "platform/Prefs.h"
#include "support/FakeServer.h"

#include <QCoro/QCoroTask>
#include <gtest/gtest.h>

namespace {

const QByteArray chatPath = "/api/v1/chat/completions";

const QString shared = QStringLiteral(
    "The transcripts are automatic and unreliable, especially for English game terms, which can come out as "
    "odd syllables in the spoken language. Use the streamer's note and the other segments to work out what "
    "was meant. The streamer pressed a marker right after something worth clipping, so each segment's key "
    "moment is usually near where the marker falls, well into the segment. Every transcript line has an id "
    "like 06.03 (segment 06, line 3).");

const QString note = QStringLiteral("Horror night; chat calls the ghost \"Bob\".");

// The texts the small project below reads as.
const QString t03 = QStringLiteral("## Segment 03 (stream time 0:01:40 to 0:03:20)\n"
                                   "03.01 [0:01:45] we go in\n03.02 [0:01:50] it's dark\n\n");
const QString t05 = QStringLiteral("## Segment 05 (stream time 0:05:00 to 0:07:00)\n05.01 [0:05:01] hello chat\n\n");
const QString t06 = QStringLiteral("## Segment 06 (stream time 0:10:00 to 0:13:30)\n06.01 [0:10:12] BOB\n"
                                   "06.02 [0:10:20] he is behind me\n06.03 [0:10:40] ah\n\n");
const QString t07 = QStringLiteral("## Segment 07 (stream time 0:15:00 to 0:16:00)\n07.01 [0:15:01] nope\n\n");
const QString t08 = QStringLiteral("## Segment 08 (stream time 0:16:40 to 0:18:20)\n\n");
const QString d03 = QStringLiteral("Segment 03 (0:01:40, tense discovery): Into the cellar. They head down.");
const QString d05 = QStringLiteral("Segment 05 (0:05:00,  ): . ");
const QString d06 = QStringLiteral(
    "Segment 06 (0:10:00, panic fail, one of the streamer's favourites): Bob appears. The ghost shows up.");
const QString d07 = QStringLiteral("Segment 07 (0:15:00, calm rant): Leaves the game. Quits.");
const QString d08 = QStringLiteral("Segment 08 (0:16:40,  ): . ");

Segment segment(const char* id, double start, double end, std::optional<std::vector<Line>> lines,
                const char* title = "", const char* summary = "", const char* energy = "",
                const char* kind = "", std::optional<int> rating = std::nullopt)
{
    Segment s;
    s.id = QString::fromUtf8(id);
    s.start = start;
    s.end = end;
    s.lines = std::move(lines);
    s.title = QString::fromUtf8(title);
    s.summary = QString::fromUtf8(summary);
    s.energy = QString::fromUtf8(energy);
    s.kind = QString::fromUtf8(kind);
    s.rating = rating;
    return s;
}

// 03 titled, 05 untitled, 06 a favourite, 07 rejected, 08 not transcribed.
Project smallProject()
{
    Project p;
    p.note = note;
    p.segments = {
        segment("03", 100, 200, std::vector<Line>{{105, 107.5, "we go in"}, {110, 112, "it's dark"}},
                "Into the cellar", "They head down.", "tense", "discovery"),
        segment("05", 300, 420, std::vector<Line>{{301.2, 303, "hello chat"}}),
        segment("06", 600, 810,
                std::vector<Line>{{612.9, 614, "BOB"}, {620, 626, "he is behind me"}, {640, 640.2, "ah"}},
                "Bob appears", "The ghost shows up.", "panic", "fail", 1),
        segment("07", 900, 960, std::vector<Line>{{901, 905, "nope"}}, "Leaves the game", "Quits.", "calm",
                "rant", -1),
        segment("08", 1000, 1100, std::nullopt),
    };
    return p;
}

QByteArray completion(const std::string& content, double cost = 0.01)
{
    const Json reply = {{"choices", Json::array({{{"message", {{"content", content}}}}})},
                        {"usage", {{"cost", cost}}}};
    return QByteArray::fromStdString(reply.dump());
}

template <class T>
struct Result {
    std::optional<T> value;
    std::optional<QString> failure;
};

template <class T>
QCoro::Task<Result<T>> attempt(QCoro::Task<T> task)
{
    Result<T> out;
    try {
        out.value = co_await std::move(task);
    } catch (const Fail& fail) {
        out.failure = fail.errorDescription;
    }
    co_return out;
}

QString content(const Json& body, size_t message)
{
    return QString::fromStdString(body.at("messages").at(message).at("content").get<std::string>());
}

std::optional<Analyst::LineRef> resolve(const std::vector<Segment>& segments, const Json& id)
{
    return Analyst::line(&id, segments);
}

class PromptsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        qputenv("VANTOREL_API_BASE", server.base().toUtf8());
        qputenv("OPENROUTER_API_KEY", "sk-or-test");
        for (const char* key : {"model", "editModel"})
            saved.emplace_back(QString::fromLatin1(key), Prefs::shared().value(QString::fromLatin1(key)));
    }
    void TearDown() override
    {
        qputenv("VANTOREL_API_BASE", "http://127.0.0.1:9");
        qunsetenv("OPENROUTER_API_KEY");
        for (const auto& [key, value] : saved) {
            if (value.isValid())
                Prefs::shared().set(key, value);
            else
                Prefs::shared().remove(key);
        }
    }

    Json sentBody(size_t index = 0) const
    {
        return Json::parse(server.requests(chatPath).at(index).body.toStdString());
    }

    Result<std::vector<Segment>> summarize(const Project& project, std::optional<std::set<QString>> only,
                                           Trace* trace = nullptr)
    {
        return QCoro::waitFor(attempt(Analyst::summarize(project, std::move(only), trace)));
    }
    Result<std::vector<Idea>> ideas(const Project& project, Trace* trace = nullptr)
    {
        return QCoro::waitFor(attempt(Analyst::ideas(project, trace)));
    }

    FakeServer server;
    std::vector<std::pair<QString, QVariant>> saved;
};

TEST(PromptTexts, TranscriptHeadsEachSegmentAndStampsEachLine)
{
    const std::vector<Segment> one = {segment("06", 600, 810, std::vector<Line>{{612.9, 615, "got him"}})};
    EXPECT_EQ(Analyst::transcript(one),
              "## Segment 06 (stream time 0:10:00 to 0:13:30)\n06.01 [0:10:12] got him\n\n");
    EXPECT_EQ(Analyst::transcript(smallProject().segments), t03 + t05 + t06 + t07 + t08);
    EXPECT_EQ(Analyst::transcript({}), "");

    std::vector<Line> twelve;
    for (int i = 0; i < 12; ++i)
        twelve.push_back({3600.0 + i, 3600.5 + i, QStringLiteral("l")});
    const QString long06a = Analyst::transcript({segment("06a", 3599, 3700, twelve)});
    EXPECT_TRUE(long06a.contains(QStringLiteral("\n06a.12 [1:00:11] l\n\n"))) << long06a.toStdString();
}

TEST(PromptTexts, DigestIsOneLinePerSegmentAndMarksFavourites)
{
    const Project p = smallProject();
    EXPECT_EQ(Analyst::digest({p.segments[0], p.segments[2], p.segments[3]}), d03 + "\n" + d06 + "\n" + d07);
    EXPECT_EQ(Analyst::digest({}), "");
}

TEST(PromptTexts, LineIdsResolveOnlyToExistingLines)
{
    const std::vector<Segment> s = smallProject().segments;
    EXPECT_EQ(resolve(s, "06.03"), (Analyst::LineRef{2, 2}));
    EXPECT_EQ(resolve(s, "06.3"), (Analyst::LineRef{2, 2}));
    EXPECT_EQ(resolve(s, "03.01"), (Analyst::LineRef{0, 0}));
    EXPECT_EQ(resolve(s, "06..02"), (Analyst::LineRef{2, 1})); // empty pieces do not count

    for (const char* bad : {"06.00", "06.-1", "06", "06.03.1", "06.04", "6.01", "06.x", "", "08.01", "99.01",
                            "06.18446744073709551617", "06.1e1"})
        EXPECT_FALSE(resolve(s, bad)) << bad;
    EXPECT_FALSE(resolve(s, 6.03));
    EXPECT_FALSE(resolve(s, Json::array({"06", "01"})));
    EXPECT_FALSE(Analyst::line(nullptr, s));
}

TEST(PromptTexts, CutsKeepOnlyForwardRunsInsideOneSegment)
{
    const std::vector<Segment> s = smallProject().segments;
    const Json list = Json::parse(R"([
        {"from": "06.01", "to": "06.02", "role": "payoff"},
        {"from": "06.02", "to": "06.01"},
        {"from": "03.02", "to": "06.01"},
        {"from": "06.03", "to": "06.03", "role": "too short"},
        {"from": "03.01", "to": "03.01", "role": 7},
        {"from": "06.01"},
        {"from": "06.09", "to": "06.09"}
    ])");
    const std::vector<Cut> cuts = Analyst::cuts(&list, s);
    ASSERT_EQ(cuts.size(), 2u);
    EXPECT_EQ(cuts[0].start, 612.9);
    EXPECT_EQ(cuts[0].end, 626);
    EXPECT_EQ(cuts[0].role, "payoff");
    EXPECT_EQ(cuts[1].start, 105);
    EXPECT_EQ(cuts[1].end, 107.5);
    EXPECT_EQ(cuts[1].role, "");
    EXPECT_FALSE(cuts[0].id.isNull());
    EXPECT_NE(cuts[0].id, cuts[1].id);

    // Anything but a list of objects is no cut list at all, even with good entries in it.
    const Json mixed = Json::parse(R"([{"from": "06.01", "to": "06.02"}, "06.01-06.02"])");
    EXPECT_TRUE(Analyst::cuts(&mixed, s).empty());
    const Json object = Json::parse(R"({"from": "06.01", "to": "06.02"})");
    EXPECT_TRUE(Analyst::cuts(&object, s).empty());
    EXPECT_TRUE(Analyst::cuts(nullptr, s).empty());
}

TEST_F(PromptsTest, SummaryRequestCarriesThePromptTheSummaryModelAndItsBudget)
{
    Prefs::shared().set(QStringLiteral("model"), QStringLiteral("test/describer"));
    server.reply(chatPath, 200, completion(R"(Here you go: {"segments": []} Done.)", 0.02));
    const Project project = smallProject();
    Trace trace;
    const auto out = summarize(project, std::nullopt, &trace);
    ASSERT_TRUE(out.value) << out.failure.value_or(QString()).toStdString();
    EXPECT_EQ(*out.value, project.segments);

    const Json body = sentBody();
    EXPECT_EQ(body.at("model"), "test/describer");
    EXPECT_EQ(body.at("max_tokens"), 12000);
    EXPECT_EQ(body.at("reasoning"), Json({{"max_tokens", 4000}}));
    ASSERT_EQ(body.at("messages").size(), 2u);
    EXPECT_EQ(body["messages"][0]["role"], "system");
    EXPECT_EQ(body["messages"][1]["role"], "user");
    const QString system =
        QStringLiteral("You describe the marked segments of one stream, for a streamer who will cut Shorts from "
                       "them.\n\n")
        + shared + QString::fromUtf8(R"x(

Reply with JSON only, one entry per segment:
{"segments": [{
  "id": "06",
  "short": "at most 8 words, English, the specific event, sentence case, no commas, never mention the streamer",
  "long": "2 to 3 English sentences: what leads up to it, what happens, how it lands",
  "energy": "calm | tense | panic | hype",
  "type": "fail | win | discovery | banter | rant | wholesome",
  "key_line": "id of the single most quotable line",
  "unsure": "one short sentence on what you could not make out, or empty"
}]}

The streamer's note about this stream: )x") + note;
    EXPECT_EQ(content(body, 0), system);
    EXPECT_EQ(content(body, 1), t03 + t05 + t06 + t07 + t08);
    EXPECT_DOUBLE_EQ(trace.cost, 0.02);
}

TEST_F(PromptsTest, SummaryOfOneSegmentShowsTitledOthersAsBackgroundAndAppliesEveryEntry)
{
    Project project = smallProject();
    project.segments[1].summary = QStringLiteral("old");
    project.segments[1].keyLine = 0;
    server.reply(chatPath, 200, completion(R"({"segments": [
        {"id": "03", "short": "Down the stairs", "long": "They go down.", "energy": "tense",
         "type": "discovery", "key_line": "03.02", "unsure": ""},
        {"id": "05", "short": 5, "long": null, "energy": "calm", "key_line": "03.01"},
        {"id": "99", "short": "ghost"},
        {"id": 6, "short": "numeric id"},
        {"id": "06", "short": "First take", "long": "x", "key_line": "06.02"},
        {"id": "06", "short": "Second take", "key_line": "06.09"}
    ]})"));
    const auto out = summarize(project, std::set<QString>{QStringLiteral("03")});
    ASSERT_TRUE(out.value) << out.failure.value_or(QString()).toStdString();

    const Json body = sentBody();
    EXPECT_EQ(content(body, 1), "The rest of the stream, for background only:\n" + d06 + "\n" + d07
                                    + "\n\nDescribe just these:\n\n" + t03);

    const std::vector<Segment>& s = *out.value;
    ASSERT_EQ(s.size(), 5u);
    EXPECT_EQ(s[0].title, "Down the stairs");
    EXPECT_EQ(s[0].summary, "They go down.");
    EXPECT_EQ(s[0].energy, "tense");
    EXPECT_EQ(s[0].kind, "discovery");
    EXPECT_EQ(s[0].unsure, "");
    EXPECT_EQ(s[0].keyLine, 1);
    // Outside `only`, still applied; members that are not texts become empty, and a
    // key line in another segment is not kept.
    EXPECT_EQ(s[1].title, "");
    EXPECT_EQ(s[1].summary, "");
    EXPECT_EQ(s[1].energy, "calm");
    EXPECT_FALSE(s[1].keyLine);
    // The later entry wins whole, including its unresolvable key line.
    EXPECT_EQ(s[2].title, "Second take");
    EXPECT_EQ(s[2].summary, "");
    EXPECT_FALSE(s[2].keyLine);
    EXPECT_EQ(s[3], project.segments[3]);
    EXPECT_EQ(s[4], project.segments[4]);
}

TEST_F(PromptsTest, IdeasLeaveOutRejectedSegmentsAndDropIdeasWithoutCuts)
{
    Prefs::shared().set(QStringLiteral("editModel"), QStringLiteral("test/editor"));
    Project project = smallProject();
    project.note.clear();
    server.reply(chatPath, 200, completion(R"(Two ideas:
{"ideas": [
  {"title": "Bob", "hook": "BOB!", "format": "setup and payoff", "why": "scream",
   "cuts": [{"from": "06.01", "to": "06.02", "role": "payoff"}, {"from": "03.01", "to": "03.02"}]},
  {"hook": 3, "cuts": [{"from": "03.02", "to": "03.02", "role": "button"}]},
  {"title": "Rage quit", "cuts": [{"from": "07.01", "to": "07.01"}]},
  {"title": "Backwards", "cuts": [{"from": "06.02", "to": "06.01"}, {"from": "06.03", "to": "06.03"}]}
]}
Hope that helps.)"));
    const auto out = ideas(project);
    ASSERT_TRUE(out.value) << out.failure.value_or(QString()).toStdString();

    const Json body = sentBody();
    EXPECT_EQ(body.at("model"), "test/editor");
    EXPECT_EQ(body.at("max_tokens"), 12000);
    EXPECT_EQ(body.at("reasoning"), Json({{"max_tokens", 5000}}));
    const QString system =
        QStringLiteral("You help a streamer turn one stream into Shorts (vertical videos under 60 seconds).\n\n")
        + shared + QString::fromUtf8(R"x(

Reply with JSON only:
{"ideas": [{
  "title": "working title, English",
  "hook": "what the first 2 seconds show or say",
  "format": "single moment | montage | setup and payoff | running gag",
  "why": "one sentence on why this would work as a Short",
  "cuts": [{"from": "06.02", "to": "06.05", "role": "setup | build | payoff | reaction | button"}]
}]}

)x") + QStringLiteral("Give 0 to 3 ideas, only ones you would actually post. One marker does not have to mean "
                      "one Short: combine moments from different segments when they belong together, and leave "
                      "segments unused when they are weak. Cuts play in the order listed and need not follow "
                      "stream order. Each cut is a run of consecutive lines inside one segment. Keep a Short's "
                      "total under 60 seconds; tighter is better. The cut list is a rough edit that a person "
                      "will trim.");
    EXPECT_EQ(content(body, 0), system); // no note paragraph when the note is empty
    EXPECT_EQ(content(body, 1), "What each segment is about:\n" + d03 + "\n" + d05 + "\n" + d06 + "\n" + d08
                                    + "\n\nTranscripts:\n\n" + t03 + t05 + t06 + t08);

    const std::vector<Idea>& found = *out.value;
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].title, "Bob");
    EXPECT_EQ(found[0].hook, "BOB!");
    EXPECT_EQ(found[0].format, "setup and payoff");
    EXPECT_EQ(found[0].why, "scream");
    ASSERT_EQ(found[0].cuts.size(), 2u);
    EXPECT_EQ(found[0].cuts[0].start, 612.9); // listed order, not stream order
    EXPECT_EQ(found[0].cuts[1].start, 105);
    EXPECT_EQ(found[1].title, "Untitled");
    EXPECT_EQ(found[1].hook, "");
    ASSERT_EQ(found[1].cuts.size(), 1u);
    EXPECT_EQ(found[1].cuts[0].role, "button");
    EXPECT_NE(found[0].id, found[1].id);
}

TEST_F(PromptsTest, MalformedListsCountAsEmpty)
{
    const Project project = smallProject();
    server.reply(chatPath, 200, completion(R"({"segments": [{"id": "03", "short": "x"}, 5],
                                              "ideas": {"title": "not a list"}})"));
    const auto described = summarize(project, std::nullopt);
    ASSERT_TRUE(described.value);
    EXPECT_EQ(*described.value, project.segments);
    const auto found = ideas(project);
    ASSERT_TRUE(found.value);
    EXPECT_TRUE(found.value->empty());
}

TEST_F(PromptsTest, HostileRepliesNeverCrash)
{
    const Project project = smallProject();

    // A very long title is kept as it is.
    const std::string huge(4 * 1024 * 1024, 'a');
    server.reply(chatPath, 200, completion(R"({"segments": [{"id": "03", "short": ")" + huge + R"("}]})"));
    auto described = summarize(project, std::nullopt);
    ASSERT_TRUE(described.value);
    EXPECT_EQ((*described.value)[0].title.size(), qsizetype(huge.size()));

    // Nesting far deeper than any honest reply: refused or empty, never a stack overflow.
    const std::string deep = "{\"ideas\": " + std::string(200000, '[') + std::string(200000, ']') + "}";
    server.reply(chatPath, 200, completion(deep));
    const auto nested = ideas(project);
    EXPECT_TRUE(nested.failure || nested.value->empty());

    // Numbers far out of range inside line ids, and huge numbers where texts belong.
    server.reply(chatPath, 200, completion(R"({"segments": [{"id": "03", "short": 1e300,
            "key_line": "03.99999999999999999999999"}],
        "ideas": [{"title": "Big", "cuts": [{"from": "06.18446744073709551617", "to": "06.02"},
                                            {"from": "06.9223372036854775807", "to": "06.02"},
                                            {"from": 1e300, "to": "06.02"},
                                            {"from": "06.01", "to": "06.-9223372036854775808"}]}]})"));
    described = summarize(project, std::nullopt);
    ASSERT_TRUE(described.value);
    EXPECT_EQ((*described.value)[0].title, "");
    EXPECT_FALSE((*described.value)[0].keyLine);
    const auto big = ideas(project);
    ASSERT_TRUE(big.value);
    EXPECT_TRUE(big.value->empty());

    // A number beyond a double: refused or ignored, never a crash.
    server.reply(chatPath, 200, completion(R"({"segments": [{"id": "03", "short": 1e999}]})"));
    described = summarize(project, std::nullopt);
    EXPECT_TRUE(described.failure || (*described.value)[0].title.isEmpty());
}

} // namespace
