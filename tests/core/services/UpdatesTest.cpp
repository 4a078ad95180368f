#include "core/project/Json.h"
#include "core/services/Updates.h"
#include "platform/Prefs.h"
#include "support/FakeServer.h"

#include <QCoro/QCoroTask>
#include <QCoro/QCoroTimer>
#include <QDeadlineTimer>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

const QByteArray feedPath = "/latest.json";
const QString unreachable = QStringLiteral("The release site could not be reached.");
const QString upToDate = QStringLiteral("You have the latest version.");

void wait(std::chrono::milliseconds time)
{
    QCoro::waitFor(QCoro::sleepFor(time));
}

template <class Done>
bool waitUntil(Done done, std::chrono::milliseconds limit = 5s)
{
    const QDeadlineTimer deadline(limit);
    while (!done() && !deadline.hasExpired())
        wait(10ms);
    return done();
}

int sign(int n)
{
    return (n > 0) - (n < 0);
}

TEST(UpdatesCompare, DigitRunsCompareByValue)
{
    const std::pair<const char*, const char*> newer[] = {
        {"1.10", "1.9"},
        {"2.0.10", "2.0.9"},
        {"1.2.1", "1.2"},
        {"1.2.0", "1.2"},
        {"10", "9"},
        {"1.0b", "1.0a"},
        {"1.0a", "1.0"},
        {"0", ""},
        // Runs longer than any machine integer.
        {"1.184467440737095516160", "1.18446744073709551615"},
        {"99999999999999999999999999999999999999.1", "99999999999999999999999999999999999998.9"},
        {"1.010", "1.9"},
        {"1.0002", "1.1"},
    };
    for (const auto& [a, b] : newer) {
        EXPECT_EQ(sign(Updates::compare(QString::fromLatin1(a), QString::fromLatin1(b))), 1) << a << " vs " << b;
        EXPECT_EQ(sign(Updates::compare(QString::fromLatin1(b), QString::fromLatin1(a))), -1) << b << " vs " << a;
    }
    for (const char* same : {"1.4", "", "2.0.9-beta", "00000000000000000000000000001"})
        EXPECT_EQ(Updates::compare(QString::fromLatin1(same), QString::fromLatin1(same)), 0) << same;
    // Leading zeros do not change a run's value.
    EXPECT_EQ(Updates::compare(QStringLiteral("1.02"), QStringLiteral("1.2")), 0);
    EXPECT_EQ(Updates::compare(QStringLiteral("000000000000000000000000000003"), QStringLiteral("3")), 0);
}

class UpdatesTest : public ::testing::Test {
protected:
    void SetUp() override { qputenv("VANTOREL_FEED_URL", (server.base() + "/latest.json").toUtf8()); }
    void TearDown() override
    {
        qputenv("VANTOREL_FEED_URL", "http://127.0.0.1:9/latest.json");
        Prefs::shared().remove(QStringLiteral("autoUpdate"));
    }

    void feed(const QByteArray& body, int status = 200) { server.reply(feedPath, status, body); }
    void check(Updates& updates) { QCoro::waitFor(updates.check()); }

    FakeServer server;
};

TEST_F(UpdatesTest, VerdictFollowsTheFeedVersion)
{
    Updates updates;
    feed(R"({"version": "999.10", "notes": "Faster export.", "url": "https://example.test/get", "extra": 1})");
    std::optional<bool> checkingWhileAsked;
    QObject::connect(&server, &FakeServer::received, &server,
                     [&] { checkingWhileAsked = checkingWhileAsked.value_or(true) && updates.checking(); });
    check(updates);
    EXPECT_EQ(checkingWhileAsked, true);
    EXPECT_EQ(updates.verdict(), "Version 999.10 is available.");
    EXPECT_EQ(updates.latest(), "999.10");
    EXPECT_EQ(updates.notes(), "Faster export.");
    EXPECT_EQ(updates.download(), QUrl(QStringLiteral("https://example.test/get")));
    EXPECT_FALSE(updates.checking());

    ASSERT_EQ(server.requests(feedPath).size(), 1u);
    const FakeServer::Request sent = server.requests(feedPath)[0];
    EXPECT_EQ(sent.method, "GET");
    EXPECT_EQ(sent.header("User-Agent"), ("Vantorel " + Updates::current()).toUtf8());

    for (const QString& version : {Updates::current(), QStringLiteral("0.0.1"), QStringLiteral("0")}) {
        feed(QByteArray::fromStdString(Json({{"version", version.toStdString()}}).dump()));
        check(updates);
        EXPECT_EQ(updates.verdict(), upToDate) << version.toStdString();
        EXPECT_EQ(updates.latest(), version);
        EXPECT_EQ(updates.notes(), ""); // missing notes clear the old ones
        EXPECT_FALSE(updates.download()); // so does a missing url
    }
}

TEST_F(UpdatesTest, AFailedCheckKeepsWhatTheLastGoodOneFound)
{
    Updates updates;
    feed(R"({"version": "999.1", "notes": "Notes.", "url": "https://example.test/get"})");
    check(updates);
    ASSERT_EQ(updates.latest(), "999.1");

    const std::pair<int, QByteArray> bad[] = {
        {404, R"({"version": "999.2"})"},
        {500, R"({"version": "999.2"})"},
        {200, R"(["999.2"])"},
        {200, R"("999.2")"},
        {200, R"({"notes": "no version"})"},
        {200, R"({"version": 1000})"},
        {200, "not json {"},
        {200, ""},
    };
    for (const auto& [status, body] : bad) {
        feed(body, status);
        check(updates);
        EXPECT_EQ(updates.verdict(), unreachable) << status << " " << body.toStdString();
        EXPECT_EQ(updates.latest(), "999.1");
        EXPECT_EQ(updates.notes(), "Notes.");
        EXPECT_EQ(updates.download(), QUrl(QStringLiteral("https://example.test/get")));
        EXPECT_FALSE(updates.checking());
    }

    server.close(); // nobody listening at all
    check(updates);
    EXPECT_EQ(updates.verdict(), unreachable);
    EXPECT_EQ(updates.latest(), "999.1");
}

TEST_F(UpdatesTest, SignalsFireOnlyOnRealChanges)
{
    Updates updates;
    std::map<std::string, int> fired;
    QObject::connect(&updates, &Updates::latestChanged, [&] { ++fired["latest"]; });
    QObject::connect(&updates, &Updates::notesChanged, [&] { ++fired["notes"]; });
    QObject::connect(&updates, &Updates::downloadChanged, [&] { ++fired["download"]; });
    QObject::connect(&updates, &Updates::checkingChanged, [&] { ++fired["checking"]; });
    QObject::connect(&updates, &Updates::verdictChanged, [&] { ++fired["verdict"]; });

    feed(R"({"version": "999.0", "notes": "N", "url": "https://example.test/a"})");
    check(updates);
    EXPECT_EQ(fired, (std::map<std::string, int>{
                         {"latest", 1}, {"notes", 1}, {"download", 1}, {"checking", 2}, {"verdict", 1}}));

    fired.clear();
    check(updates); // the same document again
    EXPECT_EQ(fired, (std::map<std::string, int>{{"checking", 2}}));

    fired.clear();
    feed(R"({"version": "999.0", "notes": "N"})");
    check(updates);
    EXPECT_EQ(fired, (std::map<std::string, int>{{"download", 1}, {"checking", 2}}));
}

TEST_F(UpdatesTest, TheLoopAnnouncesANewVersionOnce)
{
    feed(R"({"version": "999.10"})");
    // The loop never ends, so its instance and what its callback holds outlive the test;
    // the long pause keeps it from checking again during the rest of the run.
    auto* updates = new Updates;
    auto announced = std::make_shared<QStringList>();
    updates->start([announced](const QString& text) { announced->append(text); }, 50ms, 1h);
    EXPECT_TRUE(announced->isEmpty()); // nothing before the first pause ends
    ASSERT_TRUE(waitUntil([&] { return !announced->isEmpty(); }));
    wait(200ms);
    EXPECT_EQ(*announced, QStringList{QStringLiteral("Version 999.10 is available. See Settings \u25B8 Updates")});
    EXPECT_EQ(server.requests(feedPath).size(), 1u);
    EXPECT_EQ(updates->verdict(), "Version 999.10 is available.");
}

TEST_F(UpdatesTest, TheLoopDoesNotAnnounceWhatAManualCheckFound)
{
    feed(R"({"version": "999.10"})");
    auto* updates = new Updates;
    check(*updates);
    auto announced = std::make_shared<int>(0);
    updates->start([announced](const QString&) { ++*announced; }, 20ms, 1h);
    ASSERT_TRUE(waitUntil([&] { return server.requests(feedPath).size() == 2 && !updates->checking(); }))
        << server.requests(feedPath).size() << " requests, checking " << updates->checking();
    wait(100ms);
    EXPECT_EQ(*announced, 0);
}

TEST_F(UpdatesTest, TheLoopStaysQuietWhenAutomaticChecksAreOff)
{
    Prefs::shared().set(QStringLiteral("autoUpdate"), false);
    feed(R"({"version": "999.10"})");
    auto* updates = new Updates;
    auto announced = std::make_shared<int>(0);
    updates->start([announced](const QString&) { ++*announced; }, 20ms, 1h);
    wait(300ms);
    EXPECT_TRUE(server.requests().empty());
    EXPECT_EQ(*announced, 0);
    EXPECT_EQ(updates->verdict(), "");
}

} // namespace
