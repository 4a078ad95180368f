#include "platform/Http.h"
#include "support/Await.h"
#include "support/FakeServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <gtest/gtest.h>

namespace {

// Runs the event loop for a while, as the program does between a user's actions.
void settle(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
}

FakeServer::Reply redirectTo(const QString& url)
{
    FakeServer::Reply reply;
    reply.status = 307;
    reply.headers = {{"Location", url.toUtf8()}};
    return reply;
}

// A redirect may move a request within the host it was sent to, never to another one:
// the key in its headers and its body stay with the host they were meant for, and go
// only the way they were meant to (an https request sent on to http would carry the key
// in clear over the same host and port; the fake server speaks plain http, so the row
// moves the other way, which the same check refuses).
TEST(HttpTest, RedirectsAreFollowedOnlyWithinTheSameHost)
{
    FakeServer gateway, elsewhere;
    gateway.reply("/here", 200, R"({"ok":true})");
    elsewhere.reply("/taken", 200, R"({"ok":true})");
    QUrl otherHost(gateway.base() + "/here"), otherScheme = otherHost;
    otherHost.setHost(QStringLiteral("localhost")); // the same port, as every https host shares 443
    otherScheme.setScheme(QStringLiteral("https"));
    const struct {
        const char* name;
        QString target;
        bool followed;
    } rows[] = {
        {"the same host", gateway.base() + "/here", true},
        {"another host and port", elsewhere.base() + "/taken", false},
        {"another host on the same port", otherHost.toString(), false},
        {"another scheme on the same host and port", otherScheme.toString(), false},
    };
    int n = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const QByteArray path = "/moved" + QByteArray::number(++n);
        gateway.reply(path, redirectTo(row.target));
        const size_t before = gateway.requests().size();
        Http::Request request;
        request.method = "POST";
        request.headers = {{"Authorization", "Bearer sk-or-secret"}};
        request.body = "the prompt";
        request.url = QUrl(gateway.base() + path);
        const Http::Response response = await(Http::send(request));
        if (row.followed) {
            EXPECT_EQ(response.status, 200) << response.transportError.value_or(QString()).toStdString();
            ASSERT_EQ(gateway.requests().size(), before + 2);
            EXPECT_EQ(gateway.requests().back().path, "/here");
            EXPECT_EQ(gateway.requests().back().body, "the prompt");
        } else {
            EXPECT_EQ(response.transportError,
                      "The server sent the request on to another address, which is not followed.");
            EXPECT_EQ(response.status, 0);
            EXPECT_EQ(gateway.requests().size(), before + 1) << "only the first request reached it";
        }
    }
    EXPECT_TRUE(elsewhere.requests().empty());
}

// How a followed redirect repeats the request: 307 and 308 as it was, the others as a GET
// without the body; a loop ends with a sentence instead of running on.
TEST(HttpTest, ARedirectRepeatsOrFetchesByItsStatus)
{
    struct Case {
        int status;
        QByteArray method;
        QByteArray body;
    };
    const Case cases[] = {{307, "POST", "the prompt"}, {308, "POST", "the prompt"}, {303, "GET", ""}, {302, "GET", ""}};
    for (const Case& c : cases) {
        FakeServer server;
        FakeServer::Reply moved = redirectTo("/here"); // relative to the address asked
        moved.status = c.status;
        server.reply("/moved", moved);
        server.reply("/here", 200, R"({"ok":true})");
        Http::Request request;
        request.method = "POST";
        request.body = "the prompt";
        request.url = QUrl(server.base() + "/moved");
        EXPECT_EQ(await(Http::send(request)).status, 200) << c.status;
        ASSERT_EQ(server.requests("/here").size(), 1u) << c.status;
        EXPECT_EQ(server.requests("/here")[0].method, c.method) << c.status;
        EXPECT_EQ(server.requests("/here")[0].body, c.body) << c.status;
    }

    FakeServer loop;
    loop.reply("/loop", redirectTo(loop.base() + "/loop"));
    Http::Request request;
    request.url = QUrl(loop.base() + "/loop");
    const Http::Response response = await(Http::send(request));
    EXPECT_EQ(response.transportError, "The connection failed: the server sent the request on too many times.");
    EXPECT_EQ(loop.requests("/loop").size(), 10u);
}

// A cancelled request ends at once as cancelled, and its reply can reach nothing afterwards:
// not the finished coroutine (whose frame is gone), and not the server when the request had
// not gone out yet. Each case runs several times, as a late signal shows only now and then.
TEST(HttpTest, ACancelledRequestEndsAndReachesNothingAfterwards)
{
    struct Case {
        const char* name;
        bool beforeItLeaves; // cancelled before the event loop has turned
        bool answered;       // the server answers instead of hanging
    };
    const Case cases[] = {
        {"cancelled at once, server answering", true, true},
        {"cancelled at once, server hanging", true, false},
        {"cancelled while the server hangs", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (int round = 0; round < 3; ++round) {
            FakeServer server;
            if (c.answered)
                server.reply("/ask", 200, R"({"ok":true})");
            else
                server.hang("/ask");
            Http::Request request;
            request.method = "POST";
            request.url = QUrl(server.base() + "/ask");
            request.body = "the prompt";
            const Cancel cancel = Cancel::make();
            QCoro::Task<Http::Response> sent = Http::send(request, cancel);
            if (!c.beforeItLeaves)
                settle(60);
            cancel.cancel();
            const Http::Response response = await(std::move(sent));
            EXPECT_TRUE(response.cancelled);
            EXPECT_EQ(response.transportError, "The request was cancelled.");
            settle(60); // a late signal of the reply would land here
            if (c.beforeItLeaves) {
                EXPECT_TRUE(server.requests().empty()) << "a cancelled request went out";
            }
        }
    }
}

} // namespace
