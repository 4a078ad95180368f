// Short tabs (closing order, reopening, whether a Short was edited, renaming) and the
// rules of segment edits (touching, splitting margins, rating, correcting, use by Shorts).

#include "model/editing/EditingTesting.h"

using namespace editing;

namespace {
using TabsTest = EditingTest;
using SegmentsTest = EditingTest;
} // namespace

TEST_F(TabsTest, ClosingTheActiveTabMovesToTheLeftmostOpenOne)
{
    openWith({spoken("01", 0, 30)}, {shortOf(100, {cut(1, 1, 3)}), shortOf(101, {cut(2, 5, 8)}), shortOf(102, {})});
    model->activate(uuid(102));
    EXPECT_EQ(model->mode(), Mode::segment);
    model->closeTab(uuid(102));
    EXPECT_EQ(model->activeShort(), uuid(100));
    EXPECT_EQ(model->mode(), Mode::shortClip) << "the mode names what the player shows";
    model->setSelectedCut(uuid(1));
    model->closeTab(uuid(101));
    EXPECT_EQ(model->selectedCut(), uuid(1)) << "closing another tab changes nothing else";
    model->closeTab(uuid(100));
    EXPECT_EQ(model->activeShort(), std::nullopt);
    EXPECT_EQ(model->mode(), Mode::segment);
    model->activate(uuid(101));
    EXPECT_EQ(readFile(package + "/project.json").count("\"closed\""), 2) << "a reopened tab loses its key";
    EXPECT_FALSE(model->canUndo());
}

TEST_F(TabsTest, AShortFromAnIdeaIsEditedUntilItsBoundsMatchAgain)
{
    openWith();
    model->openIdea(model->project().ideas[1]);
    const QUuid made = *model->activeShort(), first = model->cuts()[0].id;
    const auto edited = [&] { return model->isEdited(model->project().shorts.back()); };
    EXPECT_FALSE(edited());
    model->extend(first, Edge::end, 26);
    EXPECT_TRUE(edited());
    model->extend(first, Edge::end, 25);
    EXPECT_FALSE(edited());
    model->setSelectedCut(first);
    model->removeCut();
    EXPECT_TRUE(edited());
    model->undo();
    EXPECT_FALSE(edited());
    model->activate(uuid(100));
    model->openIdea(model->project().ideas[1]);
    EXPECT_EQ(model->project().shorts.size(), 3u);
    EXPECT_EQ(model->activeShort(), made);
}

TEST_F(TabsTest, RenamingIgnoresBlankTitlesOnly)
{
    openWith();
    for (const auto& [title, stored] : {std::pair{" \t ", "Short 100"}, {" Best bit ", " Best bit "}, {"\n", "\n"}}) {
        model->rename(uuid(100), title);
        EXPECT_EQ(Project::load(package).shorts[0].title, stored);
    }
}

TEST_F(SegmentsTest, NeighboursTouchWithinFiveHundredthsOfASecond)
{
    for (const auto& [next, touches] :
         {std::pair{30.0, true}, {30.04, true}, {30.06, false}, {29.96, true}, {29.94, false}}) {
        openWith({spoken("01", 0, 30), spoken("02", next, 60)});
        EXPECT_FALSE(model->touchesNext("02"));
        model->joinWithNext("01");
        EXPECT_EQ(model->project().segments.size(), touches ? 1u : 2u) << next;
        EXPECT_EQ(model->canUndo(), touches);
    }
}

TEST_F(SegmentsTest, SplittingKeepsFiveSecondsFromEitherEdge)
{
    const std::optional<QString> refused = "Too close to an edge to split the segment";
    for (const auto& [at, toast] : {std::pair{75.0, std::optional<QString>("Split into 03 and 03a")},
                                    {95.0, "Split into 03 and 03a"}, {74.99, refused}, {95.01, refused}}) {
        openWith();
        model->setSelection("03");
        model->clock().setTime(at);
        model->splitSegment();
        EXPECT_EQ(model->toast(), toast) << at;
        EXPECT_EQ(stored().segments.size(), toast == refused ? 4u : 5u);
        EXPECT_EQ(model->selection(), toast == refused ? "03" : "03a");
    }
    model->activate(uuid(100));
    model->splitSegment();
    EXPECT_EQ(model->project().segments.size(), 4u) << "no split in Short mode";
}

TEST_F(SegmentsTest, RatingCorrectingAndUse)
{
    openWith();
    using Rating = std::optional<int>;
    for (const auto& [from, given, result] : {std::tuple<Rating, Rating, Rating>{1, 1, {}}, {-1, 1, 1}, {1, {}, {}}}) {
        model->rate("01", std::nullopt);
        model->rate("01", from);
        model->rate("01", given);
        EXPECT_EQ(stored().segments[0].rating, result);
    }
    model->correct("01", 0, " \n\t");
    model->correct("01", 0, " \nfixed \n");
    EXPECT_EQ(stored().segments[0].lines->at(0), (Line{10, 10.5, "fixed"}));
    EXPECT_FALSE(model->canUndo());
    // Cut 4 runs from 40 to 45; a cut ending where a segment starts does not use it.
    EXPECT_EQ(model->shortsUsing(segment("x", 45, 50)), 0);
    EXPECT_EQ(model->shortsUsing(segment("x", 2, 44)), 2);
}
