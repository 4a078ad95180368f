// The real player on Qt Multimedia lands on the asked frame, and plays a Short through its
// spans, on a clip whose frames show their own index.

#include "model/editing/ShortTesting.h"

#include <QVideoFrame>
#include <QVideoSink>

using namespace shorts;

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

} // namespace
