// Short time at cut edges stored off the 1/600 s grid (a transcript engine gives milliseconds):
// the mapping both ways and the edits that keep a playhead count on the same time line.

#include "model/editing/ShortTesting.h"

#include <functional>

using namespace shorts;

namespace {

// Cuts A 1.123-2.456, B 3.001-4.0 and C 4.4-5.1 of the 6 s clip; segment 01 lies under A,
// 02 under B and 03 under C.
class ShortTimeTest : public ShortTest {
protected:
    void open()
    {
        openWith(plainClip(), {shortOf("Edges", {cut(1.123, 2.456), cut(3.001, 4.0), cut(4.4, 5.1)})},
                 {segment("01", 0, 2.5), segment("02", 2.9, 4.1), segment("03", 4.1, 6)});
        ASSERT_EQ(model->problem(), std::nullopt);
    }
    int cutUnderPlayhead() const
    {
        const auto place = model->locate(model->clock().time());
        return place ? place->cut : -1;
    }
};

// Half a step of the grid: what rounding an edge onto it may move a time by.
constexpr double grid = 1.0 / 1200;

TEST_F(ShortTimeTest, RecordingTimesAtOffGridEdgesMapIntoTheirCutAndBack)
{
    open();
    const struct {
        double recording;
        std::optional<double> shortTime;
        int cutBack;       // the cut that Short time lies in
        double recordingBack;
    } rows[] = {
        {1.123, 0.0, 0, 1.123},
        {2.456, 1.333, 1, 3.001}, // A's end is A's, and the boundary with B: B's start
        {3.001, 1.333, 1, 3.001}, // B's start is B's
        {3.5, 1.832, 1, 3.5},
        {4.0, 2.332, 2, 4.4},
        {5.1, 3.032, 2, 5.1},
        {2.9, std::nullopt, -1, 0},
        {5.2, std::nullopt, -1, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.recording);
        const auto mapped = model->shortTime(row.recording);
        ASSERT_EQ(mapped.has_value(), row.shortTime.has_value());
        if (!mapped)
            continue;
        EXPECT_NEAR(*mapped, *row.shortTime, grid);
        const auto back = model->locate(*mapped);
        ASSERT_TRUE(back);
        EXPECT_EQ(back->cut, row.cutBack);
        EXPECT_NEAR(back->time, row.recordingBack, grid);
    }
}

TEST_F(ShortTimeTest, EditsKeepThePlayheadInTheCutTheyMeant)
{
    const struct {
        const char* name;
        std::function<void(AppModel&, FakePlayer&)> edit;
        int cut; // under the playhead afterwards
        QString selection;
    } rows[] = {
        {"Short mode at B's start",
         [](AppModel& m, FakePlayer&) {
             m.setMode(Mode::segment);
             m.clock().setTime(3.001);
             m.setMode(Mode::shortClip);
         },
         1, "02"},
        {"extend B", [](AppModel& m, FakePlayer&) { m.extend(m.cuts()[1].id, Edge::end, 4.05); }, 1, "02"},
        {"move C before B", [](AppModel& m, FakePlayer&) { m.moveCut(2, 1); }, 1, "03"},
        {"remove B",
         [](AppModel& m, FakePlayer&) {
             m.setSelectedCut(m.cuts()[1].id);
             m.removeCut();
         },
         1, "03"},
        {"trim B's start, then the preview jumps back to it",
         [](AppModel& m, FakePlayer& p) {
             m.trim(m.cuts()[1].id, Edge::start, 3.001, std::nullopt);
             m.endTrim(m.cuts()[1].id, Edge::start);
             ASSERT_TRUE(m.stopAt);
             p.report(m.stopAt->at);
         },
         1, "02"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        open();
        model->scrubShort(0); // Short mode, in A
        row.edit(*model, player());
        EXPECT_EQ(model->mode(), Mode::shortClip);
        EXPECT_EQ(cutUnderPlayhead(), row.cut);
        EXPECT_EQ(model->selection(), row.selection);
    }
}

// A removal leaves the playhead at the removed cut's place, no later than 0.05 s before the
// new end, both counted as the Short plays: A is 800/600 s long as played (1.333 s stored),
// B 599/600 s (0.999 s stored). Counted on the stored lengths, the playhead would stand a
// third of a millisecond off, in another frame than the one the player shows there.
TEST_F(ShortTimeTest, ARemovalKeepsThePlayheadWithinTheShortAsItPlays)
{
    const struct {
        int removed;
        double before, after; // Short times
    } rows[] = {
        {2, 3.0, 1399.0 / 600 - 0.05}, // C, the last: held back from the new end
        {1, 1.5, 800.0 / 600},          // B: where B began
        {0, 0.5, 0.0},                  // A
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.removed);
        open();
        model->scrubShort(row.before);
        ASSERT_EQ(cutUnderPlayhead(), row.removed);
        model->setSelectedCut(model->cuts()[size_t(row.removed)].id);
        model->removeCut();
        EXPECT_NEAR(model->clock().time(), row.after, 1e-9);
        EXPECT_NEAR(player().position, row.after, 1e-9);
    }
}

} // namespace
