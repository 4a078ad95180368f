#include "core/project/ModelTesting.h" // readable texts in failure messages
#include "core/project/Subtitles.h"
#include "core/project/Text.h"
#include "model/lifecycle/AppModel.h"
#include "platform/media/Media.h"
#include "support/Await.h"
#include "support/Clips.h"
#include "support/EventLoop.h"
#include "support/FakePlayer.h"
#include "support/FakeServer.h"
#include "support/Files.h"
#include "support/Segments.h"

#include <QCoro/QCoroProcess>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <gtest/gtest.h>

namespace {

// The state letter of a process ('Z' for one that ended and waits to be reaped), and its
// parent; none when it is gone.
std::optional<std::pair<char, qint64>> processState(qint64 pid)
{
    const QByteArray stat = testfiles::readFile(QStringLiteral("/proc/%1/stat").arg(pid));
    const qsizetype name = stat.lastIndexOf(')'); // the name may hold blanks and brackets
    if (name < 0)
        return std::nullopt;
    const QList<QByteArray> fields = stat.mid(name + 2).split(' ');
    const QByteArray state = fields.value(0);
    return std::pair{state.isEmpty() ? '?' : state[0], fields.value(1).toLongLong()};
}

// A running child of `parent` named `name`, or 0.
qint64 childOf(qint64 parent, const QString& name)
{
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        const auto state = number ? processState(pid) : std::nullopt;
        if (state && state->first != 'Z' && state->second == parent
            && testfiles::readFile(QStringLiteral("/proc/%1/comm").arg(pid)).trimmed() == name.toUtf8())
            return pid;
    }
    return 0;
}

bool ended(qint64 pid)
{
    const auto state = processState(pid);
    return !state || state->first == 'Z';
}

// Waits, a few milliseconds at a time, until `done` holds or `ms` have passed.
bool pollUntil(const std::function<bool()>& done, int ms)
{
    for (int waited = 0; !done(); waited += 2) {
        if (waited > ms)
            return false;
        QThread::msleep(2);
    }
    return true;
}

// Runs the windowed program on `package`, which quits itself once the file `started` is
// there, and waits for it to end; the process id written in that file (0: none, or the
// program failed, which the test is told).
qint64 quitAfter(QProcessEnvironment quitting, const QString& work, const QString& package, const QString& started)
{
    quitting.insert("QUIT_WHEN", started);
    quitting.insert("QT_QPA_PLATFORM", "offscreen");
    QProcess program;
    program.setProcessEnvironment(quitting);
    program.setWorkingDirectory(work);
    program.start(VANTOREL_QUIT_CHILD, {"--open", package});
    if (!program.waitForFinished(180000)) {
        program.kill();
        program.waitForFinished();
        ADD_FAILURE() << "the program did not end";
        return 0;
    }
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0) << program.readAllStandardError().toStdString();
    return testfiles::readFile(started).trimmed().toLongLong();
}

// whisper-cli as the program sees it: two lines, the second running past any short stretch.
const QByteArray fakeWhisper = R"(#!/bin/sh
printf '%s\n' "$@" > "$HOME/whisper-args"
while [ $# -gt 0 ]; do [ "$1" = "-of" ] && base="$2"; shift; done
if [ -n "$WHISPER_FAIL" ]; then echo "whisper_init: failed to load model" >&2; exit 3; fi
printf '{"transcription":[{"offsets":{"from":1500,"to":3250},"text":" hello there"},{"offsets":{"from":4000,"to":99000},"text":" general kenobi"}]}' > "$base.json"
)";

// One answer serves every model request: summaries, ideas and Ask AI each read their part.
const QByteArray answer = R"({"choices":[{"message":{"content":"{\"segments\":[{\"id\":\"01\",\"short\":\"Opening\",\"long\":\"x\",\"energy\":\"calm\",\"type\":\"banter\",\"key_line\":\"01.01\"}],\"ideas\":[{\"title\":\"Hello moment\",\"hook\":\"h\",\"format\":\"single moment\",\"why\":\"w\",\"cuts\":[{\"from\":\"01.01\",\"to\":\"01.02\",\"role\":\"payoff\"}]}],\"title\":\"Asked short\",\"cuts\":[{\"from\":\"03.01\",\"to\":\"03.02\",\"role\":\"payoff\"}],\"note\":\"ok\"}"}}],"usage":{"cost":0.01}})";
const QByteArray chat = "/api/v1/chat/completions";

struct Ran {
    QStringList out; // the lines of standard output
    QByteArray err;
    int status = -1;
};

QCoro::Task<Ran> launch(QStringList args, QProcessEnvironment env, QString dir, bool bounded = false)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(dir);
    // Held to the folders' permissions, as a user is, also when the tests run as root.
    if (bounded)
        process.setChildProcessModifier([] { ::prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0); });
    process.start(VANTOREL_PROGRAM, args);
    co_await qCoro(process).waitForFinished(std::chrono::minutes(3));
    Ran ran{QString::fromUtf8(process.readAllStandardOutput()).split(u'\n'), process.readAllStandardError(),
            process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1};
    EXPECT_EQ(ran.out.takeLast(), "") << "every line ends with a line feed";
    EXPECT_EQ(ran.err, "") << args.join(' ').toStdString();
    co_return ran;
}

// The built program in a home of its own, with the stand-in whisper-cli and a fake gateway.
class CommandLine : public ::testing::Test {
protected:
    QTemporaryDir root;
    FakeServer server;
    QString work = root.filePath("work"), video = work + "/rec.mp4", package = work + "/rec.vtrl";
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();

    void SetUp() override
    {
        for (const char* dir : {"home", "config", "data", "cache", "tmp", "work", "runtime"})
            QDir().mkpath(root.filePath(dir));
        // Qt takes a runtime folder only when nobody else may enter it.
        QFile::setPermissions(root.filePath("runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        for (const auto& [name, dir] : {std::pair{"HOME", "home"}, {"XDG_CONFIG_HOME", "config"},
                                        {"XDG_DATA_HOME", "data"}, {"XDG_CACHE_HOME", "cache"}, {"TMPDIR", "tmp"},
                                        {"XDG_RUNTIME_DIR", "runtime"}})
            env.insert(name, root.filePath(dir));
        env.insert("VANTOREL_TOOL_DIRS", root.filePath("bin"));
        env.insert("VANTOREL_API_BASE", server.base());
        env.insert("OPENROUTER_API_KEY", "sk-or-abc");
        ASSERT_TRUE(testfiles::writeFile(root.filePath("bin/whisper-cli"), fakeWhisper, true));
        ASSERT_TRUE(testfiles::writeFile(root.filePath("home/.whisper-models/ggml-large-v3-turbo.bin"), "model"));
        server.reply(chat, 200, answer);
    }

    Ran run(const QStringList& args, bool bounded = false) { return await(launch(args, env, work, bounded)); }
    // Exactly these lines, and status 1 when the last is an "error:" line, else 0.
    void expectRun(const QStringList& args, const QStringList& lines, bool bounded = false)
    {
        const Ran ran = run(args, bounded);
        EXPECT_EQ(ran.out, lines) << args.join(' ').toStdString();
        EXPECT_EQ(ran.status, lines.value(lines.size() - 1).startsWith("error: ") ? 1 : 0) << args.join(' ').toStdString();
    }
    // A 640x360 recording of 30 s whose Short, `times` cuts of the same 28 s, takes ffmpeg a while.
    void slowExportProject(int times = 1)
    {
        project(false);
        ASSERT_TRUE(Clips::ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=640x360:rate=30:duration=30", "-f", "lavfi", "-i",
                                   "sine=frequency=440:sample_rate=48000:duration=30", "-c:v", "libx264", "-preset",
                                   "ultrafast", "-c:a", "aac", "-shortest", video}));
        Project p = Project::load(package);
        p.shorts = {Short{testfiles::uuid(1), "Long", std::nullopt, {}, std::nullopt}};
        for (int i = 0; i < times; ++i)
            p.shorts[0].cuts.push_back({QUuid::createUuid(), 1, 29, "all"});
        p.save(package);
    }
    // A window as the program's own: an AppModel of this process, which is not the job's.
    std::unique_ptr<AppModel> window()
    {
        // Its backups go to this test's folders, as the job's do.
        qputenv("XDG_DATA_HOME", root.filePath("data").toUtf8());
        return std::make_unique<AppModel>(std::make_unique<FakePlayer>(), std::make_unique<FakePlayer>());
    }
    bool tmpEmpty() const { return QDir(root.filePath("tmp")).isEmpty(QDir::NoDotAndDotDot | QDir::AllEntries); }

    // What opening a project leaves besides the project: the backup it keeps, the recent
    // projects in the preferences, the package's lock file while it is held.
    QString backups() const { return root.filePath("data/Vantorel/Backups"); }
    QString prefsFile() const { return root.filePath("config/Vantorel/Vantorel.ini"); }
    // Preferences whose recent projects name another project first, so that an opening of
    // this one shows as a change.
    QByteArray seedRecents()
    {
        QFile::remove(prefsFile());
        {
            QSettings prefs(prefsFile(), QSettings::IniFormat);
            prefs.setValue("recents", QStringList{root.filePath("other.vtrl"), package});
        }
        return testfiles::readFile(prefsFile());
    }
    // A refused job left no backup, kept the preferences as `prefs` and holds nothing.
    void expectNothingKept(const QByteArray& prefs, const std::string& row)
    {
        EXPECT_FALSE(QFileInfo::exists(backups())) << row << ": a backup was kept";
        EXPECT_EQ(testfiles::readFile(prefsFile()), prefs) << row << ": the preferences (the recent projects) changed";
        EXPECT_FALSE(QFile::exists(work + "/.rec.vtrl.lock")) << row;
    }

    // Three transcribed segments of a 30 s recording, and a Short when asked.
    Project project(bool withShort)
    {
        EXPECT_FALSE(Clips::video(video, 30).isEmpty());
        Project p;
        p.video = video;
        p.duration = 30;
        for (auto [id, start, lines, title] : {std::tuple{"01", 0, std::vector<Line>{{1, 3, "one"}, {3, 5.5, "two"}}, "Opening"},
                                               {"02", 10, {{11, 14, "three"}}, "Middle"},
                                               {"03", 20, {{21, 23, "four"}, {23, 26, "five"}}, "End"}}) {
            p.segments.push_back(segment(id, start, start + 10));
            p.segments.back().lines = lines;
            p.segments.back().title = title;
        }
        if (withShort)
            p.shorts = {Short{testfiles::uuid(1), "Best bit", std::nullopt,
                              {{testfiles::uuid(2), 1, 4, "setup"}, {testfiles::uuid(3), 21, 23, "payoff"}}, std::nullopt}};
        p.save(package);
        return p;
    }
};

TEST_F(CommandLine, FlagsAreTestedInOrderOnTheirFirstOccurrenceAndEveryRefusalIsOneLine)
{
    env.insert("OPENROUTER_API_KEY", "");
    const QString noKey = "No key is saved.", noProject = "error: That recording has no project yet.";
    const QString notFinite = "error: The start and the length must be finite numbers of seconds.";
    const std::vector<std::pair<QStringList, QString>> table = {
        {{"--transcribe", "rec.mp4", "10", "abc", "--check-key"}, noKey},
        {{"--transcribe", "rec.mp4", " 1", "2", "--check-key"}, noKey},
        {{"--transcribe", "rec.mp4", "1x", "2", "--transcribe", "rec.mp4", "1", "2", "--check-key"}, noKey},
        {{"--run", "--check-key"}, "error: No marker file was found next to the recording."},
        {{"--check-key", "--run"}, noKey},
        {{"--add-segment", "rec.mp4", "1", "2", "--check-key"}, noProject},
        {{"--export", "rec.mp4", "--check-key"}, noProject},
        {{"--ask", "rec.mp4", "all", "make one", "--check-key"}, noProject},
        {{"--transcribe", "rec.mp4", "0x10", "-1e0", "--check-key"}, "error: The length must be more than 0 seconds."},
        {{"--transcribe", "rec.mp4", "5", "0", "--check-key"}, "error: The length must be more than 0 seconds."},
        {{"--transcribe", "rec.mp4", "-0.5", "1"}, "error: The start must not be before the beginning of the recording."},
        {{"--transcribe", "rec.mp4", "nan", "1"}, notFinite},
        {{"--transcribe", "rec.mp4", "1e308", "1e308"}, notFinite},
    };
    for (const auto& [args, line] : table)
        expectRun(args, {line});
    EXPECT_TRUE(tmpEmpty()) << "no audio was cut";
}

TEST_F(CommandLine, CheckKeyPrintsTheVerdictAndSucceeds)
{
    const QString diagnosis = "The saved key is 9 characters and starts with sk-or-, as it should.";
    server.reply("/api/v1/key", 200, R"({"data":{"usage":1.5,"limit":10}})");
    server.reply("/api/v1/key", 401, "{}");
    expectRun({"--check-key"}, {"The key works. Used $1.50 of $10.00."});
    expectRun({"--check-key"}, {diagnosis + " OpenRouter rejected it. Copy the key again from https://openrouter.ai/keys and paste it in Settings."});
    env.insert("VANTOREL_API_BASE", "http://127.0.0.1:9");
    expectRun({"--check-key"}, {diagnosis + " OpenRouter could not be reached."});
}

TEST_F(CommandLine, TranscribePrintsLinesOfTheStretchThenASummary)
{
    ASSERT_FALSE(Clips::video(video, 30).isEmpty());
    const Ran ran = run({"--transcribe", "rec.mp4", "2", "10", "--note", "boats"});
    ASSERT_EQ(ran.out.size(), 3);
    EXPECT_EQ(ran.out.mid(0, 2), (QStringList{"   1.50    3.25  hello there", "   4.00   10.00  general kenobi"}));
    EXPECT_TRUE(QRegularExpression(R"(^2 lines from whisper \(on this computer\) in \d+\.\d s$)").match(ran.out[2]).hasMatch());
    const QByteArray args = testfiles::readFile(root.filePath("home/whisper-args"));
    EXPECT_TRUE(args.contains("\n-l\nth\n") && args.endsWith("--prompt\nboats\n")) << args.toStdString();

    env.insert("WHISPER_FAIL", "1");
    expectRun({"--transcribe", video, "2", "10"}, {"error: whisper-cli stopped with an error. whisper_init: failed to load model"});
    EXPECT_TRUE(tmpEmpty());
}

TEST_F(CommandLine, RunCreatesTheProjectWaitsForThePipelineAndListsTheResult)
{
    // A failure before any step is one line: no empty status line comes before it.
    ASSERT_TRUE(testfiles::writeFile(work + "/bad.mp4", QByteArray(4096, 'x')));
    ASSERT_TRUE(testfiles::writeFile(work + "/bad.csv", "time\n0:20\n"));
    expectRun({"--run", "bad.mp4"}, {"error: bad.mp4 could not be read as a recording."});

    ASSERT_FALSE(Clips::video(video, 30).isEmpty());
    expectRun({"--run", "rec.mp4"}, {"error: No marker file was found next to the recording."});
    ASSERT_TRUE(testfiles::writeFile(work + "/rec.csv", "time\nnot a time\n"));
    expectRun({"--run", "rec.mp4"}, {"error: No markers were found in rec.csv."});

    ASSERT_TRUE(testfiles::writeFile(work + "/rec.csv", "time\n0:20\n"));
    const QStringList listing = {"01 0:00:00 2 lines | Opening", "idea: Hello moment | 1 cuts, 28.5 s"};
    Ran ran = run({"--note", "a quiz night", "--run", "rec.mp4"});
    EXPECT_GE(ran.out.size(), 3) << "status lines come first";
    EXPECT_EQ(ran.out.mid(ran.out.size() - 2), listing);
    EXPECT_EQ(ran.status, 0);
    EXPECT_EQ(Project::load(package).note, "a quiz night");

    QFile::remove(work + "/rec.csv"); // an existing project needs none
    ran = run({"--run", video});
    EXPECT_EQ(ran.out.mid(ran.out.size() - 2), listing);
    EXPECT_EQ(ran.status, 0);
}

// Each status comes once, as the pipeline reaches its step, and no line is empty: not
// between two steps, not as the pipeline ends. Each transcription waits until its status
// has been printed, so the printer, which looks once a second, sees every step.
TEST_F(CommandLine, RunPrintsEachStepsStatusOnceAndNoEmptyLine)
{
    Project p = project(false);
    p.segments[0].lines.reset();
    p.segments[2].lines.reset();
    p.save(package);
    // The n-th call of whisper-cli answers once the file go-n exists.
    ASSERT_TRUE(testfiles::writeFile(root.filePath("bin/whisper-cli"), R"(#!/bin/sh
while [ $# -gt 0 ]; do [ "$1" = "-of" ] && base="$2"; shift; done
n=1; while [ -e "$HOME/heard-$n" ]; do n=$((n+1)); done
touch "$HOME/heard-$n"
while [ ! -e "$HOME/go-$n" ]; do sleep 0.05; done
printf '{"transcription":[{"offsets":{"from":1500,"to":3250},"text":" hello there"}]}' > "$base.json"
)", true));
    QProcess program;
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(work);
    program.start(VANTOREL_PROGRAM, {"--run", "rec.mp4"});
    QStringList lines;
    QByteArray pending;
    const auto read = [&] {
        pending += program.readAllStandardOutput();
        for (qsizetype end; (end = pending.indexOf('\n')) >= 0; pending.remove(0, end + 1))
            lines << QString::fromUtf8(pending.left(end));
    };
    for (int n : {1, 2}) {
        const QString status = QString("Transcribing %1 of 2").arg(n);
        const bool shown = events::until([&] { read(); return lines.contains(status); }, 60000);
        EXPECT_TRUE(shown) << lines.join('\n').toStdString();
        ASSERT_TRUE(testfiles::writeFile(root.filePath("home/go-%1").arg(n), ""));
    }
    const bool ended = events::until([&] { return program.state() == QProcess::NotRunning; }, 120000);
    if (!ended)
        program.kill();
    ASSERT_TRUE(ended);
    read();
    EXPECT_EQ(lines, (QStringList{"Transcribing 1 of 2", "Transcribing 2 of 2", "01 0:00:00 1 lines | Opening",
                                  "02 0:00:10 1 lines | Middle", "03 0:00:20 1 lines | End"}));
    EXPECT_EQ(program.exitCode(), 0);
}

TEST_F(CommandLine, AddSegmentRefusesBadTimesUntouchedThenListsAfterThePipeline)
{
    Project p = project(false);
    p.segments[2].lines.reset();
    p.segments[2].waiting = true; // stays untranscribed
    p.save(package);
    const QByteArray saved = testfiles::readFile(package + "/project.json");
    const QString notFinite = "error: The start and the end must be finite numbers of seconds.";
    expectRun({"--add-segment", "rec.mp4", "5", "4"}, {"error: The start must not come after the end."});
    expectRun({"--add-segment", "rec.mp4", "nan", "4"}, {notFinite});
    expectRun({"--add-segment", "rec.mp4", "1", "-inf"}, {notFinite});
    expectRun({"--add-segment", "rec.mp4", "-1e19", "0"}, {"error: The start and the end are too large to be times of a recording."});
    EXPECT_EQ(testfiles::readFile(package + "/project.json"), saved);

    expectRun({"--add-segment", "rec.mp4", "12", "15"}, {"01 0:00:00 2 lines | Opening", "02 0:00:10 1 lines | Middle",
                                                         "02a 0:00:12 2 lines | ", "03 0:00:20 -1 lines | End"});

    // A start equal to the end is accepted; such a segment holds no words, and nothing of
    // the stream after it is cut or transcribed.
    QFile::remove(root.filePath("home/whisper-args"));
    expectRun({"--add-segment", "rec.mp4", "16", "16"},
              {"01 0:00:00 2 lines | Opening", "02 0:00:10 1 lines | Middle", "02a 0:00:12 2 lines | ",
               "02b 0:00:16 0 lines | ", "03 0:00:20 -1 lines | End"});
    EXPECT_FALSE(QFile::exists(root.filePath("home/whisper-args"))) << "no engine ran";
    const Segment empty = Project::load(package).segments.at(3);
    EXPECT_EQ(empty.lines, std::vector<Line>{});
    EXPECT_EQ(empty.error, std::nullopt);
}

// A stretch the recording does not hold is refused before anything is cut, transcribed or
// stored; one that ends at the recording's end, or holds no time, is taken.
TEST_F(CommandLine, TimesOutsideTheRecordingAreRefusedAndNothingIsStored)
{
    const Project original = project(false);
    const QByteArray saved = testfiles::readFile(package + "/project.json");
    const double length = Media::probeNow(video).duration; // as the file states it
    ASSERT_TRUE(length >= 30 && length < 31) << length;
    const QString end = Text::number(length), beyond = Text::number(length + 5), further = Text::number(length + 10);
    const QString told = " the end of the recording, which is 0:00:30 long.";
    const QString before = "error: The start must not be before the beginning of the recording.";
    const QString late = "error: The start must come before" + told;
    const struct {
        QStringList args;
        QString refusal; // empty: taken
    } table[] = {
        {{"--add-segment", "rec.mp4", "-10", "5"}, before},
        {{"--add-segment", "rec.mp4", end, end}, late},
        {{"--add-segment", "rec.mp4", beyond, further}, late},
        {{"--add-segment", "rec.mp4", "650", "700"}, late},
        {{"--add-segment", "rec.mp4", "25", beyond}, "error: The end must not be after" + told},
        {{"--add-segment", "rec.mp4", "16", "16"}, ""},
        {{"--add-segment", "rec.mp4", "25", end}, ""},
        {{"--transcribe", "rec.mp4", "-10", "15"}, before},
        {{"--transcribe", "rec.mp4", end, "1"}, late},
        {{"--transcribe", "rec.mp4", beyond, "10"}, late},
        {{"--transcribe", "rec.mp4", "25", "10"}, "error: The stretch must not reach past" + told},
        {{"--transcribe", "rec.mp4", "0", end}, ""},
    };
    const QString engineRan = root.filePath("home/whisper-args");
    for (const auto& [args, refusal] : table) {
        const std::string row = args.join(' ').toStdString();
        QFile::remove(engineRan);
        ASSERT_TRUE(testfiles::writeFile(package + "/project.json", saved));
        ASSERT_TRUE(QDir(backups()).removeRecursively());
        const QByteArray prefs = seedRecents();
        const Ran ran = run(args);
        if (!refusal.isEmpty()) {
            EXPECT_EQ(ran.out, QStringList{refusal}) << row;
            EXPECT_EQ(ran.status, 1) << row;
            EXPECT_EQ(testfiles::readFile(package + "/project.json"), saved) << row << ": the project was saved";
            EXPECT_FALSE(QFile::exists(engineRan)) << row << ": the engine ran";
            EXPECT_TRUE(tmpEmpty()) << row << ": sound was cut";
            expectNothingKept(prefs, row);
            continue;
        }
        const std::vector<Segment> segments = Project::load(package).segments;
        EXPECT_EQ(ran.status, 0) << row << ": " << ran.out.join('\n').toStdString();
        if (args[0] == "--transcribe") {
            EXPECT_TRUE(ran.out.size() == 3 && ran.out[2].startsWith("2 lines from ")) << ran.out.join('\n').toStdString();
            continue;
        }
        ASSERT_EQ(segments.size(), original.segments.size() + 1) << row;
        const auto added = std::find_if(segments.begin(), segments.end(), [](const Segment& s) { return s.manual; });
        ASSERT_NE(added, segments.end()) << row;
        EXPECT_EQ(added->start, args[2].toDouble()) << row;
        EXPECT_EQ(added->end, args[3].toDouble()) << row;
    }
}

// A job refused for what the project holds, or because it cannot be opened, writes nothing:
// no save, no backup, no change to the recent projects.
TEST_F(CommandLine, ARefusedExportOrAskWritesNothing)
{
    const Project transcribed = project(true);
    Project noShort = transcribed, untranscribed = transcribed;
    noShort.shorts.clear();
    for (Segment& s : untranscribed.segments)
        s.lines = std::vector<Line>{}; // heard, with nothing said
    const QString gone = "error: The recording rec.mp4 was not found. Put it next to the project file and open the "
                         "project again.";
    const QString damaged = "error: rec.vtrl could not be read as a Vantorel project.";
    ASSERT_TRUE(testfiles::writeFile(work + "/rec.csv", "time\n0:20\n")); // --run would make a project from it
    const struct {
        const Project* stored; // none: no project
        bool recording; // false: the recording is gone
        QStringList args;
        QString refusal;
        const char* document = nullptr; // written as project.json over the stored project
        bool locked = false;            // the folder cannot be written (the package's, where there is one)
    } table[] = {
        {&transcribed, true, {"--export", "rec.mp4", "out.mp4"}, damaged, "{\"format\": 1,"},
        {&transcribed, true, {"--ask", "rec.mp4", "all", "find the ending"}, damaged, "{\"format\": 1,"},
        {&transcribed, true, {"--add-segment", "rec.mp4", "1", "2"}, damaged, "{\"format\": 1,"},
        {&transcribed, true, {"--run", "rec.mp4"}, damaged, "[]"},
        {&transcribed, true, {"--ask", "rec.mp4", "01,09", "find the ending"}, "error: The project has no segment \"09\"."},
        {&transcribed, true, {"--ask", "rec.mp4", "03, 02", "find the ending"}, "error: The project has no segment \" 02\"."},
        {&transcribed, true, {"--export", "rec.mp4", "gone/out.mp4"},
         "error: The Short could not be exported. The folder " + work + "/gone does not exist."},
        {nullptr, true, {"--run", "rec.mp4"}, "error: Your work cannot be saved as rec.vtrl: the folder " + work
         + " cannot be written (Permission denied). Put the recording in a folder you can write to.", nullptr, true},
        {&untranscribed, true, {"--add-segment", "rec.mp4", "1", "2"}, "error: Your work cannot be saved as rec.vtrl: "
         "the folder " + package + " cannot be written (Permission denied). Put the project in a folder you can write to.",
         nullptr, true},
        {&transcribed, true, {"--export", "rec.mp4", "rec.csv/x.mp4"},
         "error: The Short could not be exported. The folder " + work + "/rec.csv is a file, not a folder."},
        {&noShort, true, {"--export", "rec.mp4", "out.mp4"}, "error: That recording has no Short yet."},
        {&noShort, true, {"--export", "rec.vtrl", "out.mp4"}, "error: That recording has no Short yet."},
        {&transcribed, false, {"--export", "rec.vtrl", "out.mp4"}, gone},
        {&untranscribed, true, {"--ask", "rec.mp4", "all", "find the ending"}, "error: No segment has a transcript yet."},
        {&transcribed, false, {"--ask", "rec.vtrl", "01", "find the ending"}, gone},
        {&transcribed, false, {"--add-segment", "rec.vtrl", "1", "2"}, gone},
    };
    const QString aside = work + "/elsewhere.mp4";
    for (const auto& [stored, recording, args, refusal, document, locked] : table) {
        const std::string row = args.join(' ').toStdString();
        ASSERT_TRUE(QDir(package).removeRecursively());
        if (stored)
            stored->save(package);
        if (document) {
            ASSERT_TRUE(testfiles::writeFile(package + "/project.json", document));
        }
        const QByteArray saved = testfiles::readFile(package + "/project.json");
        if (!recording) {
            ASSERT_TRUE(QFile::rename(video, aside)) << row;
        }
        ASSERT_TRUE(QDir(backups()).removeRecursively());
        const QByteArray prefs = seedRecents();
        server.clear();
        server.reply(chat, 200, answer);

        const auto writable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
        const QString folder = stored ? package : work;
        QFile::setPermissions(folder, locked ? QFile::ReadOwner | QFile::ExeOwner : writable);
        expectRun(args, {refusal}, locked);
        QFile::setPermissions(folder, writable);
        EXPECT_EQ(testfiles::readFile(package + "/project.json"), saved) << row << ": the project was saved";
        expectNothingKept(prefs, row);
        EXPECT_TRUE(server.requests().empty()) << row << ": the gateway was asked";
        EXPECT_FALSE(QFile::exists(work + "/out.mp4")) << row;
        EXPECT_FALSE(QFile::exists(package + "/activity.jsonl")) << row << ": a job was logged";
        EXPECT_EQ(QDir(work).entryList({"*.vtrl"}), stored ? QStringList{"rec.vtrl"} : QStringList{}) << row;
        EXPECT_TRUE(tmpEmpty()) << row << ": sound was cut";
        if (!recording) {
            ASSERT_TRUE(QFile::rename(aside, video)) << row;
        }
    }
    // A project that cannot be written is not refused: its Short is exported elsewhere (and
    // the job says that the project could not be saved).
    ASSERT_TRUE(QDir(package).removeRecursively());
    transcribed.save(package);
    QFile::setPermissions(package, QFile::ReadOwner | QFile::ExeOwner);
    run({"--export", "rec.mp4", "out.mp4"}, true);
    QFile::setPermissions(package, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_TRUE(QFile::exists(work + "/out.mp4"));
}

TEST_F(CommandLine, AskSendsTheNamedTranscriptsAndPrintsTheShort)
{
    project(false);
    // "all" sends every transcript; otherwise empty pieces go and ids are taken once (an id
    // with a blank before it is one the project does not have, and is refused).
    for (const auto& [segments, sent] : {std::pair{"all", "123"}, {"03,,03", "3"}}) {
        server.clear();
        server.reply(chat, 200, answer);
        expectRun({"--ask", "rec.mp4", segments, "find the ending"}, {"Asked short | 5.0 s", "  0:00:21 5.0 s payoff"});
        ASSERT_FALSE(server.requests(chat).empty());
        for (char id : QByteArray("123"))
            EXPECT_EQ(server.requests(chat)[0].body.contains(QByteArray("## Segment 0") + id), QByteArray(sent).contains(id));
    }

    // A Short that could not be saved is not reported as made.
    QObject::connect(&server, &FakeServer::received, [this](const FakeServer::Request& request) {
        if (request.path == chat && QFile::remove(package + "/project.json"))
            QDir().mkpath(package + "/project.json");
    });
    const Ran unsaved = run({"--ask", "rec.mp4", "all", "find the ending"});
    EXPECT_TRUE(unsaved.out.size() == 1 && unsaved.out[0].startsWith("error: ") && unsaved.out[0].contains("saved to rec.vtrl"))
        << unsaved.out.join('\n').toStdString();
    EXPECT_EQ(unsaved.status, 1);
}

TEST_F(CommandLine, ExportWritesTheActiveShortWithItsSubtitles)
{
    project(false);
    expectRun({"--export", "rec.mp4", "out.mp4"}, {"error: That recording has no Short yet."});

    const Project p = project(true);
    expectRun({"--export", "rec.mp4", "out.mp4"}, {"Exported out.mp4"});
    EXPECT_TRUE(testfiles::readFile(root.filePath("config/Vantorel/Vantorel.ini")).contains("rec.vtrl")) << "a recent project";
    EXPECT_EQ(testfiles::readFile(work + "/out.srt"), Subtitles::srt(p.shorts[0], p).toUtf8());
    QProcess probe;
    probe.start("ffprobe", {"-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", work + "/out.mp4"});
    ASSERT_TRUE(probe.waitForFinished());
    EXPECT_NEAR(probe.readAllStandardOutput().trimmed().toDouble(), 5.0, 0.2);

    // A missing folder fails; the recording and the project are never written over.
    const QByteArray recording = testfiles::readFile(video), saved = testfiles::readFile(package + "/project.json");
    for (const QString output : {"no/such/folder/out.mp4", "rec.mp4", "./../work/rec.mp4", "rec.vtrl/project.json"}) {
        const Ran failed = run({"--export", "rec.mp4", output});
        EXPECT_TRUE(failed.out.size() == 1 && failed.out[0].startsWith("error: The Short could not be exported. "))
            << failed.out.join('\n').toStdString();
        EXPECT_EQ(failed.status, 1);
    }
    EXPECT_TRUE(testfiles::readFile(video) == recording) << "the recording was written";
    EXPECT_TRUE(testfiles::readFile(package + "/project.json") == saved) << "the project was written";
}

// An MPEG-TS recording with B-frames and key frames 8 s apart: the libraries that read it
// have much to say while they do, none of it for the user (`launch` checks standard error).
TEST_F(CommandLine, ExportFromMpegTsKeepsItsPictureAndTheLibrariesQuiet)
{
    const QString ts = work + "/rec.ts";
    ASSERT_FALSE(Clips::numbered(ts, 30, 30, 240).isEmpty());
    Project p;
    p.video = ts;
    p.duration = 30;
    p.segments = {segment("01", 0, 30)};
    p.shorts = {Short{testfiles::uuid(1), "Sparse", std::nullopt,
                      {{testfiles::uuid(2), 10, 12, "setup"}, {testfiles::uuid(3), 20.51, 21.49, "payoff"}}, std::nullopt}};
    p.save(package);
    expectRun({"--export", "rec.ts", "out.mp4"}, {"Exported out.mp4"});
    std::vector<int> numbers;
    for (const Clips::Shown& f : Clips::shownFrames(work + "/out.mp4"))
        numbers.push_back(f.number);
    // Frame n is shown from 21.3 ms (the sound's head start) + n / 30 s.
    std::vector<int> wanted;
    for (int n = 299; n <= 359; ++n)
        wanted.push_back(n);
    for (int n = 614; n <= 644; ++n)
        wanted.push_back(n);
    EXPECT_EQ(numbers, wanted);
}

// The program killed while ffmpeg exports, or while whisper-cli transcribes: the child ends
// with it rather than running on for nobody.
TEST_F(CommandLine, ChildProgramsEndWithTheProgramWhenItIsKilled)
{
    slowExportProject(20); // minutes of work for ffmpeg, were it left to run
    ASSERT_TRUE(testfiles::writeFile(root.filePath("bin/whisper-cli"), "#!/bin/sh\nexec sleep 60\n", true));
    for (const auto& [args, child] : std::vector<std::pair<QStringList, QString>>{
             {{"--export", "rec.mp4", "out.mp4"}, "ffmpeg"}, {{"--transcribe", "rec.mp4", "2", "3"}, "sleep"}}) {
        QProcess program;
        program.setProcessEnvironment(env);
        program.setWorkingDirectory(work);
        program.start(VANTOREL_PROGRAM, args);
        qint64 pid = 0;
        ASSERT_TRUE(pollUntil([&] { return (pid = childOf(program.processId(), child)) != 0; }, 60000)) << child.toStdString();
        ::kill(pid_t(program.processId()), SIGKILL);
        EXPECT_TRUE(pollUntil([&] { return ended(pid); }, 10000)) << child.toStdString() << " still runs";
        program.waitForFinished();
        if (!ended(pid))
            ::kill(pid_t(pid), SIGKILL);
    }
}

// What an export killed midway leaves is removed by the next export, wherever that goes; a
// partial file that a running export (here a stopped one) is still writing is never touched.
TEST_F(CommandLine, AKilledExportsPartialFileGoesWithTheNextExportButARunningOneIsKept)
{
    slowExportProject();
    // The export that is kept running works on a project of its own: one process at a time
    // works on a project.
    ASSERT_TRUE(QFile::copy(video, work + "/held.mp4"));
    Project own = Project::load(package);
    own.video = work + "/held.mp4";
    own.save(work + "/held.vtrl");
    const auto partials = [this] { return QDir(work).entryList({".vt-*"}, QDir::Files | QDir::Hidden); };
    const auto startExport = [this](QProcess& program, const QString& recording, const QString& output) {
        program.setProcessEnvironment(env);
        program.setWorkingDirectory(work);
        program.start(VANTOREL_PROGRAM, {"--export", recording, output});
    };
    // An export runs and is stopped while ffmpeg writes its partial file, which it holds.
    QProcess running;
    startExport(running, "held.mp4", "running.mp4");
    ASSERT_TRUE(pollUntil([&] { return childOf(running.processId(), "ffmpeg") != 0; }, 60000));
    ::kill(pid_t(running.processId()), SIGSTOP);
    const QStringList held = partials();
    ASSERT_EQ(held.size(), 1);

    // Another export into the same folder keeps it; killed while ffmpeg writes, that one
    // leaves its own partial file behind.
    QProcess killed;
    startExport(killed, "rec.mp4", "killed.mp4");
    qint64 ffmpeg = 0;
    ASSERT_TRUE(pollUntil([&] { return (ffmpeg = childOf(killed.processId(), "ffmpeg")) != 0; }, 60000));
    ::kill(pid_t(killed.processId()), SIGKILL);
    killed.waitForFinished();
    ASSERT_TRUE(pollUntil([&] { return ended(ffmpeg); }, 10000));
    EXPECT_EQ(partials().size(), 2);

    // Any job (as the windowed program) removes the killed one's at its start and keeps the held one.
    server.reply("/api/v1/key", 200, R"({"data":{"usage":1.5,"limit":10}})");
    expectRun({"--check-key"}, {"The key works. Used $1.50 of $10.00."});
    EXPECT_EQ(partials(), held);

    // The next export, into another folder, removes the killed one's and keeps the held one.
    expectRun({"--export", "rec.mp4", root.filePath("out.mp4")}, {"Exported out.mp4"});
    EXPECT_EQ(partials(), held);

    // The running export goes on to its end.
    ::kill(pid_t(running.processId()), SIGCONT);
    ASSERT_TRUE(running.waitForFinished(120000));
    EXPECT_EQ(running.exitCode(), 0) << running.readAllStandardOutput().toStdString();
    EXPECT_TRUE(QFileInfo(work + "/running.mp4").size() > 0);
    EXPECT_EQ(partials(), QStringList{});
}

// The program killed while a segment is transcribed leaves the segment's sound and
// whisper-cli's error output behind. The next start removes them; what a running instance
// (here a stopped one) still uses stays, and so does what the program did not make, even
// named as it names its own.
TEST_F(CommandLine, AKilledTranscriptionsFilesGoAtTheNextStartButARunningOnesStay)
{
    ASSERT_FALSE(Clips::video(video, 30).isEmpty());
    ASSERT_TRUE(testfiles::writeFile(root.filePath("bin/whisper-cli"), "#!/bin/sh\nexec sleep 60\n", true));
    server.reply("/api/v1/key", 200, R"({"data":{"usage":1.5,"limit":10}})");
    const auto inTmp = [this] { return QDir(root.filePath("tmp")).entryList(QDir::Files | QDir::Hidden, QDir::Name); };
    const QString lookalike = "vt-" + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + ".wav";
    for (const QString& name : {lookalike, QStringLiteral("notes.txt")})
        ASSERT_TRUE(testfiles::writeFile(root.filePath("tmp/" + name), "not ours"));
    const QStringList strangers = inTmp();
    // Started, and returned once whisper-cli runs: the sound is cut by then.
    const auto transcribing = [this](QProcess& program) {
        program.setProcessEnvironment(env);
        program.setWorkingDirectory(work);
        program.start(VANTOREL_PROGRAM, {"--transcribe", "rec.mp4", "2", "3"});
        qint64 whisper = 0;
        EXPECT_TRUE(pollUntil([&] { return (whisper = childOf(program.processId(), "sleep")) != 0; }, 60000));
        return whisper;
    };
    const auto kill = [](QProcess& program, qint64 whisper) {
        ::kill(pid_t(program.processId()), SIGKILL);
        program.waitForFinished();
        EXPECT_TRUE(pollUntil([&] { return ended(whisper); }, 10000));
    };

    QProcess running;
    const qint64 runningWhisper = transcribing(running);
    ::kill(pid_t(running.processId()), SIGSTOP);
    const QStringList held = inTmp();
    EXPECT_TRUE(held.filter(QRegularExpression(R"(^vt-.*\.wav$)")).size() == 2) << held.join(' ').toStdString();

    QProcess killed;
    kill(killed, transcribing(killed));
    EXPECT_GT(inTmp().size(), held.size()) << "the killed one left its files";

    expectRun({"--check-key"}, {"The key works. Used $1.50 of $10.00."});
    EXPECT_EQ(inTmp(), held);

    // Once the running one has been killed too, the next start takes its files as well.
    kill(running, runningWhisper);
    expectRun({"--check-key"}, {"The key works. Used $1.50 of $10.00."});
    EXPECT_EQ(inTmp(), strangers);
}

// Quit while a segment is transcribed (whisper-cli still hearing it): the program ends and
// whisper-cli with it, the preferences changed last are on disk, and no temporary file of
// the program is left.
TEST_F(CommandLine, QuitDuringATranscriptionStoresThePreferencesAndLeavesNoTemporaryFile)
{
    Project p = project(false);
    for (Segment& s : p.segments)
        s.lines = std::nullopt;
    p.save(package);
    ASSERT_TRUE(testfiles::writeFile(root.filePath("bin/whisper-cli"),
                                     "#!/bin/sh\necho $$ > \"$HOME/whisper-started\"\nexec sleep 60\n", true));
    const qint64 whisper = quitAfter(env, work, package, root.filePath("home/whisper-started"));
    ASSERT_NE(whisper, 0) << "Quit came while whisper-cli ran";
    EXPECT_TRUE(pollUntil([&] { return ended(whisper); }, 10000)) << "whisper-cli ends with the program";
    if (!ended(whisper))
        ::kill(pid_t(whisper), SIGKILL);

    const QSettings stored(root.filePath("config/Vantorel/Vantorel.ini"), QSettings::IniFormat);
    EXPECT_EQ(stored.value("exportReveal").toString(), "false") << "changed just before Quit";
    EXPECT_EQ(stored.value("clipNames").toString(), "true") << "changed as the program ended";
    EXPECT_TRUE(tmpEmpty()) << QDir(root.filePath("tmp")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).join(' ').toStdString();
}

// Quit while an export is under way (ffmpeg writing the file) and just after a save: the
// program ends and ffmpeg with it; the project is whole, the file that stood at the
// export's name is as it was, and neither the half-written export nor any other temporary
// file of the program is left.
TEST_F(CommandLine, QuitDuringAnExportLeavesTheFilesWholeAndNoPartialFile)
{
    const Project stored = project(true);
    const QByteArray earlier = "an earlier export";
    ASSERT_TRUE(testfiles::writeFile(work + "/out.mp4", earlier));
    const QString ffmpeg = QStandardPaths::findExecutable("ffmpeg");
    ASSERT_FALSE(ffmpeg.isEmpty());
    // ffmpeg as the program sees it, but an export's file is written halfway and never ended.
    ASSERT_TRUE(testfiles::writeFile(root.filePath("bin/ffmpeg"), QByteArray(R"(#!/bin/sh
for last; do :; done
case "$last" in
*/.vt-*.mp4) printf 'half a movie' > "$last"; echo $$ > "$HOME/ffmpeg-started"; exec sleep 60;;
esac
exec )") + ffmpeg.toUtf8() + " \"$@\"\n", true));
    QProcessEnvironment quitting = env;
    quitting.insert("QUIT_EXPORT", work + "/out.mp4");
    quitting.insert("QUIT_SAVE", "1");
    const qint64 writer = quitAfter(quitting, work, package, root.filePath("home/ffmpeg-started"));
    ASSERT_NE(writer, 0) << "Quit came while ffmpeg wrote";
    EXPECT_TRUE(pollUntil([&] { return ended(writer); }, 10000)) << "ffmpeg ends with the program";
    if (!ended(writer))
        ::kill(pid_t(writer), SIGKILL);

    EXPECT_EQ(Project::load(package), stored);
    EXPECT_EQ(QDir(package).entryList(QDir::Files | QDir::Hidden), QStringList{"project.json"});
    EXPECT_EQ(testfiles::readFile(work + "/out.mp4"), earlier);
    EXPECT_EQ(QDir(work).entryList(QDir::Files | QDir::Hidden, QDir::Name), (QStringList{"out.mp4", "rec.mp4"}));
    EXPECT_TRUE(QDir(root.filePath("data/Vantorel/Exports")).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    EXPECT_TRUE(tmpEmpty()) << QDir(root.filePath("tmp")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).join(' ').toStdString();
}

// A job and a window on one project: whichever has it open first keeps it, and the other
// is refused with a sentence before it reads or writes anything, so that neither saves over
// what the other saved.
const QString openElsewhere = "rec.vtrl is open in another Vantorel window or job. Close it there, or wait until "
                              "that job has ended, and try again.";

TEST_F(CommandLine, AJobRefusesAProjectThatAWindowHasOpen)
{
    project(false);
    const auto open = window();
    ASSERT_TRUE(await(open->open(video)));
    ASSERT_EQ(open->problem(), std::nullopt);
    const QByteArray saved = testfiles::readFile(package + "/project.json");
    for (const QStringList& args : {QStringList{"--add-segment", "rec.mp4", "12", "15"}, {"--run", "rec.mp4"},
                                    {"--ask", "rec.vtrl", "all", "make one"}, {"--export", "rec.mp4", "out.mp4"}})
        expectRun(args, {"error: " + openElsewhere});
    // A link to the package reaches the one lock of the package.
    ASSERT_TRUE(QFile::link(package, work + "/link.vtrl"));
    expectRun({"--ask", "link.vtrl", "all", "make one"},
              {"error: link.vtrl is open in another Vantorel window or job. Close it there, or wait until that job "
               "has ended, and try again."});
    EXPECT_EQ(testfiles::readFile(package + "/project.json"), saved) << "a refused job wrote the project";

    // The window's edits are saved as ever; once it has closed the project, the job goes
    // ahead, and the window that opens it again shows both.
    open->rate("01", 1);
    open->close();
    expectRun({"--add-segment", "rec.mp4", "12", "15"}, {"01 0:00:00 2 lines | Opening", "02 0:00:10 1 lines | Middle",
                                                         "02a 0:00:12 2 lines | ", "03 0:00:20 2 lines | End"});
    EXPECT_FALSE(QFile::exists(work + "/.rec.vtrl.lock")) << "the job's lock file outlived it";
    ASSERT_TRUE(await(open->open(video)));
    QStringList ids;
    for (const Segment& s : open->project().segments)
        ids << s.id;
    EXPECT_EQ(ids, (QStringList{"01", "02", "02a", "03"}));
    EXPECT_EQ(open->project().segments[0].rating, 1);
}

// The other way round, and a job that dies with the project open: it holds nothing after.
TEST_F(CommandLine, AWindowIsRefusedAProjectThatAJobWorksOnUntilTheJobEndsHoweverItEnds)
{
    project(false);
    // The job stops at the transcription of the segment it added, which it has saved.
    ASSERT_TRUE(testfiles::writeFile(root.filePath("bin/whisper-cli"), "#!/bin/sh\ntouch \"$HOME/heard\"\nexec sleep 60\n", true));
    QProcess job;
    job.setProcessEnvironment(env);
    job.setWorkingDirectory(work);
    job.start(VANTOREL_PROGRAM, {"--add-segment", "rec.mp4", "12", "15"});
    ASSERT_TRUE(pollUntil([&] { return QFile::exists(root.filePath("home/heard")); }, 60000));

    const auto open = window();
    ASSERT_TRUE(await(open->open(video)));
    EXPECT_EQ(open->problem(), openElsewhere);
    EXPECT_EQ(open->file(), std::nullopt);
    // Open stream on a set-up sheet that showed before the job made its project.
    open->setProblem(std::nullopt);
    ASSERT_TRUE(testfiles::writeFile(work + "/rec.csv", "time\n0:20\n"));
    await(open->create(video, work + "/rec.csv", "", 150, 60, true, true, true));
    EXPECT_EQ(open->problem(), openElsewhere);
    EXPECT_EQ(open->file(), std::nullopt);

    ::kill(pid_t(job.processId()), SIGKILL);
    ASSERT_TRUE(job.waitForFinished(10000));
    open->setProblem(std::nullopt);
    ASSERT_TRUE(await(open->open(video)));
    EXPECT_EQ(open->problem(), std::nullopt);
    EXPECT_EQ(open->file(), package);
    ASSERT_EQ(open->project().segments.size(), 4u);
    EXPECT_EQ(open->project().segments[2].id, "02a") << "what the job saved before it died";
}

// The window shows the set-up sheet for a recording without a project; meanwhile jobs make
// that project and work on it, and end. Open stream then opens what they made: it never
// sets up a new project over their work, and nothing of the pipeline is run again.
TEST_F(CommandLine, OpenStreamOpensTheProjectThatJobsMadeMeanwhile)
{
    ASSERT_FALSE(Clips::video(video, 30).isEmpty());
    ASSERT_TRUE(testfiles::writeFile(work + "/rec.csv", "time\n0:20\n"));
    const auto open = window();
    ASSERT_FALSE(await(open->open(video))) << "the recording has no project yet";

    EXPECT_EQ(run({"--run", "rec.mp4"}).status, 0);
    EXPECT_EQ(run({"--add-segment", "rec.mp4", "12", "15"}).status, 0);
    const Project made = Project::load(package);
    ASSERT_EQ(made.segments.size(), 2u);
    ASSERT_EQ(made.ideas.size(), 1u);
    const size_t asked = server.requests(chat).size();

    await(open->create(video, work + "/rec.csv", "set up in the window", 150, 60, true, true, true));
    EXPECT_EQ(open->problem(), std::nullopt);
    EXPECT_EQ(open->file(), package);
    EXPECT_EQ(open->toast(), "Opened rec.vtrl, which another window or job made meanwhile");
    EXPECT_EQ(open->project(), made);
    open->close();
    EXPECT_EQ(Project::load(package), made) << "the jobs' work was written over";
    EXPECT_EQ(server.requests(chat).size(), asked) << "the pipeline was paid for again";
    EXPECT_EQ(QDir(work).entryList({"*.vtrl"}), QStringList{"rec.vtrl"});

    // Damaged meanwhile: refused with its reason, never passed over for a new project.
    ASSERT_TRUE(testfiles::writeFile(package + "/project.json", "{"));
    await(open->create(video, work + "/rec.csv", "set up in the window", 150, 60, true, true, true));
    EXPECT_EQ(open->problem(), "rec.vtrl could not be read as a Vantorel project.");
    EXPECT_EQ(server.requests(chat).size(), asked);
    EXPECT_EQ(QDir(work).entryList({"*.vtrl"}), QStringList{"rec.vtrl"});
}

} // namespace
