#include "ModelTesting.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>

using namespace testing_model;

namespace {

Cut cut(int n, double start, double end, const char* role)
{
    return Cut{uuid(n), start, end, role};
}

// A project with every field and every optional set, in a mix of present and false.
Project fullProject()
{
    const Segment s{.id = "06", .start = 100, .end = 310.75, .markers = {250, 160.5},
                    .lines = std::vector<Line>{{100.2, 103.9, "Hello \"chat\"\n"}, {104, 110, "[laughs] ok"}},
                    .peaks = QByteArray("\x00\x7f\xff", 3), .title = "Boss", .summary = "He wins.",
                    .energy = "hype", .kind = "win", .unsure = "a name", .keyLine = 1, .error = "timeout",
                    .rating = 1, .manual = true, .waiting = false};
    Segment bare;
    bare.id = "06a";
    bare.start = 310.75;
    bare.end = 400;
    bare.lines = std::vector<Line>{};
    return Project{
        .format = 1, .video = "/streams/night stream.mov", .markersName = "night stream.csv",
        .markersCSV = "Marker,Time\r\n0:10,\"boss\"\n", .note = "Late run — ünïcode ✓ 🎮",
        .before = 120.5, .after = 45, .duration = 3600.25, .markerCount = 4, .segments = {s, bare},
        .ideas = {Idea{uuid(2), "Title", "hook", "single moment", "why", {cut(1, 100.5, 104, "setup")}}},
        .shorts = {Short{uuid(3), "Short / one", uuid(2), {cut(1, 100.5, 104, "setup"), cut(4, 200, 205, "payoff")}, false},
                   Short{uuid(5), "", std::nullopt, {}, std::nullopt}},
        .analyzed = true, .ideated = true, .autoTranscribe = false, .autoSummarize = true, .autoIdeas = false};
}

Job runningJob()
{
    Job j;
    j.id = uuid(7);
    j.kind = "transcribe";
    j.title = "Transcribe 06";
    j.engine = "whisper";
    j.started = 736000000.25;
    j.state = "running";
    return j;
}

} // namespace

TEST(JsonTest, SegmentIsWrittenCompactInDeclarationOrder)
{
    Segment s;
    s.id = "01";
    s.start = 0;
    s.end = 160;
    s.markers = {100};
    EXPECT_EQ(encode(s), R"({"id":"01","start":0,"end":160,"markers":[100],"title":"","summary":"","energy":"","kind":"","unsure":""})");

    s.id = "06a";
    s.start = 149.5;
    s.end = 150.0;
    s.markers = {150, 0.1};
    s.lines = std::vector<Line>{{1.5, 2, "a/b"}};
    s.peaks = QByteArray("\x00\x01\xff", 3); // Base64 "AAH/", so its slash is escaped too
    s.title = "t";
    s.keyLine = 0;
    s.error = "e";
    s.rating = -1;
    s.manual = false;
    s.waiting = true;
    EXPECT_EQ(encode(s),
              R"({"id":"06a","start":149.5,"end":150,"markers":[150,0.1],"lines":[{"t0":1.5,"t1":2,"text":"a\/b"}],)"
              R"("peaks":"AAH\/","title":"t","summary":"","energy":"","kind":"","unsure":"","keyLine":0,"error":"e",)"
              R"("rating":-1,"manual":false,"waiting":true})");
}

TEST(JsonTest, OptionalFlagsAreTriState)
{
    Short s{uuid(3), "Boss / fight", uuid(2), {cut(1, 10, 14.25, "setup")}, std::nullopt};
    const std::string open = encode(s);
    EXPECT_EQ(open, R"({"id":"01234567-89AB-CDEF-0123-000000000003","title":"Boss \/ fight",)"
                    R"("idea":"01234567-89AB-CDEF-0123-000000000002",)"
                    R"("cuts":[{"id":"01234567-89AB-CDEF-0123-000000000001","start":10,"end":14.25,"role":"setup"}]})");
    EXPECT_EQ(decode<Short>(open).closed, std::nullopt);

    s.closed = false;
    EXPECT_NE(encode(s).find(R"(}],"closed":false})"), std::string::npos) << encode(s);
    EXPECT_EQ(decode<Short>(encode(s)).closed, std::optional<bool>(false));
    s.closed = true;
    EXPECT_EQ(decode<Short>(encode(s)).closed, std::optional<bool>(true));

    Project p;
    p.video = "/streams/night.mov";
    p.markersName = "night.csv";
    p.markersCSV = "0:10\n";
    p.duration = 3600.5;
    p.markerCount = 3;
    p.autoTranscribe = false;
    p.autoSummarize = true;
    EXPECT_EQ(encode(p), R"({"format":1,"video":"\/streams\/night.mov","markersName":"night.csv","markersCSV":"0:10\n",)"
                         R"("note":"","before":150,"after":60,"duration":3600.5,"markerCount":3,"segments":[],"ideas":[],)"
                         R"("shorts":[],"analyzed":false,"autoTranscribe":false,"autoSummarize":true})");
    const Project back = decode<Project>(encode(p));
    EXPECT_EQ(back.ideated, std::nullopt);
    EXPECT_EQ(back.autoTranscribe, std::optional<bool>(false));
    EXPECT_EQ(back, p);
}

TEST(JsonTest, ProjectRoundTripsWithEverythingSet)
{
    const Project p = fullProject();
    const std::string text = encode(p);
    const Project back = decode<Project>(text);
    EXPECT_EQ(back, p);
    EXPECT_EQ(encode(back), text);
    EXPECT_EQ(back.segments[0].peaks->toHex(), "007fff");
    EXPECT_EQ(back.segments[1].lines, std::optional<std::vector<Line>>(std::vector<Line>{})); // empty, not absent
}

namespace {

// Projects that reach every branch of the text writer: numbers off any grid and at the
// edges of their forms, every kind of character, peaks of every length and byte, and
// optional fields absent, false and true.
std::vector<std::pair<const char*, Project>> variedProjects()
{
    std::vector<std::pair<const char*, Project>> rows;
    rows.emplace_back("everything set", fullProject());
    rows.emplace_back("a new project", Project{});

    Project numbers = fullProject();
    std::mt19937_64 random(23);
    std::vector<double> edges = {0.0, -0.0, 0.1 + 0.2, 1.0 / 3, -1.5, 1e-7, 0.0001, 0.00001, 1e15, 1e16, 1e21,
                                 123456789.123, 9007199254740992.0, 9007199254740993.0, -9007199254740994.0,
                                 18014398509481988.0, 1e300, -1e-300, 5e-324, 2.2250738585072014e-308,
                                 std::numeric_limits<double>::max(), 1.7976931348623155e308, 3.001, 2.456};
    for (int i = 0; i < 2000; ++i) {
        // Random bit patterns give every exponent; times in milliseconds give the usual ones.
        const std::uint64_t bits = random();
        double d;
        std::memcpy(&d, &bits, sizeof d);
        if (std::isfinite(d))
            edges.push_back(d);
        edges.push_back(double(random() % 14400000) / 1000.0);
        edges.push_back(double(random() % 1000000) / 7.0);
    }
    Segment& s = numbers.segments[0];
    s.markers = edges;
    s.lines->clear();
    for (size_t i = 0; i + 1 < edges.size(); i += 2)
        s.lines->push_back({edges[i], edges[i + 1], "x"});
    numbers.before = 149.99999999999997;
    numbers.duration = 14399.999;
    numbers.shorts[0].cuts[0].start = 1.123;
    numbers.shorts[0].cuts[0].end = 2.456;
    rows.emplace_back("numbers off the grid and at the edges", numbers);

    Project text = fullProject();
    QString every;
    for (char16_t c = 0; c < 0x80; ++c)
        every += QChar(c);
    text.note = every;
    text.video = QStringLiteral("/home/ana/Vidéos/стрим 配信 🎮/night.mkv");
    text.segments[0].title = QStringLiteral("e\u0301 \u00A0\u00FF\u0100\u07FF\u0800\uFFFD\uFFFE\uFFFF\u2028 \\ \" / //");
    text.segments[0].summary = QString::fromUtf16(u"\U0001F600\U0010FFFF\U00010000 😀👍🏽 🇩🇪");
    (*text.segments[0].lines)[0].text = QStringLiteral("\t\r\n\b\f\x01\x1f\x7f end");
    text.shorts[0].title = QString(3000, QChar(u'é')) + QStringLiteral("/");
    rows.emplace_back("every kind of character", text);

    // Lone halves of surrogate pairs: the writer hands these to the library.
    Project lone = fullProject();
    lone.note = QString::fromUtf16(u"a\xD800");
    lone.markersName = QString::fromUtf16(u"\xDC00 b");
    lone.markersCSV = QString::fromUtf16(u"x\xDC00\xD800y/");
    lone.segments[0].title = QString::fromUtf16(u"\xD83D\xDE00\xD83D");
    rows.emplace_back("lone surrogates", lone);

    Project peaks = fullProject();
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all += char(b);
    for (int n = 0; n <= 5; ++n) {
        Segment seg = peaks.segments[1];
        seg.peaks = all.right(n);
        peaks.segments.push_back(seg);
    }
    peaks.segments[1].peaks = all + all.left(1);
    peaks.segments[2].peaks = QByteArray(4210, '\xff');
    rows.emplace_back("peaks of every length and byte", peaks);

    Project flags = fullProject();
    for (int n = 0; n < 9; ++n) {
        const std::optional<bool> states[] = {std::nullopt, false, true};
        Segment seg = flags.segments[0];
        seg.manual = states[n % 3];
        seg.waiting = states[n / 3];
        seg.lines = n % 2 ? std::nullopt : seg.lines;
        seg.peaks = n % 3 ? std::nullopt : seg.peaks;
        seg.keyLine = n % 4 ? std::optional<qint64>(n - 5) : std::nullopt;
        seg.error = n % 5 ? std::nullopt : std::optional<QString>("");
        seg.rating = states[n % 3] ? std::optional<qint64>(*states[n % 3] ? 1 : -1) : std::nullopt;
        flags.segments.push_back(seg);
        flags.shorts.push_back(Short{QUuid(), "", n % 2 ? std::optional<QUuid>(uuid(n)) : std::nullopt, {},
                                     states[n % 3]});
    }
    flags.ideated = std::nullopt;
    flags.autoTranscribe = true;
    flags.autoSummarize = std::nullopt;
    flags.autoIdeas = false;
    rows.emplace_back("absent optionals and tri-state flags", flags);
    return rows;
}

} // namespace

// project.json is written straight as text; the bytes must stay those of the library's
// dump of the record's tree, which the files on disk and the tests above were made with.
TEST(JsonTest, TheTextWriterWritesWhatTheTreeDumpWrites)
{
    for (const auto& [name, project] : variedProjects()) {
        const QByteArray tree = json::dumpBytes(json::write(project));
        const QByteArray text = json::encode(project);
        if (text == tree)
            continue;
        qsizetype at = 0;
        while (at < text.size() && at < tree.size() && text[at] == tree[at])
            ++at;
        ADD_FAILURE() << name << ": the texts differ at byte " << at << ": tree "
                      << tree.mid(std::max<qsizetype>(0, at - 40), 80).toStdString() << " text "
                      << text.mid(std::max<qsizetype>(0, at - 40), 80).toStdString();
    }
}

TEST(JsonTest, WholeNumbersBeyondThirtyTwoBitsRoundTrip)
{
    Project p = fullProject();
    p.format = 4294967296;
    p.markerCount = 3000000000;
    p.segments[0].keyLine = 9007199254740993; // beyond what a double holds exactly
    p.segments[0].rating = -3000000000;
    const std::string text = encode(p);
    EXPECT_NE(text.find(R"("markerCount":3000000000)"), std::string::npos) << text;
    EXPECT_NE(text.find(R"("keyLine":9007199254740993)"), std::string::npos) << text;
    EXPECT_EQ(decode<Project>(text), p);
}

TEST(JsonTest, JobWritesWhatItHasAndRoundTripsEveryRerun)
{
    Job job = runningJob();
    EXPECT_EQ(encode(job), R"({"id":"01234567-89AB-CDEF-0123-000000000007","kind":"transcribe","title":"Transcribe 06",)"
                           R"("detail":"","engine":"whisper","started":736000000.25,"state":"running"})");

    const std::pair<Rerun, const char*> reruns[] = {
        {Rerun{Rerun::Transcribe{"06", "whisper-large"}}, R"({"transcribe":{"_0":"06","_1":"whisper-large"}})"},
        {Rerun{Rerun::Summarize{{"01", "02"}}}, R"({"summarize":{"_0":["01","02"]}})"},
        {Rerun{Rerun::Ideas{}}, R"({"ideas":{}})"},
        {Rerun{Rerun::Ask{"Why / how?", {}}}, R"({"ask":{"_0":"Why \/ how?","_1":[]}})"},
    };
    job.ended = 736000012.123456789;
    job.state = "done";
    job.cost = 0.0123;
    job.error = "";
    job.request = "{\"model\":\"x\"}";
    job.reply = "ok";
    for (const auto& [rerun, text] : reruns) {
        EXPECT_EQ(encode(rerun), text);
        EXPECT_EQ(decode<Rerun>(std::string(text)), rerun);
        job.rerun = rerun;
        const std::string line = encode(job);
        EXPECT_EQ(line.find('\n'), std::string::npos);
        EXPECT_EQ(decode<Job>(line), job) << line;
    }
}

TEST(JsonTest, RerunNeedsExactlyOneCaseKey)
{
    const QString sentence = "Invalid number of keys found, expected one.";
    EXPECT_EQ(decodeFailure<Rerun>("{}"), sentence);
    EXPECT_EQ(decodeFailure<Rerun>(R"({"ideas":{},"summarize":{"_0":[]}})"), sentence);
    EXPECT_EQ(decodeFailure<Rerun>(R"({"other":{}})"), sentence);

    EXPECT_EQ(decode<Rerun>(std::string(R"({"ideas":{},"later":{"_0":1}})")), Rerun{Rerun::Ideas{}});
    EXPECT_EQ(decode<Rerun>(std::string(R"({"summarize":{"_0":[]}})")), Rerun{Rerun::Summarize{}});

    EXPECT_FALSE(decodeFailure<Rerun>(R"({"transcribe":{"_0":"06"}})").isEmpty());
    EXPECT_FALSE(decodeFailure<Rerun>(R"({"ask":{"_0":"x","_1":"01"}})").isEmpty());
    EXPECT_FALSE(decodeFailure<Rerun>(R"({"summarize":{"_0":[1]}})").isEmpty());
    EXPECT_FALSE(decodeFailure<Rerun>(R"({"ideas":[]})").isEmpty());
    EXPECT_FALSE(decodeFailure<Rerun>(R"(["ideas"])").isEmpty());

    // A job whose rerun cannot be read fails as a whole.
    Json line = json::write(runningJob());
    line["rerun"] = Json::object();
    EXPECT_FALSE(decodeFailure<Job>(json::dump(line)).isEmpty());
    line["rerun"] = nullptr;
    EXPECT_EQ(decode<Job>(line).rerun, std::nullopt);
}

TEST(JsonTest, DecodingIsStrictAboutKeysAndTypes)
{
    const Json good = json::write(fullProject());
    auto fails = [&](auto change) {
        Json j = good;
        change(j);
        return !decodeFailure<Project>(json::dump(j)).isEmpty();
    };
    EXPECT_FALSE(fails([](Json&) {}));

    // Missing or null required keys, at any depth.
    EXPECT_TRUE(fails([](Json& j) { j.erase("analyzed"); }));
    EXPECT_TRUE(fails([](Json& j) { j.erase("format"); }));
    EXPECT_TRUE(fails([](Json& j) { j["note"] = nullptr; }));
    EXPECT_TRUE(fails([](Json& j) { j["segments"][0].erase("unsure"); }));
    EXPECT_TRUE(fails([](Json& j) { j["segments"][0]["lines"][1].erase("t1"); }));
    EXPECT_TRUE(fails([](Json& j) { j["shorts"][0]["cuts"][1].erase("role"); }));

    // Wrong types, at any depth.
    EXPECT_TRUE(fails([](Json& j) { j["before"] = "150"; }));
    EXPECT_TRUE(fails([](Json& j) { j["analyzed"] = 1; }));
    EXPECT_TRUE(fails([](Json& j) { j["markerCount"] = 2.5; }));
    EXPECT_TRUE(fails([](Json& j) { j["segments"] = Json::object(); }));
    EXPECT_TRUE(fails([](Json& j) { j["segments"][0]["markers"][1] = "160"; }));
    EXPECT_TRUE(fails([](Json& j) { j["segments"][0]["lines"][0]["text"] = 5; }));
    EXPECT_TRUE(fails([](Json& j) { j["segments"][0]["keyLine"] = true; }));
    EXPECT_TRUE(fails([](Json& j) { j["segments"][0]["manual"] = "yes"; }));
    EXPECT_TRUE(fails([](Json& j) { j["shorts"][0]["closed"] = 0; }));
    EXPECT_TRUE(fails([](Json& j) { j["ideas"][0]["cuts"][0]["role"] = Json::array(); }));

    // Malformed UUIDs and Base64.
    for (const char* bad : {"not-a-uuid", "{01234567-89AB-CDEF-0123-000000000003}", "01234567-89AB-CDEF-0123-00000000003",
                            "0123456789ABCDEF0123000000000003", "01234567-89AB-CDEF-0123-00000000000G", ""})
        EXPECT_TRUE(fails([&](Json& j) { j["shorts"][0]["idea"] = bad; })) << bad;
    for (const char* bad : {"AAH", "A@H/", "AAH/=", "AA==AA==", "AA H/"})
        EXPECT_TRUE(fails([&](Json& j) { j["segments"][0]["peaks"] = bad; })) << bad;

    // Accepted: whole numbers for doubles, lower-case UUIDs, null for optionals, unknown keys.
    Json j = good;
    j["before"] = 150;
    j["segments"][0]["start"] = 100;
    j["shorts"][0]["id"] = "01234567-89ab-cdef-0123-000000000003";
    j["segments"][0]["rating"] = nullptr;
    j["autoIdeas"] = nullptr;
    j["future"] = {{"x", 1}};
    j["segments"][0]["future"] = "later";
    j["shorts"][0]["cuts"][0]["speed"] = 2;
    for (const char* key : {"ideated", "autoTranscribe", "autoSummarize"})
        j.erase(key);
    Project expected = fullProject();
    expected.before = 150;
    expected.segments[0].rating.reset();
    expected.ideated.reset();
    expected.autoTranscribe.reset();
    expected.autoSummarize.reset();
    expected.autoIdeas.reset();
    EXPECT_EQ(decode<Project>(j), expected);

    EXPECT_FALSE(decodeFailure<Project>("[]").isEmpty());
    EXPECT_FALSE(decodeFailure<Project>("null").isEmpty());
    EXPECT_FALSE(decodeFailure<Project>(json::dump(good).substr(0, 100)).isEmpty());
}

TEST(JsonTest, NumbersThatAreNotFiniteAreRefused)
{
    const double inf = std::numeric_limits<double>::infinity();
    auto refused = [](const auto& value) {
        try {
            json::write(value);
        } catch (const Fail&) {
            return true;
        }
        return false;
    };
    auto refusedAsText = [](const Project& value) {
        try {
            json::encode(value);
        } catch (const Fail&) {
            return true;
        }
        return false;
    };
    Project p = fullProject();
    p.duration = std::nan("");
    EXPECT_TRUE(refused(p));
    EXPECT_TRUE(refusedAsText(p));
    p = fullProject();
    (*p.segments[0].lines)[1].t1 = inf;
    EXPECT_TRUE(refused(p));
    EXPECT_TRUE(refusedAsText(p));
    p = fullProject();
    p.segments[1].markers = {-inf};
    EXPECT_TRUE(refused(p));
    EXPECT_TRUE(refusedAsText(p));
    Job job = runningJob();
    job.cost = inf;
    EXPECT_TRUE(refused(job));

    // Large and tiny finite numbers are fine and read back exactly.
    p = fullProject();
    p.duration = 1e300;
    p.after = 5e-324;
    p.before = 9007199254740993.0;
    EXPECT_EQ(decode<Project>(encode(p)), p);
}

// A text may begin with U+FEFF (pasted from another program, or a model's reply): every
// text field reads back exactly from project.json and from a line of activity.jsonl.
TEST(JsonTest, ATextStartingWithAByteOrderMarkRoundTrips)
{
    const QString marked = QStringLiteral("\uFEFFhi");
    const QString twice = QStringLiteral("\uFEFF\uFEFF");
    using ProjectField = std::function<void(Project&, const QString&)>;
    const std::pair<const char*, ProjectField> projectFields[] = {
        {"video", [](Project& p, const QString& t) { p.video = t; }},
        {"markersName", [](Project& p, const QString& t) { p.markersName = t; }},
        {"markersCSV", [](Project& p, const QString& t) { p.markersCSV = t; }},
        {"note", [](Project& p, const QString& t) { p.note = t; }},
        {"segment id", [](Project& p, const QString& t) { p.segments[0].id = t; }},
        {"line text", [](Project& p, const QString& t) { (*p.segments[0].lines)[0].text = t; }},
        {"segment title", [](Project& p, const QString& t) { p.segments[0].title = t; }},
        {"summary", [](Project& p, const QString& t) { p.segments[0].summary = t; }},
        {"energy", [](Project& p, const QString& t) { p.segments[0].energy = t; }},
        {"kind", [](Project& p, const QString& t) { p.segments[0].kind = t; }},
        {"unsure", [](Project& p, const QString& t) { p.segments[0].unsure = t; }},
        {"error", [](Project& p, const QString& t) { p.segments[0].error = t; }},
        {"idea title", [](Project& p, const QString& t) { p.ideas[0].title = t; }},
        {"hook", [](Project& p, const QString& t) { p.ideas[0].hook = t; }},
        {"format", [](Project& p, const QString& t) { p.ideas[0].format = t; }},
        {"why", [](Project& p, const QString& t) { p.ideas[0].why = t; }},
        {"cut role", [](Project& p, const QString& t) { p.ideas[0].cuts[0].role = t; }},
        {"Short title", [](Project& p, const QString& t) { p.shorts[0].title = t; }},
        {"Short cut role", [](Project& p, const QString& t) { p.shorts[0].cuts[1].role = t; }},
    };
    QTemporaryDir scratch;
    ASSERT_TRUE(scratch.isValid());
    for (const auto& [name, set] : projectFields) {
        for (const QString& text : {marked, twice}) {
            Project p = fullProject();
            set(p, text);
            const QString package = scratch.path() + "/night.vtrl";
            p.save(package);
            EXPECT_TRUE(Project::load(package) == p) << name << " with " << text.size() << " characters";
        }
    }

    using JobField = std::function<void(Job&, const QString&)>;
    const std::pair<const char*, JobField> jobFields[] = {
        {"kind", [](Job& j, const QString& t) { j.kind = t; }},
        {"title", [](Job& j, const QString& t) { j.title = t; }},
        {"detail", [](Job& j, const QString& t) { j.detail = t; }},
        {"engine", [](Job& j, const QString& t) { j.engine = t; }},
        {"state", [](Job& j, const QString& t) { j.state = t; }},
        {"error", [](Job& j, const QString& t) { j.error = t; }},
        {"request", [](Job& j, const QString& t) { j.request = t; }},
        {"reply", [](Job& j, const QString& t) { j.reply = t; }},
        {"transcribed segment", [](Job& j, const QString& t) { j.rerun = Rerun{Rerun::Transcribe{t, "whisper"}}; }},
        {"transcribing engine", [](Job& j, const QString& t) { j.rerun = Rerun{Rerun::Transcribe{"06", t}}; }},
        {"summarized segment", [](Job& j, const QString& t) { j.rerun = Rerun{Rerun::Summarize{{"01", t}}}; }},
        {"instruction", [](Job& j, const QString& t) { j.rerun = Rerun{Rerun::Ask{t, {}}}; }},
        {"asked segment", [](Job& j, const QString& t) { j.rerun = Rerun{Rerun::Ask{"Why?", {t}}}; }},
    };
    for (const auto& [name, set] : jobFields) {
        for (const QString& text : {marked, twice}) {
            Job job = runningJob();
            set(job, text);
            // As the log holds it: one line, read back on its own.
            const QByteArray line = json::dumpBytes(json::write(job)) + '\n';
            EXPECT_TRUE(decode<Job>(line.chopped(1).toStdString()) == job) << name << " with " << text.size() << " characters";
        }
    }
}
