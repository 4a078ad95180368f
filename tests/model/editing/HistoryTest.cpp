// Undo and redo across every kind of edit, the limits of the history, and what a restore
// keeps, repairs and restarts.

#include "model/editing/EditingTesting.h"

using namespace editing;

namespace {

class HistoryTest : public EditingTest {
protected:
    std::pair<std::vector<Short>, std::vector<Segment>> state() const
    {
        return {model->project().shorts, model->project().segments};
    }
    std::pair<std::vector<Short>, std::vector<Segment>> onDisk() const
    {
        const Project p = stored();
        return {p.shorts, p.segments};
    }
};

} // namespace

TEST_F(HistoryTest, EveryEditUndoesAndRedoes)
{
    const std::vector<std::pair<const char*, std::function<void(AppModel&)>>> edits = {
        {"extend", [](AppModel& m) { m.extend(uuid(2), Edge::end, 9); }},
        {"moveCut", [](AppModel& m) { m.moveCut(0, 3); }},
        {"removeCut", [](AppModel& m) { m.setSelectedCut(uuid(2)); m.removeCut(); }},
        {"trim drag",
         [](AppModel& m) {
             m.trim(uuid(1), Edge::start, 0.5, std::nullopt);
             m.trim(uuid(1), Edge::start, 0.7, std::nullopt);
             m.endTrim(uuid(1), Edge::start);
         }},
        {"newShort", [](AppModel& m) { m.newShort(); }},
        {"openIdea", [](AppModel& m) { m.openIdea(m.project().ideas[1]); }},
        {"duplicateShort", [](AppModel& m) { m.duplicateShort(uuid(100)); }},
        {"deleteShort", [](AppModel& m) { m.deleteShort(uuid(101)); }},
        {"revert", [](AppModel& m) { m.revert(m.project().ideas[0]); }},
        {"addSegment", [](AppModel& m) { m.addSegment({110, 330}); }},
        {"joinWithNext", [](AppModel& m) { m.joinWithNext("01"); }},
        {"splitSegment", [](AppModel& m) { m.setSelection("03"); m.clock().setTime(80); m.splitSegment(); }},
        {"removeSegment", [](AppModel& m) { m.removeSegment("02a"); }},
    };
    for (const auto& [name, edit] : edits) {
        SCOPED_TRACE(name);
        openWith();
        const auto before = state();
        edit(*model);
        const auto after = state();
        ASSERT_NE(after, before);
        EXPECT_EQ(onDisk(), after);
        EXPECT_TRUE(model->canUndo());

        model->undo();
        EXPECT_EQ(state(), before);
        EXPECT_EQ(onDisk(), before);
        EXPECT_FALSE(model->canUndo());
        EXPECT_TRUE(model->canRedo());

        model->redo();
        EXPECT_EQ(state(), after);
        EXPECT_EQ(onDisk(), after);
        EXPECT_FALSE(model->canRedo());
    }
}

TEST_F(HistoryTest, KeepsEightyStepsAndANewEditDropsRedo)
{
    openWith();
    // Nothing to undo: nothing changes and nothing is saved.
    Project unsaved = model->project();
    unsaved.note = "not saved yet";
    model->setProject(unsaved);
    model->undo();
    EXPECT_EQ(model->project(), unsaved);
    EXPECT_EQ(stored().note, "");

    for (int i = 0; i < 81; ++i)
        model->newShort();
    int undone = 0;
    for (; model->canUndo(); ++undone)
        model->undo();
    EXPECT_EQ(undone, 80);
    EXPECT_EQ(model->project().shorts.size(), 3u) << "the state before the first edit is gone";

    model->redo();
    model->deleteShort(uuid(101));
    EXPECT_FALSE(model->canRedo());
    const Project now = model->project();
    model->redo();
    EXPECT_EQ(model->project(), now);
}

TEST_F(HistoryTest, RestoreKeepsNewContentAndRepairsTheSelection)
{
    openWith();
    model->setSelection("03");
    model->clock().setTime(80);
    model->splitSegment();
    ASSERT_EQ(model->selection(), "03a");
    Project arrived = model->project();
    arrived.segments[0].summary = "arrived after the split";
    arrived.segments[3].summary = "the first half's summary";
    model->setProject(arrived);

    model->undo();
    const auto& segments = model->project().segments;
    ASSERT_EQ(segments.size(), 4u);
    EXPECT_EQ(segments[0].summary, "arrived after the split") << "01 kept its bounds and its new summary";
    EXPECT_EQ(segments[3], fourSegments()[3]) << "03 came back whole, as it was";
    EXPECT_EQ(model->selection(), "01") << "03a is gone: the first segment is selected";
    EXPECT_EQ(model->selectedCut(), std::nullopt);
}

TEST_F(HistoryTest, ANoteWhenTheNumberOfShortsChangesAndTheActiveShortComesBack)
{
    openWith({spoken("01", 0, 30)}, {shortOf(100, {}), shortOf(101, {}), shortOf(102, {cut(1, 1, 3)})});
    model->activate(uuid(102));
    model->deleteShort(uuid(102));
    ASSERT_EQ(model->activeShort(), uuid(100));
    model->undo();
    EXPECT_EQ(model->activeShort(), uuid(102));
    EXPECT_EQ(model->jobs().front().title, "Undo or redo changed the Shorts");
    EXPECT_EQ(model->jobs().front().detail, "from 2 to 3");
    EXPECT_TRUE(readFile(package + "/activity.jsonl").contains("Undo or redo changed the Shorts"));

    // A snapshot without an active Short makes the first one active.
    model->closeTab(uuid(100));
    model->closeTab(uuid(101));
    model->closeTab(uuid(102));
    ASSERT_EQ(model->activeShort(), std::nullopt);
    model->addSegment({100, 320});
    model->activate(uuid(101));
    model->undo();
    EXPECT_EQ(model->activeShort(), uuid(100));
}

TEST_F(HistoryTest, AnUntranscribedSegmentBroughtBackRestartsThePipeline)
{
    Segment added = segment("02a", 62, 68);
    added.manual = true;
    openWith({spoken("01", 0, 30), added});
    model->removeSegment("02a");
    const auto running = model->pipeline();
    model->undo();
    ASSERT_TRUE(model->pipeline());
    EXPECT_FALSE(running && *model->pipeline() == *running) << "a new run was started";
    EXPECT_TRUE(!running || running->cancelled());
}
