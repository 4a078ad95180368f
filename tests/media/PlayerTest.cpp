// The real player on Qt Multimedia lands on the asked frame, and plays a Short through its
// spans, on clips whose frames show their own index.

#include "PlayingTesting.h"

using namespace playing;

namespace {

TEST(PlayerTest, SeeksAndCutJumpsShowTheRightFrame)
{
    const QString clip = countedClip();
    ASSERT_FALSE(clip.isEmpty());
    std::unique_ptr<Player> player = Player::makeDefault();
    ASSERT_NE(player->videoSink(), nullptr);
    std::vector<int> shown;
    QObject::connect(player->videoSink(), &QVideoSink::videoFrameChanged, [&](const QVideoFrame& frame) {
        if (frame.isValid())
            shown.push_back(frameIndex(frame.toImage()));
    });
    std::vector<double> reported;
    QObject::connect(player.get(), &Player::ticked, [&](double t) { reported.push_back(t); });

    player->setSource(clip);
    player->seek(2.3); // before the media has loaded: kept until it has
    EXPECT_TRUE(waitUntil([&] { return !shown.empty() && shown.back() == 23; }, 5000)) << (shown.empty() ? -1 : shown.back());

    player->setShort(clip, {{1.0, 1.5}, {4.0, 4.5}});
    player->seek(0.3);
    EXPECT_TRUE(waitUntil([&] { return !shown.empty() && shown.back() == 13; }, 5000));
    EXPECT_DOUBLE_EQ(player->time(), 0.3);
    shown.clear();
    reported.clear();
    player->play();
    EXPECT_TRUE(waitUntil([&] { return player->rate() == 0; }, 5000)) << "pauses at the last span's end";
    ASSERT_FALSE(shown.empty());
    for (int n : shown)
        EXPECT_TRUE((n >= 13 && n <= 15) || (n >= 40 && n <= 45)) << n;
    EXPECT_GE(shown.back(), 44);
    for (double t : reported)
        EXPECT_TRUE(t >= 0 && t <= 1.0) << t;
    EXPECT_NEAR(player->time(), 1.0, 0.05);

    // A span that reaches the recording's end goes on to the next one all the same.
    player->setShort(clip, {{5.5, 6.0}, {1.0, 1.5}});
    player->seek(0.4);
    EXPECT_TRUE(waitUntil([&] { return !shown.empty() && shown.back() == 59; }, 5000));
    shown.clear();
    player->play();
    EXPECT_TRUE(waitUntil([&] { return player->rate() == 0 && player->time() > 0.9; }, 5000)) << player->time();
    EXPECT_TRUE(std::find(shown.begin(), shown.end(), 12) != shown.end());
}

// With no sound output to play to (none listed, or one that fails when the sound starts:
// the sound server of these tests has no output device), the picture plays all the same.
TEST(PlayerTest, ThePicturePlaysWhereNoSoundCan)
{
    const QString clip = numberedClip();
    ASSERT_FALSE(clip.isEmpty());
    for (const bool trySound : {false, true}) {
        std::unique_ptr<Player> player = Player::makeDefault(trySound);
        Watch watch(*player);
        player->setSource(clip);
        player->seek(2.0);
        EXPECT_TRUE(watch.shows(60)) << "trying sound " << trySound << ": frame " << watch.last();
        player->play();
        EXPECT_TRUE(waitUntil([&] { return player->time() > 2.5 && watch.last() > 72; }, 4000))
            << "trying sound " << trySound << ": at " << player->time() << ", frame " << watch.last();
        EXPECT_NE(player->rate(), 0);
        player->pause();
        EXPECT_TRUE(waitUntil([&] { return player->rate() == 0; }, 2000));
        settle(150);
        EXPECT_NEAR(watch.last(), frameAt(player->time()), 2) << "trying sound " << trySound;
    }
}

// Seeks land on the frame asked for, also where a frame's time in whole milliseconds lies
// just before it (n/30 s); in a Short, in every span.
TEST(PlayerTest, SeeksLandOnTheAskedFrameAtThirtyFrames)
{
    const QString clip = numberedClip();
    ASSERT_FALSE(clip.isEmpty());
    std::unique_ptr<Player> player = Player::makeDefault();
    Watch watch(*player);
    player->setSource(clip);
    for (const int frame : {1, 37, 89, 33, 133, 150, 32, 271, 299, 0, 34}) {
        player->seek(frame / 30.0);
        EXPECT_TRUE(watch.shows(frame)) << "asked " << frame << ", shown " << watch.last();
    }
    // Spans 1.0-2.0, 4.5-5.2 and 7.1-8.0 laid back to back: a 2.6 s Short, whose end
    // shows the last frame of its last span.
    const ShortLine line{{{1.0, 2.0}, {4.5, 5.2}, {7.1, 8.0}}};
    player->setShort(clip, line.spans);
    for (const auto& [at, frame] : std::vector<std::pair<double, int>>{
             {1.0, 135}, {1.0 + 1 / 30.0, 136}, {1.5 + 2 / 30.0, 152}, {1.75, 214}, {1.7 + 7 / 30.0, 220},
             {2.5, 237}, {0.1, 33}, {1.0 - 1 / 30.0, 59}, {2.6, 239}, {9.0, 239}, {-1.0, 30}}) {
        player->seek(at);
        EXPECT_TRUE(watch.shows(frame)) << "Short time " << at << ": shown " << watch.last();
        EXPECT_NEAR(player->time(), std::clamp(at, 0.0, line.total()), 1e-9) << at;
    }
}

// Round after round of play, pause, seek and jumps from span to span: playback always goes
// on, and the picture is the frame under the reported time, in the span it belongs to.
TEST(PlayerTest, PlaysOnThroughCutsRoundAfterRound)
{
    const QString clip = numberedClip();
    ASSERT_FALSE(clip.isEmpty());
    std::unique_ptr<Player> player = Player::makeDefault();
    Watch watch(*player);
    const ShortLine line{{{1.0, 2.0}, {4.5, 5.2}, {7.1, 8.0}}};
    player->setShort(clip, line.spans);
    ASSERT_TRUE(watch.shows(30));
    const auto inSomeSpan = [&](int frame) {
        return std::any_of(line.spans.begin(), line.spans.end(),
                           [&](const Span& s) { return frame >= frameAt(s.start) - 1 && frame <= frameAt(s.end) + 1; });
    };
    for (int round = 0; round < 24; ++round) {
        // Just before the end of span round % 3 (the last: its end, where playing stops).
        const int k = round % 3;
        const double from = line.offset(k) + line.spans[k].length() - (k == 2 ? 0.02 : 0.12);
        switch (round % 4) {
        case 0: // seek while paused, then play
            player->pause();
            player->seek(from);
            player->play();
            break;
        case 1: // seek while playing
            player->play();
            player->seek(from);
            break;
        case 2: // play, pause and play again at once
            player->seek(from);
            player->play();
            player->pause();
            player->play();
            break;
        case 3: // the Short put in again, as each edit does
            player->setShort(clip, line.spans);
            player->seek(from);
            player->play();
            break;
        }
        watch.clear();
        if (k == 2) {
            EXPECT_TRUE(waitUntil([&] { return player->rate() == 0; }, 3000)) << "round " << round << " stops at the end";
            EXPECT_NEAR(player->time(), line.total(), 0.05) << "round " << round;
            continue;
        }
        const double goal = line.offset(k + 1) + 0.25;
        EXPECT_TRUE(waitUntil([&] { return player->time() > goal && player->rate() != 0; }, 3000))
            << "round " << round << " stalled at " << player->time() << " playing " << player->rate();
        player->pause();
        settle(120);
        const auto place = line.at(player->time());
        EXPECT_EQ(place->span, k + 1) << "round " << round;
        EXPECT_NEAR(watch.last(), frameAt(place->time), 2) << "round " << round << " at " << player->time();
        for (int n : watch.shown)
            EXPECT_TRUE(inSomeSpan(n)) << "round " << round << " showed frame " << n;
        for (double t : watch.reported)
            EXPECT_TRUE(t >= from - 0.05 && t <= goal + 0.5) << "round " << round << " reported " << t;
    }
}

} // namespace
