#pragma once

// The rules of the stream window (where things stand on its timeline and overview, what a
// drag, a key or the wheel does), kept apart from its widgets so that they can be checked
// on their own.

#include "core/project/Records.h"
#include "model/editing/TimeRange.h"

#include <QString>
#include <Qt>
#include <functional>
#include <optional>
#include <vector>

namespace stream {

// The heights of the timeline's bands, top to bottom, in points.
constexpr double rulerHeight = 18;
constexpr double stripHeight = 46;
constexpr double waveHeight = 34;
constexpr double timelineHeight = rulerHeight + stripHeight + waveHeight;

// Position and time on a timeline `width` points wide that shows `span` seconds from
// `start` of a recording `duration` long.
struct Map {
    double start = 0;
    double span = 1;
    double duration = 1;
    double width = 0;

    // A timeline without width (not laid out yet) or without span has no scale: nothing
    // maps onto it.
    bool valid() const;
    // Not clamped: times outside the view fall outside the band.
    double x(double t) const;
    // Kept within the recording; none without a scale.
    std::optional<double> t(double x) const;
    // Points per second; 0 without a scale.
    double pps() const;
};

// ---- ruler ----
// The first of 1, 2, 5, 10, 30 s … 30 min at which ticks stand at least 70 points apart,
// else an hour, or the fewest whole hours that do.
double rulerStep(double width, double span);
// Every multiple of the step from the view's start through its end, both included.
std::vector<double> rulerTicks(const Map& map);
// "H:MM:SS" of the whole seconds (negative reads 0:00:00).
QString tickLabel(double t);

// The 60-second waveform chunks the view touches, in order.
std::vector<int> visibleMinutes(double start, double span, double duration);
// Waveform chunks are asked for only while the view spans at most this many seconds.
constexpr double wavesUpTo = 1800;

// ---- selections ----
// `t` moved to the nearest segment start, end, marker or transcript line edge strictly
// within 8 points, scanning the segments within 30 s of `t` in order (the first met wins a
// tie); `t` itself when snapping is off, a free drag is asked for (Alt or Shift), or there is no scale.
double snapped(const Project& project, double t, double pps, bool snap, bool alt);

// What one change of a selection drag does. Travel of 3 points or less is ignored (a
// click in the making); the first change past it takes the anchor at the press.
struct SelectionChange {
    bool ignored = true;
    bool began = false; // anchor taken, dragging set, player paused
    double anchor = 0;
    TimeRange range;
    double seek = 0;
};
// `anchor` is the drag's anchor so far; `snap` turns a raw time into the snapped one.
SelectionChange selectionChange(std::optional<double> anchor, double pressX, double x, const Map& map,
                                const std::function<double(double)>& snap);
// Where the end of a selection drag seeks: the unsnapped time under the pointer when it
// never moved past 3 points (a click), else nowhere.
std::optional<double> selectionEnd(std::optional<double> anchor, double x, const Map& map);

// Where the view scrolls when a drag's pointer is within 24 points of an edge: 2 % of the
// span that way; none elsewhere.
std::optional<double> follow(double x, double width, double start, double span);

// A handle drag moves its edge to `s`, stopping 0.2 s short of the other edge; the
// player shows the moved edge. None without a range.
struct EdgeMove {
    TimeRange range;
    double seek = 0;
    bool operator==(const EdgeMove&) const = default;
};
std::optional<EdgeMove> moveEdge(Edge edge, const std::optional<TimeRange>& range, double s);

// The span a pinch asks for: the span it began at over its magnification.
double pinchSpan(double from, double magnification);

// ---- zoom ----
// The slider's place from 0 (the whole recording) to 1 (10 seconds), logarithmic in the
// span. A recording of 10 s or less has no range to slide over: it stands at 1.
double sliderPosition(double duration, double span);
// The span a move of the slider to `v` asks for; none for a recording of 10 s or less.
std::optional<double> sliderSpan(double duration, double v);
constexpr double zoomStep = 1.6;

// ---- keys and the wheel ----
enum class Key { pass, back, forward, bigBack, bigForward, clear, togglePlay, markStart, markEnd };
// Nothing is taken unless the stream window is key and Ctrl is not held.
Key decideKey(int key, Qt::KeyboardModifiers modifiers, bool isKey);
// Where an arrow sends the playhead from `time`: a second, or ten with Shift.
double arrowTarget(double time, Key key);
// Where the view scrolls to centre a playhead that has left it; none while it is inside
// (its right end included).
std::optional<double> recentre(double time, double start, double span);

// The wheel's delta: the vertical one unless the horizontal one is larger.
double wheelDelta(double dx, double dy);
struct Wheel {
    enum class Act { pass, none, zoom, scroll };
    Act act = Act::pass;
    double value = 0; // the span to zoom to, or the start to scroll to
    bool operator==(const Wheel&) const = default;
};
// Taken only over the timeline while the window is key. Alt or Ctrl zooms (a positive delta
// zooms in); otherwise the delta scrolls as points at the timeline's scale, a positive one
// towards the start. Without a scale it is taken and changes nothing.
Wheel decideWheel(double delta, bool zoom, bool over, bool isKey, const Map& map);

// ---- overview ----
struct Block {
    double x = 0;
    double width = 0;
    bool operator==(const Block&) const = default;
};
struct Overview {
    std::vector<Block> segments; // at least 3 points wide
    std::optional<Block> range;  // at least 2
    Block view;                  // at least 6
    double playhead = 0;
};
Overview overviewLayout(const Project& project, const std::optional<TimeRange>& range, double viewStart,
                        double viewSpan, double time, double width, double total);
// The time a press on the overview at `x` scrubs to, the strip's edges included; none
// for a strip without width.
std::optional<double> overviewTime(double x, double width, double total);

// ---- texts ----
// The segment's id, two blanks and the line spoken at `t`; none between lines or segments.
std::optional<QString> caption(const Project& project, double t);
// "0:01:40 to 0:01:52 · 0:12.0".
QString rangeText(const TimeRange& range);
// "Add Segment" wants a range of at least 3 seconds.
bool canAddSegment(const std::optional<TimeRange>& range);

} // namespace stream
