#include "platform/media/Player.h"

#include <QAudioOutput>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMediaPlayer>
#include <QTimer>
#include <QUrl>
#include <QVideoSink>

#include <algorithm>
#include <cmath>

namespace {

// Milliseconds for a seek, rounded up: a frame's time in whole milliseconds may lie just
// before it (1/30 s is 33.33 ms), and a seek there would show the frame before.
qint64 millis(double seconds)
{
    return qint64(std::ceil(std::max(0.0, seconds) * 1000.0 - 1e-6));
}

class QtPlayer final : public Player {
public:
    QtPlayer()
    {
        media.setAudioOutput(&audio);
        media.setVideoOutput(&sink);
        timer.setInterval(1000 / 30);
        connect(&timer, &QTimer::timeout, this, [this] { Q_EMIT ticked(time()); });
        // Watches for the end of the playing span, waking when it is due rather than polling.
        watch.setSingleShot(true);
        watch.setTimerType(Qt::PreciseTimer);
        connect(&watch, &QTimer::timeout, this, [this] { checkEnd(); });
        connect(&media, &QMediaPlayer::playbackStateChanged, this, [this](QMediaPlayer::PlaybackState s) {
            if (s == QMediaPlayer::PlayingState) {
                timer.start();
                arm();
            } else {
                timer.stop();
                watch.stop();
            }
            Q_EMIT ticked(time());
        });
        connect(&media, &QMediaPlayer::mediaStatusChanged, this, [this](QMediaPlayer::MediaStatus s) {
            // A span that reaches the recording's end stops the media there, before its end
            // is seen or before the jump to the next span has landed: play on.
            if (s == QMediaPlayer::EndOfMedia && !line.spans.empty())
                QTimer::singleShot(0, this, [this] {
                    if (line.spans.empty() || media.mediaStatus() != QMediaPlayer::EndOfMedia
                        || media.playbackState() == QMediaPlayer::PlayingState)
                        return;
                    if (sourceTime() < line.spans[index].end - 0.0005) {
                        go(sourceTime()); // the jump to this span came too late
                        media.play();
                    } else {
                        next();
                    }
                    Q_EMIT ticked(time());
                });
            // Not from inside the signal: a seek made while loading finishes is lost.
            if (pending && loaded(s))
                QTimer::singleShot(0, this, [this] {
                    if (!pending || !loaded(media.mediaStatus()))
                        return;
                    const double at = *pending;
                    pending.reset();
                    go(at);
                });
        });
    }

    void setSource(const std::optional<QString>& path) override
    {
        line.spans.clear();
        index = 0;
        ended = false;
        if (path && path == current) {
            media.pause(); // the same recording stays loaded
            return;
        }
        load(path);
    }
    std::optional<QString> source() const override { return current; }
    void setShort(const QString& path, std::vector<Span> spans) override
    {
        if (path == current)
            media.pause();
        else
            load(path);
        line.spans = std::move(spans);
        index = 0;
        ended = false;
        if (!line.spans.empty())
            go(line.spans.front().start);
    }
    const std::vector<Span>& spans() const override { return line.spans; }
    void play() override
    {
        ended = false;
        media.play();
    }
    void pause() override { media.pause(); }
    void seek(double seconds) override
    {
        if (line.spans.empty()) {
            go(seconds);
        } else {
            const auto place = line.at(seconds);
            index = place->span;
            go(place->time);
            arm();
        }
        Q_EMIT ticked(time());
    }
    double time() const override
    {
        if (ended)
            return line.total();
        const double at = sourceTime();
        return line.spans.empty() ? at : line.within(index, at);
    }
    double rate() const override
    {
        return media.playbackState() == QMediaPlayer::PlayingState ? media.playbackRate() : 0.0;
    }
    void setVolume(float volume) override { audio.setVolume(volume); }
    float volume() const override { return audio.volume(); }
    void setReportInterval(double seconds) override { timer.setInterval(std::max(1, int(seconds * 1000.0 + 0.5))); }
    double reportInterval() const override { return timer.interval() / 1000.0; }
    QVideoSink* videoSink() const override { return const_cast<QVideoSink*>(&sink); }

private:
    static bool loaded(QMediaPlayer::MediaStatus s)
    {
        return s == QMediaPlayer::LoadedMedia || s == QMediaPlayer::BufferingMedia
               || s == QMediaPlayer::BufferedMedia || s == QMediaPlayer::StalledMedia
               || s == QMediaPlayer::EndOfMedia;
    }

    void load(const std::optional<QString>& path)
    {
        current = path;
        pending.reset();
        target.reset();
        media.setSource(path ? QUrl::fromLocalFile(*path) : QUrl());
    }

    // Seeks in the recording, or keeps the seek until the media is loaded.
    void go(double seconds)
    {
        target = seconds;
        ended = false;
        settling.restart();
        if (!loaded(media.mediaStatus())) {
            pending = seconds;
            return;
        }
        // A stopped player shows no picture: pausing it shows the frame sought to.
        if (media.playbackState() == QMediaPlayer::StoppedState)
            media.pause();
        media.setPosition(millis(seconds));
    }

    // The recording's time; right after a seek, the asked time until the media gets there
    // (a position read while a seek is under way may still be the old one).
    double sourceTime() const
    {
        if (pending)
            return *pending;
        const double at = double(media.position()) / 1000.0;
        if (target) {
            if (std::fabs(at - *target) > 0.25 && settling.elapsed() < 500)
                return *target;
            target.reset();
        }
        return at;
    }

    void arm()
    {
        if (line.spans.empty() || media.playbackState() != QMediaPlayer::PlayingState)
            return;
        const double left = line.spans[index].end - sourceTime();
        watch.start(std::clamp(int(left * 1000.0), 1, 200));
    }

    // Wakes near the playing span's end, and moves on once it is there.
    void checkEnd()
    {
        if (line.spans.empty() || media.playbackState() != QMediaPlayer::PlayingState)
            return;
        if (sourceTime() < line.spans[index].end - 0.0005) {
            arm();
            return;
        }
        next();
    }

    // At a span's end: on to the next span, or pause at the last one's end.
    void next()
    {
        if (index + 1 < int(line.spans.size())) {
            ++index;
            go(line.spans[index].start);
            media.play();
            arm();
        } else {
            // Frames already on their way would run past the end: put back its last frame.
            go(line.spans[index].end - 0.001);
            ended = true;
            media.pause();
        }
    }

    QMediaPlayer media;
    QAudioOutput audio;
    QVideoSink sink;
    QTimer timer;
    QTimer watch;
    std::optional<QString> current;
    ShortLine line;
    int index = 0;
    bool ended = false; // paused at the Short's end
    std::optional<double> pending;
    mutable std::optional<double> target;
    QElapsedTimer settling;
};

// Keeps the state a player would have, for runs without a screen.
class SilentPlayer final : public Player {
public:
    void setSource(const std::optional<QString>& path) override
    {
        current = path;
        line.spans.clear();
        position = 0;
        playing = false;
    }
    std::optional<QString> source() const override { return current; }
    void setShort(const QString& path, std::vector<Span> spans) override
    {
        setSource(path);
        line.spans = std::move(spans);
    }
    const std::vector<Span>& spans() const override { return line.spans; }
    void play() override { playing = current.has_value(); }
    void pause() override { playing = false; }
    void seek(double seconds) override
    {
        position = line.spans.empty() ? seconds : std::clamp(seconds, 0.0, line.total());
        Q_EMIT ticked(position);
    }
    double time() const override { return position; }
    double rate() const override { return playing ? 1.0 : 0.0; }
    void setVolume(float v) override { level = v; }
    float volume() const override { return level; }
    void setReportInterval(double seconds) override { interval = seconds; }
    double reportInterval() const override { return interval; }

private:
    std::optional<QString> current;
    ShortLine line;
    double position = 0;
    bool playing = false;
    float level = 1;
    double interval = 1.0 / 30.0;
};

} // namespace

std::unique_ptr<Player> Player::makeDefault()
{
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return std::make_unique<QtPlayer>();
    return std::make_unique<SilentPlayer>();
}
