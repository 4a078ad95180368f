#pragma once

#include "platform/Observable.h"

#include <QObject>

// The main player's playhead, in the current mode's time line, and whether it plays.
class Clock : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    double time() const { return time_; }
    bool playing() const { return playing_; }
    void setTime(double v)
    {
        if (assign(time_, v))
            Q_EMIT timeChanged();
    }
    void setPlaying(bool v)
    {
        if (assign(playing_, v))
            Q_EMIT playingChanged();
    }

Q_SIGNALS:
    void timeChanged();
    void playingChanged();

private:
    double time_ = 0;
    bool playing_ = false;
};
