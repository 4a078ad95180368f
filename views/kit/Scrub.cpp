#include "views/kit/Scrub.h"

#include "model/lifecycle/AppModel.h"

#include <algorithm>
#include <cmath>

namespace Scrub {

void begin(AppModel& model)
{
    if (model.handScrubbing)
        return;
    model.handScrubbing = true;
    model.resumeAfterScrub = model.player().rate() != 0;
    model.player().pause();
}

void end(AppModel& model)
{
    if (!model.handScrubbing)
        return;
    model.handScrubbing = false;
    if (model.resumeAfterScrub)
        model.player().play();
    model.resumeAfterScrub = false;
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
