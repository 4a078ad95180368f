#pragma once

#include <functional>
#include <optional>

class AppModel;

// How every hand scrub of the main player behaves: the first change of a drag notes
// whether the player was playing and pauses it, every change seeks, and the end of the
// drag plays again when it was playing. A click that moves the playhead is a scrub of one
// change. The state lives in the model (handScrubbing, resumeAfterScrub), so that two
// views scrubbing in turn agree.
namespace Scrub {

// The first step of each change: pauses once per drag.
void begin(AppModel& model);
// The end of the drag: resumes when the drag began while playing.
void end(AppModel& model);
// A one-shot scrub: begin, `seek`, end.
void once(AppModel& model, const std::function<void()>& seek);
// Where a pointer at `x` over a strip `width` wide falls, as a fraction from 0 to 0.999;
// none for a strip without width (nothing to seek to).
std::optional<double> fraction(double x, double width);

} // namespace Scrub
