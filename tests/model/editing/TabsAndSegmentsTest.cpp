// Short tabs (closing order, reopening, whether a Short was edited) and the margins of a
// segment split.

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

TEST_F(SegmentsTest, SplittingKeepsFiveSecondsFromEitherEdge)
{
    for (const auto& [at, splits] : {std::pair{75.0, true}, {95.0, true}, {74.99, false}, {95.01, false}}) {
        openWith();
        model->setSelection("03");
        model->clock().setTime(at);
        model->splitSegment();
        EXPECT_EQ(model->toast(), splits ? "Split into 03 and 03a" : "Too close to an edge to split the segment");
        EXPECT_EQ(stored().segments.size(), splits ? 5u : 4u) << at;
        EXPECT_EQ(model->selection(), splits ? "03a" : "03");
    }
    model->activate(uuid(100));
    model->splitSegment();
    EXPECT_EQ(model->project().segments.size(), 4u) << "no split in Short mode";
}
