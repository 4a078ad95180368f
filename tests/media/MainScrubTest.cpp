// The main player's hand scrubs on the real player over a recording whose key frames lie
// seconds apart, where each seek decodes for a while: a scrub sends no seek before the last
// one has landed, and the picture ends on the last move.

#include "PlayingTesting.h"

#include <functional>

using namespace playing;

namespace {

class MainScrubTest : public ShortTest {
protected:
    Counting* player = nullptr;

    void open()
    {
        player = new Counting(Player::makeDefault());
        model = std::make_unique<AppModel>(std::unique_ptr<Player>(player), std::make_unique<FakePlayer>());
        ASSERT_FALSE(sparseClip().isEmpty());
        // A Short of 0.5-3.5, 4.2-7.9 and 8.0-9.5 (8.2 s) over one segment of the 10 s clip.
        Project p = projectOf(copy(sparseClip(), root + QStringLiteral("/Stream.mp4")), {segment("01", 0, 9.9)});
        p.duration = 10;
        p.shorts = {shortOf("Three", {cut(0.5, 3.5), cut(4.2, 7.9), cut(8.0, 9.5)})};
        QCoro::waitFor(model->openProject(writePackage(root + QStringLiteral("/Stream.vtrl"), p)));
        ASSERT_EQ(model->problem(), std::nullopt);
    }
};

TEST_F(MainScrubTest, EveryScrubSeeksOneAtATimeAndShowsItsLastMove)
{
    const struct {
        const char* what;
        Mode mode;
        std::function<void(AppModel&, int)> move; // the nth move of the drag, 1 to 20
        std::optional<double> clock;              // where the playhead ends (a trim leaves it)
    } table[] = {
        {"the segment strip", Mode::segment, [](AppModel& m, int n) { m.seek(0.5 + n * 0.45); }, 9.5},
        {"the Short strip and the playhead", Mode::shortClip, [](AppModel& m, int n) { m.seek(n * 0.4); }, 8.0},
        {"the ruler", Mode::shortClip, [](AppModel& m, int n) { m.scrubShort(n * 0.4); }, 8.0},
        {"the ruler from segment mode", Mode::segment, [](AppModel& m, int n) { m.scrubShort(n * 0.4); }, 8.0},
        {"a trim of the second cut's end", Mode::shortClip,
         [](AppModel& m, int n) { m.trim(m.cuts()[1].id, Edge::end, 7.9 - n * 0.15, std::nullopt); }, {}},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.what);
        open();
        Watch watch(model->player());
        model->setSelection(QStringLiteral("01"));
        model->setMode(Mode::shortClip);
        model->setMode(row.mode);
        model->seek(0.5);
        ASSERT_TRUE(watch.shows(frameAt(row.mode == Mode::segment ? 0.5 : 1.0)));
        lifecycle::settle(100);
        player->sent = 0;
        player->overlapping = 0;
        // Twenty pointer moves 10 ms apart, each a new time.
        model->handScrubbing = true;
        for (int n = 1; n <= 20; ++n) {
            row.move(*model, n);
            lifecycle::settle(10);
        }
        model->handScrubbing = false;
        const double shown = row.clock ? model->recordingTime() : model->cuts()[1].end - 1.0 / 30;
        if (row.clock) {
            EXPECT_DOUBLE_EQ(model->clock().time(), *row.clock);
        }
        EXPECT_TRUE(watch.shows(frameAt(shown))) << "shows " << watch.last() << " for " << frameAt(shown);
        EXPECT_EQ(player->overlapping, 0) << "of " << player->sent << " seeks";
        lifecycle::settle(300);
        EXPECT_EQ(watch.last(), frameAt(shown));
        if (!row.clock)
            model->endTrim(model->cuts()[1].id, Edge::end);
    }
}

} // namespace
