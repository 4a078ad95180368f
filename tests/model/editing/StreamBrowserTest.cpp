#include "model/editing/StreamBrowser.h"
#include "model/lifecycle/LifecycleTesting.h"

#include <QThread>
#include <cmath>

namespace {

using lifecycle::LifecycleTest;
using lifecycle::waitUntil;

struct Browser {
    FakePlayer* player = new FakePlayer;
    StreamBrowser browser{std::unique_ptr<Player>(player)};
    explicit Browser(double duration) { browser.load(QStringLiteral("/s.mp4"), duration); }
};

TEST(StreamBrowserTest, LoadingSetsLengthAndSpan)
{
    for (const auto& [length, duration, span] : std::vector<std::tuple<double, double, double>>{
             {100, 100, 100}, {0, 1, 1}, {10800, 10800, 240}, {INFINITY, 1, 1}, {NAN, 1, 1}}) {
        Browser b(length);
        EXPECT_EQ(b.browser.duration(), duration);
        EXPECT_EQ(b.browser.viewSpan(), span);
    }
    // Before any recording the view spans the whole (least) length, as after unloading.
    const StreamBrowser fresh{std::make_unique<FakePlayer>()};
    EXPECT_EQ(fresh.viewSpan(), fresh.duration());
    // Loading the recording already loaded keeps the user's place; none empties the player.
    Browser b(3600);
    EXPECT_EQ(b.player->current, "/s.mp4");
    EXPECT_DOUBLE_EQ(b.player->interval, 0.05);
    b.browser.scroll(500);
    b.browser.mark(Edge::start);
    b.browser.load(QStringLiteral("/s.mp4"), 20);
    EXPECT_TRUE(b.browser.viewStart() == 500 && b.browser.duration() == 3600 && b.browser.range());
    b.browser.load(std::nullopt, 1);
    EXPECT_EQ(b.player->current, std::nullopt);
    EXPECT_TRUE(!b.browser.range() && b.browser.viewSpan() == 1);
}

TEST(StreamBrowserTest, ScrollShowAndZoomKeepTheViewInBounds)
{
    struct Row {
        double duration;
        std::function<void(StreamBrowser&)> act;
        double viewStart, viewSpan;
    };
    const std::vector<Row> table{
        {3600, [](StreamBrowser& b) { b.scroll(3500); }, 3360, 240},
        {3600, [](StreamBrowser& b) { b.scroll(-20); }, 0, 240},
        {100, [](StreamBrowser& b) { b.scroll(50); }, 0, 100},
        {3600, [](StreamBrowser& b) { b.show(1000, std::nullopt); }, 880, 240},
        {3600, [](StreamBrowser& b) { b.show(1000, TimeRange{990, 1000}); }, 980, 30},
        {3600, [](StreamBrowser& b) { b.show(1000, TimeRange{1000, 1100}); }, 900, 300},
        {3600, [](StreamBrowser& b) { b.show(3590, std::nullopt); }, 3360, 240},
        {3600, [](StreamBrowser& b) { b.zoom(2, 100); }, 100 - 5 * 100 / 240.0, 5},
        {3600, [](StreamBrowser& b) { b.zoom(120, 60); }, 30, 120},
        {100, [](StreamBrowser& b) { b.zoom(500, 60); }, 0, 100},
    };
    for (size_t i = 0; i < table.size(); ++i) {
        Browser b(table[i].duration);
        table[i].act(b.browser);
        EXPECT_DOUBLE_EQ(b.browser.viewStart(), table[i].viewStart) << "row " << i;
        EXPECT_DOUBLE_EQ(b.browser.viewSpan(), table[i].viewSpan) << "row " << i;
    }
    Browser b(3600);
    b.player->play();
    b.browser.show(1000, TimeRange{990, 1000});
    EXPECT_EQ(b.player->calls.mid(2), (QStringList{"pause", "seek 1000"}));
    EXPECT_EQ(b.browser.time(), 1000);
    b.browser.seek(4000);
    EXPECT_EQ(b.browser.time(), 3600);
    EXPECT_EQ(b.player->position, 3600);
}

TEST(StreamBrowserTest, ReportsMoveThePlayheadAndFollowThePageOnlyWhilePlaying)
{
    Browser b(3600);
    b.player->report(240.05); // paused
    EXPECT_TRUE(b.browser.time() == 240.05 && b.browser.viewStart() == 0);
    b.player->play();
    b.browser.dragging = true;
    b.player->report(240.05);
    EXPECT_EQ(b.browser.viewStart(), 0);
    b.browser.dragging = false;
    b.player->report(240.05);
    EXPECT_TRUE(b.browser.playing());
    EXPECT_DOUBLE_EQ(b.browser.viewStart(), 228.05);
    b.player->report(std::nan(""));
    EXPECT_EQ(b.browser.time(), 240.05);
}

// Players that report a seek from within the call, as the real one does, and that
// never report one that has not landed.
struct EchoPlayer : FakePlayer {
    void seek(double s) override
    {
        FakePlayer::seek(s);
        report(s);
    }
};
struct MutePlayer : FakePlayer {
    void seek(double s) override { calls << QStringLiteral("seek %1").arg(s); }
};

using PlayerKinds = std::vector<std::pair<const char*, std::function<FakePlayer*()>>>;

// Players that tell of a seek in each of the ways the real ones do.
PlayerKinds reportingPlayers()
{
    return {
        {"reports within the call", [] { return new EchoPlayer; }},
        {"lands 50 ms later", [] {
             auto* p = new FakePlayer;
             p->seekDelay = 0.05;
             return p;
         }},
        {"never reports", [] { return new MutePlayer; }},
    };
}

TEST(StreamBrowserTest, OneSeekAtATimeAndTheNewestWins)
{
    for (const auto& [what, make] : reportingPlayers()) {
        FakePlayer* player = make();
        StreamBrowser browser{std::unique_ptr<Player>(player)};
        browser.load(QStringLiteral("/s.mp4"), 100);
        for (double t : {10, 20, 30})
            browser.seek(t);
        EXPECT_EQ(browser.time(), 30) << what; // the playhead goes at once
        EXPECT_TRUE(waitUntil([&] { return player->calls.last() == "seek 30"; }, 2000)) << what;
        lifecycle::settle(100); // the report of 10 (or the one of 30) comes in
        EXPECT_EQ(player->calls.mid(1), (QStringList{"seek 10", "seek 30"})) << what;
        EXPECT_EQ(browser.time(), 30) << what;
    }
    // A player that stands at the time at once takes every seek as it comes.
    Browser b(100);
    b.browser.seek(10);
    b.browser.seek(20);
    EXPECT_EQ(b.player->calls.mid(1), (QStringList{"seek 10", "seek 20"}));
}

// The real player's seek call blocks until the frame is decoded (0.1-0.5 s on a recording
// with key frames seconds apart): a drag must not wait on it for every move.
struct BlockingPlayer : EchoPlayer {
    void seek(double s) override
    {
        QThread::msleep(40);
        EchoPlayer::seek(s);
    }
};

TEST(StreamBrowserTest, ASlowSeekNeverHoldsTheCallThatAsksForANewTime)
{
    auto* player = new BlockingPlayer;
    StreamBrowser browser{std::unique_ptr<Player>(player)};
    browser.load(QStringLiteral("/s.mp4"), 100);
    browser.seek(10); // the first is sent at once: nothing says yet that seeks are slow
    lifecycle::settle(150);
    ASSERT_EQ(player->calls.mid(1), QStringList{"seek 10"});
    for (double t : {20, 30, 40})
        browser.seek(t);
    EXPECT_EQ(player->calls.mid(1), QStringList{"seek 10"}); // none of the three waited for the player
    EXPECT_EQ(browser.time(), 40);
    EXPECT_TRUE(waitUntil([&] { return player->calls.last() == "seek 40"; }, 2000));
    lifecycle::settle(150);
    EXPECT_EQ(player->calls.mid(1), (QStringList{"seek 10", "seek 40"}));
    EXPECT_EQ(browser.time(), 40);
}

// A player that reports the asked time from within its seek call, as the real one does,
// and says the seek has landed only when told to.
struct LandingPlayer : EchoPlayer {
    bool tellsLanding() const override { return true; }
    void land() { Q_EMIT landed(); }
};

// The calls the player took after it was given `path`.
QStringList callsAfter(const FakePlayer& player, const QString& path)
{
    const qsizetype at = player.calls.lastIndexOf(QStringLiteral("source ") + path);
    return at < 0 ? QStringList{} : player.calls.mid(at + 1);
}

TEST(StreamBrowserTest, ANewRecordingTakesItsFirstSeekAtOnceAndNothingOfTheOldOne)
{
    PlayerKinds players = reportingPlayers();
    players.push_back({"tells its landing, which never comes", [] { return new LandingPlayer; }});
    players.push_back({"holds the call", [] { return new BlockingPlayer; }});
    for (const auto& [what, make] : players) {
        FakePlayer* player = make();
        StreamBrowser browser{std::unique_ptr<Player>(player)};
        browser.load(QStringLiteral("/a.mp4"), 100);
        browser.seek(10);
        browser.seek(20); // waits for the one on its way
        browser.load(QStringLiteral("/b.mp4"), 100);
        browser.seek(5);
        EXPECT_EQ(callsAfter(*player, "/b.mp4"), QStringList{"seek 5"}) << what;
        lifecycle::settle(150);
        EXPECT_EQ(callsAfter(*player, "/b.mp4"), QStringList{"seek 5"}) << what << ": a seek of the old one went";
        EXPECT_EQ(browser.time(), 5) << what;
    }
}

TEST(StreamBrowserTest, AnOlderSeeksReportLeavesThePlayheadAtTheNewerTimeWaiting)
{
    const std::vector<std::pair<const char*, std::function<FakePlayer*()>>> players{
        {"its report is its landing", [] { return new MutePlayer; }},
        {"tells its landing apart", [] { return new LandingPlayer; }},
    };
    for (const auto& [what, make] : players) {
        FakePlayer* player = make();
        StreamBrowser browser{std::unique_ptr<Player>(player)};
        browser.load(QStringLiteral("/s.mp4"), 100);
        browser.seek(10);
        browser.seek(30); // waits
        std::vector<double> shown;
        QObject::connect(&browser, &StreamBrowser::timeChanged, &browser,
                         [&shown, &browser] { shown.push_back(browser.time()); });
        player->report(10); // the first seek's picture, or a report of where it stands
        EXPECT_EQ(browser.time(), 30) << what;
        EXPECT_EQ(shown, std::vector<double>{}) << what;
        if (auto* landing = dynamic_cast<LandingPlayer*>(player))
            landing->land();
        EXPECT_EQ(player->calls.mid(1), (QStringList{"seek 10", "seek 30"})) << what;
        EXPECT_EQ(browser.time(), 30) << what;
    }
}

TEST(StreamBrowserTest, MarkingKeepsTheRangeOrderedAndInsideTheRecording)
{
    // Length 100; the player may report beyond it or before 0.
    const std::vector<std::tuple<std::optional<TimeRange>, double, Edge, TimeRange>> table{
        {std::nullopt, 0.4, Edge::end, {0, 0.4}},
        {std::nullopt, 99.7, Edge::start, {99.7, 100}},
        {std::nullopt, 50, Edge::start, {50, 51}},
        {TimeRange{10, 20}, 25, Edge::start, {25, 26}},
        {TimeRange{10, 20}, 5, Edge::end, {4, 5}},
        {TimeRange{10, 20}, 15, Edge::start, {15, 20}},
        {TimeRange{10, 20}, 130, Edge::start, {100, 100}},
        {std::nullopt, -3, Edge::end, {0, 0}},
    };
    for (const auto& [range, playhead, edge, expected] : table) {
        Browser b(100);
        b.browser.show(50, range);
        b.player->report(playhead);
        b.browser.mark(edge);
        EXPECT_EQ(b.browser.range(), expected) << playhead;
    }
}

// Starting work on a recording points the browser, the waveform and the stills at it;
// closing unloads the browser and the waveform but keeps the stills.
TEST_F(LifecycleTest, StartAndCloseSetUpTheViewModels)
{
    auto model = makeModel();
    const QString package = openPackage(*model, "Stream");
    auto& player = static_cast<FakePlayer&>(model->browser().player());
    EXPECT_EQ(player.current, model->video());
    EXPECT_NEAR(model->browser().viewSpan(), 6, 0.1);
    EXPECT_EQ(model->waves().video(), model->video());
    EXPECT_EQ(model->waves().cache(), package + "/cache/waves");
    model->frames().load(2);
    ASSERT_TRUE(waitUntil([&] { return model->frames().images().contains(2); }));
    EXPECT_TRUE(waitUntil([&] { return QFileInfo::exists(package + "/cache/frames/2.jpg"); }));

    model->close();
    EXPECT_TRUE(!player.current && model->browser().duration() == 1);
    EXPECT_TRUE(!model->waves().video() && !model->waves().cache());
    EXPECT_TRUE(model->frames().images().contains(2));
}

} // namespace
