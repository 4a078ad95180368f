// The settings window: its texts derived from the update state, and the key field
// against the in-memory key store.

#include "app/shell/Settings.h"
#include "core/services/Keychain.h"
#include "model/lifecycle/LifecycleTesting.h"
#include "support/Await.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

using namespace lifecycle;

TEST(Settings, DownloadIsOfferedOnlyForANewerVersionWithAnAddress)
{
    EXPECT_TRUE(Settings::offersDownload(QStringLiteral("1.10"), QStringLiteral("1.9"), true));
    EXPECT_FALSE(Settings::offersDownload(QStringLiteral("1.10"), QStringLiteral("1.9"), false));
    EXPECT_FALSE(Settings::offersDownload(QStringLiteral("1.9"), QStringLiteral("1.9"), true));
    EXPECT_FALSE(Settings::offersDownload(std::nullopt, QStringLiteral("1.9"), true));
    EXPECT_EQ(Settings::updateStatus(true, QStringLiteral("x")), QStringLiteral("Checking"));
    EXPECT_EQ(Settings::updateStatus(false, QString()), QStringLiteral("Not checked yet"));
    EXPECT_EQ(Settings::updateStatus(false, QStringLiteral("x")), QStringLiteral("x"));
}

class KeyFieldTest : public ::testing::Test {
protected:
    void SetUp() override { Keychain::useMemoryStore(true); }
    void TearDown() override { Keychain::useMemoryStore(false); }
    static QByteArray stored()
    {
        const auto& items = Keychain::memoryStore().items;
        const auto it = items.find(Keychain::service());
        return it == items.end() ? QByteArray() : it->second;
    }
    void type(Settings& settings, const QString& text)
    {
        settings.keyField()->clear();
        QTest::keyClicks(settings.keyField(), text);
        ASSERT_TRUE(waitUntil([&] { return !settings.storingKey(); }));
    }
};

TEST_F(KeyFieldTest, StoresTheTrimmedKeyAndShowsWhetherItWasSaved)
{
    Settings settings;
    settings.show();
    EXPECT_FALSE(settings.hasKey());
    const auto failureShown = [&] {
        for (QLabel* label : settings.findChildren<QLabel*>()) {
            if (label->text() == u"The key could not be saved to your keyring")
                return label->isVisibleTo(&settings);
        }
        return false;
    };

    // Blanks alone are not a key that failed to save.
    type(settings, QStringLiteral("  "));
    EXPECT_FALSE(failureShown());

    type(settings, QStringLiteral("  sk-or-v1-abc "));
    EXPECT_EQ(stored(), "sk-or-v1-abc");
    EXPECT_TRUE(settings.hasKey());

    // Blanks alone never remove a working key.
    type(settings, QStringLiteral("   "));
    EXPECT_EQ(stored(), "sk-or-v1-abc");
    EXPECT_TRUE(settings.hasKey());

    Keychain::memoryStore().refuseWrites = true;
    type(settings, QStringLiteral("sk-other"));
    EXPECT_FALSE(settings.hasKey());
    EXPECT_TRUE(failureShown());
}

TEST_F(KeyFieldTest, ASavedKeyShowsFromTheStart)
{
    await(Keychain::setKey(QStringLiteral("sk-saved")));
    Settings settings;
    EXPECT_TRUE(settings.hasKey());
}

TEST(Settings, TheEngineWritesThroughAndItsNoteFollows)
{
    Prefs::shared().remove(QStringLiteral("transcriber"));
    Settings settings;
    auto* engine = settings.findChild<QComboBox*>();
    ASSERT_NE(engine, nullptr);
    EXPECT_EQ(engine->currentData(), QStringLiteral("whisper"));
    const auto noteShown = [&](const QString& text) {
        for (QLabel* label : settings.findChildren<QLabel*>()) {
            if (label->text() == text)
                return true;
        }
        return false;
    };
    EXPECT_TRUE(noteShown(QStringLiteral("Nothing leaves this computer. Needs whisper-cli and ffmpeg.")));
    engine->setCurrentIndex(1);
    Q_EMIT engine->activated(1);
    EXPECT_EQ(Prefs::shared().value(QStringLiteral("transcriber")), QStringLiteral("scribe"));
    EXPECT_TRUE(noteShown(QStringLiteral("Audio of each segment is uploaded to OpenRouter and ElevenLabs. Uses the key above.")));
    // A value this window does not know picks neither engine.
    Prefs::shared().set(QStringLiteral("transcriber"), QStringLiteral("other"));
    EXPECT_EQ(engine->currentIndex(), -1);
    Prefs::shared().remove(QStringLiteral("transcriber"));
}
