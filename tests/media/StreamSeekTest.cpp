// The stream window's drags on the real player: a recording whose key frames lie seconds
// apart makes a seek decode for a while, and a drag keeps one seek on its way at a time.

#include "PlayingTesting.h"

#include "model/editing/StreamBrowser.h"

#include <QElapsedTimer>

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
    lifecycle::settle(300);
    EXPECT_DOUBLE_EQ(browser.time(), 9.0);
    EXPECT_EQ(watch.last(), frameAt(9.0));
}

// A drag that starts where the playhead stands: the press asks for the picture on screen,
// which counts as landed at once, so the pictures follow the drag rather than waiting for a
// picture that never comes. The pointer moves every 15 ms, over 1-9 s and then to and fro
// near 9 s, until a picture comes (on a busy machine the first decode takes a while); how
// soon it comes is a figure of the playback benchmark.
TEST_F(StreamSeekTest, ADragFromThePlayheadShowsPicturesAsItGoes)
{
    lifecycle::settle(300);
    watch.clear();
    browser.seek(1.0); // the press, on the playhead
    QElapsedTimer dragging;
    dragging.start();
    for (int i = 1; watch.shown.empty() && dragging.elapsed() < patience; ++i) {
        browser.seek(i <= 40 ? 1.0 + i * 0.2 : 9.0 - (i % 2) * 0.2);
        lifecycle::settle(15);
    }
    EXPECT_FALSE(watch.shown.empty()) << "no picture during a drag of " << dragging.elapsed() << " ms";
    browser.seek(9.0); // the last move, then the release
    EXPECT_TRUE(watch.shows(frameAt(9.0), patience)) << watch.last();
    EXPECT_EQ(player->overlapping, 0) << "of " << player->sent << " seeks";
}

} // namespace
