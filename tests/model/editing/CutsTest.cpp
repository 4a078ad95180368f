// Editing the cuts of the active Short: snapping, the clamps of trims and extends, the
// edge drag, reordering, removing, adding the marked range and splitting at the playhead.

#include "model/editing/EditingTesting.h"

using namespace editing;

namespace {
using CutsTest = EditingTest;

std::vector<std::pair<double, double>> bounds(const std::vector<Cut>& cuts)
{
    std::vector<std::pair<double, double>> out;
    for (const Cut& c : cuts)
        out.emplace_back(c.start, c.end);
    return out;
}
} // namespace

TEST_F(CutsTest, SnapsToTheNearestLineEdgeStrictlyWithinTheDistance)
{
    // Segment 01 has one line from 10.0 to 10.5; cut 3 runs from 12 to 15.
    const struct {
        std::optional<double> within;
        double to, start;
    } rows[] = {
        {0.3, 10.25, 10.0}, // a tie goes to the earlier point of the list
        {0.3, 10.375, 10.5},
        {0.3, 9.625, 9.625},
        {0.25, 9.75, 9.75}, // exactly the distance away: no snap
        {std::nullopt, 10.01, 10.01},
    };
    openWith();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.to);
        model->trim(uuid(3), Edge::start, row.to, row.within);
        EXPECT_EQ(model->cuts()[2].start, row.start);
    }
}

TEST_F(CutsTest, TrimAndExtendKeepACutAtLeastAThirdOfASecondLong)
{
    // Cut 2 runs from 5 to 8; the recording is 400 s long.
    const struct {
        bool drag;
        Edge edge;
        double to, start, end;
    } rows[] = {
        {true, Edge::start, -2, 0, 8},      {true, Edge::start, 9, 7.7, 8},   {true, Edge::end, 500, 5, 400},
        {true, Edge::end, 1, 5, 5.3},       {false, Edge::start, 9, 7.7, 8}, {false, Edge::end, 4, 5, 5.3},
        {false, Edge::end, 500, 5, 500}, // extend takes a line's time as it is
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.to);
        openWith();
        if (row.drag)
            model->trim(uuid(2), row.edge, row.to, std::nullopt);
        else
            model->extend(uuid(2), row.edge, row.to);
        EXPECT_EQ(bounds(model->cuts())[1], std::make_pair(row.start, row.end));
    }
}

TEST_F(CutsTest, ADragMakesOneUndoPointAndOneSaveThenPreviewsTheEdge)
{
    openWith();
    for (double t : {13.0, 13.5, 14.0})
        model->trim(uuid(3), Edge::end, t + 31, std::nullopt);
    EXPECT_TRUE(model->scrubbing);
    EXPECT_EQ(player().position, 45 - 1.0 / 30);
    EXPECT_EQ(model->selection(), "02") << "the selection follows the previewed edge";
    EXPECT_EQ(stored().shorts[0].cuts[2].end, 15) << "nothing is saved during the drag";

    model->endTrim(uuid(3), Edge::end);
    EXPECT_FALSE(model->scrubbing);
    EXPECT_EQ(stored().shorts[0].cuts[2].end, 45);
    EXPECT_EQ(model->mode(), Mode::shortClip);
    // The edge lies at 2 + 3 + 33 = 38 s of the Short, which is also its end.
    EXPECT_EQ(model->stopAt, (StopAt{38 - 0.05, 38 - 0.05}));
    EXPECT_EQ(player().calls.back(), "play");

    model->undo();
    EXPECT_EQ(model->cuts()[2].end, 15);
    EXPECT_FALSE(model->canUndo());
}

TEST_F(CutsTest, ADragWhoseCutWentAwayStillEnds)
{
    openWith();
    model->trim(uuid(3), Edge::end, 16, std::nullopt);
    model->setSelectedCut(uuid(3));
    model->removeCut();
    model->endTrim(uuid(3), Edge::end);
    EXPECT_FALSE(model->scrubbing);
    model->endTrim(uuid(1), Edge::end);
    EXPECT_EQ(model->stopAt, std::nullopt) << "a drag that ended is not ended twice";
}

TEST_F(CutsTest, MoveCutTakesAnInsertionIndexCountedBeforeTheRemoval)
{
    const struct {
        int from, to;
        std::vector<int> order; // empty: nothing happens and no undo point is made
    } rows[] = {
        {0, 3, {2, 3, 1}}, {2, 0, {3, 1, 2}}, {0, 2, {2, 1, 3}}, {2, 2, {}},
        {2, 3, {}},        {-1, 0, {}},       {0, 4, {}},        {3, 0, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.from << " to " << row.to);
        openWith();
        model->moveCut(row.from, row.to);
        std::vector<int> order;
        for (const Cut& c : model->cuts())
            order.push_back(int(c.id.toString(QUuid::WithoutBraces).right(2).toInt()));
        const std::vector<int> unchanged{1, 2, 3};
        EXPECT_EQ(order, row.order.empty() ? unchanged : row.order);
        EXPECT_EQ(model->canUndo(), !row.order.empty());
        if (!row.order.empty()) {
            EXPECT_EQ(model->selectedCut(), uuid(row.order[size_t(row.to <= row.from ? row.to : row.to - 1)]));
        }
    }
}

TEST_F(CutsTest, RemovingACutSelectsItsNeighbour)
{
    openWith();
    model->activate(uuid(101));
    model->activate(uuid(100));
    ASSERT_EQ(model->mode(), Mode::shortClip);
    model->setSelectedCut(uuid(3));
    model->removeCut();
    EXPECT_EQ(model->selectedCut(), uuid(2));
    model->setSelectedCut(uuid(1));
    model->removeCut();
    EXPECT_EQ(model->selectedCut(), uuid(2));
    model->removeCut();
    EXPECT_EQ(model->selectedCut(), std::nullopt);
    EXPECT_EQ(model->mode(), Mode::segment) << "a Short without cuts is not played";
    EXPECT_TRUE(stored().shorts[0].cuts.empty());
}

TEST_F(CutsTest, AddRangeInsertsAfterTheSelectedCutOrMakesAShort)
{
    openWith();
    setMarkedRange(20, 21);
    model->setSelectedCut(uuid(2));
    model->addRange();
    EXPECT_EQ(bounds(model->cuts())[2], std::make_pair(20.0, 21.0));
    EXPECT_EQ(model->range(), std::nullopt);
    EXPECT_EQ(model->toast(), "Added to Short 100");

    model->closeTab(uuid(100));
    model->closeTab(uuid(101));
    setMarkedRange(22, 22.5);
    model->addRange();
    EXPECT_EQ(model->project().shorts.back().title, "Untitled Short");
    EXPECT_EQ(model->activeShort(), model->project().shorts.back().id);
    EXPECT_EQ(bounds(stored().shorts.back().cuts), (std::vector<std::pair<double, double>>{{22, 22.5}}));
    EXPECT_EQ(model->toast(), "Added to Untitled Short");
}

TEST_F(CutsTest, SplitAtPlayheadRefusesNearAnEdge)
{
    // Short times: cut 1 covers 0 … 2, cut 2 covers 2 … 5 (recording 5 … 8).
    const struct {
        double at;
        bool splits;
    } rows[] = {{2.0, false}, {2.3, false}, {2.31, true}, {4.7, false}, {3.5, true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.at);
        openWith();
        model->setMode(Mode::shortClip);
        model->seek(row.at);
        model->splitAtPlayhead();
        EXPECT_EQ(model->cuts().size(), row.splits ? 4u : 3u);
        EXPECT_EQ(model->toast(), row.splits ? std::nullopt : std::optional<QString>("Too close to an edge to split"));
        if (row.splits) {
            EXPECT_EQ(model->cuts()[1].end, model->cuts()[2].start);
            EXPECT_EQ(model->selectedCut(), model->cuts()[2].id);
            EXPECT_EQ(model->clock().time(), row.at);
        }
    }
}
