#include "platform/Http.h"
#include "support/Await.h"
#include "support/FakeServer.h"

#include <gtest/gtest.h>

namespace {

FakeServer::Reply redirectTo(const QString& url)
{
    FakeServer::Reply reply;
    reply.status = 307;
    reply.headers = {{"Location", url.toUtf8()}};
    return reply;
}

// A redirect may move a request within the host it was sent to, never to another one:
// the key in its headers and its body stay with the host they were meant for.
TEST(HttpTest, RedirectsAreFollowedOnlyWithinTheSameHost)
{
    FakeServer gateway, elsewhere;
    gateway.reply("/moved", redirectTo(gateway.base() + "/here"));
    gateway.reply("/here", 200, R"({"ok":true})");
    gateway.reply("/away", redirectTo(elsewhere.base() + "/taken"));
    elsewhere.reply("/taken", 200, R"({"ok":true})");

    Http::Request request;
    request.method = "POST";
    request.headers = {{"Authorization", "Bearer sk-or-secret"}};
    request.body = "the prompt";

    request.url = QUrl(gateway.base() + "/moved");
    const Http::Response near = await(Http::send(request));
    EXPECT_EQ(near.status, 200);
    ASSERT_EQ(gateway.requests("/here").size(), 1u);
    EXPECT_EQ(gateway.requests("/here")[0].body, "the prompt");

    request.url = QUrl(gateway.base() + "/away");
    const Http::Response far = await(Http::send(request));
    EXPECT_EQ(far.transportError, "The server sent the request on to another address, which is not followed.");
    EXPECT_EQ(far.status, 0);
    EXPECT_TRUE(elsewhere.requests().empty());
}

} // namespace
