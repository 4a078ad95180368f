#include "platform/Ending.h"
#include "platform/Http.h"
#include "platform/TaskHandle.h"
#include "support/EventLoop.h"
#include "support/FakeServer.h"

#include <QCoro/QCoroTimer>
#include <QElapsedTimer>
#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace {

TEST(TaskHandleTest, StartsAfterTheCallerAndCanBeAwaited)
{
    QStringList steps;
    const TaskHandle handle = TaskHandle::start([&steps](Cancel) -> QCoro::Task<> {
        steps << "work begins";
        co_await QCoro::sleepFor(std::chrono::milliseconds(5));
        steps << "work ends";
    });
    steps << "caller goes on";
    EXPECT_FALSE(handle.finished());
    QCoro::waitFor(handle.done());
    EXPECT_TRUE(handle.finished());
    EXPECT_EQ(steps, (QStringList{"caller goes on", "work begins", "work ends"}));
    QCoro::waitFor(handle.done()); // a finished task resumes its waiter at once
}

TEST(TaskHandleTest, CancelIsSeenBetweenStepsAndFailuresStayInside)
{
    int steps = 0;
    const TaskHandle handle = TaskHandle::start([&steps](Cancel cancel) -> QCoro::Task<> {
        for (int i = 0; i < 100 && !cancel.cancelled(); ++i) {
            ++steps;
            co_await QCoro::sleepFor(std::chrono::milliseconds(2));
        }
        throw std::runtime_error("nobody to report to");
    });
    QCoro::waitFor(QCoro::sleepFor(std::chrono::milliseconds(20)));
    handle.cancel();
    EXPECT_TRUE(handle.cancelled());
    QCoro::waitFor(handle.done());
    EXPECT_GT(steps, 0);
    EXPECT_LT(steps, 100);
}

TEST(TaskHandleTest, CancellingAbortsARequestInFlight)
{
    FakeServer server;
    server.hang("/slow");
    std::optional<Http::Response> response;
    const TaskHandle handle = TaskHandle::start([&](Cancel cancel) -> QCoro::Task<> {
        Http::Request request;
        request.url = QUrl(server.base() + "/slow");
        request.timeout = std::chrono::seconds(60);
        response = co_await Http::send(request, cancel);
    });
    QCoro::waitFor(QCoro::sleepFor(std::chrono::milliseconds(50)));
    QElapsedTimer clock;
    clock.start();
    handle.cancel();
    QCoro::waitFor(handle.done());
    EXPECT_LT(clock.elapsed(), 5000);
    ASSERT_TRUE(response.has_value());
    EXPECT_TRUE(response->cancelled);
    EXPECT_FALSE(response->reached());
}

} // namespace

// A callback may end work that forgets its own callback or another's: a forgotten one never
// runs (it would reach a frame that is gone), the others each run once.
TEST(TaskHandleTest, CancelRunsNoCallbackForgottenMeanwhile)
{
    const Cancel token = Cancel::make();
    std::vector<int> ran;
    int second = 0;
    token.onCancel([&] {
        ran.push_back(1);
        token.forget(second);
    });
    second = token.onCancel([&] { ran.push_back(2); });
    token.onCancel([&] { ran.push_back(3); });
    token.cancel();
    token.cancel();
    EXPECT_EQ(ran, (std::vector<int>{1, 3}));
}

namespace {

// The program's end waits for a write under way on another thread.
TEST(EndingTest, TheEndWaitsForWritesUnderWay)
{
    QObject context;
    QStringList steps;
    std::mutex gate;
    std::unique_lock closed(gate);
    std::atomic<bool> writing = false;
    std::thread writer([&] {
        const Ending::Hold hold;
        writing = true;
        const std::lock_guard wait(gate); // the write lasts until the test lets it end
        steps << "written";
    });
    while (!writing)
        std::this_thread::yield();
    EXPECT_EQ(Ending::held(), 1);
    Ending::afterWrites(&context, [&steps] { steps << "end"; }, std::chrono::hours(1));
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();
    EXPECT_TRUE(steps.isEmpty()) << "the end came while a write was under way";
    closed.unlock();
    writer.join();
    ASSERT_TRUE(events::until([&] { return steps.contains("end"); }));
    EXPECT_EQ(steps, (QStringList{"written", "end"}));
    EXPECT_EQ(Ending::held(), 0);
}

// A write that never ends (a key store waiting on a person) holds the end back only for
// the patience given; an end whose context is gone meanwhile does nothing.
TEST(EndingTest, PatienceEndsTheWaitAndAGoneContextCallsNothing)
{
    bool ended = false;
    {
        const Ending::Hold stuck;
        QObject context;
        Ending::afterWrites(&context, [&ended] { ended = true; }, std::chrono::milliseconds(0));
        EXPECT_TRUE(events::until([&] { return ended; }));
    }
    ended = false;
    {
        auto context = std::make_unique<QObject>();
        Ending::afterWrites(context.get(), [&ended] { ended = true; }, std::chrono::milliseconds(0));
        context.reset();
    }
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();
    EXPECT_FALSE(ended);
}

} // namespace
