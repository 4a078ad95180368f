#include "core/services/Keychain.h"

#include "core/services/Analyst.h"
#include "core/services/Setup.h"
#include "core/services/Transcription.h"
#include "support/Await.h"
#include "support/Env.h"
#include "support/FakeServer.h"

#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QTemporaryDir>
#include <csignal>
#include "core/project/ModelTesting.h" // readable texts in failure messages
#include <gtest/gtest.h>

namespace {

// The in-memory store: the rules of the key itself, with no desktop service needed.
class KeychainMemoryTest : public ::testing::Test {
protected:
    void SetUp() override { Keychain::useMemoryStore(true); }
    void TearDown() override { Keychain::useMemoryStore(false); }
    std::map<QString, QByteArray>& items() { return Keychain::memoryStore().items; }
};

TEST_F(KeychainMemoryTest, KeysAreTrimmedAndABlankOneRemovesTheItem)
{
    auto pending = Keychain::setKey(QStringLiteral(" \tsk-or-abc\r\n"));
    EXPECT_EQ(Keychain::key(), QStringLiteral("sk-or-abc")); // at once, before the store answers
    QCoro::waitFor(pending);
    EXPECT_EQ(items()[Keychain::service()], "sk-or-abc");

    QCoro::waitFor(Keychain::setKey(QStringLiteral(" \n\u2028")));
    EXPECT_EQ(Keychain::key(), std::nullopt);
    EXPECT_FALSE(items().contains(Keychain::service()));

    items()[Keychain::service()] = "  sk-or-stored\n";
    Keychain::forget();
    QCoro::waitFor(Keychain::load());
    EXPECT_EQ(Keychain::key(), QStringLiteral("sk-or-stored"));
    QCoro::waitFor(Keychain::setKey(std::nullopt));
    EXPECT_EQ(Keychain::key(), std::nullopt);
    EXPECT_TRUE(items().empty());
}

TEST_F(KeychainMemoryTest, AKeyUnderTheOlderNameMovesOver)
{
    items()[Keychain::olderService()] = "sk-or-old\n";
    // An item that is not UTF-8 reads as nothing, so the older one is looked at.
    items()[Keychain::service()] = "\xFF\xFE";
    QCoro::waitFor(Keychain::load());
    EXPECT_EQ(Keychain::key(), QStringLiteral("sk-or-old"));
    EXPECT_EQ(items()[Keychain::service()], "sk-or-old");
    EXPECT_FALSE(items().contains(Keychain::olderService()));
}

TEST_F(KeychainMemoryTest, AStoreThatFailsNeverLosesTheOlderKey)
{
    items()[Keychain::olderService()] = "sk-or-old";
    Keychain::memoryStore().refuseWrites = true;
    QCoro::waitFor(Keychain::load());
    EXPECT_EQ(Keychain::key(), QStringLiteral("sk-or-old"));
    EXPECT_EQ(items()[Keychain::olderService()], "sk-or-old");
    EXPECT_FALSE(items().contains(Keychain::service()));

    // Once the store works again, the next start moves it.
    Keychain::memoryStore().refuseWrites = false;
    Keychain::forget();
    QCoro::waitFor(Keychain::load());
    EXPECT_EQ(items()[Keychain::service()], "sk-or-old");
    EXPECT_FALSE(items().contains(Keychain::olderService()));
}

TEST_F(KeychainMemoryTest, TheCurrentNameWinsAndABlankItemIsNoKey)
{
    items()[Keychain::service()] = "sk-or-new";
    items()[Keychain::olderService()] = "sk-or-old";
    QCoro::waitFor(Keychain::load());
    EXPECT_EQ(Keychain::key(), QStringLiteral("sk-or-new"));
    EXPECT_EQ(items()[Keychain::olderService()], "sk-or-old");

    items()[Keychain::service()] = " \n";
    Keychain::forget();
    QCoro::waitFor(Keychain::load());
    EXPECT_EQ(Keychain::key(), std::nullopt);
}

TEST_F(KeychainMemoryTest, OneReadServesTheWholeRun)
{
    items()[Keychain::service()] = "sk-or-first";
    auto first = Keychain::load();
    auto second = Keychain::load();
    QCoro::waitFor(second);
    QCoro::waitFor(first);
    EXPECT_EQ(Keychain::key(), QStringLiteral("sk-or-first"));
    EXPECT_EQ(Keychain::memoryStore().reads, 1) << "callers that came together share one read";

    items()[Keychain::service()] = "sk-or-changed-elsewhere";
    auto later = Keychain::load();
    EXPECT_TRUE(later.isReady()) << "once read, the key is at hand";
    EXPECT_EQ(Keychain::key(), QStringLiteral("sk-or-first"));
    EXPECT_EQ(Keychain::memoryStore().reads, 1);

    // A key the user set needs no read.
    Keychain::forget();
    QCoro::waitFor(Keychain::setKey(QStringLiteral("sk-or-typed")));
    EXPECT_TRUE(Keychain::load().isReady());
    EXPECT_EQ(Keychain::key(), QStringLiteral("sk-or-typed"));
    EXPECT_EQ(Keychain::memoryStore().reads, 1);

    // A store that gave no answer (its unlock prompt dismissed) is asked again next time.
    Keychain::forget();
    items()[Keychain::service()] = "sk-or-locked-away";
    Keychain::memoryStore().refuseReads = true;
    QCoro::waitFor(Keychain::load());
    EXPECT_EQ(Keychain::key(), std::nullopt);
    Keychain::memoryStore().refuseReads = false;
    QCoro::waitFor(Keychain::load());
    EXPECT_EQ(Keychain::key(), QStringLiteral("sk-or-locked-away"));
}

// Holds the Secret Service still, as a locked keyring does while it asks for its password:
// the daemon that serves this session's bus (the test script's own, never another one) is
// stopped, and goes on again at the latest when this ends, whatever the test does meanwhile.
class HeldStore {
public:
    HeldStore()
    {
        const auto bus = QDBusConnection::sessionBus().interface();
        const auto owner = bus ? bus->servicePid(QStringLiteral("org.freedesktop.secrets")) : QDBusReply<uint>();
        if (!owner.isValid())
            return;
        QFile comm(QStringLiteral("/proc/%1/comm").arg(owner.value()));
        if (!comm.open(QIODevice::ReadOnly) || !comm.readAll().startsWith("gnome-keyring"))
            return;
        if (::kill(pid_t(owner.value()), SIGSTOP) == 0)
            pid = pid_t(owner.value());
    }
    ~HeldStore() { release(); }
    HeldStore(const HeldStore&) = delete;
    HeldStore& operator=(const HeldStore&) = delete;

    bool held() const { return pid > 0; }
    void release()
    {
        if (pid > 0)
            ::kill(pid, SIGCONT);
        pid = 0;
    }

private:
    pid_t pid = 0;
};

// The real Secret Service, as the desktop provides it (under the test script, a private
// gnome-keyring on a private session bus).
class KeychainSecretServiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            GTEST_SKIP() << "No D-Bus session bus, so no Secret Service; run through scripts/test.sh.";
        Keychain::useMemoryStore(false);
        clean();
    }
    void TearDown() override
    {
        if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            clean();
    }
    static void clean()
    {
        QCoro::waitFor(Keychain::removeItem(Keychain::service()));
        QCoro::waitFor(Keychain::removeItem(Keychain::olderService()));
    }
    static std::optional<QByteArray> item(const QString& service)
    {
        return QCoro::waitFor(Keychain::readItem(service));
    }

    // A new run whose key is only in the store (none in the environment): the gateway
    // calls, the key check, the transcription engine and the checklist all find it
    // there, without anybody loading it first.
    static void everyReaderFindsTheStoredKey()
    {
        ASSERT_TRUE(QCoro::waitFor(Keychain::writeItem(Keychain::service(), "sk-or-in-the-store")));
        Keychain::forget();
        ScopedEnv noKey{"OPENROUTER_API_KEY", std::nullopt};
        FakeServer server;
        ScopedEnv base{"VANTOREL_API_BASE", server.base().toUtf8()};
        server.reply("/api/v1/chat/completions", 200,
                     R"({"choices":[{"message":{"role":"assistant","content":"{\"ok\":true}"}}]})");
        server.reply("/api/v1/key", 200, R"({"data":{"usage":0.5,"limit":null}})");
        server.reply("/api/v1/audio/transcriptions", 200, R"({"text":"","words":[]})");
        QTemporaryDir work;
        const QString wav = work.filePath("vt-1.wav");
        QFile file(wav);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(QByteArray(64, 'x')) == 64);
        file.close();

        // Started together, before the store has answered.
        auto answer = Analyst::ask("m", {{"user", "hi"}}, 10, 0, nullptr);
        auto check = Analyst::checkKey();
        const ScribeOpenRouter scribe;
        auto lines = scribe.transcribe(wav, "en", "", nullptr);
        auto checklist = Setup::items();
        EXPECT_EQ(await(std::move(answer)).json, Json({{"ok", true}}));
        EXPECT_EQ(await(std::move(check)), "The key works. Used $0.50 of no limit.");
        EXPECT_TRUE(await(std::move(lines)).empty());
        EXPECT_TRUE(await(std::move(checklist)).back().ready);
        ASSERT_EQ(server.requests().size(), 3u);
        for (const auto& request : server.requests())
            EXPECT_EQ(request.header("Authorization"), "Bearer sk-or-in-the-store") << request.path.toStdString();
    }

    // A key the user enters while the first read of a run is still waiting for the store
    // (to move the older item over) is the one kept, in memory and in the store.
    static void aKeyEnteredWhileTheOldOneMovesOverIsKept()
    {
        clean();
        ASSERT_TRUE(QCoro::waitFor(Keychain::writeItem(Keychain::olderService(), "sk-or-legacy")));
        Keychain::forget();
        HeldStore store;
        ASSERT_TRUE(store.held()) << "no keyring daemon serves this session's bus";
        auto loading = Keychain::load();
        for (int turn = 0; turn < 10; ++turn)
            QCoreApplication::processEvents(); // the read starts and waits for the store
        auto typing = Keychain::setKey(QStringLiteral("sk-or-typed"));
        EXPECT_EQ(Keychain::key(), QStringLiteral("sk-or-typed")) << "Settings reads it back at once";
        store.release();
        QCoro::waitFor(loading);
        QCoro::waitFor(typing);
        EXPECT_EQ(Keychain::key(), QStringLiteral("sk-or-typed"));
        EXPECT_EQ(item(Keychain::service()), QByteArray("sk-or-typed"));
        EXPECT_EQ(item(Keychain::olderService()), std::nullopt) << "the replaced key does not come back";
        Keychain::forget();
        QCoro::waitFor(Keychain::load());
        EXPECT_EQ(Keychain::key(), QStringLiteral("sk-or-typed")) << "and the next start reads it";
    }
};

// One test, so that parallel test processes never share the items.
TEST_F(KeychainSecretServiceTest, StoresReadsMigratesAndRemovesTheKey)
{
    QCoro::waitFor(Keychain::setKey(QStringLiteral("  sk-or-real-\u00e9\n")));
    EXPECT_EQ(item(Keychain::service()), QByteArray("sk-or-real-\xC3\xA9"));

    // What load() reads comes from the store, not from memory.
    ASSERT_TRUE(QCoro::waitFor(Keychain::writeItem(Keychain::service(), "sk-or-other")));
    Keychain::forget();
    QCoro::waitFor(Keychain::load());
    EXPECT_EQ(Keychain::key(), QStringLiteral("sk-or-other"));

    // A key the user sets while the store is still being read is not overwritten by it.
    Keychain::forget();
    auto loading = Keychain::load();
    QCoro::waitFor(Keychain::setKey(QStringLiteral("sk-or-typed")));
    QCoro::waitFor(loading);
    EXPECT_EQ(Keychain::key(), QStringLiteral("sk-or-typed"));

    QCoro::waitFor(Keychain::setKey(QString()));
    EXPECT_EQ(item(Keychain::service()), std::nullopt);
    Keychain::forget();
    QCoro::waitFor(Keychain::load());
    EXPECT_EQ(Keychain::key(), std::nullopt);

    // A key present only under the older name is found, and afterwards only under the current one.
    ASSERT_TRUE(QCoro::waitFor(Keychain::writeItem(Keychain::olderService(), " sk-or-legacy\n")));
    Keychain::forget();
    QCoro::waitFor(Keychain::load());
    EXPECT_EQ(Keychain::key(), QStringLiteral("sk-or-legacy"));
    EXPECT_EQ(item(Keychain::service()), QByteArray("sk-or-legacy"));
    EXPECT_EQ(item(Keychain::olderService()), std::nullopt);

    aKeyEnteredWhileTheOldOneMovesOverIsKept();
    everyReaderFindsTheStoredKey();
}

} // namespace
