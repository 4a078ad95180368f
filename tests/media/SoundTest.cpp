// Every Play is heard, and the sound goes on through every seek while playing: the sound is
// read back from the null sink's monitor, since a sound stream can be open and silent. How
// soon it is heard is a figure of the playback benchmark, as a busy machine stretches it.

#include "PlayingTesting.h"

#include "model/editing/StreamBrowser.h"
#include "platform/media/SoundOutput.h"

#include <QScopeGuard>
#include <QTemporaryDir>

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

// Where the pictures outlast the sound, the clock plays on past the sound's end, also after a
// Pause there.
TEST(SoundTest, PastTheSoundsEndThePicturesPlayOn)
{
    NullSink output;
    if (!output.ready())
        GTEST_SKIP() << "no sound server to give an output";
    QTemporaryDir folder;
    const QString clip = folder.path() + QStringLiteral("/short-sound.mkv");
    ASSERT_TRUE(Clips::ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=320x180:rate=30:duration=6", "-f", "lavfi", "-i",
                               "sine=frequency=440:sample_rate=48000:duration=2", "-c:v", "libx264", "-preset",
                               "ultrafast", "-c:a", "aac", clip}));
    std::unique_ptr<Player> player = Player::makeDefault();
    player->setSource(clip);
    player->seek(1.0);
    settle(300);
    ClockLog log(*player);
    player->play();
    ASSERT_TRUE(waitUntil([&] { return player->time() > 3.0; }, patience)) << player->time();
    player->pause();
    const double paused = player->time();
    settle(300);
    player->play();
    EXPECT_TRUE(waitUntil([&] { return player->time() > paused + 1.0; }, patience)) << "the clock stands at " << player->time();
    EXPECT_EQ(log.fault(), std::nullopt);
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
// default, the stream is moved, the output is suspended, the sound server restarts, an output
// appears. Each time the picture plays on by a clock that neither goes back nor gets ahead of
// the time passed, Pause, seek and Play return, and the next Play is heard on the output that
// is the default then, also without a seek.
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
        bool whilePaused; // changed after the Pause rather than while playing
        bool seek;        // a seek comes before the next Play
        // Changes the outputs; the name of the output the next Play must be heard on (made by
        // then). Given the clock's log, to check it meanwhile.
        std::function<QString(Sinks&, const ClockLog&)> change_;
        // The next Play moves at once, though the output renders far ahead until a stream asks
        // it not to (nobody recorded from it meanwhile, and now a program does at 1000 ms).
        bool atOnce = false;
    };
    std::optional<QString> suspending; // the server's module that suspends idle outputs, once loaded
    const auto unload = qScopeGuard([&] {
        if (suspending)
            pactl({QStringLiteral("unload-module"), suspending->trimmed()});
    });
    const auto add = [](Sinks& sinks, const QString& name) {
        sinks.push_back(std::make_unique<NullSink>(name));
        sinks.back()->makeDefault();
        return name;
    };
    const auto restart = [&](Sinks& sinks) {
        auto* server = sound::SoundlessServer::instance();
        server->stop();
        for (auto& sink : sinks)
            sink->unload(); // (gone with the server)
        settle(1500);
        server->start();
        return add(sinks, QStringLiteral("again"));
    };
    // While playing on, the second output is heard without a break.
    const auto heardOnTheOther = [](Sinks& sinks, const std::function<void()>& change) {
        Monitor other(sinks[1]->name);
        const qsizetype from = other.now();
        change();
        const auto heard = other.heard(from, 5.0);
        EXPECT_TRUE(heard.has_value()) << "not heard on the other output while playing";
        if (heard) {
            EXPECT_EQ(quietTenths(other, from + qsizetype(*heard * Monitor::rate), 1.0), std::vector<double>());
        }
        return sinks[1]->name;
    };
    const std::vector<Row> table{
        {"the only output goes", 1, false, true,
         [&](Sinks& sinks, const ClockLog&) {
             sinks[0]->unload();
             settle(1500); // plays on without sound a while
             return add(sinks, QStringLiteral("plugged"));
         }},
        {"the playing output goes and another is the default", 2, false, true,
         [&](Sinks& sinks, const ClockLog&) {
             return heardOnTheOther(sinks, [&] {
                 sinks[1]->makeDefault();
                 sinks[0]->unload();
             });
         }},
        {"the stream moves to another output, made the default", 2, false, true,
         [&](Sinks& sinks, const ClockLog&) {
             return heardOnTheOther(sinks, [&] {
                 const auto inputs = pactl({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sink-inputs")});
                 for (const QString& line : inputs.value_or(QString()).split(u'\n', Qt::SkipEmptyParts))
                     pactl({QStringLiteral("move-sink-input"), line.section(u'\t', 0, 0), sinks[1]->name});
                 sinks[1]->makeDefault();
             });
         }},
        {"the output is suspended, then taken up again", 1, false, false,
         [](Sinks& sinks, const ClockLog& log) {
             pactl({QStringLiteral("suspend-sink"), sinks[0]->name, QStringLiteral("1")});
             const double at = log.now();
             settle(3500);
             // An output that takes nothing holds the picture only for a moment.
             EXPECT_GT(log.moved(at + 2.5, at + 3.5), 0.5) << "the picture stands on a suspended output";
             pactl({QStringLiteral("suspend-sink"), sinks[0]->name, QStringLiteral("0")});
             return sinks[0]->name;
         }},
        {"the sound server restarts", 1, false, true, [&](Sinks& sinks, const ClockLog&) { return restart(sinks); }},
        {"the sound server goes while playing and comes back; Play with no seek", 1, false, false,
         [&](Sinks& sinks, const ClockLog&) { return restart(sinks); }},
        {"the sound server restarts while paused", 1, true, false,
         [&](Sinks& sinks, const ClockLog&) {
             const QString name = restart(sinks);
             sinks.back()->stopRecording();
             settle(3000); // (a sink just made renders seconds ahead: no stream moves before)
             return name;
         },
         true},
        {"an output appears after the player found none", 0, false, true,
         [&](Sinks& sinks, const ClockLog&) { return add(sinks, QStringLiteral("later")); }},
        {"the output suspends on its own while paused", 1, true, false,
         [&](Sinks& sinks, const ClockLog&) {
             // A desktop suspends an output nobody plays to after a few seconds (PipeWire's
             // session manager does so after 5 s; PulseAudio once told to): a paused player's
             // stream does not keep it awake.
             sinks[0]->stopRecording();
             if (!sound::SoundlessServer::pipewire() && !suspending)
                 suspending = pactl({QStringLiteral("load-module"), QStringLiteral("module-suspend-on-idle"),
                                     QStringLiteral("timeout=1")});
             EXPECT_TRUE(sound::until([&] { return sound::sinkState(sinks[0]->name) == QStringLiteral("SUSPENDED"); }, 10000))
                 << "the output never suspended";
             return sinks[0]->name;
         },
         true},
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
            ClockLog log(*player);
            player->play();
            settle(700);
            if (!row.whilePaused) {
                const double before = player->time();
                heardOn = row.change_(sinks, log);
                // The picture goes on, by the clock it had.
                EXPECT_TRUE(waitUntil([&] { return player->time() > before + 1.0; }, patience))
                    << "the clock stands at " << player->time();
            }
            player->pause();
            if (row.whilePaused)
                heardOn = row.change_(sinks, log);
            if (row.seek) {
                EXPECT_EQ(log.fault(), std::nullopt);
                player->seek(6.0);
            }
            settle(300);
            Monitor monitor(*heardOn, row.atOnce ? 1000 : 10);
            ASSERT_TRUE(monitor.running()) << heardOn->toStdString();
            const qsizetype from = monitor.now();
            const double paused = player->time();
            const double pressed = log.now();
            player->play();
            const auto heard = monitor.heard(from, 10.0);
            EXPECT_TRUE(heard.has_value()) << "the next Play is never heard on " << heardOn->toStdString();
            if (heard) {
                const qsizetype start = from + qsizetype(*heard * Monitor::rate);
                EXPECT_EQ(quietTenths(monitor, start, 1.0), std::vector<double>()) << "then on";
            }
            EXPECT_GT(player->time(), paused + 0.5) << "the clock after Play";
            if (row.atOnce) {
                EXPECT_GE(log.moved(pressed, pressed + 0.35), 0.1) << "the next Play stood";
            }
            if (!row.seek) {
                EXPECT_EQ(log.fault(), std::nullopt);
            }
            player->pause();
        }
    }
}

namespace {

// 20 s of a tone at 640x360 in a fragmented MP4, as a recorder writes one so that a crash loses
// nothing: each fragment's sound stored after its pictures, key frames 8 s apart (an
// encoder's default), so that its sound lies up to 8 s after its pictures.
QString fragmentedClip()
{
    return sharedClip(QStringLiteral("tone240-frag.mp4"), [](const QString& p) {
        return Clips::ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=640x360:rate=30:duration=20", "-f", "lavfi", "-i",
                              "sine=frequency=440:sample_rate=48000:duration=20", "-c:v", "libx264", "-preset",
                              "veryfast", "-g", "240", "-keyint_min", "240", "-sc_threshold", "0", "-pix_fmt",
                              "yuv420p", "-c:a", "aac", "-shortest", "-movflags", "frag_keyframe+empty_moov", p})
                   ? p
                   : QString();
    });
}

// A 440 Hz tone at half scale, stereo at 48 kHz: what a run hands its output.
std::vector<int16_t> tone(double seconds)
{
    std::vector<int16_t> samples(std::size_t(seconds * 48000) * 2);
    for (std::size_t i = 0; i < samples.size() / 2; ++i)
        samples[2 * i] = samples[2 * i + 1] = int16_t(16000 * std::sin(2 * M_PI * 440 * double(i) / 48000));
    return samples;
}

// 3 s of a tone for paplay.
QString toneWav()
{
    return sharedClip(QStringLiteral("tone3.wav"), [](const QString& p) {
        return Clips::ffmpeg({"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=3", "-ac", "2", p})
                   ? p
                   : QString();
    });
}

} // namespace

// On each output users have, the sound plays without a break and the clock keeps the time
// passed, wherever paplay plays in real time on the same output in the same run: a sink that
// nobody records from (the server's output on a machine without a sound card), one another
// program records at 200 or 1000 ms (which sets its pace), one with a fifth of a second of
// latency as a Bluetooth headset has; and a fragmented recording, whose sound lies after its
// pictures in the file, is heard whole. The program runs while paplay plays and ends, and
// each Play moves at once: the first, and one 3 s after a seek made while paused.
TEST(SoundTest, EveryOutputPlaysInRealTime)
{
    auto* server = sound::SoundlessServer::instance();
    if (!server || !server->running())
        GTEST_SKIP() << "no sound server to give an output";
    const QString plain = toneClip(30);
    const QString fragmented = fragmentedClip();
    const QString wav = toneWav();
    const QString soundless = sharedClip(QStringLiteral("soundless.mp4"), [](const QString& p) {
        return Clips::ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=320x180:rate=30:duration=20", "-c:v", "libx264",
                              "-preset", "ultrafast", "-g", "30", p})
                   ? p
                   : QString();
    });
    ASSERT_FALSE(plain.isEmpty() || fragmented.isEmpty() || wav.isEmpty() || soundless.isEmpty());
    struct World {
        const char* what;
        int recordedAt; // ms; 0: nobody records from it (nor can the test listen)
        bool latent;    // the Bluetooth-like output
        QString clip;
    };
    const std::vector<World> table{
        {"a sink nobody records from", 0, false, plain},
        {"a sink another program records at 200 ms", 200, false, plain},
        {"a sink another program records at 1000 ms", 1000, false, plain},
        {"an output with 186 ms of latency", 10, true, plain},
        {"a fragmented MP4, on a sink read as a device reads", 10, false, fragmented},
        {"a fragmented MP4, on a sink recorded at 200 ms", 200, false, fragmented},
        {"a recording without sound", 0, false, soundless},
    };
    // What was heard is counted from the clock's time, which may lead it by the 50 ms allowed.
    constexpr int leadSteps = 5;
    for (std::size_t k = 0; k < table.size(); ++k) {
        const World& world = table[k];
        SCOPED_TRACE(world.what);
        const QString name = QStringLiteral("world%1").arg(k);
        std::unique_ptr<NullSink> null;
        std::unique_ptr<sound::LatentSink> latent;
        if (world.latent) {
            latent = std::make_unique<sound::LatentSink>(name);
            ASSERT_TRUE(latent->ready());
            latent->makeDefault();
        } else {
            null = std::make_unique<NullSink>(name, 0);
            ASSERT_TRUE(null->ready());
            null->makeDefault();
        }
        std::unique_ptr<Monitor> monitor;
        if (world.recordedAt > 0)
            monitor = std::make_unique<Monitor>(name, world.recordedAt);
        const auto quietFrom = [&](qsizetype from, double seconds) {
            const auto heard = monitor->heard(from, 10.0);
            return heard ? quietTenths(*monitor, from + qsizetype(*heard * Monitor::rate), seconds)
                         : std::vector<double>(int(seconds * 10), 0.0);
        };

        // (A sink made a moment ago renders seconds ahead, which no stream that asks for a low
        // latency can take back: the program has run a while when users press Play.)
        std::unique_ptr<Player> player = Player::makeDefault();
        player->setSource(world.clip);
        player->seek(1.0);
        ClockLog log(*player);
        settle(2500);

        // paplay on the same output: 3 s of sound.
        QProcess paplay;
        const qsizetype paplayFrom = monitor ? monitor->now() : 0;
        QElapsedTimer took;
        took.start();
        paplay.start(QStringLiteral("paplay"), {QStringLiteral("-d"), name, wav});
        ASSERT_TRUE(waitUntil([&] { return paplay.state() == QProcess::NotRunning; }, patience));
        const double paplaySeconds = double(took.elapsed()) / 1000;
        const auto paplayQuiet = monitor ? quietFrom(paplayFrom, 2.5) : std::vector<double>();
        const bool realTime = paplaySeconds < 3 * 1.25 + 0.5 && paplayQuiet.empty();

        // The player, for 4 s.
        settle(400);
        const qsizetype from = monitor ? monitor->now() : 0;
        const double played = log.now();
        player->play();
        ASSERT_TRUE(waitUntil([&] { return player->time() > 1.05; }, patience));
        const double begun = log.now();
        settle(4000);
        const double moved = log.moved(begun, log.now());
        const double passed = log.now() - begun;
        const auto quiet = monitor ? quietFrom(from, 3.5) : std::vector<double>();
        player->pause();
        const double paused = log.now();
        // Then 3 s after a seek made while paused, for a second.
        player->seek(8.0);
        settle(3000);
        const qsizetype laterFrom = monitor ? monitor->now() : 0;
        const double later = log.now();
        player->play();
        ASSERT_TRUE(waitUntil([&] { return player->time() > 9.0; }, patience));
        player->pause();
        const double laterPlayed = player->time() - 8.0;
        std::printf("%s | paplay: %.2f s for 3 s, %zu quiet tenths | player: clock %.2f s in %.2f s, %zu quiet tenths, "
                    "moved %.2f s in the first 0.35 s of Play and %.2f s of the one after a seek\n",
                    world.what, paplaySeconds, paplayQuiet.size(), moved, passed, quiet.size(),
                    log.moved(played, played + 0.35), log.moved(later, later + 0.35));
        EXPECT_EQ(log.fault(played, 0.05, 1.25, paused), std::nullopt);
        if (!realTime) {
            ADD_FAILURE() << "paplay itself does not play in real time here: " << paplaySeconds << " s";
            continue;
        }
        EXPECT_GT(moved, passed * 0.85) << "the clock crawls";
        EXPECT_EQ(quiet, std::vector<double>()) << "quiet tenths";
        EXPECT_LE(log.ahead(played, 1.0, paused), 0.05) << "the clock led the time passed";
        EXPECT_LE(log.ahead(later, 8.0), 0.05) << "the clock led the time passed since the Play after a paused seek";
        EXPECT_GE(log.moved(played, played + 0.35), 0.1) << "the first Play stood";
        EXPECT_GE(log.moved(later, later + 0.35), 0.1) << "the Play 3 s after a seek made while paused stood";

        // A Short of two 2 s cuts played to its end, then from its start with a seek while
        // playing: each heard from its first moment to its last, across the join, and the
        // clock never ahead of the time passed since Play or the seek.
        // (What was played before reaches a recorder up to its latency later.)
        const int quietBetween = 400 + world.recordedAt;
        player->setShort(world.clip, {{2.0, 4.0}, {9.0, 11.0}});
        settle(quietBetween);
        const auto playedOut = [&] { return waitUntil([&] { return player->rate() == 0; }, patience); };
        const qsizetype shortFrom = monitor ? monitor->now() : 0;
        const double pressed = log.now();
        player->play();
        ASSERT_TRUE(playedOut()) << "the Short never ended: " << player->time();
        const double ended = log.now();
        EXPECT_LE(log.ahead(pressed, 0.0, ended), 0.05) << "the clock led the time passed since Play";
        player->seek(0.0);
        settle(quietBetween);
        const qsizetype againFrom = monitor ? monitor->now() : 0;
        player->play();
        ASSERT_TRUE(waitUntil([&] { return player->time() > 0.5; }, patience));
        const double heardBefore = player->time();
        const double sought = log.now();
        player->seek(2.5);
        ASSERT_TRUE(playedOut()) << "the Short never ended after the seek: " << player->time();
        const double soughtEnded = log.now();
        // The pictures follow the sound a moment after the seek, then keep the time passed.
        const double behind = 1.4 - log.moved(sought, sought + 1.4);
        // (A clock that waited behind the silence an output rendered ahead stood 0.4-1.4 s here.)
        std::printf("  a Short: the clock %.2f s behind the time passed, 1.4 s after a seek while playing\n", behind);
        EXPECT_LE(behind, 0.3) << "the clock after a seek while playing";
        EXPECT_LE(log.ahead(sought, 2.5, soughtEnded), 0.05) << "the clock led the time passed since the seek";
        if (!monitor || world.clip == soundless)
            continue;
        // Heard, in the stretches of sound that began after each Play was pressed (a recorder
        // has what was played before by then): the Play after a paused seek, the Short played
        // to its end, and the Short again with a seek while playing, whose sound on its way to
        // the output at the seek may be heard a moment longer.
        const int laterSteps = int(laterPlayed * 100), aroundSeek = int((heardBefore + 1.5) * 100);
        const int least = laterSteps - 3 - leadSteps + 397 + aroundSeek - 3 - leadSteps;
        const auto stretches = monitor->stretches(laterFrom, least, 10.0);
        const int heardLater = Monitor::steps(stretches, laterFrom, shortFrom);
        const int whole = Monitor::steps(stretches, shortFrom, againFrom);
        const int heard = Monitor::steps(stretches, againFrom);
        std::printf("  steps of 10 ms heard: %d, %d and %d in %zu stretches\n", heardLater, whole, heard, stretches.size());
        EXPECT_GE(heardLater, laterSteps - 3 - leadSteps) << "steps of 10 ms heard of the Play after a paused seek";
        EXPECT_LE(heardLater, laterSteps + 10) << "steps of 10 ms heard of the Play after a paused seek";
        EXPECT_GE(whole, 397) << "steps of 10 ms heard of the Short played to its end";
        EXPECT_LE(whole, 406) << "steps of 10 ms heard of the Short played to its end";
        EXPECT_GE(heard, aroundSeek - 3 - leadSteps) << "steps of 10 ms heard around a seek while playing";
        EXPECT_LE(heard, aroundSeek + 10) << "steps of 10 ms heard around a seek while playing";
    }
}

// The output plays all it is handed from its first moment to its last, however the decoder
// hands it and whoever records from the output, and its clock never leads what was heard: not
// the time passed since the run began, not the sound handed. A stream made as the run begins
// waits behind what the output rendered ahead (up to 2 s where nobody records from it, up to
// 1 s where a program records at 1000 ms), and is heard then: it is never let go as one that
// plays nowhere.
TEST(SoundTest, TheOutputPlaysAllItIsHanded)
{
    auto* server = sound::SoundlessServer::instance();
    if (!server || !server->running())
        GTEST_SKIP() << "no sound server to give an output";
    constexpr double length = 1.0; // s of sound in each run
    constexpr double from = 5.0;   // line time the run begins at
    const std::vector<int16_t> sound = tone(length);
    struct Row {
        const char* how;
        // Seconds of sound the decoder has for the output `t` s after the run began.
        std::function<double(double)> decoded;
        double pauseAt; // clock (s into the run) at which it pauses for half a second; none: 0
        // Steps a recorder may miss: where the stream ran dry, the silence its output rendered
        // ahead meanwhile reaches a recorder before the sound handed after it (20-40 ms here).
        int missed = 0;
    };
    const std::vector<Row> rows{
        {"handed at once", [](double) { return length; }, 0},
        {"handed as a decoder keeps ahead", [](double t) { return 0.1 + 4 * t; }, 0},
        {"running dry and filled again", [](double t) { return t < 0.9 ? 0.3 : length; }, 0, 5},
        {"paused and played on", [](double) { return length; }, 0.4},
    };
    for (const int recordedAt : {10, 200, 1000, 0}) {
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(row.how) + ", the output recorded at " + std::to_string(recordedAt) + " ms");
            NullSink sink(QStringLiteral("handed"), 0);
            ASSERT_TRUE(sink.ready());
            sink.makeDefault();
            std::unique_ptr<Monitor> monitor;
            if (recordedAt > 0)
                monitor = std::make_unique<Monitor>(sink.name, recordedAt);
            SoundOutput output;
            ClockLog log([&] { return output.time(); });
            const qsizetype heardFrom = monitor ? monitor->now() : 0;
            const double begun = log.now();
            output.begin(48000, from);
            QElapsedTimer run;
            run.start();
            int handed = 0;
            bool finished = false;
            std::optional<double> pausedAt;
            double beforeRefill = 0;
            bool letGo = false;
            const bool done = waitUntil(
                [&] {
                    const double t = double(run.elapsed()) / 1000;
                    const int decoded = std::min(int(row.decoded(t) * 48000), int(sound.size() / 2));
                    if (handed < decoded)
                        handed += output.hand(sound.data() + std::size_t(handed) * 2, decoded - handed);
                    if (handed == int(sound.size() / 2) && !std::exchange(finished, true))
                        output.finish();
                    if (!finished)
                        beforeRefill = std::max(beforeRefill, output.time() - from - double(handed) / 48000);
                    if (output.time() < from + length - 0.2)
                        letGo = letGo || !output.audible();
                    if (row.pauseAt > 0 && !pausedAt && output.time() >= from + row.pauseAt) {
                        output.pause();
                        pausedAt = log.now();
                        settle(500);
                        output.resume();
                    }
                    return output.time() >= from + length + 0.3;
                },
                patience);
            ASSERT_TRUE(done) << "the clock stands at " << output.time();
            int steps = -1;
            if (monitor) {
                steps = Monitor::steps(monitor->stretches(heardFrom, int(length * 100) - 3 - row.missed, 10.0), heardFrom);
            }
            std::printf("%s, recorded at %d ms: %d steps of 10 ms heard, the clock at most %.3f s ahead\n", row.how,
                        recordedAt, steps, log.ahead(begun, from, pausedAt.value_or(HUGE_VAL)));
            EXPECT_EQ(log.fault(), std::nullopt);
            EXPECT_FALSE(letGo) << "the stream was let go";
            EXPECT_LE(beforeRefill, 1e-6) << "the clock passed the sound handed";
            EXPECT_LE(log.ahead(begun, from, pausedAt.value_or(HUGE_VAL)), 0.05) << "the clock led the time passed";
            if (!monitor)
                continue;
            // Every 10 ms of it, and nothing more (a step on either side of each stretch heard
            // may hold a little of it).
            EXPECT_GE(steps, int(length * 100) - 3 - row.missed) << "steps heard";
            EXPECT_LE(steps, int(length * 100) + 5) << "steps heard";
            output.stop();
        }
    }
    // A recording without sound: its clock goes by the time passed.
    SoundOutput soundless;
    ClockLog log([&] { return soundless.time(); });
    const double begun = log.now();
    soundless.begin(0, from);
    EXPECT_TRUE(waitUntil([&] { return soundless.time() > from + 0.5; }, patience)) << soundless.time();
    EXPECT_EQ(log.fault(), std::nullopt);
    EXPECT_LE(log.ahead(begun, from), 0.05);
}

// A device's clock runs a little fast or slow beside the computer's: over a long play the
// clock follows what the device played, while in the first seconds after the run began it
// never leads the time passed, however fast the device takes its sound. The devices play at
// once, each on an output of its own. (PipeWire's pipe sink writes by the computer's clock,
// so no output there keeps a pace of its own.)
TEST(SoundTest, TheClockFollowsTheDevicesPace)
{
    auto* server = sound::SoundlessServer::instance();
    if (!server || !server->running())
        GTEST_SKIP() << "no sound server to give an output";
    if (sound::SoundlessServer::pipewire())
        GTEST_SKIP() << "no output keeps a pace of its own";
    constexpr double length = 30.0; // s of play
    constexpr double from = 2.0;    // line time the runs begin at
    const std::vector<int16_t> sound = tone(length + 2);
    struct Row {
        double pace;   // of the device beside the computer's clock
        bool followed; // within what devices do, and followed over the whole play
    };
    const std::vector<Row> rows{{1.02, true}, {0.98, true}, {1.10, false}};
    std::vector<std::unique_ptr<sound::PacedSink>> sinks;
    std::vector<std::unique_ptr<SoundOutput>> outputs;
    for (std::size_t k = 0; k < rows.size(); ++k) {
        sinks.push_back(std::make_unique<sound::PacedSink>(QStringLiteral("paced%1").arg(k), rows[k].pace));
        ASSERT_TRUE(sinks.back()->ready());
    }
    sinks[0]->makeDefault();
    for (std::size_t k = 0; k < rows.size(); ++k) {
        const QStringList before = sound::pactl({"list", "short", "sink-inputs"}).value_or(QString()).split(u'\n');
        outputs.push_back(std::make_unique<SoundOutput>());
        outputs.back()->prepare(48000);
        for (const QString& line : sound::pactl({"list", "short", "sink-inputs"}).value_or(QString()).split(u'\n'))
            if (!line.isEmpty() && !before.contains(line))
                sound::pactl({"move-sink-input", line.section(u'\t', 0, 0), sinks[k]->name});
    }
    std::vector<std::unique_ptr<ClockLog>> logs;
    for (auto& output : outputs)
        logs.push_back(std::make_unique<ClockLog>([&output] { return output->time(); }));
    settle(1000);
    const double begun = logs[0]->now();
    for (auto& output : outputs)
        output->begin(48000, from);
    std::vector<int> handed(rows.size(), 0);
    // How far each clock stood from what its device played, at the end.
    std::vector<double> off(rows.size(), HUGE_VAL);
    const bool done = waitUntil(
        [&] {
            for (std::size_t k = 0; k < rows.size(); ++k) {
                handed[k] += outputs[k]->hand(sound.data() + std::size_t(handed[k]) * 2, int(sound.size() / 2) - handed[k]);
                if (const auto played = sinks[k]->played())
                    off[k] = outputs[k]->time() - from - *played;
            }
            return logs[0]->now() - begun > length;
        },
        int(length * 1000) + patience);
    ASSERT_TRUE(done);
    for (std::size_t k = 0; k < rows.size(); ++k) {
        SCOPED_TRACE("a device at " + std::to_string(rows[k].pace) + " times the time passed");
        std::printf("device at %.2fx: the clock %.3f s from what it played after %.0f s, at most %.3f s ahead of the time "
                    "passed in its first 3 s\n",
                    rows[k].pace, off[k], length, logs[k]->ahead(begun, from, begun + 3.0));
        EXPECT_EQ(logs[k]->fault(begun), std::nullopt);
        EXPECT_LE(logs[k]->ahead(begun, from, begun + 3.0), 0.05) << "the clock led the time passed";
        if (rows[k].followed) {
            // (A clock held to the time passed strays 0.5 s; a busy machine reads the device late.)
            EXPECT_LE(std::abs(off[k]), 0.2) << "the clock strayed from what the device played";
        }
    }
}

// An output that takes nothing for a while though it is not suspended (a device that stalls,
// a machine too busy to feed it) holds the picture only for a moment, and once it takes sound
// again the run is heard again, from the clock, without a Play: a stall never costs the rest
// of the run its sound. (PipeWire's pipe sink writes by the computer's clock whatever the
// pipe takes: no output stalls there.)
TEST(SoundTest, AnOutputThatStallsIsHeardAgain)
{
    auto* server = sound::SoundlessServer::instance();
    if (!server || !server->running())
        GTEST_SKIP() << "no sound server to give an output";
    if (sound::SoundlessServer::pipewire())
        GTEST_SKIP() << "no output stalls";
    constexpr double from = 2.0; // line time the run begins at
    const std::vector<int16_t> sound = tone(10.0);
    sound::PacedSink sink(QStringLiteral("stalling"), 1.0);
    ASSERT_TRUE(sink.ready());
    sink.makeDefault();
    SoundOutput output;
    output.prepare(48000);
    ClockLog log([&] { return output.time(); });
    settle(1000);
    const double begun = log.now();
    output.begin(48000, from);
    int handed = 0;
    const auto playFor = [&](double seconds) {
        const double at = log.now();
        waitUntil(
            [&] {
                handed += output.hand(sound.data() + std::size_t(handed) * 2, int(sound.size() / 2) - handed);
                return log.now() - at > seconds;
            },
            patience);
    };
    playFor(1.5);
    sink.stall(true);
    const double stalled = log.now();
    playFor(2.0);
    const double loudBefore = sink.loudSeconds();
    sink.stall(false);
    const double released = log.now();
    playFor(2.0);
    const double heardAgain = sink.loudSeconds() - loudBefore;
    // Paused while it stalls, and played once it takes sound again.
    sink.stall(true);
    playFor(1.5);
    output.pause();
    sink.stall(false);
    settle(500);
    const double loudPaused = sink.loudSeconds();
    output.resume();
    playFor(1.5);
    EXPECT_GE(sink.loudSeconds() - loudPaused, 0.8) << "not heard after a Pause and Play made while it stalled";
    std::printf("a stalled output: the clock moved %.2f s in the second half of the stall, %.2f s heard in the 2 s after "
                "it, the clock moved %.2f s in its last 1.5 s\n",
                log.moved(stalled + 1.0, stalled + 2.0), heardAgain, log.moved(released + 0.5, released + 2.0));
    EXPECT_EQ(log.fault(begun), std::nullopt);
    EXPECT_GT(log.moved(stalled + 1.0, stalled + 2.0), 0.5) << "the picture stands while the output takes nothing";
    EXPECT_GE(heardAgain, 1.0) << "not heard again once the output takes sound";
    // The clock follows the sound again, from where it stood.
    EXPECT_TRUE(output.audible());
    EXPECT_GT(log.moved(released + 0.5, released + 2.0), 1.2) << "the clock once the output takes sound again";
    EXPECT_LE(log.ahead(begun, from), 0.05) << "the clock led the time passed";
}
