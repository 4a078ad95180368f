#pragma once

#include <functional>
#include <optional>

class AppModel;
class Player;
class StreamBrowser;

// How every hand scrub of a player behaves: the first change of a drag notes whether the
// player was playing and pauses it, every change asks for a seek (the player's owner sends
// them one at a time, the newest waiting), and the end of the drag plays again when it was
// playing. A click that moves the playhead is a scrub of one change.
// The state lives with the player's owner (the main player's in the model, the stream
// window's in its browser), so that views scrubbing in turn agree.
namespace Scrub {

// The state of one player's scrub.
struct State {
    bool& scrubbing;
    bool& resume;
    Player& player;
};
State of(AppModel& model);
State of(StreamBrowser& browser);

// The first step of each change: pauses once per drag.
void begin(State state);
// The end of the drag: resumes when the drag began while playing.
void end(State state);
// A drag cut short before its release (its window closed): it ends without playing again.
void drop(State state);
inline void begin(AppModel& model) { begin(of(model)); }
inline void end(AppModel& model) { end(of(model)); }
// A one-shot scrub of the main player: begin, `seek`, end.
void once(AppModel& model, const std::function<void()>& seek);
// Where a pointer at `x` over a strip `width` wide falls, as a fraction from 0 to 0.999
// (a position that is not a number counts as 0); none for a strip without width, which
// has nothing to seek to.
std::optional<double> fraction(double x, double width);

} // namespace Scrub
