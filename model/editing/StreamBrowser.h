#pragma once

#include "model/editing/TimeRange.h"
#include "platform/media/Player.h"

#include <QObject>
#include <QTimer>
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
    // Moves the playhead to `time`, kept within the recording, and the player after it. A
    // player on a long recording takes a while to land a seek: while one is on its way the
    // newest time asked for waits, and goes when the player reports the one before (those
    // in between are never sent), so a drag never leaves seeks queued behind each other.
    void seek(double time);
    // A seek the player never reports is given up on after this long.
    static constexpr int seekPatienceMs = 500;
    // The same for a player that tells when a seek has landed: a long decode from a key
    // frame seconds back is worth waiting for rather than queueing a seek behind it.
    static constexpr int landingPatienceMs = 1500;
    // A seek call that returns within this is quick; a slower one (the real player on a
    // recording with key frames seconds apart holds the window 0.1-0.5 s) is never made
    // from the call that asks for a new time, and the next waits as long again.
    static constexpr qint64 quickSeekMs = 8;
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
    void send(double time);
    void landed();
    void setTime(double v);
    void setPlaying(bool v);
    void setDuration(double v);
    void setViewStart(double v);
    void setViewSpan(double v);

    std::unique_ptr<Player> player_;
    double time_ = 0;
    bool playing_ = false;
    std::optional<TimeRange> range_;
    double duration_ = 1;
    double viewStart_ = 0;
    double viewSpan_ = 1; // as loaded with nothing: the whole length of 1 s
    bool isKey_ = false;
    std::optional<QString> loaded_;

    bool seeking_ = false;          // a seek is on its way to the player
    bool inside_ = false;           // within the player's seek call
    bool echoed_ = false;           // the player reported from within it
    bool landedInside_ = false;     // the player said it landed from within it
    int sends_ = 0;                 // seeks sent so far
    qint64 cost_ = 0;               // ms the player's last seek call kept the window waiting
    std::optional<double> waiting_; // the newest time asked for meanwhile
    QTimer patience_;
};
