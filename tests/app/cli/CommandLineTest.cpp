#include "core/project/ModelTesting.h" // readable texts in failure messages
#include "core/project/Records.h"
#include "core/project/Subtitles.h"
#include "support/Await.h"
#include "support/Clips.h"
#include "support/FakeServer.h"
#include "support/Files.h"
#include "support/Segments.h"

#include <QCoro/QCoroProcess>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// whisper-cli as the program sees it: two lines, the second running past any short stretch.
const QByteArray fakeWhisper = R"(#!/bin/sh
printf '%s\n' "$@" > "$HOME/whisper-args"
while [ $# -gt 0 ]; do [ "$1" = "-of" ] && base="$2"; shift; done
if [ -n "$WHISPER_FAIL" ]; then echo "whisper_init: failed to load model" >&2; exit 3; fi
printf '{"transcription":[{"offsets":{"from":1500,"to":3250},"text":" hello there"},{"offsets":{"from":4000,"to":99000},"text":" general kenobi"}]}' > "$base.json"
)";

// One answer serves every model request: summaries, ideas and Ask AI each read their part.
const QByteArray answer = R"({"choices":[{"message":{"content":"{\"segments\":[{\"id\":\"01\",\"short\":\"Opening\",\"long\":\"x\",\"energy\":\"calm\",\"type\":\"banter\",\"key_line\":\"01.01\"}],\"ideas\":[{\"title\":\"Hello moment\",\"hook\":\"h\",\"format\":\"single moment\",\"why\":\"w\",\"cuts\":[{\"from\":\"01.01\",\"to\":\"01.02\",\"role\":\"payoff\"}]}],\"title\":\"Asked short\",\"cuts\":[{\"from\":\"03.01\",\"to\":\"03.02\",\"role\":\"payoff\"}],\"note\":\"ok\"}"}}],"usage":{"cost":0.01}})";

struct Ran {
    QStringList out; // the lines of standard output
    QByteArray err;
    int status = -1;
};

class CommandLine : public ::testing::Test {
protected:
    QTemporaryDir root;
    FakeServer server;
    QString work = root.filePath("work"), video = work + "/rec.mp4", package = work + "/rec.vtrl";
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();

    void SetUp() override
    {
        for (const char* dir : {"home", "config", "data", "cache", "tmp", "work"})
            QDir().mkpath(root.filePath(dir));
        for (const auto& [name, dir] : {std::pair{"HOME", "home"}, {"XDG_CONFIG_HOME", "config"},
                                        {"XDG_DATA_HOME", "data"}, {"XDG_CACHE_HOME", "cache"}, {"TMPDIR", "tmp"}})
            env.insert(name, root.filePath(dir));
        env.insert("VANTOREL_TOOL_DIRS", root.filePath("bin"));
        env.insert("VANTOREL_API_BASE", server.base());
        env.insert("OPENROUTER_API_KEY", "sk-or-abc");
        ASSERT_TRUE(testfiles::writeFile(root.filePath("bin/whisper-cli"), fakeWhisper, true));
        ASSERT_TRUE(testfiles::writeFile(root.filePath("home/.whisper-models/ggml-large-v3-turbo.bin"), "model"));
        server.reply("/api/v1/chat/completions", 200, answer);
    }

    static QCoro::Task<Ran> launch(QStringList args, QProcessEnvironment env, QString dir)
    {
        QProcess process;
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(dir);
        process.start(VANTOREL_PROGRAM, args);
        co_await qCoro(process).waitForFinished(std::chrono::minutes(3));
        Ran run{QString::fromUtf8(process.readAllStandardOutput()).split(u'\n'), process.readAllStandardError(),
                process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1};
        EXPECT_EQ(run.out.takeLast(), "") << "every line ends with a line feed";
        co_return run;
    }
    Ran run(const QStringList& args) { return await(launch(args, env, work)); }

    QStringList tmpFiles() const { return QDir(root.filePath("tmp")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries); }

    // A project of three transcribed segments beside a 30 s recording.
    Project project(bool withShort)
    {
        EXPECT_FALSE(Clips::video(video, 30).isEmpty());
        Project p;
        p.video = video;
        p.duration = 30;
        const auto transcribed = [](QString id, double start, std::vector<Line> lines, QString title) {
            Segment s = segment(id, start, start + 10);
            s.lines = std::move(lines);
            s.title = title;
            return s;
        };
        p.segments = {transcribed("01", 0, {{1, 3, "one"}, {3, 5.5, "two"}}, "Opening"),
                      transcribed("02", 10, {{11, 14, "three"}}, "Middle"),
                      transcribed("03", 20, {{21, 23, "four"}, {23, 26, "five"}}, "End")};
        if (withShort) {
            Short s;
            s.id = testfiles::uuid(1);
            s.title = "Best bit";
            s.cuts = {{testfiles::uuid(2), 1, 4, "setup"}, {testfiles::uuid(3), 21, 23, "payoff"}};
            p.shorts = {s};
        }
        p.save(package);
        return p;
    }
};

TEST_F(CommandLine, FlagsAreTestedInOrderOnTheirFirstOccurrenceAndEveryRefusalIsOneLine)
{
    env.insert("OPENROUTER_API_KEY", "");
    const QString noKey = "No key is saved.";
    const QString notFinite = "error: The start and the length must be finite numbers of seconds.";
    const std::vector<std::pair<QStringList, QString>> table = {
        {{"--transcribe", "rec.mp4", "10", "abc", "--check-key"}, noKey},
        {{"--transcribe", "rec.mp4", " 1", "2", "--check-key"}, noKey},
        {{"--transcribe", "rec.mp4", "1x", "2", "--transcribe", "rec.mp4", "1", "2", "--check-key"}, noKey},
        {{"--run", "--check-key"}, "error: No marker file was found next to the recording."},
        {{"--check-key", "--run"}, noKey},
        {{"--add-segment", "rec.mp4", "1", "2", "--check-key"}, "error: That recording has no project yet."},
        {{"--export", "rec.mp4", "--check-key"}, "error: That recording has no project yet."},
        {{"--ask", "rec.mp4", "all", "--check-key", "--run", "rec.mp4"}, "error: No marker file was found next to the recording."},
        {{"--ask", "rec.mp4", "all", "make one", "--check-key"}, "error: That recording has no project yet."},
        {{"--transcribe", "rec.mp4", "0x10", "-1e0", "--check-key"}, "error: The length must be more than 0 seconds."},
        {{"--transcribe", "rec.mp4", "-0.5", "1"}, "error: The start must not be before the beginning of the recording."},
        {{"--transcribe", "rec.mp4", "nan", "1"}, notFinite},
        {{"--transcribe", "rec.mp4", "1", "INF"}, notFinite},
        {{"--transcribe", "rec.mp4", "1e308", "1e308"}, notFinite},
    };
    for (const auto& [args, line] : table) {
        const Ran r = run(args);
        EXPECT_EQ(r.out, QStringList{line}) << args.join(' ').toStdString();
        EXPECT_EQ(r.status, line.startsWith("error: ") ? 1 : 0) << args.join(' ').toStdString();
        EXPECT_EQ(r.err, "");
    }
    EXPECT_TRUE(tmpFiles().isEmpty()) << "no audio was cut";
}

TEST_F(CommandLine, CheckKeyPrintsTheVerdictAndSucceeds)
{
    const QString diagnosis = "The saved key is 9 characters and starts with sk-or-, as it should.";
    server.reply("/api/v1/key", 200, R"({"data":{"usage":1.5,"limit":10}})");
    server.reply("/api/v1/key", 401, R"({"error":{}})");
    const QStringList verdicts = {"The key works. Used $1.50 of $10.00.",
                                  diagnosis + " OpenRouter rejected it. Copy the key again from https://openrouter.ai/keys and paste it in Settings."};
    for (const QString& verdict : verdicts) {
        const Ran r = run({"--check-key"});
        EXPECT_EQ(r.out, QStringList{verdict});
        EXPECT_EQ(r.status, 0);
    }
    env.insert("VANTOREL_API_BASE", "http://127.0.0.1:9");
    EXPECT_EQ(run({"--check-key"}).out, QStringList{diagnosis + " OpenRouter could not be reached."});
}

TEST_F(CommandLine, TranscribePrintsLinesOfTheStretchThenASummary)
{
    ASSERT_FALSE(Clips::video(video, 30).isEmpty());
    const Ran r = run({"--transcribe", "rec.mp4", "2", "10", "--note", "boats"});
    ASSERT_EQ(r.out.size(), 3) << r.out.join('\n').toStdString();
    EXPECT_EQ(r.out[0], "   1.50    3.25  hello there");
    EXPECT_EQ(r.out[1], "   4.00   10.00  general kenobi");
    EXPECT_TRUE(QRegularExpression("^2 lines from whisper \\(on this computer\\) in \\d+\\.\\d s$").match(r.out[2]).hasMatch()) << r.out[2].toStdString();
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(testfiles::readFile(root.filePath("home/whisper-args")).contains("\n-l\nth\n"));
    EXPECT_TRUE(testfiles::readFile(root.filePath("home/whisper-args")).endsWith("--prompt\nboats\n"));

    env.insert("WHISPER_FAIL", "1");
    const Ran failed = run({"--transcribe", video, "2", "10"});
    EXPECT_EQ(failed.out, QStringList{"error: whisper-cli stopped with an error. whisper_init: failed to load model"});
    EXPECT_EQ(failed.status, 1);
    EXPECT_TRUE(tmpFiles().isEmpty()) << tmpFiles().join(' ').toStdString();
}

TEST_F(CommandLine, RunCreatesTheProjectWaitsForThePipelineAndListsTheResult)
{
    ASSERT_FALSE(Clips::video(video, 30).isEmpty());
    EXPECT_EQ(run({"--run", "rec.mp4"}).out, QStringList{"error: No marker file was found next to the recording."});
    ASSERT_TRUE(testfiles::writeFile(work + "/rec.csv", "time\nnot a time\n"));
    const Ran empty = run({"--run", "rec.mp4"});
    EXPECT_EQ(empty.out, (QStringList{"", "error: No markers were found in rec.csv."}));
    EXPECT_EQ(empty.status, 1);

    ASSERT_TRUE(testfiles::writeFile(work + "/rec.csv", "time\n0:20\n"));
    const QStringList listing = {"01 0:00:00 2 lines | Opening", "idea: Hello moment | 1 cuts, 28.5 s"};
    const Ran r = run({"--note", "a quiz night", "--run", "rec.mp4"});
    ASSERT_GE(r.out.size(), 3) << r.out.join('\n').toStdString();
    EXPECT_EQ(r.out.mid(r.out.size() - 2), listing);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(Project::load(package).note, "a quiz night");

    // An existing project needs no marker file.
    QFile::remove(work + "/rec.csv");
    const Ran again = run({"--run", video});
    EXPECT_EQ(again.out.mid(again.out.size() - 2), listing);
    EXPECT_EQ(again.status, 0);
}

TEST_F(CommandLine, AddSegmentRefusesBadTimesUntouchedThenListsAfterThePipeline)
{
    Project p = project(false);
    p.segments[2].lines.reset();
    p.segments[2].waiting = true; // stays untranscribed
    p.save(package);
    const QByteArray saved = testfiles::readFile(package + "/project.json");
    const std::vector<std::pair<QStringList, QString>> refusals = {
        {{"5", "4"}, "The start must not come after the end."},
        {{"nan", "4"}, "The start and the end must be finite numbers of seconds."},
        {{"1", "-inf"}, "The start and the end must be finite numbers of seconds."},
        {{"-1e19", "0"}, "The start and the end are too large to be times of a recording."},
    };
    for (const auto& [times, sentence] : refusals) {
        const Ran r = run(QStringList{"--add-segment", "rec.mp4"} + times);
        EXPECT_EQ(r.out, QStringList{"error: " + sentence});
        EXPECT_EQ(r.status, 1);
    }
    EXPECT_EQ(testfiles::readFile(package + "/project.json"), saved);

    const Ran r = run({"--add-segment", "rec.mp4", "12", "15"});
    EXPECT_EQ(r.out, (QStringList{"01 0:00:00 2 lines | Opening", "02 0:00:10 1 lines | Middle",
                                  "02a 0:00:12 2 lines | ", "03 0:00:20 -1 lines | End"}));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
}

TEST_F(CommandLine, AskSendsTheNamedTranscriptsAndPrintsTheShort)
{
    project(false);
    const QStringList made = {"Asked short | 5.0 s", "  0:00:21 5.0 s payoff"};
    // "all" sends every transcript; otherwise empty pieces go and blanks stay.
    for (const auto& [segments, sent] : {std::pair{"all", "123"}, {"03,, 02", "3"}}) {
        server.clear();
        server.reply("/api/v1/chat/completions", 200, answer);
        const Ran r = run({"--ask", "rec.mp4", segments, "find the ending"});
        EXPECT_EQ(r.out, made) << segments;
        EXPECT_EQ(r.status, 0);
        ASSERT_FALSE(server.requests("/api/v1/chat/completions").empty());
        const QByteArray body = server.requests("/api/v1/chat/completions").front().body;
        for (char id : QByteArray("123"))
            EXPECT_EQ(body.contains(QByteArray("## Segment 0") + id), QByteArray(sent).contains(id)) << segments << id;
    }

    // A Short that could not be saved is not reported as made.
    QObject::connect(&server, &FakeServer::received, [this](const FakeServer::Request& request) {
        if (request.path != "/api/v1/chat/completions")
            return;
        QFile::remove(package + "/project.json");
        QDir().mkpath(package + "/project.json");
    });
    const Ran unsaved = run({"--ask", "rec.mp4", "all", "find the ending"});
    ASSERT_EQ(unsaved.out.size(), 1);
    EXPECT_TRUE(unsaved.out[0].startsWith("error: The project could not be saved to rec.vtrl")) << unsaved.out[0].toStdString();
    EXPECT_EQ(unsaved.status, 1);
}

TEST_F(CommandLine, ExportWritesTheActiveShortWithItsSubtitles)
{
    project(false);
    EXPECT_EQ(run({"--export", "rec.mp4", "out.mp4"}).out, QStringList{"error: That recording has no Short yet."});

    const Project p = project(true);
    const Ran r = run({"--export", "rec.mp4", "out.mp4"});
    EXPECT_EQ(r.out, QStringList{"Exported out.mp4"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(testfiles::readFile(work + "/out.srt"), Subtitles::srt(p.shorts[0], p).toUtf8());
    QProcess probe;
    probe.start("ffprobe", {"-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", work + "/out.mp4"});
    ASSERT_TRUE(probe.waitForFinished());
    EXPECT_NEAR(probe.readAllStandardOutput().trimmed().toDouble(), 5.0, 0.2);

    const Ran failed = run({"--export", "rec.mp4", "no/such/folder/out.mp4"});
    ASSERT_EQ(failed.out.size(), 1);
    EXPECT_TRUE(failed.out[0].startsWith("error: The Short could not be exported. ")) << failed.out[0].toStdString();
    EXPECT_EQ(failed.status, 1);
}

} // namespace
