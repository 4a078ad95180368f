// The settings window: its texts derived from the update state, and the key field
// against the in-memory key store.

#include "app/shell/Settings.h"
#include "core/services/Keychain.h"
#include "model/lifecycle/LifecycleTesting.h"
#include "support/Await.h"
#include "views/start/WorkspaceView.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QTest>
#include <functional>

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

// As a settings window on Linux: Esc and Ctrl+W close it whatever holds the focus, also
// while the workspace behind it has its key map installed (which must not take the key).
TEST(Settings, ClosesWithEscapeAndCtrlW)
{
    AppModel model(std::make_unique<FakePlayer>(), std::make_unique<FakePlayer>());
    Project p;
    p.duration = 100;
    p.segments = {segment(QStringLiteral("01"), 10, 20)};
    model.setProject(p);
    model.setSelection(QStringLiteral("01"));
    WorkspaceView workspace(model);
    workspace.resize(1000, 700);
    workspace.show();
    const struct {
        const char* what;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        std::function<QWidget*(Settings&)> focus;
    } table[] = {
        {"Esc in the key field", Qt::Key_Escape, {}, [](Settings& s) -> QWidget* { return s.keyField(); }},
        {"Esc on a check box", Qt::Key_Escape, {}, [](Settings& s) -> QWidget* { return s.findChild<QCheckBox*>(); }},
        {"Esc on a button", Qt::Key_Escape, {}, [](Settings& s) -> QWidget* { return s.findChild<QPushButton*>(); }},
        {"Ctrl+W in the key field", Qt::Key_W, Qt::ControlModifier,
         [](Settings& s) -> QWidget* { return s.keyField(); }},
        {"Ctrl+W on the engine", Qt::Key_W, Qt::ControlModifier,
         [](Settings& s) -> QWidget* { return s.findChild<QComboBox*>(); }},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.what);
        model.setRange(TimeRange{12, 14});
        Settings settings;
        settings.show();
        settings.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&settings));
        QWidget* focus = row.focus(settings);
        ASSERT_NE(focus, nullptr);
        focus->setFocus(Qt::TabFocusReason);
        QCoreApplication::processEvents();
        ASSERT_EQ(QApplication::focusWidget(), focus);
        QTest::keyClick(settings.windowHandle(), row.key, row.modifiers);
        QCoreApplication::processEvents();
        EXPECT_FALSE(settings.isVisible());
        EXPECT_EQ(model.range(), (TimeRange{12, 14})) << "the workspace took the key";
    }
}
