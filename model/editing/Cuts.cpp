// Editing the cuts of the active Short: adding the marked range, splitting at the
// playhead, removing, moving an edge, reordering, and the edge drag of the timeline with
// snapping to the edges of speech.

#include "model/editing/Lookup.h"
#include "model/lifecycle/AppModel.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double shortestCut = 0.3;
constexpr double frame = 1.0 / 30.0;
constexpr double previewAround = 1.5;
constexpr double endMargin = 0.05;

// The point of `points` nearest to `t` (the earliest of the list on a tie) when it lies
// strictly closer than `within`; else `t`.
double snapped(const std::vector<double>& points, double t, double within)
{
    const double* best = nullptr;
    for (const double& p : points) {
        if (!best || std::fabs(p - t) < std::fabs(*best - t))
            best = &p;
    }
    return best && std::fabs(*best - t) < within ? *best : t;
}
} // namespace

std::vector<Cut> AppModel::cuts() const
{
    const Short* active = lookup::byId(project_.shorts, activeShort_);
    return active ? active->cuts : std::vector<Cut>{};
}

void AppModel::edited(std::optional<double> keeping)
{
    save();
    if (mode_ != Mode::shortClip)
        return;
    if (cuts().empty()) {
        assignMode(Mode::segment);
        showSource(std::nullopt);
    } else {
        showShort(keeping.value_or(clock_->time()));
    }
}

void AppModel::addRange()
{
    if (!range_)
        return;
    commit();
    Short* active = lookup::byId(project_.shorts, activeShort_);
    if (!active) {
        Short made;
        made.id = QUuid::createUuid();
        made.title = QStringLiteral("Untitled Short");
        project_.shorts.push_back(std::move(made));
        active = &project_.shorts.back();
        setActiveShort(active->id);
    }
    const Cut cut{QUuid::createUuid(), range_->lower, range_->upper, QString()};
    const int selected = selectedCut_ ? lookup::cutIndex(active->cuts, *selectedCut_) : -1;
    active->cuts.insert(selected < 0 ? active->cuts.end() : active->cuts.begin() + selected + 1, cut);
    const QString title = active->title;
    Q_EMIT projectChanged();

    setSelectedCut(cut.id);
    setRange(std::nullopt);
    setSelectedLines(std::nullopt);
    setToast(QStringLiteral("Added to ") + title);
    save();
}

void AppModel::splitAtPlayhead()
{
    if (mode_ != Mode::shortClip)
        return;
    Short* active = lookup::byId(project_.shorts, activeShort_);
    const auto place = active ? locate(clock_->time()) : std::nullopt;
    if (!place || place->cut < 0 || size_t(place->cut) >= active->cuts.size())
        return;
    const Cut& k = active->cuts[size_t(place->cut)];
    const double r = place->time;
    if (r - k.start <= shortestCut || k.end - r <= shortestCut) {
        setToast(QStringLiteral("Too close to an edge to split"));
        return;
    }
    commit();
    Cut& first = active->cuts[size_t(place->cut)];
    const Cut second{QUuid::createUuid(), r, first.end, first.role};
    first.end = r;
    active->cuts.insert(active->cuts.begin() + place->cut + 1, second);
    Q_EMIT projectChanged();
    setSelectedCut(second.id);
    edited(std::nullopt);
}

void AppModel::removeCut()
{
    Short* active = lookup::byId(project_.shorts, activeShort_);
    const int i = active && selectedCut_ ? lookup::cutIndex(active->cuts, *selectedCut_) : -1;
    if (i < 0)
        return;
    commit();
    std::vector<Cut>& list = active->cuts;
    const double keep = lookup::startOf(list, size_t(i), project_.duration);
    list.erase(list.begin() + i);
    Q_EMIT projectChanged();

    const size_t left = list.size();
    if (size_t(i) < left)
        setSelectedCut(list[size_t(i)].id);
    else if (left > 0)
        setSelectedCut(list.back().id);
    else
        setSelectedCut(std::nullopt);
    edited(std::min(keep, std::max(lookup::totalOf(list, project_.duration) - endMargin, 0.0)));
}

void AppModel::extend(const QUuid& cut, Edge edge, double to)
{
    Short* active = lookup::byId(project_.shorts, activeShort_);
    const int k = active ? lookup::cutIndex(active->cuts, cut) : -1;
    if (k < 0 || !std::isfinite(to))
        return;
    commit();
    Cut& c = active->cuts[size_t(k)];
    if (edge == Edge::start)
        c.start = std::min(to, c.end - shortestCut);
    else
        c.end = std::max(to, c.start + shortestCut);
    const double keep = lookup::startOf(active->cuts, size_t(k), project_.duration);
    Q_EMIT projectChanged();
    setSelectedCut(cut);
    edited(keep);
}

void AppModel::moveCut(int from, int to)
{
    Short* active = lookup::byId(project_.shorts, activeShort_);
    if (!active)
        return;
    const int count = int(active->cuts.size());
    // Indices outside the list (a stale drop) change nothing.
    if (from < 0 || from >= count || to < 0 || to > count || to == from || to == from + 1)
        return;
    commit();
    std::vector<Cut>& list = active->cuts;
    const Cut moved = list[size_t(from)];
    list.erase(list.begin() + from);
    const int at = to <= from ? to : to - 1;
    list.insert(list.begin() + at, moved);
    const double keep = lookup::startOf(list, size_t(at), project_.duration);
    Q_EMIT projectChanged();
    setSelectedCut(moved.id);
    edited(keep);
}

std::vector<double> AppModel::snapPoints() const
{
    std::vector<double> points;
    for (const Segment& s : project_.segments) {
        if (!s.lines)
            continue;
        for (const Line& line : *s.lines) {
            points.push_back(line.t0);
            points.push_back(line.t1);
        }
    }
    return points;
}

void AppModel::trim(const QUuid& cut, Edge edge, double to, std::optional<double> snapWithin)
{
    Short* active = lookup::byId(project_.shorts, activeShort_);
    const int k = active ? lookup::cutIndex(active->cuts, cut) : -1;
    // A time that is not a number would become the cut's edge and be saved.
    if (k < 0 || !std::isfinite(to))
        return;
    if (!scrubbing) {
        // One undo point for the whole drag; the recording is shown while it runs.
        commit();
        scrubbing = true;
        player_->pause();
        holdRecording();
    }
    double t = to;
    if (snapWithin)
        t = snapped(snapPoints(), t, *snapWithin);

    Cut& c = active->cuts[size_t(k)];
    double preview = 0;
    if (edge == Edge::start) {
        c.start = std::max(std::min(t, c.end - shortestCut), 0.0);
        preview = c.start;
    } else {
        c.end = std::min(std::max(t, c.start + shortestCut), project_.duration);
        preview = c.end - frame;
    }
    Q_EMIT projectChanged();
    // One preview seek at a time, as every hand scrub: the newest edge waits for the last.
    seeks_->ask(preview);
    const Segment* under = project_.segment(preview);
    if (under && under->id != selection_)
        setSelection(under->id);
}

void AppModel::endTrim(const QUuid& cut, Edge edge)
{
    if (!scrubbing)
        return;
    scrubbing = false;
    // A preview seek still waiting is of the drag that ended.
    seeks_->forget();
    const Short* active = lookup::byId(project_.shorts, activeShort_);
    const int k = active ? lookup::cutIndex(active->cuts, cut) : -1;
    if (k < 0) {
        // The cut went away during the drag: the drag still ends, and the player shows
        // again what the mode says rather than staying on the recording unheard.
        edited(std::nullopt);
        return;
    }
    save();
    const std::vector<Cut>& list = active->cuts;
    const ShortLine line = Composition::line(list, project_.duration);
    const double bound = line.total() - endMargin;
    const double e = line.offset(k) + (edge == Edge::end ? line.spans[size_t(k)].length() : 0.0);
    assignMode(Mode::shortClip);
    showShort(std::max(e - previewAround, 0.0));
    stopAt = StopAt{std::min(e + previewAround, bound), std::min(bound, e)};
    player_->play();
}
