// Undo and redo across every kind of edit (with each edit's notice), the limits of the
// history, and what a restore keeps, repairs, notes and restarts.

#include "model/editing/EditingTesting.h"

using namespace editing;

namespace {
using HistoryTest = EditingTest;
using State = std::pair<std::vector<Short>, std::vector<Segment>>;
State stateOf(const Project& p) { return {p.shorts, p.segments}; }
} // namespace

TEST_F(HistoryTest, EveryEditUndoesAndRedoes)
{
    const struct {
        const char* name;
        std::function<void(AppModel&)> edit;
        std::optional<QString> toast;
    } rows[] = {
        {"addRange",
         [](AppModel& m) {
             m.clock().setTime(20); m.mark(Edge::start);
             m.clock().setTime(21); m.mark(Edge::end);
             m.setSelectedCut(uuid(2)); m.addRange();
         },
         "Added to Short 100"},
        {"extend", [](AppModel& m) { m.extend(uuid(2), Edge::end, 9); }, {}},
        {"moveCut", [](AppModel& m) { m.moveCut(0, 3); }, {}},
        {"removeCut", [](AppModel& m) { m.setSelectedCut(uuid(2)); m.removeCut(); }, {}},
        {"trim", [](AppModel& m) { m.trim(uuid(1), Edge::start, 0.5, {}); m.endTrim(uuid(1), Edge::start); }, {}},
        {"splitAtPlayhead", [](AppModel& m) { m.setMode(Mode::shortClip); m.seek(3.5); m.splitAtPlayhead(); }, {}},
        {"newShort", [](AppModel& m) { m.newShort(); }, {}},
        {"openIdea", [](AppModel& m) { m.openIdea(m.project().ideas[1]); }, {}},
        {"duplicateShort", [](AppModel& m) { m.duplicateShort(uuid(100)); }, {}},
        {"deleteShort", [](AppModel& m) { m.deleteShort(uuid(101)); }, "Deleted Short 101. Ctrl+Z brings it back"},
        {"revert", [](AppModel& m) { m.revert(m.project().ideas[0]); }, "Back to the idea's cut. Ctrl+Z undoes that"},
        {"addSegment", [](AppModel& m) { m.addSegment({110, 330}); },
         "Added segment 03a. It is long, so press Transcribe when you want it read"},
        {"joinWithNext", [](AppModel& m) { m.joinWithNext("01"); }, "Joined 02 into 01"},
        {"splitSegment", [](AppModel& m) { m.setSelection("03"); m.clock().setTime(80); m.splitSegment(); },
         "Split into 03 and 03a"},
        {"removeSegment", [](AppModel& m) { m.removeSegment("02a"); }, "Removed segment 02a. Ctrl+Z brings it back"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        openWith();
        const State before = stateOf(model->project());
        row.edit(*model);
        const State after = stateOf(model->project());
        ASSERT_NE(after, before);
        EXPECT_EQ(stateOf(stored()), after);
        EXPECT_EQ(model->toast(), row.toast);
        model->undo();
        EXPECT_EQ(stateOf(model->project()), before);
        EXPECT_EQ(stateOf(stored()), before);
        EXPECT_FALSE(model->canUndo());
        model->redo();
        EXPECT_EQ(stateOf(stored()), after);
        EXPECT_FALSE(model->canRedo());
    }
}

TEST_F(HistoryTest, KeepsEightyStepsAndANewEditDropsRedo)
{
    openWith();
    Project unsaved = model->project();
    unsaved.note = "not saved";
    model->setProject(unsaved);
    model->undo();
    EXPECT_EQ(stored().note, "") << "nothing to undo: nothing is saved";
    for (int i = 0; i < 81; ++i)
        model->newShort();
    int undone = 0;
    for (; model->canUndo(); ++undone)
        model->undo();
    EXPECT_EQ(undone, 80);
    EXPECT_EQ(model->project().shorts.size(), 3u);
    model->redo();
    model->newShort();
    EXPECT_FALSE(model->canRedo());
}

TEST_F(HistoryTest, RestoreKeepsLaterContentAndRepairsWhatIsGone)
{
    openWith();
    model->setSelection("03");
    model->clock().setTime(80);
    model->splitSegment();
    model->deleteShort(uuid(100));
    model->setSelectedCut(uuid(4));
    Project later = model->project();
    later.segments[0].summary = "arrived later";
    model->setProject(later);

    model->undo(); // the Short comes back, active again, and a note says so
    EXPECT_EQ(model->activeShort(), uuid(100));
    EXPECT_EQ(model->selectedCut(), std::nullopt);
    EXPECT_EQ(model->jobs().front().title, "Undo or redo changed the Shorts");
    EXPECT_EQ(model->jobs().front().detail, "from 1 to 2");
    model->undo(); // 03 comes back whole; 01 keeps what arrived; 03a's selection falls back to 01
    EXPECT_EQ(model->project().segments[0].summary, "arrived later");
    EXPECT_EQ(model->project().segments[3], spoken("03", 70, 100));
    EXPECT_EQ(model->selection(), "01");
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
    EXPECT_FALSE(running && *model->pipeline() == *running);
}

TEST_F(HistoryTest, ANewEditAfterAnUndoDiscardsTheUndoneBranch)
{
    openWith();
    const State before = stateOf(model->project());
    model->extend(uuid(2), Edge::end, 9); // the branch that will be discarded
    model->undo();
    model->deleteShort(uuid(101));
    const State after = stateOf(model->project());

    model->redo(); // nothing to redo: the extend does not come back
    EXPECT_EQ(stateOf(model->project()), after);
    EXPECT_EQ(stateOf(stored()), after);
    model->undo();
    EXPECT_EQ(stateOf(model->project()), before);
    EXPECT_FALSE(model->canUndo());
    model->redo();
    EXPECT_EQ(stateOf(model->project()), after);
}
