// The stream window's rules: mapping, ruler, waveform requests, snapping, the drags, the
// zoom slider, keys, wheel, overview and texts.

#include "views/windows/StreamRules.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace stream;

namespace {

Segment segment(const QString& id, double start, double end, std::vector<double> markers = {},
                std::optional<std::vector<Line>> lines = std::nullopt)
{
    Segment s;
    s.id = id;
    s.start = start;
    s.end = end;
    s.markers = std::move(markers);
    s.lines = std::move(lines);
    return s;
}

Project with(std::vector<Segment> segments)
{
    Project p;
    p.duration = 3 * 3600;
    p.segments = std::move(segments);
    return p;
}

} // namespace

TEST(StreamTimelineMap, PositionTimeAndScale)
{
    const struct {
        Map map;
        double x, t; // x(t) = x; t(x) = t unless clamped
        std::optional<double> at;
        double pps;
    } cases[] = {
        {{0, 240, 3600, 900}, 450, 120, 120, 3.75},
        {{100, 10, 3600, 1000}, -100, 99, 99, 100},        // left of the view: not clamped
        {{0, 240, 3600, 900}, -450, -120, 0.0, 3.75},       // time raised to 0
        {{3500, 200, 3600, 1000}, 1000, 3700, 3600.0, 5},   // lowered to the length
        {{0, 240, 3600, 0}, 0, 120, std::nullopt, 0},       // no width: nothing maps
        {{0, 0, 3600, 900}, 0, 120, std::nullopt, 0},       // no span
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.map.valid(), c.at.has_value());
        if (c.map.valid()) {
            EXPECT_DOUBLE_EQ(c.map.x(c.t), c.x);
        }
        EXPECT_EQ(c.map.t(c.x), c.at);
        EXPECT_DOUBLE_EQ(c.map.pps(), c.pps);
    }
}

TEST(StreamRuler, StepsTicksAndLabels)
{
    const struct {
        double width, span, step;
    } steps[] = {{900, 240, 30},    {70, 1, 1},        {69.9, 1, 2},          {900, 14400, 1800}, {900, 36000, 3600},
                 {700, 100, 10},    {900, 86400, 7200}, {900, 172800, 14400}}; // a day or two: whole hours
    for (const auto& c : steps)
        EXPECT_EQ(rulerStep(c.width, c.span), c.step) << c.width << " " << c.span;

    // The last tick falls on the right edge and is kept.
    EXPECT_EQ(rulerTicks({0, 240, 3600, 900}), (std::vector<double>{0, 30, 60, 90, 120, 150, 180, 210, 240}));
    // Hours from the first whole hour at or after the start.
    EXPECT_EQ(rulerTicks({3599, 36000, 40000, 900}).front(), 3600);
    EXPECT_EQ(rulerTicks({3599, 36000, 40000, 900}).size(), 10u);
    EXPECT_TRUE(rulerTicks({0, 240, 3600, 0}).empty());
    // Far into the stream each tick is a whole multiple, not a sum that drifts.
    for (double t : rulerTicks({7 * 3600 + 0.3, 10, 36000, 1000}))
        EXPECT_EQ(t, std::round(t));

    EXPECT_EQ(tickLabel(3725), QStringLiteral("1:02:05"));
    EXPECT_EQ(tickLabel(59.99), QStringLiteral("0:00:59"));
    EXPECT_EQ(tickLabel(-3), QStringLiteral("0:00:00"));
}

TEST(StreamWaves, VisibleMinutes)
{
    const struct {
        double start, span, duration;
        std::vector<int> minutes;
    } cases[] = {
        {0, 240, 3600, {0, 1, 2, 3, 4}},
        {59.9, 0.2, 3600, {0, 1}},
        {3500, 240, 3600, {58, 59, 60}}, // the end of the recording bounds the view
        {0, 30, 30, {0}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(visibleMinutes(c.start, c.span, c.duration), c.minutes) << c.start;
}

TEST(StreamSnap, NearestCandidateStrictlyWithinEightPoints)
{
    // 3.75 points per second: the threshold is 2.1333 s.
    const Project p = with({
        segment("01", 100, 300, {200}, std::vector<Line>{{210, 230, "a"}, {240, 250, "b"}}),
        segment("02", 300, 500, {}, std::vector<Line>{{320, 322, "c"}}),
        segment("03", 1000, 1100),
    });
    const double pps = 3.75;
    const struct {
        const char* what;
        double t;
        bool snap, alt;
        double expected;
    } cases[] = {
        {"a line's end a second away", 231, true, false, 230},
        {"with Alt the raw time", 231, true, true, 231},
        {"snapping off", 231, false, false, 231},
        {"a marker", 201.5, true, false, 200},
        {"nothing near", 270, true, false, 270},
        {"the start of the next segment", 302, true, false, 300},
        {"the nearer of two wins over the earlier", 321.2, true, false, 322},
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(snapped(p, c.t, pps, c.snap, c.alt), c.expected) << c.what;

    // At 4 points per second the threshold is 2 s, and a candidate exactly that far does not snap.
    EXPECT_DOUBLE_EQ(snapped(p, 252, 4, true, false), 252);
    EXPECT_DOUBLE_EQ(snapped(p, 251.99, 4, true, false), 250);
    // At 1 point per second the threshold is 8 s. A tie either side goes to the earlier
    // segment's end, met first in the scan; within a segment the start comes before a marker.
    const Project tie = with({segment("01", 0, 96), segment("02", 104, 200), segment("03", 2000, 2010, {2004})});
    EXPECT_DOUBLE_EQ(snapped(tie, 100, 1, true, false), 96);
    EXPECT_DOUBLE_EQ(snapped(tie, 2002, 1, true, false), 2000);
    // Segments 30 s or more away are not looked at, even with a wide threshold.
    const Project far = with({segment("01", 0, 70)});
    EXPECT_DOUBLE_EQ(snapped(far, 100, 0.2, true, false), 100);
    EXPECT_DOUBLE_EQ(snapped(far, 99.9, 0.2, true, false), 70);
    // Without a scale nothing snaps.
    EXPECT_DOUBLE_EQ(snapped(far, 71, 0, true, false), 71);
}

TEST(StreamSelection, DragBeginsPastThreePointsAndAClickSeeks)
{
    const Map map{0, 240, 3600, 900}; // 3.75 points per second
    const auto raw = [](double t) { return t; };
    const auto round = [](double t) { return std::round(t); };

    // Three points of travel, either way, are still a click in the making.
    EXPECT_TRUE(selectionChange(std::nullopt, 450, 453, map, raw).ignored);
    EXPECT_TRUE(selectionChange(std::nullopt, 450, 447, map, raw).ignored);
    EXPECT_TRUE(selectionChange(120.0, 450, 451, map, raw).ignored); // came back near its start

    const SelectionChange first = selectionChange(std::nullopt, 450, 487.5, map, round);
    EXPECT_FALSE(first.ignored);
    EXPECT_TRUE(first.began);
    EXPECT_DOUBLE_EQ(first.anchor, 120); // at the press, unsnapped
    EXPECT_EQ(first.range, (TimeRange{120, 130}));
    EXPECT_DOUBLE_EQ(first.seek, 130);

    // Later changes keep the anchor; left of it the range runs from the pointer.
    const SelectionChange left = selectionChange(120.0, 450, 412.5, map, round);
    EXPECT_FALSE(left.began);
    EXPECT_EQ(left.range, (TimeRange{110, 120}));
    EXPECT_DOUBLE_EQ(left.seek, 110);

    EXPECT_NEAR(selectionEnd(std::nullopt, 451, map).value_or(-1), 451 / 3.75, 1e-9);
    EXPECT_EQ(selectionEnd(120.0, 451, map), std::nullopt);
    EXPECT_EQ(selectionEnd(std::nullopt, 451, Map{0, 240, 3600, 0}), std::nullopt);
}

TEST(StreamSelection, EdgeDragsKeepAFifthOfASecond)
{
    const TimeRange r{100, 110};
    const struct {
        Edge edge;
        double s;
        EdgeMove moved;
    } cases[] = {
        {Edge::start, 105, {{105, 110}, 105}},
        {Edge::start, 200, {{109.8, 110}, 109.8}}, // past the end
        {Edge::end, 104, {{100, 104}, 104}},
        {Edge::end, 50, {{100, 100.2}, 100.2}}, // before the start
        {Edge::end, 300, {{100, 300}, 300}},
    };
    for (const auto& c : cases) {
        const auto moved = moveEdge(c.edge, r, c.s);
        ASSERT_TRUE(moved);
        EXPECT_DOUBLE_EQ(moved->range.lower, c.moved.range.lower) << c.s;
        EXPECT_DOUBLE_EQ(moved->range.upper, c.moved.range.upper) << c.s;
        EXPECT_DOUBLE_EQ(moved->seek, c.moved.seek) << c.s;
    }
    EXPECT_EQ(moveEdge(Edge::start, std::nullopt, 5), std::nullopt);
}

TEST(StreamSelection, AutoScrollInsideTwentyFourPointMargins)
{
    const struct {
        double x;
        std::optional<double> to;
    } cases[] = {{977, 104.8}, {976, std::nullopt}, {24, std::nullopt}, {23.9, 95.2}, {-40, 95.2}, {500, std::nullopt}};
    for (const auto& c : cases) {
        const auto to = follow(c.x, 1000, 100, 240);
        ASSERT_EQ(to.has_value(), c.to.has_value()) << c.x;
        if (to) {
            EXPECT_DOUBLE_EQ(*to, *c.to);
        }
    }
}

TEST(StreamZoom, SliderBothWaysAndShortRecordings)
{
    EXPECT_DOUBLE_EQ(sliderPosition(3600, 3600), 0);
    EXPECT_DOUBLE_EQ(sliderPosition(3600, 10), 1);
    EXPECT_DOUBLE_EQ(sliderPosition(3600, 5), 1); // below ten seconds it stays at its end
    EXPECT_DOUBLE_EQ(*sliderSpan(3600, 0), 3600);
    EXPECT_DOUBLE_EQ(*sliderSpan(3600, 1), 10);
    for (double v : {0.1, 0.5, 0.9})
        EXPECT_NEAR(sliderPosition(14400, *sliderSpan(14400, v)), v, 1e-12);
    // Ten seconds or less: no range to slide over, fixed at the right end, moves do nothing.
    for (double d : {10.0, 5.0, 1.0}) {
        EXPECT_EQ(sliderPosition(d, d), 1) << d;
        EXPECT_EQ(sliderSpan(d, 0.3), std::nullopt) << d;
    }
    // Barely longer than ten seconds still gives a place on the slider.
    EXPECT_EQ(sliderPosition(10.0001, 5), 1);
    EXPECT_DOUBLE_EQ(sliderPosition(10.0001, 10.0001), 0);
    EXPECT_DOUBLE_EQ(pinchSpan(240, 2), 120);
    EXPECT_DOUBLE_EQ(pinchSpan(240, 0), 240);
    EXPECT_DOUBLE_EQ(240 * zoomStep, 384);
    EXPECT_DOUBLE_EQ(240 / zoomStep, 150);
}

TEST(StreamKeys, TheKeyMap)
{
    const auto shift = Qt::ShiftModifier;
    const struct {
        int key;
        Qt::KeyboardModifiers mods;
        bool isKey;
        Key action;
    } cases[] = {
        {Qt::Key_Right, {}, true, Key::forward},
        {Qt::Key_Left, shift, true, Key::bigBack},
        {Qt::Key_Right, {}, false, Key::pass},                 // another window is key
        {Qt::Key_Right, Qt::ControlModifier, true, Key::pass}, // Ctrl passes
        {Qt::Key_Escape, {}, true, Key::clear},
        {Qt::Key_Space, Qt::AltModifier, true, Key::togglePlay},
        {Qt::Key_I, shift, true, Key::markStart},
        {Qt::Key_O, {}, true, Key::markEnd},
        {Qt::Key_X, {}, true, Key::pass},
    };
    for (const auto& c : cases)
        EXPECT_EQ(decideKey(c.key, c.mods, c.isKey), c.action) << c.key;

    EXPECT_DOUBLE_EQ(arrowTarget(100, Key::bigForward), 110);
    EXPECT_DOUBLE_EQ(arrowTarget(100, Key::back), 99);
    // The playhead at the right edge is inside; past it the view centres on it.
    EXPECT_EQ(recentre(340, 100, 240), std::nullopt);
    EXPECT_EQ(recentre(100, 100, 240), std::nullopt);
    EXPECT_EQ(recentre(341, 100, 240), 221.0);
    EXPECT_EQ(recentre(99, 100, 240), -21.0);
}

TEST(StreamWheel, ZoomsOrScrollsOverTheTimelineOnly)
{
    EXPECT_EQ(wheelDelta(5, -5), -5); // equal magnitudes: the vertical delta
    EXPECT_EQ(wheelDelta(6, -5), 6);
    const Map map{100, 240, 3600, 960};
    const struct {
        double delta;
        bool zoom, over, isKey;
        Map map;
        Wheel wheel;
    } cases[] = {
        {10, false, false, true, map, {}},
        {10, false, true, false, map, {}},
        {120, false, true, true, map, {Wheel::Act::scroll, 70}},  // towards the start
        {-120, false, true, true, map, {Wheel::Act::scroll, 130}},
        {10, false, true, true, {100, 240, 3600, 0}, {Wheel::Act::none, 0}}, // no width: taken, no move
        {10, true, true, true, {100, 240, 3600, 0}, {Wheel::Act::none, 0}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(decideWheel(c.delta, c.zoom, c.over, c.isKey, c.map), c.wheel) << c.delta;
    const Wheel in = decideWheel(100, true, true, true, map);
    EXPECT_EQ(in.act, Wheel::Act::zoom);
    EXPECT_DOUBLE_EQ(in.value, 240 * std::exp(-1.0)); // a positive delta zooms in
}

TEST(StreamOverview, LayoutKeepsSmallThingsVisible)
{
    const Project p = with({segment("01", 3600, 3602), segment("02", 5400, 7200)});
    const Overview o = overviewLayout(p, TimeRange{100, 100.5}, 3600, 5, 5400, 1080, 10800);
    ASSERT_EQ(o.segments.size(), 2u);
    EXPECT_EQ(o.segments[0], (Block{360, 3}));
    EXPECT_EQ(o.segments[1], (Block{540, 180}));
    EXPECT_EQ(o.range, (Block{10, 2}));
    EXPECT_EQ(o.view, (Block{360, 6}));
    EXPECT_DOUBLE_EQ(o.playhead, 540);
    EXPECT_TRUE(overviewLayout(p, std::nullopt, 0, 5, 0, 0, 10800).segments.empty());

    const struct {
        double x, width;
        std::optional<double> t;
    } presses[] = {{1080, 1080, 10800}, {1200, 1080, 10800}, {-5, 1080, 0}, {540, 1080, 5400}, {NAN, 1080, 0},
                   {10, 0, std::nullopt}};
    for (const auto& c : presses)
        EXPECT_EQ(overviewTime(c.x, c.width, 10800), c.t) << c.x;
}

TEST(StreamTexts, CaptionRangeAndAddSegment)
{
    const Project p = with({segment("06", 100, 200, {}, std::vector<Line>{{110, 115, "one"}, {115, 118, "two"},
                                                                            {120, 125, "three"}}),
                            segment("07", 300, 400)});
    const struct {
        double t;
        std::optional<QString> caption;
    } cases[] = {
        {110, QStringLiteral("06  one")},
        {115, QStringLiteral("06  two")}, // a line's end belongs to the next one only when it starts there
        {118, std::nullopt},              // between lines
        {250, std::nullopt},              // in no segment
        {350, std::nullopt},              // no transcript
    };
    for (const auto& c : cases)
        EXPECT_EQ(caption(p, c.t), c.caption) << c.t;

    EXPECT_EQ(rangeText({100, 112}), QStringLiteral("0:01:40 to 0:01:52 · 0:12.0"));

    const struct {
        std::optional<TimeRange> range;
        bool enabled;
    } adds[] = {{std::nullopt, false}, {TimeRange{10, 12.9}, false}, {TimeRange{10, 13}, true},
                {TimeRange{10.1, 13.1}, true}, {TimeRange{1.1, 4.1}, true}, // 2.9999999999999996 apart
                {TimeRange{10, 13 - 1e-6}, false}, {TimeRange{0, 600}, true}};
    for (const auto& c : adds)
        EXPECT_EQ(canAddSegment(c.range), c.enabled) << (c.range ? c.range->upper - c.range->lower : -1);
}
