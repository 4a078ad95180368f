// Every Play is heard, and the sound goes on through every seek while playing: the sound is
// read back from the null sink's monitor, since a sound stream can be open and silent. How
// soon it is heard is a figure of the playback benchmark, as a busy machine stretches it.

#include "PlayingTesting.h"

#include "model/editing/StreamBrowser.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

using namespace playing;

namespace {

TEST(SoundTest, EveryPlayIsHeard)
{
    NullSink output;
    if (!output.ready())
        GTEST_SKIP() << "no sound server to give an output";
    Monitor monitor;
    ASSERT_TRUE(monitor.running());
    const QString clip = numberedClip();
    ASSERT_FALSE(clip.isEmpty());
    // As a recording with key frames 8 s apart, so that a seek decodes for a while.
    const QString sparse = toneClip(240);
    ASSERT_FALSE(sparse.isEmpty());
    auto* streamPlayer = Player::makeDefault().release();
    StreamBrowser browser{std::unique_ptr<Player>(streamPlayer)};
    std::unique_ptr<Player> main = Player::makeDefault();
    Watch watch(*main);
    Watch inWindow(*streamPlayer);
    // What comes before each Play, in the order a user might do it.
    const std::vector<std::pair<const char*, std::function<void()>>> table{
        {"the first Play after a recording is shown at a time",
         [&] {
             main->setSource(clip);
             main->seek(2.0);
             ASSERT_TRUE(watch.shows(60));
         }},
        {"a paused seek backwards", [&] { main->seek(1.0); ASSERT_TRUE(watch.shows(30)); }},
        {"a paused seek forwards", [&] { main->seek(5.0); ASSERT_TRUE(watch.shows(150)); }},
        {"a pause", [] {}},
        {"a Short shown", [&] {
             main->setShort(clip, {{4.0, 5.5}, {1.0, 2.5}});
             main->seek(0.2);
             ASSERT_TRUE(watch.shows(126));
         }},
        {"a seek in the Short", [&] { main->seek(1.7); ASSERT_TRUE(watch.shows(36)); }},
        {"the stream window shown at a time",
         [&] {
             main->setSource(std::nullopt);
             browser.load(clip, 10);
             browser.show(6.0, std::nullopt);
             ASSERT_TRUE(inWindow.shows(180));
         }},
        {"a seek in the stream window", [&] { browser.seek(3.0); ASSERT_TRUE(inWindow.shows(90)); }},
        {"a recording with key frames 8 s apart shown at a time",
         [&] {
             browser.load(std::nullopt, 1);
             main->setSource(sparse);
             main->seek(7.5);
             settle(1500);
         }},
        {"a paused seek far from a key frame", [&] { main->seek(15.9); settle(1500); }},
    };
    for (std::size_t row = 0; row < table.size(); ++row) {
        const auto& [before, prepare] = table[row];
        prepare();
        settle(400);
        Player& player = main->source() ? *main : *streamPlayer;
        const qsizetype from = monitor.now();
        player.play();
        // Listening for a while, as a user who pressed Play waits to hear something: on a
        // recording with key frames 8 s apart the picture is decoded again from its key frame
        // first, which took 2-3 s beside other work.
        const auto heard = monitor.heard(from, 10.0);
        EXPECT_TRUE(heard.has_value()) << "after " << before << ": never heard";
        player.pause();
        settle(200);
    }
}

// While playing, every seek is followed by sound that then goes on without a break, on
// recordings with key frames 1 s and 8 s apart.
TEST(SoundTest, EverySeekWhilePlayingIsHeard)
{
    NullSink output;
    if (!output.ready())
        GTEST_SKIP() << "no sound server to give an output";
    Monitor monitor;
    ASSERT_TRUE(monitor.running());
    for (const int keyEvery : {30, 240}) {
        SCOPED_TRACE(keyEvery);
        const QString clip = toneClip(keyEvery);
        ASSERT_FALSE(clip.isEmpty());
        std::unique_ptr<Player> player = Player::makeDefault();
        player->setSource(clip);
        player->seek(1.0);
        settle(300);
        player->play();
        ASSERT_TRUE(monitor.heard(monitor.now(), 10.0).has_value());
        for (const double to : {12.0, 3.0, 17.5, 8.2}) {
            settle(700);
            const qsizetype from = monitor.now();
            player->seek(to);
            // What was on its way before the seek is over by then.
            const auto heard = monitor.heard(from + Monitor::rate * 3 / 10, 10.0);
            ASSERT_TRUE(heard.has_value()) << "never heard after the seek to " << to;
            const qsizetype back = from + Monitor::rate * 3 / 10 + qsizetype(*heard * Monitor::rate);
            EXPECT_EQ(quietTenths(monitor, back, 0.5), std::vector<double>()) << "after the seek to " << to;
        }
        player->pause();
    }
}

} // namespace

// What the user hears follows Pause and the volume: nothing after a Pause, and Play goes on
// from where it paused; nothing at volume 0 from the first Play on, and sound once it is
// turned up.
TEST(SoundTest, PauseAndTheVolumeAreHeard)
{
    NullSink output;
    if (!output.ready())
        GTEST_SKIP() << "no sound server to give an output";
    Monitor monitor;
    ASSERT_TRUE(monitor.running());
    const QString clip = toneClip(30);
    ASSERT_FALSE(clip.isEmpty());
    std::unique_ptr<Player> player = Player::makeDefault();
    player->setSource(clip);
    player->seek(1.0);
    settle(300);
    player->setVolume(0);
    player->play();
    ASSERT_TRUE(waitUntil([&] { return player->time() > 1.5; }, patience));
    EXPECT_LE(monitor.peak(monitor.now(), 1.0), 0.03) << "heard at volume 0";
    player->setVolume(1);
    EXPECT_TRUE(monitor.heard(monitor.now(), 10.0).has_value()) << "never heard once turned up";

    player->pause();
    const double paused = player->time();
    // (What the monitor itself holds back passes first.)
    const qsizetype quiet = monitor.now() + Monitor::rate * 5 / 100;
    EXPECT_LE(monitor.peak(quiet, 0.5), 0.03) << "heard after Pause";
    player->play();
    EXPECT_LT(player->time() - paused, 0.05) << "Play went on from " << player->time() << ", paused at " << paused;
    EXPECT_TRUE(monitor.heard(monitor.now(), 10.0).has_value());
    player->pause();
}

namespace {

// Ends the program with a sentence when a step never returns: a hang fails the test rather
// than the whole run.
class Watchdog {
public:
    explicit Watchdog(int seconds)
        : thread([this, seconds] {
              std::unique_lock guard(lock);
              if (!done.wait_for(guard, std::chrono::seconds(seconds), [this] { return over; })) {
                  std::fprintf(stderr, "A step with the sound output changing never returned.\n");
                  std::abort();
              }
          })
    {
    }
    ~Watchdog()
    {
        {
            std::lock_guard guard(lock);
            over = true;
        }
        done.notify_all();
        thread.join();
    }

private:
    std::mutex lock;
    std::condition_variable done;
    bool over = false;
    std::thread thread;
};

} // namespace

// The world around the player changes while it plays: an output goes, another becomes the
// default, the stream is moved, the sound server restarts, an output appears. Each time the
// picture plays on, Pause, seek and Play return, and the next Play is heard on the output
// that is the default then.
TEST(SoundTest, TheSoundFollowsTheOutputsAsTheyChange)
{
    auto* server = sound::SoundlessServer::instance();
    if (!server || !server->running())
        GTEST_SKIP() << "no sound server to give an output";
    const QString clip = toneClip(30);
    ASSERT_FALSE(clip.isEmpty());
    using Sinks = std::vector<std::unique_ptr<NullSink>>;
    struct Row {
        const char* change;
        int sinksBefore; // outputs when Play is pressed (the first the default)
        // Changes the outputs while playing; the name of the output the next Play must be
        // heard on (made by then).
        std::function<QString(Sinks&)> change_;
    };
    const auto add = [](Sinks& sinks, const QString& name) {
        sinks.push_back(std::make_unique<NullSink>(name));
        sinks.back()->makeDefault();
        return name;
    };
    const std::vector<Row> table{
        {"the only output goes", 1,
         [&](Sinks& sinks) {
             sinks[0]->unload();
             settle(1500); // plays on without sound a while
             return add(sinks, QStringLiteral("plugged"));
         }},
        {"the playing output goes and another is the default", 2,
         [](Sinks& sinks) {
             sinks[0]->unload();
             sinks[1]->makeDefault();
             return sinks[1]->name;
         }},
        {"the stream moves to another output, made the default", 2,
         [](Sinks& sinks) {
             const auto inputs = pactl({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sink-inputs")});
             for (const QString& line : inputs.value_or(QString()).split(u'\n', Qt::SkipEmptyParts))
                 pactl({QStringLiteral("move-sink-input"), line.section(u'\t', 0, 0), sinks[1]->name});
             sinks[1]->makeDefault();
             return sinks[1]->name;
         }},
        {"the sound server restarts", 1,
         [&](Sinks& sinks) {
             auto* server = sound::SoundlessServer::instance();
             server->stop();
             for (auto& sink : sinks)
                 sink->unload(); // (gone with the server)
             settle(1500);
             server->start();
             return add(sinks, QStringLiteral("again"));
         }},
        {"an output appears after the player found none", 0,
         [&](Sinks& sinks) { return add(sinks, QStringLiteral("later")); }},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.change);
        Sinks sinks;
        for (int k = 0; k < row.sinksBefore; ++k)
            add(sinks, QStringLiteral("out%1").arg(k));
        if (row.sinksBefore > 0)
            sinks[0]->makeDefault();
        std::unique_ptr<Player> player = Player::makeDefault();
        player->setSource(clip);
        player->seek(1.0);
        settle(400);
        std::optional<QString> heardOn;
        {
            Watchdog watchdog(60);
            player->play();
            settle(700);
            const double before = player->time();
            heardOn = row.change_(sinks);
            // The picture goes on, by the clock it had.
            EXPECT_TRUE(waitUntil([&] { return player->time() > before + 1.0; }, patience))
                << "the clock stands at " << player->time();
            player->pause();
            player->seek(6.0);
            settle(300);
            Monitor monitor(*heardOn);
            ASSERT_TRUE(monitor.running()) << heardOn->toStdString();
            const qsizetype from = monitor.now();
            player->play();
            const auto heard = monitor.heard(from, 10.0);
            EXPECT_TRUE(heard.has_value()) << "the next Play is never heard on " << heardOn->toStdString();
            if (heard) {
                const qsizetype start = from + qsizetype(*heard * Monitor::rate);
                EXPECT_EQ(quietTenths(monitor, start, 1.0), std::vector<double>()) << "then on";
            }
            player->pause();
        }
    }
}
