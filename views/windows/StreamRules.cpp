#include "views/windows/StreamRules.h"

#include "views/kit/Format.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace stream {

bool Map::valid() const
{
    return width > 0 && span > 0 && std::isfinite(width) && std::isfinite(span) && std::isfinite(start);
}

double Map::x(double t) const
{
    return valid() ? (t - start) / span * width : 0;
}

std::optional<double> Map::t(double x) const
{
    if (!valid() || std::isnan(x))
        return std::nullopt;
    return std::min(std::max(start + x / width * span, 0.0), duration);
}

double Map::pps() const
{
    return valid() ? width / span : 0;
}

double rulerStep(double width, double span)
{
    static constexpr std::array<double, 10> steps{1, 2, 5, 10, 30, 60, 120, 300, 600, 1800};
    for (double step : steps)
        if (width * step / span >= 70)
            return step;
    // Hours, or as many whole hours as keep a stream of a day or more from running its
    // labels into each other.
    const double hours = std::ceil(70 / (width * 3600 / span));
    return 3600 * (std::isfinite(hours) ? std::max(hours, 1.0) : 1.0);
}

std::vector<double> rulerTicks(const Map& map)
{
    std::vector<double> ticks;
    if (!map.valid())
        return ticks;
    const double step = rulerStep(map.width, map.span);
    const double first = step * std::ceil(map.start / step);
    const double end = map.start + map.span;
    // Each tick by multiplication, so that a long view gathers no rounding.
    for (int k = 0;; ++k) {
        const double t = first + k * step;
        if (t > end)
            break;
        ticks.push_back(t);
    }
    return ticks;
}

QString tickLabel(double t)
{
    return clock(t);
}

std::vector<int> visibleMinutes(double start, double span, double duration)
{
    std::vector<int> minutes;
    if (!std::isfinite(start) || !std::isfinite(span) || !std::isfinite(duration))
        return minutes;
    const int first = int(std::floor(std::max(start, 0.0) / 60));
    const int last = int(std::floor(std::max(std::min(start + span, duration), 0.0) / 60));
    for (int m = first; m <= last; ++m)
        minutes.push_back(m);
    return minutes;
}

double snapped(const Project& project, double t, double pps, bool snap, bool alt)
{
    if (!snap || alt || !(pps > 0) || !std::isfinite(pps))
        return t;
    double best = 8 / pps;
    double result = t;
    const auto consider = [&](double c) {
        const double d = std::abs(c - t);
        if (d < best) {
            best = d;
            result = c;
        }
    };
    for (const Segment& s : project.segments) {
        if (!(t - 30 < s.end && s.start < t + 30))
            continue;
        consider(s.start);
        consider(s.end);
        for (double m : s.markers)
            consider(m);
        if (s.lines)
            for (const Line& line : *s.lines) {
                consider(line.t0);
                consider(line.t1);
            }
    }
    return result;
}

SelectionChange selectionChange(std::optional<double> anchor, double pressX, double x, const Map& map,
                                const std::function<double(double)>& snap)
{
    SelectionChange c;
    const auto at = map.t(x);
    const auto from = map.t(pressX);
    if (!(std::abs(x - pressX) > 3) || !at || !from)
        return c;
    c.ignored = false;
    c.began = !anchor;
    c.anchor = anchor.value_or(*from);
    const double s = snap(*at);
    c.range = {std::min(c.anchor, s), std::max(c.anchor, s)};
    c.seek = s;
    return c;
}

std::optional<double> selectionEnd(std::optional<double> anchor, double x, const Map& map)
{
    if (anchor)
        return std::nullopt;
    return map.t(x);
}

std::optional<double> follow(double x, double width, double start, double span)
{
    if (x > width - 24)
        return start + 0.02 * span;
    if (x < 24)
        return start - 0.02 * span;
    return std::nullopt;
}

std::optional<EdgeMove> moveEdge(Edge edge, const std::optional<TimeRange>& range, double s)
{
    if (!range)
        return std::nullopt;
    const double lo = range->lower;
    const double hi = range->upper;
    if (edge == Edge::start) {
        const double moved = std::min(s, hi - 0.2);
        return EdgeMove{{moved, hi}, moved};
    }
    const double moved = std::max(s, lo + 0.2);
    return EdgeMove{{lo, moved}, moved};
}

double pinchSpan(double from, double magnification)
{
    // A gesture that reports no spread (or a nonsense one) leaves the span as it began.
    return magnification > 0 && std::isfinite(magnification) ? from / magnification : from;
}

double sliderPosition(double duration, double span)
{
    if (!(duration > 10) || !(span > 0))
        return 1;
    const double v = std::log(duration / span) / std::log(duration / 10);
    return std::isfinite(v) ? std::clamp(v, 0.0, 1.0) : 1;
}

std::optional<double> sliderSpan(double duration, double v)
{
    if (!(duration > 10) || std::isnan(v))
        return std::nullopt;
    return duration / std::pow(duration / 10, std::clamp(v, 0.0, 1.0));
}

Key decideKey(int key, Qt::KeyboardModifiers modifiers, bool isKey)
{
    if (!isKey || modifiers.testFlag(Qt::ControlModifier))
        return Key::pass;
    const bool shift = modifiers.testFlag(Qt::ShiftModifier);
    switch (key) {
    case Qt::Key_Left:
        return shift ? Key::bigBack : Key::back;
    case Qt::Key_Right:
        return shift ? Key::bigForward : Key::forward;
    case Qt::Key_Escape:
        return Key::clear;
    case Qt::Key_Space:
        return Key::togglePlay;
    // The key itself, whatever Shift or Alt make it type.
    case Qt::Key_I:
        return Key::markStart;
    case Qt::Key_O:
        return Key::markEnd;
    default:
        return Key::pass;
    }
}

double arrowTarget(double time, Key key)
{
    switch (key) {
    case Key::back:
        return time - 1;
    case Key::forward:
        return time + 1;
    case Key::bigBack:
        return time - 10;
    case Key::bigForward:
        return time + 10;
    default:
        return time;
    }
}

std::optional<double> recentre(double time, double start, double span)
{
    if (time < start || time > start + span)
        return time - span / 2;
    return std::nullopt;
}

double wheelDelta(double dx, double dy)
{
    return std::abs(dy) >= std::abs(dx) ? dy : dx;
}

Wheel decideWheel(double delta, bool zoom, bool over, bool isKey, const Map& map)
{
    if (!over || !isKey)
        return {};
    if (!map.valid() || !std::isfinite(delta))
        return {Wheel::Act::none, 0};
    if (zoom)
        return {Wheel::Act::zoom, map.span * std::exp(-0.01 * delta)};
    return {Wheel::Act::scroll, map.start - delta / map.width * map.span};
}

Overview overviewLayout(const Project& project, const std::optional<TimeRange>& range, double viewStart,
                        double viewSpan, double time, double width, double total)
{
    Overview o;
    if (!(width > 0) || !(total > 0))
        return o;
    const auto x = [&](double t) { return width * t / total; };
    o.segments.reserve(project.segments.size());
    for (const Segment& s : project.segments)
        o.segments.push_back({x(s.start), std::max(x(s.end - s.start), 3.0)});
    if (range)
        o.range = Block{x(range->lower), std::max(x(range->upper - range->lower), 2.0)};
    o.view = {x(viewStart), std::max(x(viewSpan), 6.0)};
    o.playhead = x(time);
    return o;
}

std::optional<double> overviewTime(double x, double width, double total)
{
    if (!(width > 0) || !std::isfinite(width))
        return std::nullopt;
    double f = x / width;
    if (std::isnan(f))
        f = 0;
    return total * std::clamp(f, 0.0, 1.0);
}

std::optional<QString> caption(const Project& project, double t)
{
    const Segment* s = project.segment(t);
    if (!s || !s->lines)
        return std::nullopt;
    for (const Line& line : *s->lines)
        if (line.t0 <= t && t < line.t1)
            return s->id + QStringLiteral("  ") + line.text;
    return std::nullopt;
}

QString rangeText(const TimeRange& range)
{
    return clock(range.lower) + QStringLiteral(" to ") + clock(range.upper) + QStringLiteral(" · ")
        + span(range.upper - range.lower);
}

bool canAddSegment(const std::optional<TimeRange>& range)
{
    // Times that read 3.0 s apart may differ by a hair less in binary (13.1 − 10.1).
    return range && range->upper - range->lower >= 3.0 - 1e-9;
}

} // namespace stream
