#pragma once

// What the Shorts timeline derives from the model and its display options: the scale, the
// ruler, the blocks' places and faces, where a press lands, where a moved cut drops.
// Points are logical pixels; times are seconds (Short time unless said otherwise).

#include "core/project/Records.h"

#include <QString>
#include <optional>
#include <vector>

class Prefs;
enum class Mode;

namespace timeline {

// What every cut block shows: the name row, and the heights of the film-strip and
// waveform rows (0 hides a row).
struct ClipLook {
    bool names = false;
    double filmstrip = 0;
    double waveform = 0;
    bool operator==(const ClipLook&) const = default;
};
// The stored options, their heights held within what the options' sliders offer.
ClipLook look(const Prefs& prefs);
// A block's height: 22 for the name row plus the two strips, or 20 when nothing shows.
double blockHeight(const ClipLook& look);
// The track area's height: the blocks, the 18-point ruler above and 10 points below.
double trackHeight(const ClipLook& look);
bool allRowsOff(const ClipLook& look);

constexpr double rulerHeight = 18;
constexpr double handleWidth = 12;
constexpr double minZoom = 1;
constexpr double maxZoom = 12;

// The length of the active Short (0 without one).
double shortLength(const Project& project, const std::optional<QUuid>& active);
// A Short longer than a minute is shown in red.
bool isLong(double length);

// Points per second: `frozen` while a trim runs; otherwise the Short fitted to `width`
// (as if at least 12 s long, never wider than 60 points a second) times `zoom`.
double timelineScale(double width, double total, double zoom, std::optional<double> frozen);
// Pointer input needs a scale to turn points into seconds.
bool usableScale(double scale);

// The stored zoom, held within 1 to 12 whatever the preferences file says.
double storedZoom(const Prefs& prefs);
double zoomIn(double zoom);
double zoomOut(double zoom);
// The zoom while a pinch that began at `from` has reached `magnification`.
double pinchZoom(double from, double magnification);
// The zoom after a Ctrl+wheel turn of `degrees` (positive: away from the user, in).
double wheelZoom(double zoom, double degrees);

// Seconds between ruler ticks at `scale`.
double rulerStep(double scale);
struct Tick {
    double x = 0;
    QString label;
    bool operator==(const Tick&) const = default;
};
std::vector<Tick> rulerTicks(double total, double scale);

// A block's place on the track: the blocks lie side by side, each at least 4 points wide.
struct BlockPlace {
    double x = 0;
    double width = 0;
    bool operator==(const BlockPlace&) const = default;
};
std::vector<BlockPlace> blockSpans(const std::vector<Cut>& cuts, double scale);

// What a press at `x` on the blocks' row takes: a trim handle (the 12 points inside
// either edge, the later block's over the earlier), a block's body, or nothing.
enum class Part { none, start, end, body };
struct Hit {
    int index = -1;
    Part part = Part::none;
    bool operator==(const Hit&) const = default;
};
Hit blockHit(const std::vector<BlockPlace>& spans, double x);

// Where a cut dragged to `x` lands: in front of the first cut whose middle lies right of
// it, else at the end (the list's size).
int dropIndex(const std::vector<Cut>& cuts, double x, double scale);
// The insertion marker's left edge for a drop in front of cut `to`.
double insertionX(const std::vector<Cut>& cuts, int to, double scale);
// The Short time a click `localX` points into block `index` seeks to.
double clickTime(const std::vector<Cut>& cuts, int index, double localX, double scale, double duration = 0);
// The snap distance of a trim: 8 points in seconds, none when snapping is off or the
// free-trim key is held.
std::optional<double> snapWithin(double scale, bool snap, bool free);

// The block's face.
QString blockName(const Segment* segment, const Cut& cut);
QString blockDetail(const Cut& cut, double width);
QString badge(const Segment* segment);
bool showsBadge(const ClipLook& look, double width);
double handleHeight(double blockHeight, bool selected);

// The widths of the tabs' titles that `wanted` them when together they get `room`: when
// they do not all fit, the longest give way first (a short title stays whole while a
// long one is cut), and none gets less than `least` or more than it wanted.
std::vector<double> fitTitles(const std::vector<double>& wanted, double room, double least);
// A title on one line: line breaks and tabs read as blanks.
QString oneLine(QString text);

// The playhead's Short time; none when it lies outside every cut in segment mode.
std::optional<double> playheadTime(Mode mode, double clock, std::optional<double> shortTime);

// How far ahead of the playhead the follower looks: it looks again at the next half second,
// and a tick or two may pass before it does.
constexpr double followAhead = 0.6;
// Where a track scrolled to `left`, `view` points wide, goes so that the whole playhead is
// in view now (at `now`) and until the follower looks again (at `ahead`): the least move,
// never past `last`. None when no move is needed. Should both not fit, the playhead now wins.
std::optional<double> followScroll(double left, double view, double now, double ahead, double last);

} // namespace timeline
