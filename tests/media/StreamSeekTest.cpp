// The stream window's drags on the real player: a recording whose key frames lie seconds
// apart makes each seek decode for a while, and Qt's back end holds any further seek
// inside `setPosition` until that is done, freezing the window.

#include "PlayingTesting.h"

#include "model/editing/StreamBrowser.h"

using namespace playing;

namespace {

// The stream window on a clip of sparse key frames, its playhead at 1 s.
class StreamSeekTest : public ::testing::Test {
protected:
    Counting* player = new Counting(Player::makeDefault());
    Watch watch{*player};
    StreamBrowser browser{std::unique_ptr<Player>(player)};
    void SetUp() override
    {
        const QString clip = sparseClip();
        ASSERT_FALSE(clip.isEmpty());
        browser.load(clip, 10);
        browser.seek(1.0);
        ASSERT_TRUE(watch.shows(frameAt(1.0)));
    }
};

TEST_F(StreamSeekTest, ADragSeeksOneAtATimeAndShowsItsLastMove)
{
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

// A drag that starts where the playhead stands: the press asks for the picture on screen,
// which counts as landed at once, so the pictures follow the drag rather than waiting for a
// picture that never comes.
TEST_F(StreamSeekTest, ADragFromThePlayheadShowsPicturesAsItGoes)
{
    lifecycle::settle(300);
    watch.clear();
    browser.seek(1.0); // the press, on the playhead
    for (int i = 1; i <= 40; ++i) {
        browser.seek(1.0 + i * 0.2);
        lifecycle::settle(15);
    }
    const std::size_t during = watch.shown.size();
    EXPECT_GT(during, 0u) << "no picture during a drag of " << 40 * 15 << " ms";
    EXPECT_TRUE(watch.shows(frameAt(9.0), 1000)) << watch.last();
    EXPECT_EQ(player->overlapping, 0) << "of " << player->sent << " seeks";
}

} // namespace
