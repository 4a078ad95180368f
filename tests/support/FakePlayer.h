#pragma once

#include "platform/media/Player.h"

#include <QStringList>
#include <QThread>
#include <QTimer>
#include <algorithm>

// A player that plays nothing and records what it was asked to do.
class FakePlayer : public Player {
    Q_OBJECT
public:
    using Player::Player;

    void setSource(const std::optional<QString>& path) override
    {
        calls << (path ? QStringLiteral("source ") + *path : QStringLiteral("source none"));
        current = path;
        line.clear();
        position = 0;
        playing = false;
    }
    std::optional<QString> source() const override { return current; }
    void setShort(const QString& path, std::vector<Span> spans) override
    {
        QString text = QStringLiteral("short ") + path;
        for (const Span& s : spans)
            text += QStringLiteral(" %1-%2").arg(s.start).arg(s.end);
        calls << text;
        current = path;
        line = std::move(spans);
        position = 0;
        playing = false;
    }
    const std::vector<Span>& spans() const override { return line; }
    void play() override
    {
        calls << QStringLiteral("play");
        playing = true;
    }
    void pause() override
    {
        calls << QStringLiteral("pause");
        playing = false;
    }
    void seek(double seconds) override
    {
        calls << QStringLiteral("seek %1").arg(seconds);
        if (holdMs > 0)
            QThread::msleep(static_cast<unsigned long>(holdMs));
        if (seekDelay <= 0) {
            position = seconds;
            return;
        }
        // As a real player on a long recording: the seek lands later and is reported then.
        mostInFlight = std::max(mostInFlight, ++inFlight);
        QTimer::singleShot(int(seekDelay * 1000), this, [this, seconds] {
            --inFlight;
            report(seconds);
        });
    }
    double time() const override { return position; }
    double rate() const override { return playing ? 1.0 : 0.0; }
    void setVolume(float v) override
    {
        calls << QStringLiteral("volume %1").arg(double(v));
        level = v;
    }
    float volume() const override { return level; }
    void setReportInterval(double seconds) override { interval = seconds; }
    double reportInterval() const override { return interval; }

    std::optional<QString> waiting() const override { return waitingLine; }
    // What the picture waits for, as the real player says it.
    void setWaiting(const std::optional<QString>& line)
    {
        waitingLine = line;
        Q_EMIT waitingChanged();
    }

    // Reports a time (the Short's own while it holds a Short) as the real player would.
    void report(double seconds)
    {
        position = seconds;
        Q_EMIT ticked(seconds);
    }

    QStringList calls;
    std::optional<QString> waitingLine;
    std::optional<QString> current;
    std::vector<Span> line;
    double position = 0;
    bool playing = false;
    float level = 1;
    double interval = 1.0 / 30.0;
    // Seconds each seek takes to land; 0 lands at once, without a report.
    double seekDelay = 0;
    // Milliseconds each seek call holds its caller, as a call does that a busy machine
    // interrupts, or the real player's on a recording with key frames seconds apart.
    int holdMs = 0;
    int inFlight = 0;     // seeks asked for and not yet landed
    int mostInFlight = 0; // the most there ever were at once
};
