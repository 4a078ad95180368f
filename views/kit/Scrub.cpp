#include "views/kit/Scrub.h"

#include "model/lifecycle/AppModel.h"

#include <algorithm>
#include <cmath>

namespace Scrub {

State of(AppModel& model)
{
    return {model.handScrubbing, model.resumeAfterScrub, model.player()};
}

State of(StreamBrowser& browser)
{
    return {browser.dragging, browser.resume, browser.player()};
}

void begin(State state)
{
    if (state.scrubbing)
        return;
    state.scrubbing = true;
    state.resume = state.player.rate() != 0;
    state.player.pause();
}

void end(State state)
{
    if (!state.scrubbing)
        return;
    state.scrubbing = false;
    if (state.resume)
        state.player.play();
    state.resume = false;
}

void drop(State state)
{
    state.scrubbing = false;
    state.resume = false;
}

void once(AppModel& model, const std::function<void()>& seek)
{
    begin(model);
    seek();
    end(model);
}

std::optional<double> fraction(double x, double width)
{
    if (!(width > 0) || !std::isfinite(width))
        return std::nullopt;
    const double f = x / width;
    if (std::isnan(f))
        return 0.0;
    return std::clamp(f, 0.0, 0.999);
}

} // namespace Scrub
