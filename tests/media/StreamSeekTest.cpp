// The stream window's drags on the real player: a recording whose key frames lie seconds
// apart makes each seek decode for a while, and Qt's back end holds any further seek
// inside `setPosition` until that is done, freezing the window.

#include "PlayingTesting.h"

#include "model/editing/StreamBrowser.h"

using namespace playing;

namespace {

TEST(StreamSeekTest, ADragSeeksOneAtATimeAndShowsItsLastMove)
{
    const QString clip = sparseClip();
    ASSERT_FALSE(clip.isEmpty());
    auto* player = new Counting(Player::makeDefault());
    Watch watch(*player);
    StreamBrowser browser{std::unique_ptr<Player>(player)};
    browser.load(clip, 10);
    browser.seek(1.0);
    ASSERT_TRUE(watch.shows(frameAt(1.0)));
    // Twenty pointer moves 10 ms apart, each a new time, as a drag over the wave band.
    for (int i = 1; i <= 20; ++i) {
        browser.seek(1.0 + i * 0.4);
        lifecycle::settle(10);
    }
    EXPECT_DOUBLE_EQ(browser.time(), 9.0);
    EXPECT_TRUE(watch.shows(frameAt(9.0)));
    EXPECT_EQ(player->overlapping, 0) << "of " << player->sent << " seeks";
    EXPECT_LT(player->sent, 21);
    lifecycle::settle(300);
    EXPECT_DOUBLE_EQ(browser.time(), 9.0);
    EXPECT_EQ(watch.last(), frameAt(9.0));
}

} // namespace
