#include "core/services/Analyst.h"
#include "core/services/Keychain.h"
#include "platform/Http.h"
#include "support/FakeServer.h"

#include <QCoro/QCoroTask>
#include <QElapsedTimer>
#include <QTimer>
#include "core/project/ModelTesting.h" // readable texts in failure messages
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

const QByteArray chatPath = "/api/v1/chat/completions";
const QByteArray keyPath = "/api/v1/key";
const QString unreadable = QStringLiteral("OpenRouter did not answer. The reply could not be read.");

struct Outcome {
    std::optional<Analyst::Answer> answer;
    QString failure;
};

// waitFor cannot carry an exception out, so the failure comes back as a value.
QCoro::Task<Outcome> attempt(QCoro::Task<Analyst::Answer> task)
{
    Outcome out;
    try {
        out.answer = co_await std::move(task);
    } catch (const Fail& fail) {
        out.failure = fail.errorDescription;
    }
    co_return out;
}

QByteArray completion(const QString& content, std::optional<double> cost = std::nullopt)
{
    Json reply = {{"id", "gen-1"},
                  {"choices", Json::array({{{"message", {{"role", "assistant"}, {"content", content.toStdString()}}}}})}};
    if (cost)
        reply["usage"] = {{"cost", *cost}, {"total_tokens", 120}};
    return QByteArray::fromStdString(reply.dump());
}

class AnalystTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        qputenv("VANTOREL_API_BASE", server.base().toUtf8());
        qputenv("OPENROUTER_API_KEY", "sk-or-v1-test");
        Keychain::useMemoryStore(true);
    }
    void TearDown() override
    {
        qunsetenv("VANTOREL_API_BASE");
        qunsetenv("OPENROUTER_API_KEY");
        Keychain::useMemoryStore(false);
    }

    Outcome ask(Trace* trace, Cancel cancel = {})
    {
        return QCoro::waitFor(attempt(Analyst::ask(QStringLiteral("anthropic/claude-haiku-5.5"),
                                                   {{QStringLiteral("system"), QStringLiteral("Be brief.")},
                                                    {QStringLiteral("user"), QStringLiteral("Name it {now}.")}},
                                                   2000, 1024, trace, cancel)));
    }

    FakeServer server;
};

TEST_F(AnalystTest, SendsExactlyTheRequestAndCutsTheObjectOutOfProse)
{
    const QString content = QStringLiteral("Sure! Here it is:\n{\"title\": \"Boss fight\", \"n\": 2}\nEnjoy the stream.");
    server.reply(chatPath, 200, completion(content, 0.0125));
    Trace trace;
    const Outcome out = ask(&trace);

    ASSERT_TRUE(out.answer) << out.failure.toStdString();
    EXPECT_EQ(out.answer->json, Json({{"title", "Boss fight"}, {"n", 2}}));
    EXPECT_EQ(out.answer->text, content);

    ASSERT_EQ(server.requests().size(), 1u);
    const FakeServer::Request& request = server.requests()[0];
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, chatPath);
    EXPECT_EQ(request.header("Content-Type"), "application/json");
    EXPECT_EQ(request.header("Authorization"), "Bearer sk-or-v1-test");
    const Json body = Json::parse(request.body.toStdString());
    EXPECT_EQ(body.size(), 4u);
    EXPECT_EQ(body["model"], "anthropic/claude-haiku-5.5");
    EXPECT_EQ(body["max_tokens"], 2000);
    EXPECT_EQ(body["reasoning"], Json({{"max_tokens", 1024}}));
    EXPECT_EQ(body["messages"], Json::array({{{"role", "system"}, {"content", "Be brief."}},
                                             {{"role", "user"}, {"content", "Name it {now}."}}}));
    EXPECT_TRUE(request.body.contains(R"("anthropic\/claude-haiku-5.5")")) << request.body.toStdString();

    EXPECT_EQ(trace.request, "model: anthropic/claude-haiku-5.5\n\n[system]\nBe brief.\n\n[user]\nName it {now}.");
    EXPECT_EQ(trace.reply, content + "\n\n");
    EXPECT_DOUBLE_EQ(trace.cost, 0.0125);
}

TEST_F(AnalystTest, OneTraceOverTwoCallsKeepsBothRepliesAndTheSumOfCosts)
{
    server.reply(chatPath, 200, completion(QStringLiteral("{\"a\":1}"), 0.25));
    server.reply(chatPath, 200, completion(QStringLiteral("{\"b\":2}"))); // no usage at all
    Trace trace;
    ASSERT_TRUE(ask(&trace).answer);
    const Outcome second = QCoro::waitFor(attempt(Analyst::ask(
        QStringLiteral("m/2"), {{QStringLiteral("user"), QStringLiteral("again")}}, 10, 0, &trace)));
    ASSERT_TRUE(second.answer);
    EXPECT_EQ(second.answer->json, Json({{"b", 2}}));
    EXPECT_EQ(trace.request, "model: m/2\n\n[user]\nagain");
    EXPECT_EQ(trace.reply, "{\"a\":1}\n\n{\"b\":2}\n\n");
    EXPECT_DOUBLE_EQ(trace.cost, 0.25);
}

TEST_F(AnalystTest, GatewayErrorsCarryTheGatewaysMessageAndTheStartOfTheBody)
{
    Json error = {{"error", {{"message", "No auth credentials found"}, {"code", 401}}},
                  {"padding", std::string(6000, 'x')}};
    const QByteArray body = QByteArray::fromStdString(error.dump());
    server.reply(chatPath, 401, body);
    Trace trace;
    trace.cost = 0.5;
    const Outcome out = ask(&trace);
    EXPECT_EQ(out.failure, "OpenRouter did not answer. No auth credentials found");
    EXPECT_DOUBLE_EQ(trace.cost, 0.5);
    EXPECT_EQ(trace.reply, QString::fromUtf8(body.left(4000)) + "\n\n");

    // A 200 that carries an error and no choices says the same.
    server.reply(chatPath, 200, R"({"error":{"message":"Model is overloaded"}})");
    EXPECT_EQ(ask(nullptr).failure, "OpenRouter did not answer. Model is overloaded");
}

TEST_F(AnalystTest, APageThatIsNotJsonFailsAndLeavesTheTraceAsItWas)
{
    server.reply(chatPath, 502, "<html><body>502 Bad Gateway</body></html>", "text/html");
    Trace trace{QStringLiteral("old request"), QStringLiteral("earlier\n\n"), 0.1};
    EXPECT_EQ(ask(&trace).failure, "OpenRouter sent a reply that is not JSON.");
    EXPECT_TRUE(trace.request.startsWith("model: anthropic/claude-haiku-5.5"));
    EXPECT_EQ(trace.reply, "earlier\n\n");
    EXPECT_DOUBLE_EQ(trace.cost, 0.1);

    server.reply(chatPath, 200, "");
    EXPECT_EQ(ask(nullptr).failure, "OpenRouter sent a reply that is not JSON.");
}

TEST_F(AnalystTest, AnswersWithoutAReadableObjectAreRefused)
{
    const QString contents[] = {
        QStringLiteral("I cannot help with that."),
        QStringLiteral("} first, then {"),
        QStringLiteral("{\"title\": \"cut short"),
        QStringLiteral("{\"a\": [1, 2}"),
        QStringLiteral("{} but then [1, 2] and {\"x\": }"),
    };
    for (const QString& content : contents) {
        server.reply(chatPath, 200, completion(content));
        EXPECT_EQ(ask(nullptr).failure, unreadable) << content.toStdString();
    }
    const QByteArray bodies[] = {
        R"({"id":"gen"})",
        R"({"choices":[]})",
        R"({"choices":{"message":{"content":"{}"}}})",
        R"({"choices":[{"message":{"content":null}}]})",
        R"({"choices":[{"message":"{}"}]})",
        R"([{"choices":[{"message":{"content":"{}"}}]}])",
        R"("just a string")",
    };
    for (const QByteArray& body : bodies) {
        server.reply(chatPath, 200, body);
        EXPECT_EQ(ask(nullptr).failure, unreadable) << body.toStdString();
    }
    // A good answer with a status other than 200 is still refused.
    server.reply(chatPath, 500, completion(QStringLiteral("{\"a\":1}")));
    EXPECT_EQ(ask(nullptr).failure, unreadable);
}

TEST_F(AnalystTest, HostileRepliesNeitherCrashNorPoisonTheCost)
{
    Trace trace;
    server.reply(chatPath, 200, R"({"choices":[{"message":{"content":"{}"}}],"usage":{"cost":"0.5"}})");
    EXPECT_TRUE(ask(&trace).answer);
    // A number too large for a double makes the body unreadable rather than infinite.
    server.reply(chatPath, 200, R"({"choices":[{"message":{"content":"{}"}}],"usage":{"cost":1e999}})");
    EXPECT_EQ(ask(&trace).failure, "OpenRouter sent a reply that is not JSON.");
    EXPECT_DOUBLE_EQ(trace.cost, 0);

    // Nesting deep enough to exhaust a recursive reader.
    const QByteArray deep = QByteArray(200000, '[') + QByteArray(200000, ']');
    server.reply(chatPath, 200, deep);
    EXPECT_EQ(ask(nullptr).failure, "OpenRouter sent a reply that is not JSON.");
    server.reply(chatPath, 200, completion(QString(100000, u'{') + QString(100000, u'}')));
    EXPECT_EQ(ask(nullptr).failure, unreadable);
}

TEST_F(AnalystTest, AnEmptyKeyInTheEnvironmentHidesTheStoredOne)
{
    QCoro::waitFor(Keychain::setKey(QStringLiteral("sk-or-stored")));
    qputenv("OPENROUTER_API_KEY", "");
    Trace trace;
    EXPECT_EQ(ask(&trace).failure, "Add your OpenRouter key in Settings to use the AI features.");
    EXPECT_TRUE(trace.request.startsWith("model: "));
    EXPECT_EQ(QCoro::waitFor(Analyst::checkKey()), "No key is saved.");
    EXPECT_TRUE(server.requests().empty());

    qunsetenv("OPENROUTER_API_KEY");
    EXPECT_EQ(QCoro::waitFor(Analyst::key()), QStringLiteral("sk-or-stored"));
}

TEST_F(AnalystTest, CancellingEndsARequestThatNeverGetsAnAnswer)
{
    server.hang(chatPath);
    const Cancel cancel = Cancel::make();
    QObject::connect(&server, &FakeServer::received, &server, [cancel] { cancel.cancel(); });
    // Should cancelling not work, dropping the connection keeps the test from waiting 900 s.
    QTimer::singleShot(10s, &server, [this] { server.close(); });
    QElapsedTimer clock;
    clock.start();
    const Outcome out = ask(nullptr, cancel);
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_EQ(out.failure, "The request was cancelled.");
    EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(AnalystTest, TheHttpClientTellsMissingAnswersFromStatuses)
{
    server.hang("/slow");
    Http::Request request;
    request.url = Analyst::endpoint(QStringLiteral("/slow"));
    request.timeout = 300ms;
    QElapsedTimer clock;
    clock.start();
    Http::Response response = QCoro::waitFor(Http::send(request));
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_EQ(response.transportError, QStringLiteral("The server did not answer in time."));
    EXPECT_FALSE(response.cancelled);

    server.reply("/big", 200, QByteArray(5000, 'x'), "text/plain");
    request.url = Analyst::endpoint(QStringLiteral("/big"));
    request.maxBody = 1000;
    response = QCoro::waitFor(Http::send(request));
    EXPECT_EQ(response.transportError, QStringLiteral("The server sent an answer too large to read."));

    // A status, whatever it is, is an answer.
    server.reply("/gone", 404, "nothing here", "text/plain");
    request.url = Analyst::endpoint(QStringLiteral("/gone"));
    response = QCoro::waitFor(Http::send(request));
    EXPECT_TRUE(response.reached());
    EXPECT_EQ(response.status, 404);
    EXPECT_EQ(response.body, "nothing here");

    request.headers = {{"Authorization", "Bearer a\r\nX-Injected: 1"}};
    response = QCoro::waitFor(Http::send(request));
    EXPECT_FALSE(response.reached());
    EXPECT_EQ(server.requests("/gone").size(), 1u);
}

TEST_F(AnalystTest, CheckingTheKeyWordsEveryOutcome)
{
    server.reply(keyPath, 200, R"({"data":{"label":"sk-or-v1-tes...","usage":0.254,"limit":10}})");
    EXPECT_EQ(QCoro::waitFor(Analyst::checkKey()), "The key works. Used $0.25 of $10.00.");
    ASSERT_EQ(server.requests().size(), 1u);
    const FakeServer::Request request = server.requests()[0];
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.path, keyPath);
    EXPECT_EQ(request.header("Authorization"), "Bearer sk-or-v1-test");
    EXPECT_FALSE(request.hasHeader("Content-Type"));

    server.reply(keyPath, 200, R"({"data":{"usage":"lots","limit":null}})");
    EXPECT_EQ(QCoro::waitFor(Analyst::checkKey()), "The key works. Used $0.00 of no limit.");

    const QString rejected = QStringLiteral(
        " OpenRouter rejected it. Copy the key again from https://openrouter.ai/keys and paste it in Settings.");
    qputenv("OPENROUTER_API_KEY", "abc\xC3\xA9");
    server.reply(keyPath, 401, R"({"error":{"message":"User not found."}})");
    EXPECT_EQ(QCoro::waitFor(Analyst::checkKey()),
              "The saved key is 4 characters and does not start with sk-or-, so it is probably not an "
              "OpenRouter API key." + rejected);

    qputenv("OPENROUTER_API_KEY", "sk-or-v1-test");
    const QString diagnosis = QStringLiteral("The saved key is 13 characters and starts with sk-or-, as it should.");
    for (const QByteArray& body : {QByteArray("<html>ok</html>"), QByteArray(R"({"data":[1]})")}) {
        server.reply(keyPath, 200, body);
        EXPECT_EQ(QCoro::waitFor(Analyst::checkKey()), diagnosis + rejected) << body.toStdString();
    }

    server.close();
    EXPECT_EQ(QCoro::waitFor(Analyst::checkKey()), diagnosis + " OpenRouter could not be reached.");
}

} // namespace
