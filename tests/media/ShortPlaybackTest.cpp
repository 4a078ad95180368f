// The editor's player as a user drives it: a Short of three cuts on the real player, on a
// 30 fps clip whose frames show their number.

#include "PlayingTesting.h"

using namespace playing;

namespace {

class ShortPlaybackTest : public ShortTest {
protected:
    void SetUp() override
    {
        ShortTest::SetUp();
        model = std::make_unique<AppModel>(Player::makeDefault(), std::make_unique<FakePlayer>());
        ASSERT_FALSE(numberedClip().isEmpty());
        // Cuts 0.5-1.5, 2.4-3.1 and 4.2-5.1: a 2.6 s Short (the package says its recording
        // lasts 6 s).
        openWith(numberedClip(), {shortOf("Three", {cut(0.5, 1.5), cut(2.4, 3.1), cut(4.2, 5.1)})},
                 {segment("01", 0, 2), segment("02", 2.2, 3.5), segment("03", 4, 5.8)});
    }
};

// A seek into the second or third cut, then play: the clock, the selection and the
// picture are those of the cut played, and playing goes on into the next cut.
TEST_F(ShortPlaybackTest, SeeksIntoLaterCutsThenPlays)
{
    Watch watch(model->player());
    for (const auto& [at, frame, segment] : std::vector<std::tuple<double, int, QString>>{
             {1.2, 78, "02"}, {1.9, 132, "03"}, {0.5, 30, "01"}, {1.5 + 1 / 30.0, 88, "02"}}) {
        model->scrubShort(at);
        ASSERT_EQ(model->mode(), Mode::shortClip);
        EXPECT_TRUE(watch.shows(frame)) << at << ": frame " << watch.last();
        EXPECT_NEAR(model->clock().time(), at, 1e-9);
        EXPECT_NEAR(model->recordingTime(), frame / 30.0, 1.0 / 30.0);
        EXPECT_EQ(model->selection(), std::optional(segment));

        model->togglePlay();
        bool playing = false; // seen while the clock went on
        EXPECT_TRUE(waitUntil(
            [&] {
                playing = playing || model->clock().playing();
                return model->clock().time() > at + 0.3;
            },
            patience))
            << at << " stalled";
        EXPECT_TRUE(playing);
        model->togglePlay();
        EXPECT_TRUE(waitUntil([&] { return !model->clock().playing(); }, patience));
        const double now = model->clock().time();
        // The paused picture may come a while after the pause.
        EXPECT_TRUE(waitUntil([&] { return std::abs(watch.last() - frameAt(model->recordingTime())) <= 2; }, patience))
            << at << " then " << now << ": frame " << watch.last();
        EXPECT_EQ(model->selection(), model->project().segment(model->recordingTime())->id) << now;
    }
}

} // namespace
