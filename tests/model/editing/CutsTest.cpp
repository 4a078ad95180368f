// Cut editing: snapping, the clamps of trims and extends, the edge drag, reordering and
// splitting at the playhead.

#include "model/editing/EditingTesting.h"

#include <cmath>

using namespace editing;

namespace {
using CutsTest = EditingTest;
using Bounds = std::pair<double, double>;
Bounds bounds(const Cut& c) { return {c.start, c.end}; }
} // namespace

TEST_F(CutsTest, SnapsToTheNearestLineEdgeStrictlyWithinTheDistance)
{
    const struct {
        std::optional<double> within;
        double to, start;
    } rows[] = {{0.3, 10.25, 10.0}, {0.3, 10.375, 10.5}, {0.3, 9.625, 9.625}, {0.25, 9.75, 9.75}, {{}, 10.01, 10.01}};
    openWith(); // segment 01 speaks from 10.0 to 10.5
    for (const auto& row : rows) {
        model->trim(uuid(3), Edge::start, row.to, row.within);
        EXPECT_EQ(model->cuts()[2].start, row.start) << row.to;
    }
}

TEST_F(CutsTest, TrimsAndExtendsLeaveAThirdOfASecond)
{
    const struct {
        bool drag;
        Edge edge;
        double to;
        Bounds result; // of cut 2, 5 … 8 s, in a 400 s recording
    } rows[] = {{true, Edge::start, -2, {0, 8}}, {true, Edge::start, 9, {7.7, 8}},  {true, Edge::end, 500, {5, 400}},
                {true, Edge::end, 1, {5, 5.3}},  {false, Edge::start, 9, {7.7, 8}}, {false, Edge::end, 500, {5, 500}},
                // A time that is not a number changes nothing.
                {true, Edge::start, std::nan(""), {5, 8}}, {false, Edge::end, std::nan(""), {5, 8}}};
    for (const auto& row : rows) {
        openWith();
        row.drag ? model->trim(uuid(2), row.edge, row.to, {}) : model->extend(uuid(2), row.edge, row.to);
        EXPECT_EQ(bounds(model->cuts()[1]), row.result) << row.drag << ' ' << row.to;
    }
}

TEST_F(CutsTest, ADragMakesOneUndoPointAndOneSaveThenPreviewsTheEdge)
{
    openWith();
    for (double t : {44.0, 44.5, 45.0})
        model->trim(uuid(3), Edge::end, t, std::nullopt);
    EXPECT_EQ(playerOf(*model).position, 45 - 1.0 / 30);
    EXPECT_EQ(model->selection(), "02") << "the selection follows the previewed edge";
    EXPECT_EQ(stored().shorts[0].cuts[2].end, 15);
    model->endTrim(uuid(3), Edge::end);
    EXPECT_EQ(stored().shorts[0].cuts[2].end, 45);
    EXPECT_EQ(model->mode(), Mode::shortClip);
    EXPECT_EQ(model->stopAt, (StopAt{38 - 0.05, 38 - 0.05})) << "the edge is the Short's end, 2 + 3 + 33 s";
    EXPECT_EQ(playerOf(*model).calls.back(), "play");
    model->undo();
    EXPECT_EQ(model->cuts()[2].end, 15);
    EXPECT_FALSE(model->canUndo());

    model->trim(uuid(3), Edge::end, 16, std::nullopt);
    model->redo();
    model->undo();
    EXPECT_EQ(model->cuts()[2].end, 16) << "undo and redo wait for the drag to end";
    model->setSelectedCut(uuid(3));
    model->removeCut();
    model->endTrim(uuid(3), Edge::end);
    EXPECT_FALSE(model->scrubbing) << "a drag whose cut went away still ends";
}

TEST_F(CutsTest, ADragCutShortByClosingKeepsItsEditAndPlaysNothing)
{
    // Closing, or opening another project, mid-trim: the timeline hides with its window
    // and ends the drag as the recording goes.
    for (const bool another : {false, true}) {
        openWith();
        const QString other = writePackage(root + "/Other.vtrl", stored());
        model->trim(uuid(3), Edge::end, 20, std::nullopt);
        QObject::connect(model.get(), &AppModel::videoChanged, model.get(),
                         [this] { model->endTrim(uuid(3), Edge::end); });
        if (another)
            QCoro::waitFor(model->openProject(other));
        else
            model->close();
        EXPECT_EQ(stored().shorts[0].cuts[2].end, 20) << another;
        EXPECT_FALSE(playerOf(*model).playing) << another;
        EXPECT_FALSE(model->scrubbing || model->stopAt) << another;
    }
}

TEST_F(CutsTest, MoveCutTakesAnInsertionIndexCountedBeforeTheRemoval)
{
    const struct {
        int from, to;
        std::vector<int> order; // empty: nothing happens, no undo point
    } rows[] = {{0, 3, {2, 3, 1}}, {2, 0, {3, 1, 2}}, {0, 2, {2, 1, 3}}, {2, 2, {}},
                {2, 3, {}},        {-1, 0, {}},       {0, 4, {}},        {3, 0, {}}};
    for (const auto& row : rows) {
        openWith();
        model->moveCut(row.from, row.to);
        std::vector<int> order;
        for (const Cut& c : model->cuts())
            order.push_back(c.id.toString(QUuid::WithoutBraces).right(2).toInt());
        EXPECT_EQ(order, row.order.empty() ? std::vector<int>({1, 2, 3}) : row.order) << row.from << ' ' << row.to;
        EXPECT_EQ(model->canUndo(), !row.order.empty());
    }
}

TEST_F(CutsTest, SplitAtPlayheadRefusesNearAnEdge)
{
    // Cut 1 covers Short times 0 … 2, cut 2 covers 2 … 5 (recording 5 … 8).
    for (const auto& [at, splits] : {std::pair{2.0, false}, {2.3, false}, {2.31, true}, {4.7, false}, {3.5, true}}) {
        openWith();
        model->setMode(Mode::shortClip);
        model->seek(at);
        model->splitAtPlayhead();
        ASSERT_EQ(model->cuts().size(), splits ? 4u : 3u) << at;
        EXPECT_EQ(model->toast(), splits ? std::nullopt : std::optional<QString>("Too close to an edge to split"));
        EXPECT_EQ(model->clock().time(), at);
        EXPECT_EQ(model->selectedCut(), splits ? std::optional(model->cuts()[2].id) : std::nullopt);
    }
}
