#pragma once

#include "platform/media/Player.h"

#include <QObject>
#include <QTimer>
#include <optional>

// The seeks of one player, one at a time. A seek on a recording whose key frames lie seconds
// apart decodes for a while before its picture comes, and a player may even hold the caller
// meanwhile: a drag that sent a seek for every move of the pointer would make each wait for
// the one before. While a seek is on its way the newest time asked for waits, and goes when
// the player has landed the one before; the times in between are never sent. Both players'
// drags go through one: the stream window's, and every hand scrub of the main player (its
// strips, the timeline's ruler and playhead, a trim).
class SeekQueue : public QObject {
    Q_OBJECT
public:
    explicit SeekQueue(Player& player, QObject* parent = nullptr);

    // Asks for `time`: sent at once when no seek is on its way, else kept as the time
    // waiting (in place of an older one). After a seek call that held the window, the next
    // is never made from the call that asks for it: the asker paints the new time first.
    void ask(double time);
    // Sends `time` now, dropping the time waiting: a seek that what follows builds on (play
    // from there, a new item shown at a place). It may wait in the player for one on its way.
    void jump(double time);
    // The player took another item: the seek on its way and the time waiting were for the
    // item that went.
    void forget();
    // A report of the player's time, heard by the player's owner first thing for every
    // finite report. False when it is the report of an older seek while a newer time waits:
    // the playhead then stays where it was last asked to be.
    bool heard();

    // A seek the player never reports is given up on after this long.
    static constexpr int seekPatienceMs = 500;
    // The same for a player that tells when a seek has landed: a long decode from a key
    // frame seconds back is worth waiting for rather than queueing a seek behind it.
    static constexpr int landingPatienceMs = 1500;
    // A seek call that returns within this is quick; a slower one (a player that holds the
    // window while it decodes) is never made from the call that asks for a new time, and
    // the next waits as long again.
    static constexpr qint64 quickSeekMs = 8;

private:
    void send(double time);
    void landed();

    Player& player_;
    bool seeking_ = false;          // a seek is on its way to the player
    bool inside_ = false;           // within the player's seek call
    bool echoed_ = false;           // the player reported from within it
    bool landedInside_ = false;     // the player said it landed from within it
    int sends_ = 0;                 // seeks sent so far
    qint64 cost_ = 0;               // ms the player's last seek call kept the window waiting
    std::optional<double> waiting_; // the newest time asked for meanwhile
    QTimer patience_;
};
