// The Shorts timeline's derivations: the scale, zoom, ruler, heights, where a press lands
// and where a moved cut drops.

#include "model/lifecycle/AppModel.h"
#include "platform/Prefs.h"
#include "views/editor/TimelineDerive.h"

#include "model/editing/Composition.h"

#include <gtest/gtest.h>
#include <limits>

using namespace timeline;

namespace {

const double infinite = std::numeric_limits<double>::infinity();

std::vector<Cut> lasting(std::initializer_list<double> lengths)
{
    std::vector<Cut> cuts;
    double at = 100;
    for (double length : lengths) {
        cuts.push_back({QUuid::createUuid(), at, at + length, {}});
        at += 50;
    }
    return cuts;
}

} // namespace

TEST(TimelineScale, FitsTheShortAtLeastTwelveSecondsLongAndAtMostSixtyPointsASecond)
{
    const struct {
        double width, total, zoom;
        std::optional<double> frozen;
        double scale;
    } cases[] = {
        {600, 5, 1, {}, 50},  {600, 60, 1, {}, 10}, {600, 60, 12, {}, 120}, {600, 0, 1, {}, 50},
        {6000, 30, 12, {}, 720}, {900, 60, 2, 33.0, 33}, {0, 60, 1, {}, 0},
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(timelineScale(c.width, c.total, c.zoom, c.frozen), c.scale) << c.width << " " << c.total;
    EXPECT_FALSE(usableScale(0));
    EXPECT_FALSE(usableScale(infinite));
    EXPECT_FALSE(usableScale(std::numeric_limits<double>::quiet_NaN()));
}

TEST(TimelineZoom, StaysWithinOneAndTwelve)
{
    const struct {
        double got, want;
    } cases[] = {
        {zoomIn(12), 12},         {zoomIn(10), 12},        {zoomIn(2), 3},          {zoomOut(1), 1},
        {zoomOut(1.2), 1},        {zoomOut(3), 2},         {pinchZoom(2, 0.3), 1},  {pinchZoom(2, 10), 12},
        {pinchZoom(2, 1.5), 3},   {wheelZoom(1, -15), 1},  {wheelZoom(12, 15), 12}, {wheelZoom(1, 15), 1.1},
        {wheelZoom(2, infinite), 2},
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(c.got, c.want);

    // A hand-edited preferences file: the zoom and the heights come back within bounds.
    Prefs& prefs = Prefs::shared();
    for (const auto& [stored, zoom] : {std::pair{0.0, 1.0}, {-4.0, 1.0}, {1e300, 12.0}, {2.5, 2.5}}) {
        prefs.set(QStringLiteral("timelineZoom"), stored);
        EXPECT_DOUBLE_EQ(storedZoom(prefs), zoom) << stored;
    }
    prefs.set(QStringLiteral("clipFilmstrip"), true);
    prefs.set(QStringLiteral("clipWaveform"), true);
    prefs.set(QStringLiteral("clipFilmstripHeight"), 1e9);
    prefs.set(QStringLiteral("clipWaveformHeight"), -3.0);
    EXPECT_EQ(look(prefs).filmstrip, 140);
    EXPECT_EQ(look(prefs).waveform, 12);
    prefs.set(QStringLiteral("clipFilmstripHeight"), 54.0);
    prefs.set(QStringLiteral("clipWaveformHeight"), 24.0);
}

TEST(TimelineRuler, StepsAndLabelsFollowTheScale)
{
    const struct {
        double scale, step;
    } steps[] = {{91, 0.5}, {90, 1}, {31, 1}, {30, 5}, {13, 5}, {12, 10}, {1, 10}};
    for (const auto& s : steps)
        EXPECT_EQ(rulerStep(s.scale), s.step) << s.scale;

    auto labels = [](double total, double scale) {
        QStringList list;
        for (const Tick& tick : rulerTicks(total, scale))
            list << tick.label;
        return list.join(u' ');
    };
    EXPECT_EQ(labels(5, 50), QStringLiteral("0s 1s 2s 3s 4s 5s"));
    EXPECT_EQ(labels(60, 10), QStringLiteral("0s 10s 20s 30s 40s 50s 60s"));
    EXPECT_EQ(labels(1.2, 120), QStringLiteral("0.0s 0.5s 1.0s"));
    EXPECT_EQ(labels(1.5, 120), QStringLiteral("0.0s 0.5s 1.0s 1.5s"));
    EXPECT_EQ(labels(5, 0), QString());
    EXPECT_EQ(rulerTicks(5, 50)[3].x, 150);
}

TEST(TimelineHeights, FollowTheRowsShown)
{
    const struct {
        ClipLook look;
        double block, track;
    } cases[] = {
        {{false, 54, 24}, 78, 106},
        {{false, 0, 0}, 20, 48},
        {{true, 54, 0}, 76, 104},
        {{true, 0, 0}, 22, 50},
        {{false, 0, 12}, 12, 40},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(blockHeight(c.look), c.block);
        EXPECT_EQ(trackHeight(c.look), c.track);
    }
    EXPECT_EQ(handleHeight(20, false), 16);
    EXPECT_EQ(handleHeight(78, false), 20);
    EXPECT_EQ(handleHeight(78, true), 34);
}

TEST(TimelineBlocks, PressesLandOnHandlesBeforeBodiesAndLaterBlocksFirst)
{
    // Cuts of 10, 0.2 (drawn 4 wide) and 5 seconds at 10 points a second.
    const std::vector<BlockPlace> places = blockSpans(lasting({10, 0.2, 5}), 10);
    ASSERT_EQ(places, (std::vector<BlockPlace>{{0, 100}, {100, 4}, {104, 50}}));
    const struct {
        double x;
        Hit hit;
    } cases[] = {
        {0, {0, Part::start}},  {11.9, {0, Part::start}}, {12, {0, Part::body}},   {87.9, {0, Part::body}},
        {88, {0, Part::end}},   {92, {1, Part::end}},     {103.9, {1, Part::end}}, {104, {2, Part::start}},
        {153.9, {2, Part::end}}, {154, {}},               {-1, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(blockHit(places, c.x), c.hit) << c.x;
}

TEST(TimelineBlocks, DropsInFrontOfTheFirstCutWhoseMiddleLiesRight)
{
    const std::vector<Cut> cuts = lasting({4, 2, 6});
    const struct {
        double x;
        int index;
    } cases[] = {{-30, 0}, {19.9, 0}, {20, 1}, {49.9, 1}, {50, 2}, {89.9, 2}, {90, 3}, {500, 3}};
    for (const auto& c : cases)
        EXPECT_EQ(dropIndex(cuts, c.x, 10), c.index) << c.x;
    EXPECT_EQ(insertionX(cuts, 0, 10), -1.5);
    EXPECT_EQ(insertionX(cuts, 2, 10), 58.5);
    EXPECT_EQ(insertionX(cuts, 3, 10), 118.5);
}

TEST(TimelineBlocks, ClicksSeekWithinTheCutAndTrimsSnapEightPoints)
{
    const std::vector<Cut> cuts = lasting({4, 2});
    EXPECT_DOUBLE_EQ(clickTime(cuts, 0, -5, 10), 0);
    EXPECT_DOUBLE_EQ(clickTime(cuts, 0, 15, 10), 1.5);
    EXPECT_DOUBLE_EQ(clickTime(cuts, 1, 20, 10), 5.98);
    EXPECT_DOUBLE_EQ(clickTime(cuts, 1, 500, 10), 5.98);
    // Edges off the player's 1/600 s grid: a click at a block's left edge plays that block's cut.
    std::vector<Cut> offGrid = lasting({1, 1, 1});
    offGrid[0].start = 1.123, offGrid[0].end = 2.456, offGrid[1].start = 3.001, offGrid[1].end = 4.0;
    offGrid[2].start = 7.2004, offGrid[2].end = 9.0;
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(Composition::line(offGrid, 100).at(clickTime(offGrid, k, 0, 10, 100))->span, k) << k;

    EXPECT_EQ(snapWithin(40, true, false), 0.2);
    EXPECT_EQ(snapWithin(40, false, false), std::nullopt);
    EXPECT_EQ(snapWithin(40, true, true), std::nullopt);
    EXPECT_EQ(snapWithin(0, true, false), std::nullopt);
}

TEST(TimelineBlocks, FacesShowRoleBadgeAndLength)
{
    Cut cut{QUuid::createUuid(), 3000, 3004.5, QStringLiteral("hook")};
    Segment segment;
    segment.id = QStringLiteral("04");
    segment.title = QStringLiteral("Roof");
    EXPECT_EQ(blockName(&segment, cut), QStringLiteral("04 Roof"));
    EXPECT_EQ(blockName(nullptr, cut), QStringLiteral("0:50:00 "));
    segment.title = QStringLiteral("Roof\nand\r\nchat");
    EXPECT_EQ(blockName(&segment, cut), QStringLiteral("04 Roof and  chat"));
    EXPECT_EQ(blockDetail(cut, 160), QStringLiteral("hook · 0:04.5"));
    EXPECT_EQ(blockDetail(cut, 159.9), QStringLiteral("0:04.5"));
    EXPECT_EQ(badge(nullptr), QStringLiteral("–"));
    EXPECT_TRUE(showsBadge({false, 54, 24}, 34.1));
    EXPECT_FALSE(showsBadge({false, 54, 24}, 34));
    EXPECT_FALSE(showsBadge({true, 54, 24}, 300));
    EXPECT_FALSE(isLong(60.0));
    EXPECT_TRUE(isLong(60.01));
    EXPECT_EQ(playheadTime(Mode::segment, 3000, std::nullopt), std::nullopt);
    EXPECT_EQ(playheadTime(Mode::segment, 3000, 2.5), 2.5);
    EXPECT_EQ(playheadTime(Mode::shortClip, 7, std::nullopt), 7);
}

TEST(TimelineTabs, TheLongestTitlesGiveWayFirst)
{
    const struct {
        std::vector<double> wanted;
        double room;
        std::vector<double> widths;
    } cases[] = {
        {{100, 50}, 200, {100, 50}},           // all fit
        {{190, 60, 190}, 300, {120, 60, 120}}, // the short one stays whole
        {{190, 190}, 50, {40, 40}},            // never below the least
        {{30, 190}, -10, {30, 40}},            // nor above what a title wants
    };
    for (const auto& c : cases)
        EXPECT_EQ(fitTitles(c.wanted, c.room, 40), c.widths) << c.room;
}
