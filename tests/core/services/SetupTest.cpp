#include "core/services/Setup.h"
#include "platform/Prefs.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "support/Env.h"

namespace {

using Env = ScopedEnv;

class SetupTest : public ::testing::Test {
protected:
    QTemporaryDir bin, home;
    Env tools{"VANTOREL_TOOL_DIRS", bin.path().toUtf8()};
    Env homeVar{"HOME", home.path().toUtf8()};
    QVariant transcriber = Prefs::shared().value("transcriber");

    void TearDown() override
    {
        transcriber.isValid() ? Prefs::shared().set("transcriber", transcriber) : Prefs::shared().remove("transcriber");
    }
};

TEST_F(SetupTest, WhisperPiecesUnlessTranscriberIsScribe)
{
    for (const char* name : {"ffmpeg", "whisper-cli"}) {
        QFile tool(bin.filePath(name));
        ASSERT_TRUE(tool.open(QIODevice::WriteOnly));
        tool.setPermissions(tool.permissions() | QFile::ExeOwner);
    }
    ASSERT_TRUE(QDir(home.path()).mkpath(".whisper-models"));
    QFile model(home.filePath(".whisper-models/ggml-large-v3-turbo.bin"));
    ASSERT_TRUE(model.open(QIODevice::WriteOnly));
    Env key("OPENROUTER_API_KEY", "sk-or-test");

    const std::vector<Setup::Item> expected{
        {"ffmpeg", true, "Reads the sound out of a recording.", QString("sudo apt install ffmpeg")},
        {"whisper", true, "Transcribes on this computer.", QString("brew install whisper-cpp")},
        {"whisper model", true, "The model whisper listens with, 1.6 GB.",
         QString("mkdir -p ~/.whisper-models && curl -L -o ~/.whisper-models/ggml-large-v3-turbo.bin "
                 "https://huggingface.co/ggerganov/whisper.cpp/resolve/main/ggml-large-v3-turbo.bin")},
        {"OpenRouter key", true, "For summaries, Short ideas and Ask AI. Paste it in Settings.", std::nullopt},
    };
    Prefs::shared().remove("transcriber");
    EXPECT_EQ(QCoro::waitFor(Setup::items()), expected);
    Prefs::shared().set("transcriber", "Scribe");
    EXPECT_EQ(QCoro::waitFor(Setup::items()), expected);
}

TEST_F(SetupTest, ScribeNeedsOnlyFfmpegAndTheKey)
{
    Prefs::shared().set("transcriber", "scribe");
    Env emptyKey("OPENROUTER_API_KEY", ""); // an empty key is no key
    const auto items = QCoro::waitFor(Setup::items());
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].name, "ffmpeg");
    EXPECT_EQ(items[1], (Setup::Item{"OpenRouter key", false,
                                     "For summaries, Short ideas and Ask AI, and for ElevenLabs transcription. Paste it in Settings.",
                                     std::nullopt}));
}

} // namespace
