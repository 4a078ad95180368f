#include "core/project/Fail.h"
#include "core/services/Transcription.h"
#include "platform/Prefs.h"
#include "support/Await.h"
#include "support/Clips.h"
#include "support/Env.h"
#include "support/FakeServer.h"
#include "support/Files.h"

#include <QCoro/QCoroTask>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

void write(const QString& path, const QByteArray& bytes, bool executable = false)
{
    ASSERT_TRUE(testfiles::writeFile(path, bytes, executable));
}

// A stand-in whisper-cli: it records its arguments and writes the JSON file that the
// real one writes next to the output base given after -of, here with a piece cut in the
// middle of a Thai character as "-ml 60" produces.
const QByteArray fakeWhisper = R"(#!/bin/sh
printf '%s\n' "$@" > "$WHISPER_ARGS"
while [ $# -gt 0 ]; do
  if [ "$1" = "-of" ]; then base="$2"; fi
  shift
done
if [ -n "$WHISPER_FAIL" ]; then echo "whisper_init: failed to load model" >&2; exit 3; fi
if [ -n "$WHISPER_GARBAGE" ]; then echo 'not json' > "$base.json"; exit 0; fi
printf '{"systeminfo":"x","transcription":[' > "$base.json"
printf '{"offsets":{"from":1500,"to":3250},"text":" hello there "},' >> "$base.json"
printf '{"offsets":{"from":3250,"to":4000},"text":" \357\277\275 \340\270 "},' >> "$base.json"
printf '{"offsets":{"from":4000,"to":9000},"text":"\340\270\252\340\270\247\340\270"}]}' >> "$base.json"
)";

class WhisperTest : public ::testing::Test {
protected:
    QTemporaryDir bin, work;
    ScopedEnv tools{"VANTOREL_TOOL_DIRS", bin.path().toUtf8()};
    ScopedEnv argsFile{"WHISPER_ARGS", work.filePath("args").toUtf8()};
    QString model = work.filePath("model.bin");
    QString wav = work.filePath("vt-ABC.wav");

    void SetUp() override
    {
        write(bin.filePath("whisper-cli"), fakeWhisper, true);
        write(model, "model");
        write(wav, "RIFF");
    }
    QStringList arguments() const
    {
        QFile file(work.filePath("args"));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    }
};

TEST_F(WhisperTest, PassesExactArgumentsAndReadsItsJsonLeniently)
{
    Trace trace;
    const WhisperCLI engine(model);
    const auto lines = await(engine.transcribe(wav, "th", "", &trace));

    const QString base = work.filePath("vt-ABC");
    EXPECT_EQ(arguments(), (QStringList{"-m", model, "-f", wav, "-l", "th", "-np", "-ml", "60", "-oj", "-of", base}));
    EXPECT_EQ(trace.request, "whisper-cli -m " + model + " -f " + wav + " -l th -np -ml 60 -oj -of " + base);
    EXPECT_TRUE(trace.reply.isEmpty());

    // The piece of only replacement characters is dropped; the cut character is removed.
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], (Line{1.5, 3.25, "hello there"}));
    EXPECT_EQ(lines[1].t0, 4.0);
    EXPECT_EQ(lines[1].text, QString::fromUtf8("\xe0\xb8\xaa\xe0\xb8\xa7"));
    EXPECT_FALSE(QFile::exists(base + ".json"));
    EXPECT_TRUE(QFile::exists(wav)) << "the WAV belongs to the caller";
}

TEST_F(WhisperTest, HintGoesLastAsOnePrompt)
{
    await(WhisperCLI(model).transcribe(wav, "en", "a game about boats", nullptr));
    const QStringList args = arguments();
    ASSERT_GE(args.size(), 2);
    EXPECT_EQ(args.mid(args.size() - 2), (QStringList{"--prompt", "a game about boats"}));
}

TEST_F(WhisperTest, FailuresNameTheCauseAndLeaveNoJson)
{
    const QString missing = work.filePath("nowhere.bin");
    EXPECT_EQ(failureOf(WhisperCLI(missing).transcribe(wav, "th", "", nullptr)),
              "The whisper model is missing at " + missing + ". Download nowhere.bin from the whisper.cpp models on "
              "Hugging Face, https://huggingface.co/ggerganov/whisper.cpp/resolve/main/nowhere.bin, and put it there.");

    {
        ScopedEnv fail{"WHISPER_FAIL", QByteArray("1")};
        EXPECT_EQ(failureOf(WhisperCLI(model).transcribe(wav, "th", "", nullptr)),
                  "whisper-cli stopped with an error. whisper_init: failed to load model");
    }
    {
        ScopedEnv garbage{"WHISPER_GARBAGE", QByteArray("1")};
        EXPECT_EQ(failureOf(WhisperCLI(model).transcribe(wav, "th", "", nullptr)),
                  "whisper-cli wrote a transcript that could not be read.");
    }
    EXPECT_FALSE(QFile::exists(work.filePath("vt-ABC.json")));
}

TEST(ScribeLines, GroupsWordsByGapsAndLength)
{
    using W = ScribeOpenRouter::Word;
    auto texts = [](const std::vector<Line>& lines) {
        QStringList out;
        for (const Line& l : lines)
            out << QStringLiteral("%1-%2 %3").arg(l.t0).arg(l.t1).arg(l.text);
        return out;
    };
    EXPECT_EQ(texts(ScribeOpenRouter::lines({W{"Hello", 0, 0.4}, W{" ", 0.4, 0.45}, W{"there", 0.45, 0.8}})),
              QStringList{"0-0.8 Hello there"});
    EXPECT_EQ(texts(ScribeOpenRouter::lines({W{"a", 0, 0.4}, W{"b", 0.7, 0.8}})), QStringList{"0-0.8 a b"});
    EXPECT_EQ(texts(ScribeOpenRouter::lines({W{"a", 0, 0.4}, W{"b", 1.0, 1.2}})), (QStringList{"0-0.4 a", "1-1.2 b"}));
    // The line would reach 9 s; a 0.2 s gap with a line of 5 s or more also breaks.
    EXPECT_EQ(ScribeOpenRouter::lines({W{"a", 0, 8.5}, W{"b", 8.55, 9.0}}).size(), 2u);
    EXPECT_EQ(ScribeOpenRouter::lines({W{"a", 0, 4.6}, W{"b", 4.8, 5.0}}).size(), 2u);
    EXPECT_EQ(ScribeOpenRouter::lines({W{"a", 0, 4.6}, W{"b", 4.7, 5.0}}).size(), 1u);
    // Thai joins without a blank, and so does an English word after a Thai one.
    const QString sa = QString::fromUtf8("\xe0\xb8\xaa"), wa = QString::fromUtf8("\xe0\xb8\xa7");
    EXPECT_EQ(texts(ScribeOpenRouter::lines({W{sa, 0, 0.2}, W{wa, 0.2, 0.4}, W{"ok", 0.4, 0.5}})),
              QStringList{"0-0.5 " + sa + wa + "ok"});
    // A new line's text is trimmed of blanks.
    EXPECT_EQ(texts(ScribeOpenRouter::lines({W{" Hi ", 0, 0.2}})), QStringList{"0-0.2 Hi"});
}

class ScribeTest : public ::testing::Test {
protected:
    FakeServer server;
    ScopedEnv base{"VANTOREL_API_BASE", server.base().toUtf8()};
    ScopedEnv key{"OPENROUTER_API_KEY", QByteArray("sk-or-test")};
    QTemporaryDir work;
    QString wav = work.filePath("vt-1.wav");
    static constexpr const char* path = "/api/v1/audio/transcriptions";

    void SetUp() override { write(wav, QByteArray(210 * 32000 + 44, 'x')); }
};

TEST_F(ScribeTest, SendsTheWavAndReadsTimedWords)
{
    server.reply(path, 200,
                 R"({"text":"hi there","usage":{"cost":0.02},"words":[{"word":"hi","start":0,"end":0.3},)"
                 R"({"text":" ","start":0.3,"end":0.35},{"text":"there","start":0.35,"end":0.7},{"word":"x"}]})");
    Trace trace;
    const auto lines = await(ScribeOpenRouter().transcribe(wav, "th", "ignored", &trace));

    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], (Line{0, 0.7, "hi there"}));
    EXPECT_EQ(trace.request, "elevenlabs/scribe-v2, language th, 210 s of audio");
    EXPECT_EQ(trace.reply, "hi there");
    EXPECT_DOUBLE_EQ(trace.cost, 0.02);

    ASSERT_EQ(server.requests().size(), 1u);
    const auto& request = server.requests()[0];
    EXPECT_EQ(request.header("Authorization"), "Bearer sk-or-test");
    EXPECT_EQ(request.header("Content-Type"), "application/json");
    const Json body = Json::parse(request.body.toStdString());
    EXPECT_EQ(body["model"], "elevenlabs/scribe-v2");
    EXPECT_EQ(body["language"], "th");
    EXPECT_EQ(body["response_format"], "verbose_json");
    EXPECT_EQ(body["timestamp_granularities"], Json::array({"word"}));
    EXPECT_EQ(body["input_audio"]["format"], "wav");
    EXPECT_EQ(QByteArray::fromBase64(QByteArray::fromStdString(body["input_audio"]["data"].get<std::string>())).size(),
              210 * 32000 + 44);
    EXPECT_EQ(body.size(), 5u);
}

TEST_F(ScribeTest, RefusalsBecomeSentencesAndKeepTheCost)
{
    server.reply(path, 401, R"({"error":{"message":"User not found."}})");
    Trace trace;
    EXPECT_EQ(failureOf(ScribeOpenRouter().transcribe(wav, "th", "", &trace)),
              "Scribe could not transcribe this. User not found.");
    EXPECT_EQ(trace.cost, 0);
    EXPECT_EQ(trace.reply, R"({"error":{"message":"User not found."}})");

    server.reply(path, 200, R"({"words":"none","usage":{"cost":0.5}})");
    EXPECT_EQ(failureOf(ScribeOpenRouter().transcribe(wav, "th", "", &trace)),
              "Scribe could not transcribe this. No timed words came back.");
    EXPECT_DOUBLE_EQ(trace.cost, 0.5);

    server.reply(path, 502, "<html>Bad gateway</html>", "text/html");
    EXPECT_TRUE(failureOf(ScribeOpenRouter().transcribe(wav, "th", "", &trace)).has_value());
}

TEST_F(ScribeTest, NoKeyNoRequest)
{
    ScopedEnv empty{"OPENROUTER_API_KEY", QByteArray()};
    EXPECT_EQ(failureOf(ScribeOpenRouter().transcribe(wav, "th", "", nullptr)),
              "Add your OpenRouter key in Settings to use Scribe.");
    EXPECT_TRUE(server.requests().empty());
}

TEST(Transcribers, OnlyScribeSelectsScribe)
{
    auto& prefs = Prefs::shared();
    const QVariant old = prefs.value("transcriber");
    for (const char* value : {"whisper", "Scribe", "anything"}) {
        prefs.set("transcriber", QString::fromLatin1(value));
        EXPECT_EQ(Transcribers::current()->name(), "whisper (on this computer)") << value;
    }
    prefs.remove("transcriber");
    EXPECT_EQ(Transcribers::current()->name(), "whisper (on this computer)");
    prefs.set("transcriber", "scribe");
    EXPECT_EQ(Transcribers::current()->name(), "ElevenLabs Scribe (OpenRouter)");
    old.isValid() ? prefs.set("transcriber", old) : prefs.remove("transcriber");
}

// A real cut of a real clip with the real ffmpeg, transcribed by the stand-in engine.
class StubEngine : public Transcriber {
public:
    QString name() const override { return "stub"; }
    QCoro::Task<std::vector<Line>> transcribe(QString wav, QString, QString, Trace*, Cancel) const override
    {
        seen = wav;
        if (fail)
            throw Fail("no speech");
        co_return std::vector<Line>{{1.5, 3.25, "one"}, {3.0, 99.0, "two"}};
    }
    mutable QString seen;
    bool fail = false;
};

TEST(PipelineTranscribe, MovesLinesOntoTheRecordingAndRemovesTheWav)
{
    QTemporaryDir dir;
    const QString clip = Clips::video(dir.filePath("clip.mp4"), 6);
    ASSERT_FALSE(clip.isEmpty());
    Segment segment;
    segment.start = 1;
    segment.end = 5;
    auto engine = std::make_shared<StubEngine>();
    const auto result = await(Pipeline::transcribe(segment, clip, "th", "", engine, nullptr));
    ASSERT_EQ(result.lines.size(), 2u);
    EXPECT_EQ(result.lines[0], (Line{2.5, 4.25, "one"}));
    EXPECT_EQ(result.lines[1], (Line{4.0, 5.0, "two"}));
    EXPECT_EQ(result.peaks.size(), 79) << "4 s of audio gives 4 * 20 - 1 peaks";
    EXPECT_FALSE(QFile::exists(engine->seen));

    engine->fail = true;
    EXPECT_EQ(failureOf(Pipeline::transcribe(segment, clip, "th", "", engine, nullptr)), "no speech");
    EXPECT_FALSE(QFile::exists(engine->seen));
}

// A segment without length (an added segment whose start is its end) holds no speech: it
// gets no lines and no engine runs, so nothing of the rest of the stream is cut or paid for.
TEST(PipelineTranscribe, ASegmentWithoutLengthGetsNoLinesWithoutAnEngine)
{
    const auto engine = std::make_shared<StubEngine>();
    for (const auto& [start, end] : {std::pair{100.0, 100.0}, {100.0, 100.0005}, {100.0, 99.0}}) {
        Segment segment;
        segment.start = start;
        segment.end = end;
        const auto result = await(Pipeline::transcribe(segment, "/nowhere/stream.mp4", "th", "", engine, nullptr));
        EXPECT_TRUE(result.lines.empty()) << end;
        EXPECT_TRUE(result.peaks.isEmpty()) << end;
    }
    EXPECT_EQ(engine->seen, "") << "the engine never ran";
}

// A segment that begins before the recording (an added segment from a negative time) is
// cut from the recording's start, where its sound begins: its lines keep their real times
// rather than landing as far before them as the segment starts too early.
TEST(PipelineTranscribe, ASegmentFromBeforeTheRecordingKeepsItsLinesOnTime)
{
    QTemporaryDir dir;
    const QString clip = Clips::video(dir.filePath("clip.mp4"), 6);
    ASSERT_FALSE(clip.isEmpty());
    const auto engine = std::make_shared<StubEngine>();
    Segment segment;
    segment.start = -2;
    segment.end = 3;
    const auto result = await(Pipeline::transcribe(segment, clip, "th", "", engine, nullptr));
    ASSERT_EQ(result.lines.size(), 2u);
    EXPECT_EQ(result.lines[0], (Line{1.5, 3.0, "one"}));
    EXPECT_EQ(result.peaks.size(), 59) << "3 s of audio gives 3 * 20 - 1 peaks";

    // Wholly before the recording: nothing to hear, no engine.
    engine->seen.clear();
    segment.start = -5;
    segment.end = 0;
    EXPECT_TRUE(await(Pipeline::transcribe(segment, clip, "th", "", engine, nullptr)).lines.empty());
    EXPECT_EQ(engine->seen, "");
}

} // namespace
