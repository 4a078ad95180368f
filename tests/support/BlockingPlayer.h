#pragma once

#include "support/FakePlayer.h"

#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <algorithm>

// A player whose seeks hold their caller while they decode, as a media back end may on a
// recording with key frames seconds apart: each seek decodes for `decodeMs`, and a seek made
// while the one before still decodes waits inside the call until that one is done. Like the
// real player it reports the asked time from within the call and says when the picture of
// the last seek is shown. It counts the seeks sent before the last one had landed, and the
// longest it held a caller.
class BlockingPlayer : public FakePlayer {
public:
    explicit BlockingPlayer(int decodeMs) : decodeMs(decodeMs) { clock.start(); }

    void seek(double seconds) override
    {
        calls << QStringLiteral("seek %1").arg(seconds);
        ++sent;
        if (!shown) {
            ++overlapping;
            const qint64 left = busyUntil - clock.elapsed();
            if (left > 0) {
                QThread::msleep(static_cast<unsigned long>(left));
                longestHold = std::max(longestHold, left);
            }
        }
        position = seconds;
        shown = false;
        busyUntil = clock.elapsed() + decodeMs;
        const int mine = ++serial;
        QTimer::singleShot(decodeMs, Qt::PreciseTimer, this, [this, mine] {
            if (mine != serial)
                return; // a later seek took its place
            shown = true;
            Q_EMIT landed();
        });
        Q_EMIT ticked(seconds);
    }
    bool tellsLanding() const override { return true; }

    const int decodeMs;
    int sent = 0;
    int overlapping = 0;     // seeks sent while the one before had not landed
    qint64 longestHold = 0;  // ms a seek call kept its caller waiting, at most
    bool shown = true;       // the last seek's picture is shown

private:
    QElapsedTimer clock;
    qint64 busyUntil = 0;
    int serial = 0;
};
