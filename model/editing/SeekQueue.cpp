#include "model/editing/SeekQueue.h"

#include <QElapsedTimer>

#include <algorithm>
#include <utility>

SeekQueue::SeekQueue(Player& player, QObject* parent)
    : QObject(parent), player_(player)
{
    connect(&player_, &Player::landed, this, [this] {
        if (inside_)
            landedInside_ = true;
        else if (seeking_)
            landed();
    });
    patience_.setSingleShot(true);
    patience_.setInterval(seekPatienceMs);
    connect(&patience_, &QTimer::timeout, this, &SeekQueue::landed);
}

bool SeekQueue::heard()
{
    if (inside_) {
        echoed_ = true;
        return true;
    }
    if (!seeking_)
        return true;
    // Not the landing, which the player tells of itself.
    if (player_.tellsLanding())
        return !waiting_;
    // The seek on its way has landed. When a newer time waits, this report is of an older
    // one, and the newer goes.
    const bool newer = waiting_.has_value();
    landed();
    return !newer;
}

void SeekQueue::ask(double time)
{
    if (seeking_) {
        waiting_ = time;
    } else if (cost_ > quickSeekMs) {
        // The new time is painted first: the slow seek goes out on the next turn.
        seeking_ = true;
        waiting_ = time;
        const int sent = sends_;
        QTimer::singleShot(0, this, [this, sent] {
            if (seeking_ && sent == sends_)
                landed();
        });
    } else {
        send(time);
    }
}

void SeekQueue::jump(double time)
{
    send(time);
}

void SeekQueue::forget()
{
    seeking_ = false;
    waiting_.reset();
    patience_.stop();
    cost_ = 0;
    ++sends_; // a turn still to come for a seek of the item that went does nothing
}

void SeekQueue::send(double time)
{
    seeking_ = true;
    const int sent = ++sends_;
    waiting_.reset();
    inside_ = true;
    echoed_ = false;
    landedInside_ = false;
    QElapsedTimer took;
    took.start();
    player_.seek(time);
    cost_ = took.elapsed();
    inside_ = false;
    if (sent != sends_)
        return; // another seek, or another item, took over from within the player's call
    if (player_.tellsLanding() && !landedInside_) {
        patience_.start(landingPatienceMs);
    } else if (echoed_ || landedInside_) {
        // A player that reports from within its seek call may have spent a while there:
        // the next seek waits for the next turn of the event loop, and as long again as this
        // one held the window, so that the pointer's moves queued meanwhile are all taken and
        // painted first (a drag keeps up with the pointer) and only the newest is sent.
        QTimer::singleShot(int(std::min<qint64>(cost_, seekPatienceMs)), this, [this, sent] {
            if (seeking_ && sent == sends_)
                landed();
        });
    } else if (player_.time() == time) {
        seeking_ = false; // it stood there at once
    } else {
        patience_.start(seekPatienceMs);
    }
}

void SeekQueue::landed()
{
    patience_.stop();
    seeking_ = false;
    if (const auto next = std::exchange(waiting_, std::nullopt))
        send(*next);
}
