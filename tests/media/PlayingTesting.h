#pragma once

// What the real player shows and says, on a 30 fps clip whose frames show their number.

#include "model/editing/ShortTesting.h"

#include <QAudioDevice>
#include <QMediaDevices>
#include <QProcess>
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

// Runs `pactl` on the tests' sound server; its output, or none when it failed.
inline std::optional<QString> pactl(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral("pactl"), arguments);
    if (!process.waitForFinished(5000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return QString::fromUtf8(process.readAllStandardOutput());
}

// The sound streams playing on the tests' sound server; -1 when it cannot be asked.
inline int soundStreams()
{
    const auto listed = pactl({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sink-inputs")});
    return listed ? int(listed->split(u'\n', Qt::SkipEmptyParts).size()) : -1;
}

// An output device on the tests' sound server, while it lives: a sink that plays to
// nowhere, so that players attach sound and their streams can be counted.
class NullSink {
public:
    NullSink()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            return;
        const auto loaded = pactl({QStringLiteral("load-module"), QStringLiteral("module-null-sink"),
                                   QStringLiteral("sink_name=nowhere")});
        if (!loaded)
            return;
        module = loaded->trimmed();
        waitUntil([] { return !QMediaDevices::audioOutputs().isEmpty(); }, 10000);
    }
    ~NullSink()
    {
        if (module.isEmpty())
            return;
        pactl({QStringLiteral("unload-module"), module});
        waitUntil([] { return QMediaDevices::audioOutputs().isEmpty(); }, 3000);
    }
    bool ready() const { return !module.isEmpty() && !QMediaDevices::audioOutputs().isEmpty(); }

private:
    QString module;
};

// What the null sink plays, recorded from its monitor while this lives: the sound the user
// would hear (a stream can be open, uncorked and silent).
class Monitor {
public:
    static constexpr int rate = 8000;
    Monitor()
    {
        QObject::connect(&parec, &QProcess::readyReadStandardOutput, &parec, [this] {
            bytes += parec.readAllStandardOutput();
        });
        parec.start(QStringLiteral("parec"), {"-d", "nowhere.monitor", "--raw", "--format=s16le", "--channels=1",
                                              "--rate=" + QString::number(rate), "--latency-msec=10"});
        parec.waitForStarted(3000);
        // Recording once the first samples come.
        waitUntil([&] { return bytes.size() > 0; }, 3000);
    }
    ~Monitor()
    {
        parec.kill();
        parec.waitForFinished(2000);
    }
    bool running() const { return parec.state() == QProcess::Running && bytes.size() > 0; }
    // Samples recorded so far.
    qsizetype now() const { return bytes.size() / 2; }
    // The loudest sample from `from` on for `seconds` (in full scale), waiting for them.
    double peak(qsizetype from, double seconds)
    {
        const qsizetype to = from + qsizetype(seconds * rate);
        waitUntil([&] { return now() >= to; }, int(seconds * 1000) + 3000);
        const auto* samples = reinterpret_cast<const qint16*>(bytes.constData());
        int loudest = 0;
        for (qsizetype i = from; i < std::min(to, now()); ++i)
            loudest = std::max(loudest, std::abs(int(samples[i])));
        return loudest / 32768.0;
    }
    // Seconds from `from` to the first loud sample within `within` seconds; none when quiet.
    std::optional<double> heard(qsizetype from, double within)
    {
        const qsizetype to = from + qsizetype(within * rate);
        waitUntil([&] { return now() >= to; }, int(within * 1000) + 3000);
        const auto* samples = reinterpret_cast<const qint16*>(bytes.constData());
        for (qsizetype i = from; i < std::min(to, now()); ++i)
            if (std::abs(int(samples[i])) > 1000)
                return double(i - from) / rate;
        return std::nullopt;
    }

private:
    QProcess parec;
    QByteArray bytes;
};

// The numbers of the frames a player shows, and the times it reports.
class Watch {
public:
    // `bits`: of the clip's numbers (see Clips::Numbering).
    explicit Watch(Player& player, int bits = 10)
    {
        QObject::connect(player.videoSink(), &QVideoSink::videoFrameChanged, &context, [this, bits](const QVideoFrame& f) {
            if (f.isValid())
                shown.push_back(Clips::numberOf(f.toImage(), bits));
        });
        QObject::connect(&player, &Player::ticked, &context, [this](double t) { reported.push_back(t); });
    }
    int last() const { return shown.empty() ? -1 : shown.back(); }
    // Waits until the picture shows frame `n`.
    bool shows(int n, int ms = 4000)
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

// 10 s at 30 frames a second with key frames 5 s apart: every seek decodes for a while.
inline QString sparseClip()
{
    return sharedClip(QStringLiteral("numbered30-sparse.mp4"),
                      [](const QString& p) { return Clips::numbered(p, 10, 30, 150); });
}

} // namespace playing
