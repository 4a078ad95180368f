#include "model/editing/StreamBrowser.h"

#include "platform/Observable.h"

#include <algorithm>
#include <cmath>
#include <utility>

StreamBrowser::StreamBrowser(std::unique_ptr<Player> player, QObject* parent)
    : QObject(parent), seeks_(*player), player_(std::move(player))
{
    player_->setReportInterval(reportInterval);
    // The player is owned here, so its reports stop when the browser goes.
    connect(player_.get(), &Player::ticked, this, &StreamBrowser::report);
}

void StreamBrowser::report(double seconds)
{
    // A report of an older seek while a newer time waits: the playhead stays where it was
    // last asked to be.
    if (!std::isfinite(seconds) || !seeks_.heard())
        return;
    setTime(seconds);
    setPlaying(player_->rate() != 0);
    // Page follow: once the playhead runs past the right edge, it comes back in 5 % from the left.
    if (playing_ && !dragging && viewStart_ + viewSpan_ < time_)
        scroll(time_ - 0.05 * viewSpan_);
}

void StreamBrowser::load(const std::optional<QString>& video, double duration)
{
    if (video == loaded_)
        return;
    loaded_ = video;
    // A seek still on its way belongs to the recording going out.
    seeks_.forget();
    // A length the media could not tell (infinite or not a number) counts as the least.
    setDuration(std::isfinite(duration) ? std::max(duration, 1.0) : 1.0);
    setRange(std::nullopt);
    setTime(0);
    setViewStart(0);
    setViewSpan(std::min(duration_, defaultSpan));
    player_->setSource(video);
}

void StreamBrowser::scroll(double to)
{
    setViewStart(std::min(std::max(to, 0.0), std::max(0.0, duration_ - viewSpan_)));
}

void StreamBrowser::seek(double time)
{
    setTime(std::clamp(time, 0.0, duration_));
    seeks_.ask(time_);
}

void StreamBrowser::show(double at, const std::optional<TimeRange>& range)
{
    player_->pause();
    setRange(range);
    double centre = at;
    if (range) {
        setViewSpan(std::min(std::max(3 * (range->upper - range->lower), minimumRangeSpan), duration_));
        centre = (range->lower + range->upper) / 2;
    } else {
        setViewSpan(std::min(duration_, defaultSpan));
    }
    scroll(centre - viewSpan_ / 2);
    seek(at);
}

void StreamBrowser::zoom(double span, double anchor)
{
    const double next = std::min(std::max(span, minimumSpan), duration_);
    const double place = viewSpan_ > 0 ? (anchor - viewStart_) / viewSpan_ : 0.5;
    setViewSpan(next);
    scroll(anchor - next * place);
}

void StreamBrowser::mark(Edge edge)
{
    // The player may run a little past the length it was loaded with; a mark beyond the
    // recording could not make an ordered range, so the playhead counts as its nearest end.
    const double at = std::clamp(time_, 0.0, duration_);
    double lo = range_ ? range_->lower : at;
    double hi = range_ ? range_->upper : at;
    if (edge == Edge::start) {
        lo = at;
        hi = std::max(hi, std::min(at + 1, duration_));
    } else {
        hi = at;
        lo = std::min(lo, std::max(at - 1, 0.0));
    }
    setRange(TimeRange{lo, hi});
}

#define VANTOREL_SETTER(Name, field, Type, signal)                                                                     \
    void StreamBrowser::Name(Type v)                                                                                   \
    {                                                                                                                  \
        if (assign(field, v))                                                                                          \
            Q_EMIT signal();                                                                                           \
    }

VANTOREL_SETTER(setTime, time_, double, timeChanged)
VANTOREL_SETTER(setPlaying, playing_, bool, playingChanged)
VANTOREL_SETTER(setRange, range_, const std::optional<TimeRange>&, rangeChanged)
VANTOREL_SETTER(setDuration, duration_, double, durationChanged)
VANTOREL_SETTER(setViewStart, viewStart_, double, viewStartChanged)
VANTOREL_SETTER(setViewSpan, viewSpan_, double, viewSpanChanged)
VANTOREL_SETTER(setIsKey, isKey_, bool, isKeyChanged)

#undef VANTOREL_SETTER
