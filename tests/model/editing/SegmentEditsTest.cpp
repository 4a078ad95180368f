// Segment edits: adding, rating, touching and joining, splitting at the playhead,
// correcting a line, removing an added segment, and the Shorts that use a segment.

#include "model/editing/EditingTesting.h"

using namespace editing;

namespace {
using SegmentEditsTest = EditingTest;

std::vector<QString> ids(const std::vector<Segment>& segments)
{
    std::vector<QString> out;
    for (const Segment& s : segments)
        out.push_back(s.id);
    return out;
}
} // namespace

TEST_F(SegmentEditsTest, AddedSegmentsWaitWhenLongerThan210Seconds)
{
    openWith();
    model->addSegment({100, 310});
    EXPECT_EQ(model->toast(), "Added segment 03a");
    model->addSegment({70, 280.5});
    EXPECT_EQ(model->toast(), "Added segment 03b. It is long, so press Transcribe when you want it read");
    const std::vector<Segment> saved = stored().segments;
    EXPECT_EQ(ids(saved), (std::vector<QString>{"01", "02", "02a", "03", "03b", "03a"}));
    EXPECT_EQ(saved[4].waiting, true);
    EXPECT_EQ(saved[5].waiting, std::nullopt);
    EXPECT_EQ(saved[5].manual, true);
}

TEST_F(SegmentEditsTest, RatingTogglesAndIsNotUndoable)
{
    const struct {
        std::optional<int> from, given, result;
    } rows[] = {{1, 1, std::nullopt}, {-1, -1, std::nullopt}, {-1, 1, 1}, {1, -1, -1}, {1, std::nullopt, std::nullopt}};
    openWith();
    for (const auto& row : rows) {
        model->rate("01", std::nullopt);
        model->rate("01", row.from);
        model->rate("01", row.given);
        EXPECT_EQ(stored().segments[0].rating, row.result);
    }
    EXPECT_FALSE(model->canUndo());
}

TEST_F(SegmentEditsTest, SegmentsTouchWithinFiveHundredthsOfASecond)
{
    const struct {
        double nextStart;
        bool touches;
    } rows[] = {{30, true}, {30.04, true}, {30.06, false}, {29.96, true}, {29.94, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.nextStart);
        openWith({spoken("01", 0, 30), spoken("02", row.nextStart, 60)});
        EXPECT_EQ(model->touchesNext("01"), row.touches);
        EXPECT_FALSE(model->touchesNext("02"));
        model->joinWithNext("01");
        EXPECT_EQ(model->project().segments.size(), row.touches ? 1u : 2u);
        EXPECT_EQ(model->canUndo(), row.touches);
    }
}

TEST_F(SegmentEditsTest, JoiningLeavesAnotherSelectionAlone)
{
    openWith();
    model->setSelection("03");
    model->joinWithNext("01");
    EXPECT_EQ(model->toast(), "Joined 02 into 01");
    EXPECT_EQ(model->selection(), "03");
    EXPECT_EQ(stored().segments[0].end, 60);
}

TEST_F(SegmentEditsTest, SplittingKeepsFiveSecondsFromEitherEdge)
{
    const struct {
        double at;
        Mode mode;
        std::optional<QString> toast;
    } rows[] = {
        {75, Mode::segment, "Split into 03 and 03a"},
        {95, Mode::segment, "Split into 03 and 03a"},
        {74.99, Mode::segment, "Too close to an edge to split the segment"},
        {95.01, Mode::segment, "Too close to an edge to split the segment"},
        {80, Mode::shortClip, std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.at);
        openWith();
        if (row.mode == Mode::shortClip)
            model->activate(uuid(100));
        model->setSelection("03");
        model->clock().setTime(row.at);
        model->splitSegment();
        EXPECT_EQ(model->toast(), row.toast);
        const bool split = row.toast && row.toast->startsWith("Split");
        EXPECT_EQ(stored().segments.size(), split ? 5u : 4u);
        EXPECT_EQ(model->canUndo(), split);
        if (split) {
            EXPECT_EQ(model->selection(), "03a");
        }
    }
}

TEST_F(SegmentEditsTest, CorrectingALineKeepsItsTimesAndRefusesBlanks)
{
    openWith();
    for (const auto& [text, stored] : {std::pair{" \n\t", "words"}, {" \nfixed \n", "fixed"}}) {
        model->correct("01", 0, text);
        EXPECT_EQ(Project::load(package).segments[0].lines->at(0), (Line{10, 10.5, stored}));
    }
    model->correct("01", 1, "out of range");
    model->correct("01", -1, "out of range");
    EXPECT_EQ(model->project().segments[0].lines->size(), 1u);
    EXPECT_FALSE(model->canUndo());
}

TEST_F(SegmentEditsTest, OnlyAddedSegmentsAreRemoved)
{
    openWith();
    model->setSelection("02a");
    model->removeSegment("02");
    EXPECT_EQ(model->toast(), std::nullopt);
    model->removeSegment("02a");
    EXPECT_EQ(model->toast(), "Removed segment 02a. Ctrl+Z brings it back");
    EXPECT_EQ(model->selection(), "01") << "the first segment, not the neighbour";
    EXPECT_EQ(ids(stored().segments), (std::vector<QString>{"01", "02", "03"}));
    EXPECT_EQ(stored().shorts, twoShorts());
    model->undo();
    EXPECT_EQ(ids(stored().segments), (std::vector<QString>{"01", "02", "02a", "03"}));
}

TEST_F(SegmentEditsTest, ShortsUsingCountsOverlapsNotTouches)
{
    openWith(fourSegments(), {shortOf(100, {cut(1, 1, 3), cut(2, 5, 8)}), shortOf(101, {cut(3, 25, 30)}),
                              shortOf(102, {cut(4, 59, 63)})});
    model->closeTab(uuid(102));
    const auto& s = model->project().segments;
    EXPECT_EQ(model->shortsUsing(s[0]), 2);
    EXPECT_EQ(model->shortsUsing(s[1]), 1) << "a cut ending at the start does not count; a closed tab does";
    EXPECT_EQ(model->shortsUsing(s[3]), 0);
}
