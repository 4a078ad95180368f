// The settings window: its texts derived from the update state, and the key field
// against the in-memory key store.

#include "app/shell/Settings.h"
#include "core/services/Keychain.h"
#include "model/lifecycle/LifecycleTesting.h"
#include "support/Await.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QScrollArea>
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

    // While the store has not answered (its own password prompt may be open), no verdict.
    Keychain::memoryStore().refuseWrites = false;
    Keychain::useMemoryStore(true);
    Settings fresh;
    fresh.show();
    QTest::keyClicks(fresh.keyField(), QStringLiteral("sk-new"));
    ASSERT_TRUE(fresh.storingKey());
    for (QLabel* label : fresh.findChildren<QLabel*>()) {
        if (label->text() == u"The key could not be saved to your keyring") {
            EXPECT_FALSE(label->isVisibleTo(&fresh));
        }
    }
    ASSERT_TRUE(waitUntil([&] { return !fresh.storingKey(); }));
    EXPECT_TRUE(fresh.hasKey());
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

TEST(Settings, TheWindowFitsTheScreenAndShowsTheWholeEngine)
{
    // The sections scroll where the screen is too low for all of them.
    EXPECT_EQ(Settings::fittedHeight(900, 1000), 900);
    EXPECT_EQ(Settings::fittedHeight(900, 740), 692);
    Settings settings;
    settings.show();
    QCoreApplication::processEvents();
    const int available = settings.screen()->availableGeometry().height();
    EXPECT_LE(settings.height(), available - 48);
    // Every control can be scrolled to, the last one too.
    auto* engine = settings.findChild<QComboBox*>();
    ASSERT_NE(engine, nullptr);
    settings.sections()->ensureWidgetVisible(engine);
    QCoreApplication::processEvents();
    const QRect inView = QRect(engine->mapTo(settings.sections()->viewport(), QPoint(0, 0)), engine->size());
    EXPECT_TRUE(settings.sections()->viewport()->rect().contains(inView));
    // The longer choice is shown whole.
    EXPECT_GE(engine->width(), engine->sizeHint().width());
}
