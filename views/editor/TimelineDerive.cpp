#include "views/editor/TimelineDerive.h"

#include "model/editing/Composition.h"
#include "model/lifecycle/AppModel.h"
#include "platform/Prefs.h"
#include "views/kit/Format.h"

#include <algorithm>
#include <cmath>

namespace timeline {

namespace {

double length(const Cut& cut) { return cut.end - cut.start; }

double lengthBefore(const std::vector<Cut>& cuts, int index)
{
    double total = 0;
    for (int i = 0; i < index && i < int(cuts.size()); ++i)
        total += length(cuts[size_t(i)]);
    return total;
}

double clampZoom(double zoom) { return std::clamp(zoom, minZoom, maxZoom); }

} // namespace

ClipLook look(const Prefs& prefs)
{
    // A hand-edited preferences file may hold any number; the track's height follows it.
    return {prefs.clipNames(), prefs.clipFilmstrip() ? std::clamp(prefs.clipFilmstripHeight(), 28.0, 140.0) : 0.0,
            prefs.clipWaveform() ? std::clamp(prefs.clipWaveformHeight(), 12.0, 90.0) : 0.0};
}

bool allRowsOff(const ClipLook& look) { return !look.names && look.filmstrip <= 0 && look.waveform <= 0; }

double blockHeight(const ClipLook& look)
{
    if (allRowsOff(look))
        return 20;
    return (look.names ? 22 : 0) + std::max(look.filmstrip, 0.0) + std::max(look.waveform, 0.0);
}

double trackHeight(const ClipLook& look) { return blockHeight(look) + rulerHeight + 10; }

double shortLength(const Project& project, const std::optional<QUuid>& active)
{
    if (!active)
        return 0;
    for (const Short& s : project.shorts)
        if (s.id == *active)
            return s.duration();
    return 0;
}

bool isLong(double length) { return length > 60.0; }

double timelineScale(double width, double total, double zoom, std::optional<double> frozen)
{
    if (frozen)
        return *frozen;
    return std::min(width / std::max(total, 12.0), 60.0) * zoom;
}

bool usableScale(double scale) { return std::isfinite(scale) && scale > 0; }

double storedZoom(const Prefs& prefs) { return clampZoom(prefs.timelineZoom()); }

double zoomIn(double zoom) { return std::min(zoom * 1.5, maxZoom); }
double zoomOut(double zoom) { return std::max(zoom / 1.5, minZoom); }
double pinchZoom(double from, double magnification) { return clampZoom(from * magnification); }

double wheelZoom(double zoom, double degrees)
{
    // One notch of an ordinary wheel (15°) zooms by a tenth.
    const double next = zoom * std::pow(1.1, degrees / 15);
    return std::isfinite(next) ? clampZoom(next) : clampZoom(zoom);
}

double rulerStep(double scale)
{
    if (scale > 90)
        return 0.5;
    if (scale > 30)
        return 1;
    if (scale > 12)
        return 5;
    return 10;
}

std::vector<Tick> rulerTicks(double total, double scale)
{
    std::vector<Tick> ticks;
    if (!usableScale(scale) || !std::isfinite(total) || total < 0)
        return ticks;
    const double step = rulerStep(scale);
    // Counted rather than summed, so that the last tick is not lost to rounding.
    for (long k = 0; k * step <= total; ++k) {
        const double t = k * step;
        const QString label = step >= 1 ? QString::number(long(t)) + QLatin1Char('s') : QString::asprintf("%.1fs", t);
        ticks.push_back({t * scale, label});
    }
    return ticks;
}

std::vector<BlockPlace> blockSpans(const std::vector<Cut>& cuts, double scale)
{
    std::vector<BlockPlace> spans;
    spans.reserve(cuts.size());
    double x = 0;
    for (const Cut& cut : cuts) {
        const double width = std::max(length(cut) * scale, 4.0);
        spans.push_back({x, width});
        x += width;
    }
    return spans;
}

Hit blockHit(const std::vector<BlockPlace>& spans, double x)
{
    // A later block, and within a block its end handle, lie over what comes before.
    for (int i = int(spans.size()) - 1; i >= 0; --i) {
        const BlockPlace& s = spans[size_t(i)];
        if (x >= s.x + s.width - handleWidth && x < s.x + s.width)
            return {i, Part::end};
        if (x >= s.x && x < s.x + handleWidth)
            return {i, Part::start};
    }
    for (int i = int(spans.size()) - 1; i >= 0; --i) {
        const BlockPlace& s = spans[size_t(i)];
        if (x >= s.x && x < s.x + s.width)
            return {i, Part::body};
    }
    return {};
}

int dropIndex(const std::vector<Cut>& cuts, double x, double scale)
{
    double acc = 0;
    for (size_t i = 0; i < cuts.size(); ++i) {
        if (x < scale * (acc + length(cuts[i]) / 2))
            return int(i);
        acc += length(cuts[i]);
    }
    return int(cuts.size());
}

double insertionX(const std::vector<Cut>& cuts, int to, double scale) { return scale * lengthBefore(cuts, to) - 1.5; }

double clickTime(const std::vector<Cut>& cuts, int index, double localX, double scale, double duration)
{
    if (index < 0 || index >= int(cuts.size()))
        return 0;
    // Counted on the cuts as they play: a click at a block's left edge then lands in that
    // cut, not in the last frame of the one before when edges lie off the player's grid.
    const ShortLine line = Composition::line(cuts, duration);
    const double local = std::min(std::max(localX / scale, 0.0), line.spans[size_t(index)].length() - 0.02);
    return line.offset(index) + std::max(local, 0.0);
}

std::optional<double> snapWithin(double scale, bool snap, bool free)
{
    if (!snap || free || !usableScale(scale))
        return std::nullopt;
    return 8 / scale;
}

QString blockName(const Segment* segment, const Cut& cut)
{
    if (!segment)
        return clock(cut.start) + QLatin1Char(' ');
    return segment->id + QLatin1Char(' ') + oneLine(segment->title);
}

QString blockDetail(const Cut& cut, double width)
{
    if (!cut.role.isEmpty() && width >= 160)
        return oneLine(cut.role) + QStringLiteral(" · ") + span(length(cut));
    return span(length(cut));
}

QString badge(const Segment* segment) { return segment ? segment->id : QStringLiteral("–"); }

bool showsBadge(const ClipLook& look, double width) { return !look.names && width > 34; }

double handleHeight(double blockHeight, bool selected) { return std::min(blockHeight - 4, selected ? 34.0 : 20.0); }

std::vector<double> fitTitles(const std::vector<double>& wanted, double room, double least)
{
    // The widest a title may be: the smallest width that the titles wider than it, cut
    // to it, share with the others whole.
    std::vector<double> sorted = wanted;
    std::sort(sorted.begin(), sorted.end());
    double cap = sorted.empty() ? 0 : sorted.back();
    double left = room;
    for (size_t i = 0; i < sorted.size(); ++i) {
        const double share = left / double(sorted.size() - i);
        if (sorted[i] > share) {
            cap = share;
            break;
        }
        left -= sorted[i];
    }
    std::vector<double> widths;
    widths.reserve(wanted.size());
    for (double w : wanted)
        widths.push_back(std::min(w, std::max(cap, least)));
    return widths;
}

QString oneLine(QString text)
{
    for (QChar& c : text) {
        if (c == u'\n' || c == u'\r' || c == u'\t' || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            c = u' ';
    }
    return text;
}

std::optional<double> playheadTime(Mode mode, double clock, std::optional<double> shortTime)
{
    if (mode == Mode::shortClip)
        return clock;
    return shortTime;
}

std::optional<double> followScroll(double left, double view, double now, double ahead, double last)
{
    const double half = 4.5; // half the playhead's width
    const double from = now - half;
    const double to = std::min(std::max(now, ahead) + half, from + view);
    double target = left;
    if (from < left)
        target = from;
    else if (to > left + view)
        target = to - view;
    target = std::clamp(target, 0.0, std::max(last, 0.0));
    if (target == left)
        return std::nullopt;
    return target;
}

} // namespace timeline
