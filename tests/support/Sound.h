#pragma once

// A sound server of the process's own, an output on it that plays to nowhere, and what that
// output plays, read back: for the tests and benchmarks of the real player.

#include "support/EventLoop.h"

#include <QAudioDevice>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QMediaDevices>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <clocale>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace sound {

using events::until;

inline std::optional<QString> pactl(const QStringList& arguments);

// A sound server that has no output device, as on a desktop without sound or in a remote
// session: its clients connect, but no sound can be played. Started when the machine has
// one to start (its socket in `folder`, which must outlive it); otherwise the players meet
// no sound server at all. Set in PULSE_SERVER for the players made after it.
// PulseAudio, or with VANTOREL_TEST_SOUND_SERVER=pipewire, PipeWire's pulse server (as GNOME
// desktops run it), which gives a machine without a sound card a "Dummy Output".
class SoundlessServer {
public:
    explicit SoundlessServer(const QString& folder) : folder(folder)
    {
        current = this;
        start();
    }
    ~SoundlessServer()
    {
        current = nullptr;
        stop();
    }
    SoundlessServer(const SoundlessServer&) = delete;
    SoundlessServer& operator=(const SoundlessServer&) = delete;
    bool running() const { return server.state() == QProcess::Running && QFile::exists(socket()); }
    // The server of this program, while it lives.
    static SoundlessServer* instance() { return current; }
    static bool pipewire() { return qEnvironmentVariable("VANTOREL_TEST_SOUND_SERVER") == QStringLiteral("pipewire"); }
    // Stops the server, as a desktop's sound server goes when it crashes or restarts.
    void stop()
    {
        for (QProcess* process : {&pulse, &session, &server}) {
            process->kill();
            process->waitForFinished(2000);
        }
        QFile::remove(socket());
    }
    // Starts it (again), at the same place: its clients find it there.
    void start()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), folder);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), folder);
        if (pipewire()) {
            // (Its session manager needs the session bus: one such server runs at a time.)
            env.insert(QStringLiteral("PIPEWIRE_RUNTIME_DIR"), folder);
            const QString config = folder + QStringLiteral("/config");
            QDir().mkpath(config);
            env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
            // The pipe, its session manager (which makes the Dummy Output) and its pulse server.
            if (!run(server, QStringLiteral("pipewire"), {}, env))
                return;
            for (int i = 0; i < 250 && !QFile::exists(folder + QStringLiteral("/pipewire-0")); ++i)
                QThread::msleep(20);
            run(session, QStringLiteral("wireplumber"), {}, env);
            run(pulse, QStringLiteral("pipewire-pulse"), {}, env);
        } else {
            // Each test program has a server of its own, but a session bus takes the server's
            // name only once: tests that run side by side would find none but the first.
            env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
            const QString script = folder + QStringLiteral("/server.pa");
            QFile file(script);
            if (!file.open(QIODevice::WriteOnly))
                return;
            file.write(QStringLiteral("load-module module-native-protocol-unix socket=%1 auth-anonymous=1\n")
                           .arg(socket())
                           .toUtf8());
            file.close();
            if (!run(server, QStringLiteral("pulseaudio"),
                     {"-n", "-F", script, "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit", "--disable-shm",
                      "--log-level=error"},
                     env))
                return;
        }
        for (int i = 0; i < 250 && !QFile::exists(socket()) && server.state() != QProcess::NotRunning; ++i)
            QThread::msleep(20);
        if (!QFile::exists(socket()))
            return;
        qputenv("PULSE_SERVER", ("unix:" + socket()).toUtf8());
        // (Its socket may be there a while before it answers, on a busy machine above all.)
        for (int i = 0; i < 100 && !pactl({QStringLiteral("info")}); ++i)
            QThread::msleep(50);
    }

private:
    QString socket() const { return folder + (pipewire() ? QStringLiteral("/pulse/native") : QStringLiteral("/native")); }
    static bool run(QProcess& process, const QString& name, const QStringList& arguments, const QProcessEnvironment& env)
    {
        const QString program = QStandardPaths::findExecutable(name);
        if (program.isEmpty())
            return false;
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.setStandardOutputFile(QProcess::nullDevice());
        process.start(program, arguments);
        return process.waitForStarted(5000);
    }

    inline static SoundlessServer* current = nullptr;
    const QString folder;
    QProcess server;
    QProcess session;
    QProcess pulse;
};

// Runs `pactl` on the process's sound server; its output, or none when it failed.
inline std::optional<QString> pactl(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral("pactl"), arguments);
    if (!process.waitForFinished(5000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return QString::fromUtf8(process.readAllStandardOutput());
}

// The sound streams playing on the sound server; -1 when it cannot be asked.
inline int soundStreams()
{
    const auto listed = pactl({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sink-inputs")});
    return listed ? int(listed->split(u'\n', Qt::SkipEmptyParts).size()) : -1;
}

// The sinks on the sound server, by name; none when it cannot be asked.
inline std::optional<QStringList> sinks()
{
    const auto listed = pactl({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sinks")});
    if (!listed)
        return std::nullopt;
    QStringList names;
    for (const QString& line : listed->split(u'\n', Qt::SkipEmptyParts))
        names << line.section(u'\t', 1, 1);
    return names;
}

// The state of the sink `name` (RUNNING, IDLE or SUSPENDED); none where there is no such sink.
inline std::optional<QString> sinkState(const QString& name)
{
    for (const QString& line : pactl({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sinks")})
                                   .value_or(QString())
                                   .split(u'\n', Qt::SkipEmptyParts))
        if (line.section(u'\t', 1, 1) == name)
            return line.section(u'\t', 4, 4);
    return std::nullopt;
}

// An output device on the sound server, while it lives: a sink that plays to nowhere, so
// that players attach sound and their streams can be counted. The first one made is the
// server's default. `recordedAt`: the latency, in ms, at which a program records from it all
// the while (as a device reads, or a streaming program listens to the desktop); 0: nobody
// does, as on a machine without a sound card, whose server plays to a sink like this one.
class NullSink {
public:
    explicit NullSink(const QString& name = QStringLiteral("nowhere"), int recordedAt = 10) : name(name)
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            return;
        const auto loaded = pactl({QStringLiteral("load-module"), QStringLiteral("module-null-sink"),
                                   QStringLiteral("sink_name=") + name});
        if (!loaded)
            return;
        module = loaded->trimmed();
        until([&] { return sinks().value_or(QStringList()).contains(name); }, 10000);
        if (recordedAt <= 0)
            return;
        reader.setStandardOutputFile(QProcess::nullDevice());
        reader.start(QStringLiteral("parec"),
                     {"-d", name + QStringLiteral(".monitor"), "--latency-msec=" + QString::number(recordedAt)});
        reader.waitForStarted(3000);
    }
    ~NullSink() { unload(); }
    NullSink(const NullSink&) = delete;
    NullSink& operator=(const NullSink&) = delete;
    bool ready() const { return !module.isEmpty() && sinks().value_or(QStringList()).contains(name); }
    // The output goes, as a headset unplugged.
    void unload()
    {
        if (module.isEmpty())
            return;
        stopRecording();
        pactl({QStringLiteral("unload-module"), std::exchange(module, QString())});
        until([&] { return !sinks().value_or(QStringList()).contains(name); }, 3000);
    }
    // Made the output that new sound goes to.
    void makeDefault() const { pactl({QStringLiteral("set-default-sink"), name}); }
    // Nobody records from it any more (an output that is not used may then suspend).
    void stopRecording()
    {
        reader.kill();
        reader.waitForFinished(2000);
    }

    const QString name;

private:
    QString module;
    QProcess reader;
};

// An output whose latency is fixed near a fifth of a second, as a Bluetooth headset's: a sink
// that writes to a pipe at the pace of the clock, read to nowhere. The first one made is the
// server's default.
class LatentSink {
public:
    explicit LatentSink(const QString& name) : name(name)
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER") || !folder.isValid())
            return;
        // (The pipe holds 64 KiB: 186 ms of this format.)
        const QString pipe = folder.path() + QStringLiteral("/out");
        const auto loaded = pactl({QStringLiteral("load-module"), QStringLiteral("module-pipe-sink"),
                                   QStringLiteral("sink_name=") + name, QStringLiteral("file=") + pipe,
                                   QStringLiteral("format=float32le"), QStringLiteral("rate=44100"),
                                   QStringLiteral("channels=2"), QStringLiteral("use_system_clock_for_timing=yes")});
        if (!loaded)
            return;
        module = loaded->trimmed();
        until([&] { return sinks().value_or(QStringList()).contains(name); }, 10000);
        reader.setStandardOutputFile(QProcess::nullDevice());
        reader.start(QStringLiteral("cat"), {pipe});
        reader.waitForStarted(3000);
    }
    ~LatentSink()
    {
        reader.kill();
        reader.waitForFinished(2000);
        if (!module.isEmpty())
            pactl({QStringLiteral("unload-module"), module});
    }
    LatentSink(const LatentSink&) = delete;
    LatentSink& operator=(const LatentSink&) = delete;
    bool ready() const { return !module.isEmpty() && sinks().value_or(QStringList()).contains(name); }
    void makeDefault() const { pactl({QStringLiteral("set-default-sink"), name}); }

    const QString name;

private:
    QTemporaryDir folder;
    QString module;
    QProcess reader;
};

// An output whose device plays at `pace` times the time passed, as a sound card whose clock
// runs a little fast or slow: a sink that writes to a pipe, which is drained here at that
// pace, every `every` ms (a device that takes its sound in bursts, as a program recording at
// that latency). What it played is kept, to tell how far into a sound the device is at any
// moment. (PipeWire's pipe sink writes by the computer's clock whatever the pipe takes.)
class PacedSink {
public:
    static constexpr int rate = 48000;
    PacedSink(const QString& name, double pace, int every = 5) : name(name)
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER") || !folder.isValid())
            return;
        const QString pipe = folder.path() + QStringLiteral("/out");
        const auto loaded = pactl({QStringLiteral("load-module"), QStringLiteral("module-pipe-sink"),
                                   QStringLiteral("sink_name=") + name, QStringLiteral("file=") + pipe,
                                   QStringLiteral("format=s16le"), QStringLiteral("rate=%1").arg(rate),
                                   QStringLiteral("channels=2")});
        if (!loaded)
            return;
        module = loaded->trimmed();
        until([&] { return sinks().value_or(QStringList()).contains(name); }, 10000);
        const int fd = ::open(pipe.toLocal8Bit().constData(), O_RDONLY | O_NONBLOCK);
        if (fd < 0)
            return;
        // (A pipe holds 64 KiB unless told: a third of a second of this format. A device holds
        // less.)
        if (every < 50)
            fcntl(fd, F_SETPIPE_SZ, 16384);
        reader = std::thread([this, fd, pace, every] {
            // (Where the sink gave nothing for a while, the device does not catch up.)
            auto start = std::chrono::steady_clock::now();
            int64_t startFrames = 0;
            std::vector<int16_t> buffer(rate / 10 * 2);
            int64_t frames = 0;
            while (!over) {
                const auto now = std::chrono::steady_clock::now();
                if (stalled) {
                    start = now;
                    startFrames = frames;
                    std::this_thread::sleep_for(std::chrono::milliseconds(every));
                    continue;
                }
                const double passed = std::chrono::duration<double>(now - start).count();
                const int64_t due = startFrames + int64_t(passed * pace * rate);
                while (frames < due) {
                    const auto want = std::min<int64_t>(due - frames, int64_t(buffer.size() / 2));
                    const ssize_t got = ::read(fd, buffer.data(), std::size_t(want) * 4);
                    if (got <= 0) {
                        start = now;
                        startFrames = frames;
                        break;
                    }
                    const int64_t n = got / 4;
                    std::lock_guard guard(lock);
                    for (int64_t i = 0; i < n; ++i)
                        if (std::abs(int(buffer[std::size_t(i) * 2])) > 1000) {
                            loudFrom = loudFrom.value_or(frames + i);
                            ++loud;
                        }
                    frames += n;
                    drained = frames;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(every));
            }
            ::close(fd);
        });
    }
    ~PacedSink()
    {
        over = true;
        if (reader.joinable())
            reader.join();
        if (!module.isEmpty())
            pactl({QStringLiteral("unload-module"), module});
    }
    PacedSink(const PacedSink&) = delete;
    PacedSink& operator=(const PacedSink&) = delete;
    bool ready() const { return reader.joinable() && sinks().value_or(QStringList()).contains(name); }
    void makeDefault() const { pactl({QStringLiteral("set-default-sink"), name}); }
    // The device takes nothing while stalled, as one that stalls or that nothing feeds.
    void stall(bool stalling) { stalled = stalling; }
    // Seconds of loud sound the device has played.
    double loudSeconds() const
    {
        std::lock_guard guard(lock);
        return double(loud) / rate;
    }
    // Seconds of sound the device has played since it first played a loud sample; none before.
    std::optional<double> played() const
    {
        std::lock_guard guard(lock);
        if (!loudFrom)
            return std::nullopt;
        return double(drained - *loudFrom) / rate;
    }

    const QString name;

private:
    QTemporaryDir folder;
    QString module;
    std::thread reader;
    std::atomic<bool> over = false;
    std::atomic<bool> stalled = false;
    mutable std::mutex lock;
    int64_t drained = 0;
    int64_t loud = 0;
    std::optional<int64_t> loudFrom;
};

// What the null sink plays, recorded from its monitor while this lives: the sound the user
// would hear (a stream can be open, uncorked and silent).
class Monitor {
public:
    static constexpr int rate = 8000;
    // `latency`: in ms, at which it records (a long one sets the output's pace).
    explicit Monitor(const QString& sink = QStringLiteral("nowhere"), int latency = 10)
    {
        QObject::connect(&parec, &QProcess::readyReadStandardOutput, &parec, [this] {
            bytes += parec.readAllStandardOutput();
        });
        parec.start(QStringLiteral("parec"), {"-d", sink + QStringLiteral(".monitor"), "--raw", "--format=s16le", "--channels=1",
                                              "--rate=" + QString::number(rate),
                                              "--latency-msec=" + QString::number(latency)});
        parec.waitForStarted(3000);
        // Recording once the first samples come.
        until([&] { return bytes.size() > 0; }, 3000);
    }
    ~Monitor()
    {
        parec.kill();
        parec.waitForFinished(2000);
    }
    Monitor(const Monitor&) = delete;
    Monitor& operator=(const Monitor&) = delete;
    bool running() const { return parec.state() == QProcess::Running && bytes.size() > 0; }
    // Samples recorded so far.
    qsizetype now() const { return bytes.size() / 2; }
    // The loudest sample from `from` on for `seconds` (in full scale), waiting for them.
    double peak(qsizetype from, double seconds)
    {
        const qsizetype to = from + qsizetype(seconds * rate);
        until([&] { return now() >= to; }, int(seconds * 1000) + 3000);
        int loudest = 0;
        for (qsizetype i = from; i < std::min(to, now()); ++i)
            loudest = std::max(loudest, std::abs(int(sample(i))));
        return loudest / 32768.0;
    }
    // Seconds from `from` to the first loud sample within `within` seconds, as soon as it
    // comes; none when all of them were quiet.
    std::optional<double> heard(qsizetype from, double within)
    {
        const qsizetype to = from + qsizetype(within * rate);
        qsizetype next = from;
        std::optional<double> first;
        until(
            [&] {
                for (; next < std::min(to, now()) && !first; ++next)
                    if (std::abs(int(sample(next))) > 1000)
                        first = double(next - from) / rate;
                return first || next >= to;
            },
            int(within * 1000) + 3000);
        return first;
    }
    // A stretch of sound: the sample it begins at, and the 10 ms steps heard in it.
    struct Stretch {
        qsizetype from;
        int steps;
    };
    // Each stretch of sound from `from` on that `gap` s of quiet part from the next, once the
    // sound has ended: `least` steps heard and twice `gap` quiet after them, or `within` s
    // gone. Counted by what the recorder got, not by when it got it: a busy machine hands a
    // recorder its samples a second late, and an output that runs behind the time passed
    // gives it fewer samples than the time passed.
    std::vector<Stretch> stretches(qsizetype from, int least, double within, double gap = 0.25)
    {
        constexpr qsizetype step = rate / 100;
        const int parting = int(gap * 100);
        std::vector<Stretch> heard;
        int total = 0, quiet = parting; // quiet steps since the last one heard
        qsizetype next = from;
        until(
            [&] {
                for (; next + step <= now(); next += step) {
                    if (peak(next, 0.01) <= 0.03) {
                        ++quiet;
                        continue;
                    }
                    if (quiet >= parting)
                        heard.push_back({next, 0});
                    ++heard.back().steps;
                    ++total;
                    quiet = 0;
                }
                return total >= least && quiet >= 2 * parting;
            },
            int(within * 1000));
        return heard;
    }
    // The steps heard in the stretches that begin from `from` on and before `to`.
    static int steps(const std::vector<Stretch>& stretches, qsizetype from, qsizetype to = std::numeric_limits<qsizetype>::max())
    {
        int steps = 0;
        for (const Stretch& stretch : stretches)
            if (stretch.from >= from && stretch.from < to)
                steps += stretch.steps;
        return steps;
    }

private:
    qint16 sample(qsizetype i) const { return reinterpret_cast<const qint16*>(bytes.constData())[i]; }
    QProcess parec;
    QByteArray bytes;
};

// A program of real players (the media tests, the playback benchmark), made first thing in
// `main`: settings of its own, the offscreen platform (the players' pictures go to video
// sinks, so a GUI application, but no display), numbers as everywhere in the program, and
// a sound server of its own made before any player looks for sound outputs.
// `App`: a QApplication where widgets show the picture (benchmarks of the views).
template <class App = QGuiApplication>
class PlayersProgram {
public:
    PlayersProgram(int& argc, char** argv) : prepared(prepare(settings)), app(argc, argv), server(folder.path())
    {
        std::setlocale(LC_NUMERIC, "C");
    }
    bool hasSoundServer() const { return server.running(); }

private:
    static bool prepare(const QTemporaryDir& settings)
    {
        qputenv("XDG_CONFIG_HOME", settings.path().toUtf8());
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return true;
    }
    QTemporaryDir settings;
    bool prepared;
    App app;
    QTemporaryDir folder;
    SoundlessServer server;
};

} // namespace sound
