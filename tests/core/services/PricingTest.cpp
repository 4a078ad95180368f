#include "core/services/Pricing.h"
#include "platform/Prefs.h"
#include "support/FakeServer.h"

#include <QCoro/QCoroTask>
#include <QDateTime>
#include <QTemporaryDir>
#include <QVariantList>
#include <QVariantMap>
#include "core/project/ModelTesting.h" // readable texts in failure messages
#include <gtest/gtest.h>

namespace {

const QByteArray modelsPath = "/api/v1/models";

class PricingTest : public ::testing::Test {
protected:
    void SetUp() override { qputenv("VANTOREL_API_BASE", server.base().toUtf8()); }
    void TearDown() override { qunsetenv("VANTOREL_API_BASE"); }

    void cache(const QVariantMap& map, double fetched)
    {
        prefs.set(QStringLiteral("pricing"), map);
        prefs.set(QStringLiteral("pricingFetched"), fetched);
    }
    std::optional<Pricing::Price> price(const char* model) const
    {
        return Pricing::price(QString::fromUtf8(model), prefs);
    }
    void refresh() { QCoro::waitFor(Pricing::refresh({}, prefs)); }
    static double now() { return double(QDateTime::currentMSecsSinceEpoch()) / 1000.0; }

    FakeServer server;
    // A store of this test's own: tests run side by side and must not share one file.
    QTemporaryDir dir;
    Prefs prefs{dir.filePath(QStringLiteral("prefs.ini"))};
};

TEST_F(PricingTest, EstimatesAreWordedForTheUser)
{
    EXPECT_EQ(Pricing::about(std::nullopt), "");
    EXPECT_EQ(Pricing::about(0.004), "under 1¢");
    EXPECT_EQ(Pricing::about(0.005), "about 1¢");
    EXPECT_EQ(Pricing::about(0.994), "about 99¢");
    EXPECT_EQ(Pricing::about(0.996), "about 100¢");
    EXPECT_EQ(Pricing::about(1.0), "about $1.00");
    EXPECT_EQ(Pricing::about(1234.5), "about $1234.50");
}

TEST_F(PricingTest, AnEstimateCountsTheBytesReadAndTheTokensWritten)
{
    cache({{QStringLiteral("a/m"), QVariantList{0.000003, 0.000015}}}, now());
    EXPECT_NEAR(*Pricing::estimate(QStringLiteral("a/m"), QString(1000, u'a'), 4000, prefs), 0.0621, 1e-12);
    // 500 characters of two UTF-8 bytes each read as 1000 bytes.
    EXPECT_NEAR(*Pricing::estimate(QStringLiteral("a/m"), QString(500, u'\u00e9'), 4000, prefs), 0.0621, 1e-12);
    EXPECT_EQ(Pricing::estimate(QStringLiteral("other"), QString(), 10, prefs), std::nullopt);
}

TEST_F(PricingTest, OnlyAWellFormedListGivesPrices)
{
    cache({{QStringLiteral("two"), QVariantList{1, 2.5}}, {QStringLiteral("three"), QVariantList{1, 2, 3}}}, 0);
    EXPECT_EQ(price("two"), (Pricing::Price{1, 2.5}));
    EXPECT_EQ(price("three"), std::nullopt);

    // The list keeps its numbers through the settings file.
    const QString file = dir.filePath(QStringLiteral("other.ini"));
    {
        Prefs writer(file);
        writer.set(QStringLiteral("pricing"), QVariantMap{{QStringLiteral("a/b"), QVariantList{0.000003, 15}}});
    }
    EXPECT_EQ(Pricing::price(QStringLiteral("a/b"), Prefs(file)), (Pricing::Price{0.000003, 15}));

    // One entry that is not a list of numbers spoils them all.
    cache({{QStringLiteral("two"), QVariantList{1, 2}}, {QStringLiteral("bad"), QVariantList{QStringLiteral("1")}}}, 0);
    EXPECT_EQ(price("two"), std::nullopt);
    prefs.set(QStringLiteral("pricing"), QStringLiteral("not a map"));
    EXPECT_EQ(price("two"), std::nullopt);
}

TEST_F(PricingTest, RefreshStoresTheListAndFetchesOnlyWhenDue)
{
    server.reply(modelsPath, 200, R"({"data":[
        {"id":"anthropic/claude-sonnet-5.5","pricing":{"prompt":"0.000003","completion":"0.000015"}},
        {"id":"number/price","pricing":{"prompt":0.1,"completion":"0.2"}},
        {"id":"no/pricing"},
        {"id":"word/price","pricing":{"prompt":"free","completion":"0"}},
        {"id":7,"pricing":{"prompt":"1","completion":"1"}},
        {"id":"twice","pricing":{"prompt":"1","completion":"1"}},
        {"id":"twice","pricing":{"prompt":"2","completion":"3"}}]})");
    cache({{QStringLiteral("gone"), QVariantList{1, 1}}}, 0);
    const double before = now();
    refresh();

    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].method, "GET");
    EXPECT_EQ(server.requests()[0].path, modelsPath);
    EXPECT_FALSE(server.requests()[0].hasHeader("Authorization"));
    EXPECT_EQ(price("anthropic/claude-sonnet-5.5"), (Pricing::Price{0.000003, 0.000015}));
    EXPECT_EQ(price("twice"), (Pricing::Price{2, 3}));
    EXPECT_EQ(prefs.value(QStringLiteral("pricing")).toMap().keys(),
              (QStringList{QStringLiteral("anthropic/claude-sonnet-5.5"), QStringLiteral("twice")}));
    const double fetched = prefs.number(QStringLiteral("pricingFetched"), 0);
    EXPECT_GE(fetched, before);
    EXPECT_LE(fetched, now());

    // Fresh, and the edit model has a price: nothing to do.
    refresh();
    EXPECT_EQ(server.requests().size(), 1u);
    // Fresh, but the edit model has no price: fetch again.
    prefs.set(QStringLiteral("editModel"), QStringLiteral("new/model"));
    refresh();
    EXPECT_EQ(server.requests().size(), 2u);
    // Priced, but more than a day old.
    prefs.remove(QStringLiteral("editModel"));
    prefs.set(QStringLiteral("pricingFetched"), now() - 86401);
    refresh();
    EXPECT_EQ(server.requests().size(), 3u);
}

TEST_F(PricingTest, AFailedRefreshKeepsTheOldList)
{
    const QVariantMap old{{QStringLiteral("old/model"), QVariantList{1, 2}}};
    for (const QByteArray& body : {QByteArray("<html>Bad Gateway</html>"), QByteArray(R"({"data":[1,2]})"),
                                  QByteArray(R"({"data":{"id":"x"}})"), QByteArray(R"([])")}) {
        cache(old, 5);
        server.reply(modelsPath, 502, body);
        refresh();
        EXPECT_EQ(price("old/model"), (Pricing::Price{1, 2})) << body.toStdString();
        EXPECT_EQ(prefs.number(QStringLiteral("pricingFetched"), 0), 5);
    }
    server.close();
    refresh();
    EXPECT_EQ(price("old/model"), (Pricing::Price{1, 2}));
}

TEST_F(PricingTest, AListThatReadsIsStoredWhateverTheStatus)
{
    cache({{QStringLiteral("old/model"), QVariantList{1, 2}}}, 0);
    server.reply(modelsPath, 500, R"({"data":[]})");
    refresh();
    EXPECT_EQ(price("old/model"), std::nullopt);
    EXPECT_TRUE(prefs.value(QStringLiteral("pricing")).toMap().isEmpty());
}

} // namespace
