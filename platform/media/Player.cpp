#include "platform/media/Player.h"

#include <QAudioOutput>
#include <QGuiApplication>
#include <QMediaPlayer>
#include <QTimer>
#include <QUrl>
#include <QVideoSink>

#include <algorithm>

namespace {

class QtPlayer final : public Player {
public:
    QtPlayer()
    {
        media.setAudioOutput(&audio);
        media.setVideoOutput(&sink);
        timer.setInterval(1000 / 30);
        connect(&timer, &QTimer::timeout, this, [this] { Q_EMIT ticked(time()); });
        connect(&media, &QMediaPlayer::playbackStateChanged, this, [this](QMediaPlayer::PlaybackState s) {
            if (s == QMediaPlayer::PlayingState)
                timer.start();
            else
                timer.stop();
            Q_EMIT ticked(time());
        });
    }

    void setSource(const std::optional<QString>& path) override
    {
        current = path;
        media.setSource(path ? QUrl::fromLocalFile(*path) : QUrl());
    }
    std::optional<QString> source() const override { return current; }
    void play() override { media.play(); }
    void pause() override { media.pause(); }
    void seek(double seconds) override
    {
        media.setPosition(qint64(seconds * 1000.0 + 0.5));
        Q_EMIT ticked(seconds);
    }
    double time() const override { return double(media.position()) / 1000.0; }
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
    QMediaPlayer media;
    QAudioOutput audio;
    QVideoSink sink;
    QTimer timer;
    std::optional<QString> current;
};

// Keeps the state a player would have, for runs without a screen.
class SilentPlayer final : public Player {
public:
    void setSource(const std::optional<QString>& path) override
    {
        current = path;
        position = 0;
        playing = false;
    }
    std::optional<QString> source() const override { return current; }
    void play() override { playing = current.has_value(); }
    void pause() override { playing = false; }
    void seek(double seconds) override
    {
        position = seconds;
        Q_EMIT ticked(seconds);
    }
    double time() const override { return position; }
    double rate() const override { return playing ? 1.0 : 0.0; }
    void setVolume(float v) override { level = v; }
    float volume() const override { return level; }
    void setReportInterval(double seconds) override { interval = seconds; }
    double reportInterval() const override { return interval; }

private:
    std::optional<QString> current;
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
