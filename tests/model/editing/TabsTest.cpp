// The Short tabs: closing order, reopening, ideas and whether a Short was edited, and
// the texts of duplicating, renaming and deleting.

#include "model/editing/EditingTesting.h"

using namespace editing;

namespace {
using TabsTest = EditingTest;
} // namespace

TEST_F(TabsTest, ClosingTheActiveTabMovesToTheLeftmostOpenOne)
{
    openWith({spoken("01", 0, 30)}, {shortOf(100, {cut(1, 1, 3)}), shortOf(101, {cut(2, 5, 8)}), shortOf(102, {})});
    model->activate(uuid(102));
    EXPECT_EQ(model->mode(), Mode::segment) << "a Short without cuts is not played";
    model->closeTab(uuid(102));
    EXPECT_EQ(model->activeShort(), uuid(100));
    EXPECT_EQ(model->mode(), Mode::shortClip) << "the Short shown is the one the mode names";

    model->setSelectedCut(uuid(1));
    model->closeTab(uuid(101));
    EXPECT_EQ(model->activeShort(), uuid(100));
    EXPECT_EQ(model->selectedCut(), uuid(1));

    model->closeTab(uuid(100));
    EXPECT_EQ(model->activeShort(), std::nullopt);
    EXPECT_EQ(model->mode(), Mode::segment);
    EXPECT_TRUE(model->openShorts().empty());
    EXPECT_FALSE(model->canUndo()) << "closing a tab is not undoable";

    model->activate(uuid(101));
    EXPECT_EQ(model->activeShort(), uuid(101));
    EXPECT_EQ(readFile(package + "/project.json").count("\"closed\""), 2) << "a reopened tab loses its key";
}

TEST_F(TabsTest, AShortFromAnIdeaIsEditedUntilItsBoundsMatchAgain)
{
    openWith();
    const Idea idea = model->project().ideas[1];
    model->openIdea(idea);
    const size_t count = model->project().shorts.size();
    const QUuid made = *model->activeShort();
    const QUuid first = model->cuts()[0].id;
    const auto edited = [&] { return model->isEdited(model->project().shorts.back()); };
    EXPECT_NE(first, idea.cuts[0].id);
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
    model->openIdea(idea);
    EXPECT_EQ(model->project().shorts.size(), count) << "an idea makes one Short";
    EXPECT_EQ(model->activeShort(), made);
    EXPECT_FALSE(model->isEdited(model->project().shorts[1])) << "a Short from no idea is never edited";
}

TEST_F(TabsTest, TheTextsOfRevertDeleteDuplicateAndRename)
{
    openWith();
    model->revert(model->project().ideas[0]);
    EXPECT_EQ(model->jobs().front().title, "Reverted the Short “Short 100” to AI's cut");
    EXPECT_EQ(model->jobs().front().detail, "from 3 cuts to 2");
    EXPECT_EQ(model->toast(), "Back to the idea's cut. Ctrl+Z undoes that");
    EXPECT_EQ(model->mode(), Mode::shortClip);

    model->deleteShort(uuid(101));
    EXPECT_EQ(model->jobs().front().title, "Deleted the Short “Short 101”");
    EXPECT_EQ(model->jobs().front().detail, "1 cuts");
    EXPECT_EQ(model->toast(), "Deleted Short 101. Ctrl+Z brings it back");

    model->duplicateShort(uuid(100));
    model->duplicateShort(*model->activeShort());
    const Short copy = model->project().shorts.back();
    EXPECT_EQ(copy.title, "Short 100 copy copy");
    EXPECT_EQ(copy.idea, std::nullopt);
    EXPECT_EQ(model->activeShort(), copy.id);

    for (const auto& [title, stored] : {std::pair{" \t ", "Short 100"}, {" Best bit ", " Best bit "}, {"\n", "\n"}}) {
        model->rename(uuid(100), title);
        EXPECT_EQ(Project::load(package).shorts[0].title, stored);
    }
    model->newShort();
    EXPECT_EQ(model->project().shorts.back().title, "Untitled Short");
    EXPECT_EQ(model->mode(), Mode::segment);
}
