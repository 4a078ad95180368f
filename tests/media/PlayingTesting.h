#pragma once

// What the real player shows and says, on a 30 fps clip whose frames show their number.

#include "model/editing/ShortTesting.h"
#include "support/Files.h"
#include "support/Sound.h"

#include <QTimer>
#include <QVideoFrame>
#include <QVideoSink>
#include <cmath>

namespace playing {

using namespace shorts;

// 10 s at 30 frames a second with sound, key frames every second.
inline QString numberedClip()
{
    return sharedClip(QStringLiteral("numbered30.mp4"), [](const QString& p) { return Clips::numbered(p, 10); });
}

// The frame shown at recording time `seconds`.
inline int frameAt(double seconds)
{
    return int(std::floor(seconds * 30.0 + 1e-6));
}

// The number of the frame that an export of a cut from recording time `t` starts with.
inline int frameTheExportTakes(const QString& path, double t)
{
    const std::optional<double> at = Media::stretchesNow(path, {{t, t + 0.5}})[0].shown();
    for (const Clips::Shown& f : Clips::recordingFrames(path))
        if (at && std::fabs(f.time - *at) < 1e-6)
            return f.number;
    return -1;
}

using sound::Monitor;
using sound::NullSink;
using sound::pactl;
using sound::soundStreams;

// How long a test waits for what the user waits for: generous, as a busy machine takes its
// time, and what never comes fails all the same.
constexpr int patience = 15000;

// The numbers of the frames a player shows, and the times it reports.
class Watch {
public:
    // `bits`: of the clip's numbers (see Clips::Numbering). `turned`: degrees clockwise the
    // recording's pictures are turned to show them upright; the number is read as stored.
    explicit Watch(Player& player, int bits = 10, int turned = 0)
    {
        QObject::connect(player.videoSink(), &QVideoSink::videoFrameChanged, &context,
                         [this, bits, turned](const QVideoFrame& f) {
                             if (!f.isValid())
                                 return;
                             const QImage image = f.toImage();
                             shown.push_back(Clips::numberOf(
                                 turned == 0 ? image : image.transformed(QTransform().rotate(-turned)), bits));
                         });
        QObject::connect(&player, &Player::ticked, &context, [this](double t) { reported.push_back(t); });
    }
    int last() const { return shown.empty() ? -1 : shown.back(); }
    // Waits until the picture shows frame `n`.
    bool shows(int n, int ms = patience)
    {
        return waitUntil([&] { return last() == n; }, ms);
    }
    void clear()
    {
        shown.clear();
        reported.clear();
    }

    std::vector<int> shown;
    std::vector<double> reported;

private:
    QObject context;
};

// Whether the picture comes to show the frame under the player's clock (within two frames):
// a paused player's last picture may come a while after the pause.
inline bool showsTheClock(const Player& player, const Watch& watch, int ms = patience)
{
    return waitUntil(
        [&] {
            const ShortLine line{player.spans()};
            const auto place = line.at(player.time());
            const double at = line.spans.empty() ? player.time() : place ? place->time : -1;
            return std::abs(watch.last() - frameAt(at)) <= 2;
        },
        ms);
}

// Forwards to the real player and counts the seeks sent before the last one had landed.
class Counting final : public Player {
public:
    explicit Counting(std::unique_ptr<Player> player) : inner(std::move(player))
    {
        connect(inner.get(), &Player::ticked, this, &Player::ticked);
        connect(inner.get(), &Player::landed, this, [this] {
            open = false;
            Q_EMIT landed();
        });
    }
    void seek(double seconds) override
    {
        ++sent;
        overlapping += open;
        open = true;
        inner->seek(seconds);
    }
    void setSource(const std::optional<QString>& path) override { inner->setSource(path); }
    std::optional<QString> source() const override { return inner->source(); }
    void setShort(const QString& path, std::vector<Span> spans) override { inner->setShort(path, std::move(spans)); }
    const std::vector<Span>& spans() const override { return inner->spans(); }
    void play() override { inner->play(); }
    void pause() override { inner->pause(); }
    double time() const override { return inner->time(); }
    double rate() const override { return inner->rate(); }
    void setVolume(float volume) override { inner->setVolume(volume); }
    float volume() const override { return inner->volume(); }
    void setReportInterval(double seconds) override { inner->setReportInterval(seconds); }
    double reportInterval() const override { return inner->reportInterval(); }
    QVideoSink* videoSink() const override { return inner->videoSink(); }
    bool tellsLanding() const override { return inner->tellsLanding(); }

    std::unique_ptr<Player> inner;
    int sent = 0;
    int overlapping = 0;
    bool open = false;
};

// 20 s at 640x360 with a tone, key frames every `keyEvery` frames (240: a seek decodes for a
// while).
inline QString toneClip(int keyEvery)
{
    return sharedClip(QStringLiteral("tone%1.mp4").arg(keyEvery), [keyEvery](const QString& p) {
        const QString every = QString::number(keyEvery);
        return Clips::ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=640x360:rate=30:duration=20", "-f", "lavfi", "-i",
                              "sine=frequency=440:sample_rate=48000:duration=20", "-c:v", "libx264", "-preset",
                              "veryfast", "-g", every, "-keyint_min", every, "-sc_threshold", "0", "-pix_fmt",
                              "yuv420p", "-c:a", "aac", "-shortest", p})
            ? p
            : QString();
    });
}

// The tenths of a second, from sample `from` on for `seconds`, in which nothing is heard.
inline std::vector<double> quietTenths(Monitor& monitor, qsizetype from, double seconds)
{
    std::vector<double> quiet;
    for (int i = 0; i < int(seconds * 10); ++i)
        if (monitor.peak(from + qsizetype(i) * Monitor::rate / 10, 0.1) <= 0.03)
            quiet.push_back(i / 10.0);
    return quiet;
}

// The player's clock, read every 10 ms beside the time passed while this lives (as long as the
// test runs the event loop).
class ClockLog {
public:
    explicit ClockLog(const Player& player) : ClockLog([&player] { return player.time(); }) {}
    explicit ClockLog(std::function<double()> read)
    {
        wall.start();
        QObject::connect(&timer, &QTimer::timeout, [this, read = std::move(read)] { readings.push_back({now(), read()}); });
        timer.start(10);
    }
    // Seconds since it began.
    double now() const { return double(wall.nsecsElapsed()) / 1e9; }
    // Where the clock went back, or moved faster than `pace` times the time passed (the most
    // it catches up with an output's figures at) plus `slack` seconds over any stretch, from
    // `from` (seconds since it began) until `to`: a sentence; none where it did neither.
    std::optional<std::string> fault(double from = 0, double slack = 0.05, double pace = 1.25, double to = HUGE_VAL) const
    {
        std::optional<double> lowest; // of the clock less `pace` times the time passed, so far
        double last = -HUGE_VAL;
        for (const auto& [at, clock] : readings) {
            if (at < from || at > to)
                continue;
            if (clock < last - 1e-9)
                return "the clock went back from " + std::to_string(last) + " to " + std::to_string(clock);
            if (lowest && clock - pace * at > *lowest + slack)
                return "the clock leapt " + std::to_string(clock - pace * at - *lowest) + " s ahead, to "
                       + std::to_string(clock);
            lowest = std::min(lowest.value_or(HUGE_VAL), clock - pace * at);
            last = clock;
        }
        return std::nullopt;
    }
    // How far the clock ran ahead of the time passed since `from` (seconds since it began), at
    // which it stood at `at`, until `to`: no clock leads what the user has heard, which is never
    // more than the time passed since Play or a seek.
    double ahead(double from, double at, double to = HUGE_VAL) const
    {
        double most = 0;
        for (const auto& [when, clock] : readings)
            if (when >= from && when <= to)
                most = std::max(most, clock - at - (when - from));
        return most;
    }
    // How far the clock moved from `from` to `to` (seconds since it began).
    double moved(double from, double to) const
    {
        std::optional<double> first, last;
        for (const auto& [at, clock] : readings)
            if (at >= from && at <= to) {
                first = first.value_or(clock);
                last = clock;
            }
        return first && last ? *last - *first : 0.0;
    }

private:
    QElapsedTimer wall;
    QTimer timer;
    std::vector<std::pair<double, double>> readings;
};

// 24 s at 30 frames a second whose sound is noise, so that no moment of it sounds like
// another: sound played from another place than its own is told apart.
inline QString noisyClip()
{
    Clips::Numbering withNoise;
    withNoise.noise = true;
    return sharedClip(QStringLiteral("numbered30-noise.mp4"),
                      [&](const QString& p) { return Clips::numbered(p, 24, withNoise); });
}

// Two recordings joined as MPEG-TS files are joined, one after the other byte for byte, so
// that the second's stamps start again where the first's did: 4 s of the noisy clip, then 6 s
// of it from 10 s on (its pictures numbered from 300), with sound or without; the first's
// stamps moved on by `firstAt` seconds (past 95443.7, 33 bits of 90 kHz, they start again at
// 0). Each is kept beside it, its name followed by ".1.ts" and ".2.ts".
inline QString joinedClip(bool sound, int firstAt = 0)
{
    const QString noisy = noisyClip();
    const QStringList streams = sound ? QStringList{"-c", "copy"} : QStringList{"-c", "copy", "-an"};
    const QString name = (sound ? QStringLiteral("numbered30-noise-joined") : QStringLiteral("numbered30-joined-silent"))
                         + (firstAt ? QStringLiteral("-%1.ts").arg(firstAt) : QStringLiteral(".ts"));
    return sharedClip(name, [&](const QString& p) {
        const QString first = p + QStringLiteral(".1.ts"), second = p + QStringLiteral(".2.ts");
        const bool made = !noisy.isEmpty() && Clips::ffmpeg(QStringList{"-t", "4", "-i", noisy} + streams
                                                        + QStringList{"-output_ts_offset", QString::number(firstAt), first})
                          && Clips::ffmpeg(QStringList{"-ss", "10", "-t", "6", "-i", noisy} + streams + QStringList{second})
                          && testfiles::writeFile(p, testfiles::readFile(first) + testfiles::readFile(second));
        return made ? p : QString();
    });
}

// 10 s at 30 frames a second with key frames 5 s apart: every seek decodes for a while.
inline QString sparseClip()
{
    return sharedClip(QStringLiteral("numbered30-sparse.mp4"),
                      [](const QString& p) { return Clips::numbered(p, 10, 30, 150); });
}

} // namespace playing
