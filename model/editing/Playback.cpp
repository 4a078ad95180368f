// The main player: the recording (segment mode) or the active Short played through its cuts
// (Short mode), the transport, and the mapping between recording time and Short time.

#include "model/editing/Lookup.h"
#include "model/lifecycle/AppModel.h"

#include <algorithm>
#include <cmath>

namespace {

// The time line the player plays: each cut as much as the recording holds of it, one span
// per cut so that span indices are cut indices.
ShortLine lineOf(const std::vector<Cut>& cuts, double duration)
{
    return Composition::line(cuts, duration);
}

const Segment* segmentWith(const Project& project, const std::optional<QString>& id)
{
    return lookup::byId(project.segments, id);
}

const Short* shortWith(const Project& project, const std::optional<QUuid>& id)
{
    return lookup::byId(project.shorts, id);
}

} // namespace

std::optional<AppModel::Place> AppModel::locate(double shortTime) const
{
    const auto place = lineOf(cuts(), project_.duration).at(shortTime);
    if (!place)
        return std::nullopt;
    return Place{place->span, place->time};
}

std::optional<double> AppModel::shortTime(double recordingTime) const
{
    return Composition::shortTime(lineOf(cuts(), project_.duration), recordingTime);
}

double AppModel::recordingTime() const
{
    if (mode_ == Mode::segment)
        return clock_->time();
    const auto place = locate(clock_->time());
    return place ? place->time : 0;
}

void AppModel::tick(double seconds)
{
    if (!std::isfinite(seconds))
        return;
    // Heard even during a trim: a player that cannot tell a landing lands a seek by its report.
    const bool current = seeks_->heard();
    if (scrubbing)
        return;
    const bool playing = player_->rate() != 0;
    clock_->setPlaying(playing);
    // The report of an older seek while a newer time waits: the playhead stays where it
    // was last asked to be.
    if (!current)
        return;
    clock_->setTime(seconds);
    if (mode_ == Mode::shortClip) {
        if (stopAt && stopAt->at <= seconds) {
            const double back = stopAt->back;
            stopAt.reset();
            player_->pause();
            seek(back);
        }
        follow();
    } else if (playing) {
        const Segment* selected = segmentWith(project_, selection_);
        if (selected && selected->end <= seconds)
            player_->pause();
    }
}

void AppModel::follow()
{
    if (mode_ != Mode::shortClip)
        return;
    const auto place = locate(clock_->time());
    if (!place)
        return;
    const Segment* under = project_.segment(place->time);
    if (under && selection_ != under->id)
        setSelection(under->id);
}

void AppModel::seek(double time)
{
    stopAt.reset();
    clock_->setTime(time);
    // A hand scrub asks: while a seek is on its way the newest time waits, so that no move
    // of the pointer waits on the player. Any other seek goes now, as what follows (playing
    // on from there) starts from it.
    if (handScrubbing)
        seeks_->ask(time);
    else
        seeks_->jump(time);
    follow();
}

void AppModel::holdSource(const std::optional<QString>& path)
{
    player_->setSource(path);
    seeks_->forget();
}

void AppModel::holdRecording()
{
    if (player_->source() != sourceItem_ || !player_->spans().empty())
        holdSource(sourceItem_);
}

void AppModel::showSource(std::optional<double> at)
{
    stopAt.reset();
    holdRecording();
    double target = 0;
    if (at) {
        target = *at;
    } else if (const Segment* selected = segmentWith(project_, selection_)) {
        target = std::min(std::max(selected->start, clock_->time()), selected->end);
    }
    clock_->setTime(target);
    seeks_->jump(target);
}

void AppModel::showShort(double at)
{
    const std::vector<Cut> list = cuts();
    const auto made = composition(list);
    if (!made)
        return;
    stopAt.reset();
    const bool playing = player_->rate() != 0;
    player_->setShort(made->source, made->pieces);
    seeks_->forget();
    const double time = std::max(std::min(at, lineOf(list, project_.duration).total() - 0.02), 0.0);
    clock_->setTime(time);
    seeks_->jump(time);
    follow();
    if (playing)
        player_->play();
}

void AppModel::show(const QString& segment)
{
    const Segment* found = segmentWith(project_, segment);
    if (!found)
        return;
    const double start = found->start;
    player_->pause();
    setSelection(segment);
    assignMode(Mode::segment);
    setRange(std::nullopt);
    setSelectedLines(std::nullopt);
    showSource(start);
}

void AppModel::setMode(Mode mode)
{
    if (mode == mode_)
        return;
    player_->pause();
    if (mode == Mode::shortClip) {
        if (cuts().empty())
            return;
        const double at = shortTime(clock_->time()).value_or(0);
        assignMode(Mode::shortClip);
        showShort(at);
    } else {
        const double at = recordingTime();
        assignMode(Mode::segment);
        showSource(at);
    }
}

void AppModel::scrubShort(double to)
{
    const double total = lineOf(cuts(), project_.duration).total();
    if (cuts().empty() || total <= 0 || !std::isfinite(to))
        return;
    const double at = std::min(std::max(to, 0.0), total - 0.02);
    if (mode_ == Mode::shortClip) {
        seek(at);
    } else {
        assignMode(Mode::shortClip);
        showShort(at);
    }
}

void AppModel::togglePlay()
{
    stopAt.reset();
    if (player_->rate() != 0) {
        player_->pause();
        return;
    }
    if (mode_ == Mode::shortClip) {
        if (shortWith(project_, activeShort_) && clock_->time() >= lineOf(cuts(), project_.duration).total() - 0.05)
            seek(0);
    } else {
        const Segment* selected = segmentWith(project_, selection_);
        if (selected && clock_->time() >= selected->end - 0.05)
            seek(selected->start);
    }
    player_->play();
}

void AppModel::step(double seconds)
{
    player_->pause();
    double low = 0;
    double high = 0;
    if (mode_ == Mode::shortClip) {
        if (shortWith(project_, activeShort_))
            high = std::max(lineOf(cuts(), project_.duration).total() - 0.02, 0.0);
    } else if (const Segment* selected = segmentWith(project_, selection_)) {
        low = selected->start;
        high = selected->end;
    } else {
        high = project_.duration;
    }
    seek(std::min(high, std::max(low, clock_->time() + seconds)));
}

void AppModel::mark(Edge edge)
{
    if (!segmentWith(project_, selection_))
        return;
    if (mode_ == Mode::shortClip)
        setMode(Mode::segment);
    const Segment* selected = segmentWith(project_, selection_);
    const double t = clock_->time();
    const TimeRange current = range_.value_or(TimeRange{selected->start, selected->end});
    TimeRange next = edge == Edge::start ? TimeRange{t, std::max(t + 0.3, current.upper)}
                                         : TimeRange{std::min(current.lower, t - 0.3), t};
    // Held inside the recording: a range marked near its start must not reach before it.
    next.lower = std::max(next.lower, 0.0);
    if (project_.duration > 0)
        next.upper = std::min(next.upper, std::max(project_.duration, next.lower));
    next.upper = std::max(next.upper, next.lower); // a playhead before 0 must not turn it inside out
    setRange(next);
    setSelectedLines(std::nullopt);
}

void AppModel::selectLine(int index, bool extend)
{
    const Segment* selected = segmentWith(project_, selection_);
    if (!selected || !selected->lines || index < 0 || index >= int(selected->lines->size()))
        return;
    const std::vector<Line>& lines = *selected->lines;
    int low = index;
    int high = index;
    // Lines selected in another segment, or before the transcript changed, may lie past
    // this one's lines: then the click starts a new selection.
    const bool within = selectedLines_ && selectedLines_->lower >= 0 && selectedLines_->lower <= selectedLines_->upper &&
                        selectedLines_->upper < int(lines.size());
    if (extend && within) {
        low = std::min(selectedLines_->lower, index);
        high = std::max(selectedLines_->upper, index);
    }
    // The range covers every selected line, so lines stored out of order cannot turn it
    // inside out.
    TimeRange covered{lines[low].t0, lines[high].t1};
    for (int i = low; i <= high; ++i) {
        covered.lower = std::min({covered.lower, lines[i].t0, lines[i].t1});
        covered.upper = std::max({covered.upper, lines[i].t0, lines[i].t1});
    }
    const double from = lines[index].t0;
    setSelectedLines(LineRange{low, high});
    setRange(covered);
    const bool playing = player_->rate() != 0;
    assignMode(Mode::segment);
    showSource(from);
    if (playing)
        player_->play();
}
