#include "platform/media/Player.h"

#include <QAudioDevice>
#include <QAudioOutput>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QTimer>
#include <QUrl>
#include <QVideoFrame>
#include <QVideoSink>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

namespace {

// The millisecond a seek asks for: just after `seconds`. A frame's time in whole
// milliseconds may lie before it (1/30 s is 33.33 ms), and a stream's own stamps may put a
// frame a hair after its exact time (frame 33 of a 30 fps clip just after 1.100 s): a seek
// that lands before a frame shows the one before.
qint64 after(double seconds)
{
    return qint64(std::floor(std::max(0.0, seconds) * 1000.0 + 1e-6)) + 1;
}

// The millisecond just before `seconds`: the last frame of a stretch that ends there.
qint64 before(double seconds)
{
    return std::max<qint64>(0, qint64(std::ceil(seconds * 1000.0 - 1e-6)) - 1);
}

class QtPlayer final : public Player {
public:
    explicit QtPlayer(bool trySound) : trySound(trySound)
    {
        media.setVideoOutput(&sink);
        // The first picture after a seek tells that the seek is done: until then a further
        // seek would make Qt's GStreamer back end wait inside `setPosition` for this one to
        // finish decoding, holding the window for as long as that takes (up to a second on
        // a recording with key frames seconds apart).
        connect(&sink, &QVideoSink::videoFrameChanged, this, [this](const QVideoFrame& frame) {
            // An empty frame is the picture taken away (an error, an item going out).
            if (!frame.isValid() || !seeking)
                return;
            // A frame decoded before the seek may still be on its way to the sink.
            const qint64 at = frame.startTime();
            if (at >= 0 && std::llabs(at / 1000 - sought) > 1000 && settling.elapsed() < 2000)
                return;
            seeking = false;
            Q_EMIT landed();
        });
        // A sound output that fails (a sound server without an output device) stops the
        // whole pipeline while the player still says it plays: load again without sound.
        connect(&media, &QMediaPlayer::errorOccurred, this, [this](QMediaPlayer::Error error) {
            if (error == QMediaPlayer::NoError || !sound)
                return;
            sound = false;
            soundFailed = true;
            QTimer::singleShot(0, this, [this] { reload(); });
        });
        // A device that appears is worth a try at the next item.
        connect(&devices, &QMediaDevices::audioOutputsChanged, this, [this] { soundFailed = false; });
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
            if (!reloading) // the item going out for a moment is no news of where it stands
                Q_EMIT ticked(time());
        });
        connect(&media, &QMediaPlayer::mediaStatusChanged, this, [this](QMediaPlayer::MediaStatus s) {
            if (loaded(s))
                everLoaded = true;
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
                    go(at, pendingBefore);
                    if (std::exchange(resume, false)) {
                        media.play();
                        arm();
                    }
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
    void pause() override
    {
        resume = false;
        media.pause();
    }
    void seek(double seconds) override
    {
        if (line.spans.empty()) {
            go(seconds);
        } else {
            const auto place = line.at(seconds);
            index = place->span;
            // At a span's end (the Short's end, or past it) its last frame is shown, not
            // the recording's frame that follows the cut.
            go(place->time, place->time >= line.spans[index].end);
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
        if (resume) // loading again to play on
            return media.playbackRate();
        // Media that cannot be played is not playing, whatever state was asked for (one that
        // has loaded plays on after an error of a quick seek: see `go`).
        if (media.mediaStatus() == QMediaPlayer::InvalidMedia && !everLoaded)
            return 0.0;
        return media.playbackState() == QMediaPlayer::PlayingState ? media.playbackRate() : 0.0;
    }
    void setVolume(float volume) override { audio.setVolume(volume); }
    float volume() const override { return audio.volume(); }
    void setReportInterval(double seconds) override { timer.setInterval(std::max(1, int(seconds * 1000.0 + 0.5))); }
    double reportInterval() const override { return timer.interval() / 1000.0; }
    QVideoSink* videoSink() const override { return const_cast<QVideoSink*>(&sink); }
    bool tellsLanding() const override { return true; }

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
        resume = false;
        seeking = false;
        everLoaded = false;
        // Sound only where there is somewhere to play it: without an output the sound
        // branch may never start, and then neither does the picture.
        const bool wanted = !soundFailed && (trySound || !QMediaDevices::audioOutputs().isEmpty());
        if (wanted != sound) {
            sound = wanted;
            media.setAudioOutput(sound ? &audio : nullptr);
        }
        media.setSource(path ? QUrl::fromLocalFile(*path) : QUrl());
    }

    // The media stopped with an error: the same item again (without sound once the sound
    // output has failed), at the same place, playing if it was.
    void reload()
    {
        if (!current)
            return;
        // Where the last seek asked to be, even when the error came before it landed.
        const double at = asked;
        const bool before = askedBefore;
        const bool playing = resume || media.playbackState() == QMediaPlayer::PlayingState;
        if (soundFailed && media.audioOutput())
            qWarning("No sound output could be opened: the picture plays without sound.");
        reloading = true;
        media.setAudioOutput(sound ? &audio : nullptr);
        media.setSource(QUrl());
        load(current);
        go(at, before);
        reloading = false;
        resume = playing;
    }

    // Seeks in the recording (to the frame shown at `seconds`, or with `lastBefore` to the
    // one before it), or keeps the seek until the media is loaded.
    void go(double seconds, bool lastBefore = false)
    {
        asked = seconds;
        askedBefore = lastBefore;
        target = seconds;
        sought = lastBefore ? before(seconds) : after(seconds);
        ended = false;
        settling.restart();
        // Without sound, quick seeks on a file with a sound track now and then end in
        // "Internal data stream error", which marks the media unplayable although it plays
        // on: a recording that has loaded takes seeks all the same, or its picture would
        // stay still for good (loading it again blanks the picture through a whole drag).
        const auto status = media.mediaStatus();
        if (!loaded(status) && !(status == QMediaPlayer::InvalidMedia && everLoaded)) {
            pending = seconds;
            pendingBefore = lastBefore;
            return;
        }
        // A stopped player shows no picture: pausing it shows the frame sought to.
        if (media.playbackState() == QMediaPlayer::StoppedState)
            media.pause();
        seeking = true;
        media.setPosition(sought);
    }

    // The recording's time; right after a seek, the asked time until the media moves on
    // from where it was sent (a position read while a seek is under way may still be the
    // old one).
    double sourceTime() const
    {
        if (pending)
            return *pending;
        const qint64 position = media.position();
        const double at = double(position) / 1000.0;
        if (target) {
            if (position == sought || (std::fabs(at - *target) > 0.25 && settling.elapsed() < 500))
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
            go(line.spans[index].end, true);
            ended = true;
            media.pause();
        }
    }

    const bool trySound;
    QMediaDevices devices;
    QMediaPlayer media;
    QAudioOutput audio;
    bool sound = false;       // the audio output is attached
    bool soundFailed = false; // it failed on this system's outputs as they are
    bool resume = false;      // play once the pending seek has landed
    QVideoSink sink;
    QTimer timer;
    QTimer watch;
    std::optional<QString> current;
    ShortLine line;
    int index = 0;
    bool ended = false; // paused at the Short's end
    std::optional<double> pending;
    bool pendingBefore = false;
    mutable std::optional<double> target;
    qint64 sought = 0;    // the millisecond the last seek asked for
    bool seeking = false; // its picture has not been shown yet
    bool everLoaded = false; // the item has loaded since it was put in
    bool reloading = false;
    double asked = 0; // where the last seek asked to be, and whether to its frame before
    bool askedBefore = false;
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

std::unique_ptr<Player> Player::makeDefault(bool trySound)
{
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return std::make_unique<QtPlayer>(trySound);
    return std::make_unique<SilentPlayer>();
}
