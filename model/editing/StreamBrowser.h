#pragma once

#include "model/editing/SeekQueue.h"
#include "model/editing/TimeRange.h"
#include "platform/media/Player.h"

#include <QObject>
#include <memory>
#include <optional>

// The stream window's model: its own player (made once, never replaced), the playhead,
// the marked range and the visible stretch of the zoomable timeline.
class StreamBrowser : public QObject {
    Q_OBJECT
public:
    // The player reports its time this often while it plays.
    static constexpr double reportInterval = 0.05;
    // The span a freshly loaded or shown recording is viewed at (at most), and the bounds of
    // zooming and of the span around a shown range.
    static constexpr double defaultSpan = 240;
    static constexpr double minimumSpan = 5;
    static constexpr double minimumRangeSpan = 30;

    explicit StreamBrowser(std::unique_ptr<Player> player, QObject* parent = nullptr);

    Player& player() const { return *player_; }
    double time() const { return time_; }
    bool playing() const { return playing_; }
    const std::optional<TimeRange>& range() const { return range_; }
    double duration() const { return duration_; }
    double viewStart() const { return viewStart_; }
    double viewSpan() const { return viewSpan_; }
    bool isKey() const { return isKey_; }
    const std::optional<QString>& loaded() const { return loaded_; }

    // Written by the stream window's views.
    void setIsKey(bool v);
    void setRange(const std::optional<TimeRange>& v);
    double viewWidth = 900; // points
    bool dragging = false;  // a hand scrub of the player is under way
    bool resume = false;    // the player plays again when that scrub ends

    // Loads a recording (none: empties the player) with its length. Loading the recording
    // already loaded changes nothing, so reopening the window keeps the user's place.
    void load(const std::optional<QString>& video, double duration);
    // Makes `time` the timeline's left edge as far as the bounds allow.
    void scroll(double to);
    // Moves the playhead to `time`, kept within the recording, and the player after it, one
    // seek at a time (see SeekQueue): a drag never leaves seeks queued behind each other.
    void seek(double time);
    // Pauses, sets the range (none clears it), brings the time or the range into view and
    // seeks to the time.
    void show(double at, const std::optional<TimeRange>& range);
    // Zooms the timeline to `span`, keeping `anchor` where it stands on screen.
    void zoom(double span, double anchor);
    // Sets that end of the range at the playhead; the other end moves only as far as it
    // must to keep the range ordered and at least a second long.
    void mark(Edge edge);

Q_SIGNALS:
    void timeChanged();
    void playingChanged();
    void rangeChanged();
    void durationChanged();
    void viewStartChanged();
    void viewSpanChanged();
    void isKeyChanged();

private:
    void report(double seconds);
    void setTime(double v);
    void setPlaying(bool v);
    void setDuration(double v);
    void setViewStart(double v);
    void setViewSpan(double v);

    // Before the player, so that it outlives it: the player may report while it goes.
    SeekQueue seeks_;
    std::unique_ptr<Player> player_;
    double time_ = 0;
    bool playing_ = false;
    std::optional<TimeRange> range_;
    double duration_ = 1;
    double viewStart_ = 0;
    double viewSpan_ = 1; // as loaded with nothing: the whole length of 1 s
    bool isKey_ = false;
    std::optional<QString> loaded_;
};
