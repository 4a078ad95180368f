// Editing the segment list after set-up: adding a segment by hand, rating, joining,
// splitting at the playhead, correcting a transcript line and removing an added segment.

#include "core/project/Markers.h"
#include "core/project/Text.h"
#include "model/editing/Lookup.h"
#include "model/lifecycle/AppModel.h"

#include <algorithm>
#include <cmath>

namespace {
// A segment added by hand that is longer waits until the user asks for its transcript.
constexpr double longSegment = 210;
constexpr double touching = 0.05;
constexpr double splitMargin = 5.0;

int indexOf(const std::vector<Segment>& segments, const QString& id)
{
    const Segment* found = lookup::byId(segments, id);
    return found ? int(found - segments.data()) : -1;
}
} // namespace

void AppModel::addSegment(TimeRange range)
{
    commit();
    Segment added;
    added.id = Markers::nextID(range.lower, project_.segments);
    added.start = range.lower;
    added.end = range.upper;
    added.manual = true;
    const bool waits = range.upper - range.lower > longSegment;
    if (waits)
        added.waiting = true;
    const QString id = added.id;
    project_.segments.push_back(std::move(added));
    std::stable_sort(project_.segments.begin(), project_.segments.end(),
                     [](const Segment& a, const Segment& b) { return a.start < b.start; });
    Q_EMIT projectChanged();
    save();
    loadThumbs();
    show(id);
    setToast(QStringLiteral("Added segment ") + id
             + (waits ? QStringLiteral(". It is long, so press Transcribe when you want it read") : QString()));
    if (video_) {
        if (pipeline_)
            pipeline_->cancel();
        runPipeline(false, false, false, false, {});
    }
}

void AppModel::rate(const QString& id, std::optional<int> rating)
{
    Segment* s = lookup::byId(project_.segments, id);
    if (!s)
        return;
    s->rating = s->rating && rating && *s->rating == *rating ? std::nullopt : rating;
    Q_EMIT projectChanged();
    save();
}

bool AppModel::touchesNext(const QString& id) const
{
    const int i = indexOf(project_.segments, id);
    if (i < 0 || size_t(i) + 1 >= project_.segments.size())
        return false;
    return std::fabs(project_.segments[size_t(i) + 1].start - project_.segments[size_t(i)].end) < touching;
}

void AppModel::joinWithNext(const QString& id)
{
    if (!touchesNext(id))
        return;
    const size_t i = size_t(indexOf(project_.segments, id));
    commit();
    std::vector<Segment>& list = project_.segments;
    const QString next = list[i + 1].id;
    const QString kept = list[i].id;
    list[i] = Markers::join(list[i], list[i + 1]);
    list.erase(list.begin() + qsizetype(i) + 1);
    Q_EMIT projectChanged();
    QMap<QString, QImage> pictures = thumbs_;
    pictures.remove(next);
    setThumbs(pictures);
    save();
    if (selection_ == next || selection_ == kept)
        show(kept);
    setToast(QStringLiteral("Joined ") + next + QStringLiteral(" into ") + kept);
}

void AppModel::splitSegment()
{
    if (mode_ != Mode::segment)
        return;
    const int i = selection_ ? indexOf(project_.segments, *selection_) : -1;
    if (i < 0)
        return;
    const double t = clock_->time();
    const Segment& s = project_.segments[size_t(i)];
    if (t - s.start < splitMargin || s.end - t < splitMargin) {
        setToast(QStringLiteral("Too close to an edge to split the segment"));
        return;
    }
    commit();
    auto [first, second] = Markers::split(s, t, project_.segments);
    const QString firstId = first.id, secondId = second.id;
    project_.segments[size_t(i)] = std::move(first);
    project_.segments.insert(project_.segments.begin() + i + 1, std::move(second));
    Q_EMIT projectChanged();
    save();
    loadThumbs();
    show(secondId);
    setToast(QStringLiteral("Split into ") + firstId + QStringLiteral(" and ") + secondId);
}

void AppModel::correct(const QString& id, int line, const QString& text)
{
    Segment* s = lookup::byId(project_.segments, id);
    if (!s || !s->lines || line < 0 || size_t(line) >= s->lines->size())
        return;
    const QString trimmed = Text::trimWhitespaceAndLines(text);
    if (trimmed.isEmpty())
        return;
    (*s->lines)[size_t(line)].text = trimmed;
    Q_EMIT projectChanged();
    save();
}

void AppModel::removeSegment(const QString& id)
{
    const Segment* s = lookup::byId(project_.segments, id);
    if (!s || !s->manual.value_or(false))
        return;
    commit();
    const QString removed = id; // `id` may be a reference into the list
    std::erase_if(project_.segments, [&](const Segment& seg) { return seg.id == removed; });
    Q_EMIT projectChanged();
    if (selection_ == removed) {
        const std::vector<Segment>& left = project_.segments;
        setSelection(left.empty() ? std::nullopt : std::optional<QString>(left.front().id));
        assignMode(Mode::segment);
        showSource(left.empty() ? std::nullopt : std::optional<double>(left.front().start));
    }
    save();
    setToast(QStringLiteral("Removed segment ") + removed + QStringLiteral(". Ctrl+Z brings it back"));
}

int AppModel::shortsUsing(const Segment& segment) const
{
    return int(std::count_if(project_.shorts.begin(), project_.shorts.end(), [&](const Short& s) {
        return std::any_of(s.cuts.begin(), s.cuts.end(),
                           [&](const Cut& c) { return c.start < segment.end && segment.start < c.end; });
    }));
}
