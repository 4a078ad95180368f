// What the user waits for from the real player, on 20 s clips at 640x360 and 30 fps with a
// tone, key frames a second apart and 8 s apart (where a seek decodes for a while):
//  - from Play to the first sound heard, after a paused seek to a new place; the sound is
//    read back from a null sink's monitor on a sound server of the program's own;
//  - from the press of a drag in the stream window to its first picture: 25 moves 16 ms
//    apart over 3 s, pressed on the playhead a click put there, or beside it. "pictures
//    during drag" counts those shown before the release, at most.
//  - sound after a seek while playing: a 60 s clip played from 5 s and sought to 20, 41, 12,
//    30 and 50 s 2.5 s apart: the quiet after each seek (where the sound never comes back,
//    2 s), and how many of the 15 tenths of a second from half a second after it are heard
//    (the fewest);
//  - the clock over a long play: the sound's beeps against the pictures of their times;
//  - a Short of three cuts (5-8.6, 20.1-24.7, 41.4-44.0 s) played to its end: cuts that are
//    not heard through, the longest silence from the first sound to the end, and the longest
//    time one picture stays up.
//  - a recording this machine decodes slower than real time (1080p at 60 fps, x264 at
//    crf 14 over strong noise, about 500 Mbit/s, 10 s) beside a light one (640x360 at 30
//    fps), played for 8 s on every core and on 2 (as `taskset -c 0,1` would): the tenths of
//    a second that are silent in the 7 s after the first sound (goal 0), the seconds played,
//    and the pictures shown a second (the light one keeps all 30);
//  - the memory that sound waiting for pictures takes: a Matroska file with 5 s of pictures
//    and 600 s of sound, played for 3 s from its start, and a Short of 2-3 s and 100-102 s
//    played through: how much the program's resident memory grew at most.
//  - what playing costs: 10 s of a test pattern with noise at 30 fps (720p, 1080p, 2160p)
//    played from its start to its end into a VideoSurface of the viewer's size (505x284) in
//    a shown window, its sound to a null sink; beside ffplay on the same file in a window of
//    the same size, its sound to the same sink. ffplay runs twice: on SDL's "dummy" video
//    driver (a software renderer that converts and scales each picture to the window on the
//    processor) and on its "offscreen" one (OpenGL through EGL, here Mesa's software
//    llvmpipe: what a desktop without a GPU driver gives it). Processor time is user plus
//    system time of the process over the wall time of the play (100 % = one core); peak
//    memory is the resident high-water mark (for this program, reset just before the
//    player is made). "main thread CPU %" is the part of it the main thread took (the
//    surface's painting and whatever it converts). "shown" counts the pictures that reached the surface of the 300 due,
//    "longest picture ms" the longest any stayed up; "ffplay dropped" is ffplay's own count.
// "slowest ms" is the longest of the rounds; a round that never got there counts as 10 s,
// and in "missed".

#include "bench/QtMain.h"
#include "model/editing/StreamBrowser.h"
#include "platform/media/Player.h"
#include "platform/media/ShortLine.h"
#include "support/Clips.h"
#include "support/Sound.h"
#include "views/kit/VideoSurface.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QVideoFrame>
#include <QVideoSink>
#include <benchmark/benchmark.h>
#include <algorithm>
#include <clocale>
#include <fstream>
#include <sched.h>
#include <string>
#include <cmath>
#include <numeric>
#include <csignal>
#include <fcntl.h>
#include <set>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr double never = 10.0;

QTemporaryDir& clips()
{
    static QTemporaryDir folder;
    return folder;
}

// 20 s with key frames every `keyEvery` frames; made once a run.
QString clip(int keyEvery)
{
    const QString path = clips().path() + QStringLiteral("/keys%1.mp4").arg(keyEvery);
    const QString every = QString::number(keyEvery);
    if (!QFileInfo::exists(path))
        Clips::ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=640x360:rate=30:duration=20", "-f", "lavfi", "-i",
                       "sine=frequency=440:sample_rate=48000:duration=20", "-c:v", "libx264", "-preset", "veryfast",
                       "-g", every, "-keyint_min", every, "-sc_threshold", "0", "-pix_fmt", "yuv420p", "-c:a", "aac",
                       "-shortest", path});
    return path;
}

// 60 s of the same kind.
QString longClip(int keyEvery)
{
    const QString path = clips().path() + QStringLiteral("/long%1.mp4").arg(keyEvery);
    const QString every = QString::number(keyEvery);
    if (!QFileInfo::exists(path))
        Clips::ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=640x360:rate=30:duration=60", "-f", "lavfi", "-i",
                       "sine=frequency=440:sample_rate=48000:duration=60", "-c:v", "libx264", "-preset", "veryfast",
                       "-g", every, "-keyint_min", every, "-sc_threshold", "0", "-pix_fmt", "yuv420p", "-c:a", "aac",
                       "-shortest", path});
    return path;
}

// 10 s of 1080p at 60 fps over strong noise, coded at crf 14: more than most machines decode
// in real time.
QString heavyClip()
{
    const QString path = clips().path() + QStringLiteral("/heavy.mp4");
    if (!QFileInfo::exists(path))
        Clips::ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=60:duration=10,noise=alls=30:allf=t", "-f",
                       "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=10", "-c:v", "libx264", "-preset",
                       "veryfast", "-crf", "14", "-pix_fmt", "yuv420p", "-c:a", "aac", "-shortest", path});
    return path;
}

// 5 s of pictures and 600 s of sound, in Matroska.
QString earlyEndingPictures()
{
    const QString path = clips().path() + QStringLiteral("/early.mkv");
    if (!QFileInfo::exists(path))
        Clips::ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=640x360:rate=30:duration=5", "-f", "lavfi", "-i",
                       "sine=frequency=440:sample_rate=48000:duration=600", "-c:v", "libx264", "-preset", "veryfast",
                       "-pix_fmt", "yuv420p", "-c:a", "aac", path});
    return path;
}

// The program's resident memory, in bytes.
double residentBytes()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stod(line.substr(6)) * 1024;
    return 0;
}

// Keeps this thread, and the threads it starts from now on (the player's), to the first
// `cores` processors; all of them again when it goes.
struct Cores {
    explicit Cores(int cores)
    {
        sched_getaffinity(0, sizeof(all), &all);
        if (cores <= 0)
            return;
        cpu_set_t few;
        CPU_ZERO(&few);
        for (int i = 0; i < CPU_SETSIZE && CPU_COUNT(&few) < cores; ++i)
            if (CPU_ISSET(i, &all))
                CPU_SET(i, &few);
        sched_setaffinity(0, sizeof(few), &few);
    }
    ~Cores() { sched_setaffinity(0, sizeof(all), &all); }
    cpu_set_t all;
};

// Tenths of a second heard from sample `from` on, of `tenths`.
int tenthsHeard(sound::Monitor& monitor, qsizetype from, int tenths)
{
    int heard = 0;
    for (int i = 0; i < tenths; ++i)
        heard += monitor.peak(from + qsizetype(i) * sound::Monitor::rate / 10, 0.1) > 0.03;
    return heard;
}

// The longest run of quiet pieces of `piece` seconds, of `pieces` from sample `from` on.
int longestQuiet(sound::Monitor& monitor, qsizetype from, int pieces, double piece)
{
    int quiet = 0;
    int longest = 0;
    for (int i = 0; i < pieces; ++i) {
        quiet = monitor.peak(from + qsizetype(i * piece * sound::Monitor::rate), piece) > 0.03 ? 0 : quiet + 1;
        longest = std::max(longest, quiet);
    }
    return longest;
}

void rest(int ms)
{
    events::until([] { return false; }, ms);
}

// Counts the player's landings.
struct Landings {
    explicit Landings(Player& player)
    {
        QObject::connect(&player, &Player::landed, &context, [this] { ++count; });
    }
    // Waits for a landing after the `before`th.
    bool after(int before, int ms = 20000) const
    {
        return events::until([&] { return count > before; }, ms);
    }
    int count = 0;
    QObject context;
};

// A real player with a sound output whose sound is read back, standing at a place before
// each round; none where the sound server gives no output.
struct Listening {
    sound::NullSink output;
    std::optional<sound::Monitor> monitor;
    std::unique_ptr<Player> player;
    std::optional<Landings> landings;

    explicit Listening(benchmark::State& state)
    {
        if (!output.ready()) {
            state.SkipWithError("no sound server to give an output");
            return;
        }
        monitor.emplace();
        player = Player::makeDefault();
        landings.emplace(*player);
    }
    bool ready() const { return player != nullptr; }
    // A paused seek, landed and left a moment, as a user does before Play.
    void standAt(double seconds)
    {
        const int before = landings->count;
        player->seek(seconds);
        landings->after(before);
        rest(400);
    }
};

void BM_PlayToFirstSound(benchmark::State& state)
{
    Listening listening(state);
    if (!listening.ready())
        return;
    sound::Monitor& monitor = *listening.monitor;
    Player* player = listening.player.get();
    player->setSource(clip(int(state.range(0))));
    double slowest = 0;
    int missed = 0;
    int round = 0;
    for (auto _ : state) {
        listening.standAt(2.3 + (round++ % 5) * 3.1);
        const qsizetype from = monitor.now();
        player->play();
        const std::optional<double> heard = monitor.heard(from, never);
        missed += !heard;
        slowest = std::max(slowest, heard.value_or(never));
        state.SetIterationTime(heard.value_or(never));
        player->pause();
        rest(300);
    }
    state.counters["slowest ms"] = slowest * 1000;
    state.counters["missed"] = missed;
}

// A drag as the stream window sends it: the press, a seek for each move, and the release.
void BM_PressToFirstPicture(benchmark::State& state)
{
    const bool onPlayhead = state.range(1) != 0;
    auto* player = Player::makeDefault().release();
    StreamBrowser browser{std::unique_ptr<Player>(player)};
    Landings landings(*player);
    QElapsedTimer sincePress;
    std::optional<qint64> first; // ns from the press
    int pictures = 0;
    QObject::connect(player->videoSink(), &QVideoSink::videoFrameChanged, &browser, [&](const QVideoFrame& f) {
        if (!f.isValid() || !sincePress.isValid())
            return;
        ++pictures;
        if (!first)
            first = sincePress.nsecsElapsed();
    });
    browser.load(clip(int(state.range(0))), 20);
    double slowest = 0;
    int missed = 0;
    int during = 0;
    int round = 0;
    for (auto _ : state) {
        // The click that puts the playhead where the drag starts, landed and left a while.
        const double at = 3.0 + (round++ % 4) * 4.0;
        sincePress.invalidate();
        const int before = landings.count;
        browser.seek(at);
        landings.after(before);
        rest(500);
        first.reset();
        pictures = 0;
        const double press = onPlayhead ? at : at - 0.5;
        sincePress.start();
        browser.seek(press);
        for (int i = 1; i <= 25; ++i) {
            rest(16);
            browser.seek(press + i * 3.0 / 25);
        }
        rest(16);
        during = std::max(during, pictures);
        events::until([&] { return first.has_value(); }, int(never * 1000));
        const double seconds = first ? *first / 1e9 : never;
        missed += !first;
        slowest = std::max(slowest, seconds);
        state.SetIterationTime(seconds);
        rest(1500); // the last move's picture
    }
    state.counters["slowest ms"] = slowest * 1000;
    state.counters["missed"] = missed;
    state.counters["pictures during drag"] = during;
}

void BM_SoundAfterSeekWhilePlaying(benchmark::State& state)
{
    Listening listening(state);
    if (!listening.ready())
        return;
    sound::Monitor& monitor = *listening.monitor;
    Player* player = listening.player.get();
    player->setSource(longClip(int(state.range(0))));
    double slowest = 0;
    double total = 0;
    int seeks = 0;
    int fewest = 15;
    for (auto _ : state) {
        listening.standAt(5.0);
        const qsizetype started = monitor.now();
        player->play();
        monitor.heard(started, never);
        rest(2000);
        double round = 0;
        for (const double to : {20.0, 41.0, 12.0, 30.0, 50.0}) {
            const qsizetype from = monitor.now();
            player->seek(to);
            // The longest quiet from the seek on, in hundredths of a second over two seconds;
            // sound that never came back counts as all of them.
            const int gap = longestQuiet(monitor, from, 200, 0.01);
            slowest = std::max(slowest, gap / 100.0);
            round += gap / 100.0;
            total += gap / 100.0;
            ++seeks;
            fewest = std::min(fewest, tenthsHeard(monitor, from + sound::Monitor::rate / 2, 15));
            rest(std::max(0, 2500 - int((monitor.now() - from) * 1000 / sound::Monitor::rate)));
        }
        state.SetIterationTime(round / 5);
        player->pause();
        rest(300);
    }
    state.counters["longest gap ms"] = slowest * 1000;
    state.counters["mean gap ms"] = seeks ? total / seeks * 1000 : 0;
    state.counters["fewest tenths of 15"] = fewest;
}

void BM_ShortJoins(benchmark::State& state)
{
    Listening listening(state);
    if (!listening.ready())
        return;
    sound::Monitor& monitor = *listening.monitor;
    Player* player = listening.player.get();
    const std::vector<Span> cuts{{5.0, 8.6}, {20.1, 24.7}, {41.4, 44.0}};
    const ShortLine line{cuts};
    QElapsedTimer clock;
    clock.start();
    std::vector<qint64> pictures; // ns, as they come
    QObject::connect(player->videoSink(), &QVideoSink::videoFrameChanged, player, [&](const QVideoFrame& f) {
        if (f.isValid())
            pictures.push_back(clock.nsecsElapsed());
    });
    int silentCuts = 0;
    double longestSilence = 0;
    double longestPicture = 0;
    for (auto _ : state) {
        player->setShort(longClip(int(state.range(0))), cuts);
        listening.standAt(0);
        const qsizetype from = monitor.now();
        pictures.clear();
        player->play();
        const std::optional<double> first = monitor.heard(from, never);
        events::until([&] { return player->rate() == 0; }, 30000);
        const qsizetype start = from + qsizetype(first.value_or(0) * sound::Monitor::rate);
        // Each cut is heard through where most of its tenths are.
        for (int k = 0; k < int(cuts.size()); ++k) {
            const int tenths = int(cuts[k].length() * 10) - 2;
            const qsizetype at = start + qsizetype((line.offset(k) + 0.1) * sound::Monitor::rate);
            silentCuts += tenthsHeard(monitor, at, tenths) < tenths * 3 / 4;
        }
        // The longest run of quiet tenths from the first sound to the end.
        longestSilence = std::max(longestSilence, longestQuiet(monitor, start, int(line.total() * 10) - 1, 0.1) / 10.0);
        for (std::size_t i = 1; i < pictures.size(); ++i)
            longestPicture = std::max(longestPicture, (pictures[i] - pictures[i - 1]) / 1e9);
        state.SetIterationTime(first.value_or(never));
        rest(300);
    }
    state.counters["cuts not heard through"] = silentCuts;
    state.counters["longest silence ms"] = longestSilence * 1000;
    state.counters["longest picture ms"] = longestPicture * 1000;
}

// A clip of `seconds` whose sound is a 30 ms beep at each whole second, and 640x360 pictures.
QString beepingClip(int seconds)
{
    const QString path = clips().path() + QStringLiteral("/beeps%1.mp4").arg(seconds);
    const QString length = QString::number(seconds);
    if (!QFileInfo::exists(path))
        Clips::ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=640x360:rate=30:duration=" + length, "-f", "lavfi", "-i",
                       "aevalsrc=exprs=if(lt(mod(t\\,1)\\,0.03)\\,0.8*sin(2*PI*1000*t)\\,0):s=48000:d=" + length,
                       "-c:v", "libx264", "-preset", "ultrafast", "-g", "30", "-pix_fmt", "yuv420p", "-c:a", "aac",
                       "-shortest", path});
    return path;
}

// The clock over a long play: for each beep, when it is heard minus when the picture of its
// time went up. A steady clock keeps that offset; "spread ms" is the most it strays from its
// own mean (from the fifth second on), "mean ms" the offset itself.
void BM_ClockOverALongPlay(benchmark::State& state)
{
    Listening listening(state);
    if (!listening.ready())
        return;
    sound::Monitor& monitor = *listening.monitor;
    Player* player = listening.player.get();
    const int seconds = int(state.range(0));
    QElapsedTimer clock;
    clock.start();
    std::vector<std::pair<qint64, double>> pictures; // ns when shown, recording time
    QObject::connect(player->videoSink(), &QVideoSink::videoFrameChanged, player, [&](const QVideoFrame& f) {
        if (f.isValid())
            pictures.emplace_back(clock.nsecsElapsed(), f.startTime() / 1e6);
    });
    double spread = 0;
    double mean = 0;
    for (auto _ : state) {
        player->setSource(beepingClip(seconds));
        listening.standAt(0);
        pictures.clear();
        // Where the monitor's sample 0 lies on the clock: the earliest any sample came, less
        // how far into the recording it lies.
        double origin = HUGE_VAL;
        const auto calibrate = [&] {
            origin = std::min(origin, clock.nsecsElapsed() / 1e9 - double(monitor.now()) / sound::Monitor::rate);
        };
        const qsizetype from = monitor.now();
        player->play();
        events::until([&] { calibrate(); return player->rate() == 0; }, (seconds + 30) * 1000);
        std::vector<double> offsets;
        for (qsizetype at = from;;) {
            const auto heard = monitor.heard(at, 1.5);
            if (!heard)
                break;
            const qsizetype onset = at + qsizetype(*heard * sound::Monitor::rate);
            const double wall = origin + double(onset) / sound::Monitor::rate;
            at = onset + sound::Monitor::rate / 2;
            // The beep's second: that of the picture up when it was heard.
            const auto up = std::upper_bound(pictures.begin(), pictures.end(), qint64(wall * 1e9),
                                             [](qint64 t, const auto& p) { return t < p.first; });
            if (up == pictures.begin())
                continue;
            const double beep = std::round(std::prev(up)->second);
            const auto shown = std::find_if(pictures.begin(), pictures.end(),
                                            [&](const auto& p) { return p.second >= beep - 1e-3; });
            if (beep >= 5 && shown != pictures.end())
                offsets.push_back(wall - shown->first / 1e9);
        }
        if (offsets.empty()) {
            state.SkipWithError("no beep heard");
            return;
        }
        mean = std::accumulate(offsets.begin(), offsets.end(), 0.0) / double(offsets.size());
        // A clock that drifts moves its offset from minute to minute; one that jitters does not.
        const std::size_t minute = std::min<std::size_t>(55, offsets.size());
        state.counters["first minute ms"] =
            std::accumulate(offsets.begin(), offsets.begin() + minute, 0.0) / double(minute) * 1000;
        state.counters["last minute ms"] = std::accumulate(offsets.end() - minute, offsets.end(), 0.0) / double(minute) * 1000;
        for (const double o : offsets)
            spread = std::max(spread, std::abs(o - mean));
        state.counters["beeps"] = double(offsets.size());
        state.SetIterationTime(seconds);
    }
    state.counters["mean ms"] = mean * 1000;
    state.counters["spread ms"] = spread * 1000;
}

// 10 s of a moving test pattern with noise (so that every picture costs its decoding) and a
// tone, `height` lines high at 16:9 and 30 fps; made once a run.
QString sizedClip(int height)
{
    const QString path = clips().path() + QStringLiteral("/p%1.mp4").arg(height);
    const QString size = QStringLiteral("%1x%2").arg(height * 16 / 9).arg(height);
    if (!QFileInfo::exists(path))
        Clips::ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=" + size + ":rate=30:duration=10", "-f", "lavfi", "-i",
                       "sine=frequency=440:sample_rate=48000:duration=10", "-vf", "noise=alls=12:allf=t", "-c:v",
                       "libx264", "-preset", "veryfast", "-crf", "23", "-g", "60", "-pix_fmt", "yuv420p", "-c:a",
                       "aac", "-shortest", path});
    return path;
}

// The process's resident high-water mark in MB, from /proc.
double peakMegabytes(const QString& status = QStringLiteral("/proc/self/status"))
{
    QFile file(status);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    static const QRegularExpression line(QStringLiteral("VmHWM:\\s*(\\d+) kB"));
    const auto m = line.match(QString::fromLatin1(file.readAll()));
    return m.hasMatch() ? m.captured(1).toDouble() / 1024 : 0;
}

double cpuSeconds(const rusage& r)
{
    return double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) + double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

// Processor seconds the main thread has used.
double mainThreadSeconds()
{
    rusage used{};
    getrusage(RUSAGE_THREAD, &used);
    return cpuSeconds(used);
}

// What ffplay costs playing `path` to its end in a 505x284 window on SDL's `driver`.
struct Cost {
    double cpu = 0;  // percent of one core
    double peak = 0; // MB
    int dropped = -1;
};
Cost ffplayCost(const QString& path, const char* driver)
{
    const QString log = clips().path() + QStringLiteral("/ffplay.log");
    QElapsedTimer wall;
    wall.start();
    const pid_t child = fork();
    if (child == 0) {
        const int err = ::open(log.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(err, 2);
        const int none = ::open("/dev/null", O_RDWR);
        dup2(none, 0);
        dup2(none, 1);
        setenv("SDL_VIDEODRIVER", driver, 1);
        setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
        const QByteArray file = path.toLocal8Bit();
        execlp("ffplay", "ffplay", "-hide_banner", "-autoexit", "-x", "505", "-y", "284", file.constData(),
               static_cast<char*>(nullptr));
        _exit(127);
    }
    Cost cost;
    if (child < 0)
        return cost;
    int status = 0;
    rusage used{};
    if (wait4(child, &status, 0, &used) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return cost;
    cost.cpu = cpuSeconds(used) / (double(wall.nsecsElapsed()) / 1e9) * 100;
    cost.peak = double(used.ru_maxrss) / 1024;
    QFile read(log);
    if (read.open(QIODevice::ReadOnly)) {
        static const QRegularExpression drops(QStringLiteral("fd=\\s*(\\d+)"));
        for (auto it = drops.globalMatch(QString::fromLatin1(read.readAll())); it.hasNext();)
            cost.dropped = it.next().captured(1).toInt();
    }
    return cost;
}

void BM_PlayingCost(benchmark::State& state)
{
    sound::NullSink output;
    const QString path = sizedClip(int(state.range(0)));
    double cpu = 0, main = 0, peak = 0, software = 0, softwarePeak = 0, gl = 0, glPeak = 0, longest = 0;
    int shown = 300, dropped = 0;
    for (auto _ : state) {
        const Cost soft = ffplayCost(path, "dummy");
        const Cost opengl = ffplayCost(path, "offscreen");
        software = std::max(software, soft.cpu);
        softwarePeak = std::max(softwarePeak, soft.peak);
        gl = std::max(gl, opengl.cpu);
        glPeak = std::max(glPeak, opengl.peak);
        dropped = std::max({dropped, soft.dropped, opengl.dropped});

        // The viewer's picture, in a window of its own.
        QFile clear(QStringLiteral("/proc/self/clear_refs"));
        if (clear.open(QIODevice::WriteOnly))
            clear.write("5"); // the high-water mark starts again from here
        clear.close();
        QWidget window;
        window.resize(505, 284);
        auto* surface = new VideoSurface(&window);
        surface->setGeometry(0, 0, 505, 284);
        window.show();
        std::unique_ptr<Player> player = Player::makeDefault();
        surface->setPlayer(player.get());
        Landings landings(*player);
        player->setSource(path);
        player->seek(0);
        landings.after(0);
        QElapsedTimer clock;
        std::set<qint64> pictures;
        qint64 last = 0, held = 0;
        QObject::connect(player->videoSink(), &QVideoSink::videoFrameChanged, &window, [&](const QVideoFrame& f) {
            if (!f.isValid() || !clock.isValid())
                return;
            pictures.insert(f.startTime());
            const qint64 now = clock.nsecsElapsed();
            held = std::max(held, now - last);
            last = now;
        });
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        const double mainBefore = mainThreadSeconds();
        clock.start();
        player->play();
        events::until([&] { return player->rate() == 0; }, 30000);
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        getrusage(RUSAGE_SELF, &after);
        main = std::max(main, (mainThreadSeconds() - mainBefore) / seconds * 100);
        surface->setPlayer(nullptr);
        cpu = std::max(cpu, (cpuSeconds(after) - cpuSeconds(before)) / seconds * 100);
        peak = std::max(peak, peakMegabytes());
        shown = std::min(shown, int(pictures.size()));
        longest = std::max(longest, double(held) / 1e6);
        state.SetIterationTime(seconds);
    }
    state.counters["CPU %"] = cpu;
    state.counters["main thread CPU %"] = main;
    state.counters["peak MB"] = peak;
    state.counters["shown of 300"] = shown;
    state.counters["longest picture ms"] = longest;
    state.counters["ffplay CPU % (software)"] = software;
    state.counters["ffplay peak MB (software)"] = softwarePeak;
    state.counters["ffplay CPU % (GL)"] = gl;
    state.counters["ffplay peak MB (GL)"] = glPeak;
    state.counters["ffplay dropped"] = dropped;
}

// A busy loop on every core, while this lives: a machine busy with other work.
struct BusyCores {
    BusyCores()
    {
        for (long k = sysconf(_SC_NPROCESSORS_ONLN); k > 0; --k)
            if (const pid_t child = fork(); child == 0) {
                volatile unsigned long spin = 0;
                for (;;)
                    spin = spin + 1UL;
            } else if (child > 0) {
                children.push_back(child);
            }
    }
    ~BusyCores()
    {
        for (const pid_t child : children) {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
        }
    }
    std::vector<pid_t> children;
};

// The breaks in what the monitor heard from sample `from` on for `seconds`, after the first
// sound: runs of quiet 10 ms steps, and the longest, in ms.
std::pair<int, int> breaks(sound::Monitor& monitor, qsizetype from, double seconds)
{
    const int steps = int(seconds * 100);
    std::vector<bool> loud(std::size_t(steps), false);
    for (int i = 0; i < steps; ++i)
        loud[std::size_t(i)] = monitor.peak(from + qsizetype(i) * sound::Monitor::rate / 100, 0.01) > 0.03;
    const auto first = std::find(loud.begin(), loud.end(), true);
    const auto last = std::find(loud.rbegin(), loud.rend(), true).base();
    int count = 0, longest = 0, run = 0;
    for (auto it = first; it < last; ++it) {
        if (!*it) {
            count += run == 0;
            longest = std::max(longest, (++run) * 10);
        } else {
            run = 0;
        }
    }
    return {count, longest};
}

// `seconds` of a tone played beside a busy loop on every core, on a sink read as a device
// reads: the breaks in the player's sound, and in ffplay's on the same file and output.
void BM_BreaksUnderLoad(benchmark::State& state)
{
    const int seconds = int(state.range(0));
    const QString path = clips().path() + QStringLiteral("/tone%1.mp4").arg(seconds);
    if (!QFileInfo::exists(path))
        Clips::ffmpeg({"-f", "lavfi", "-i", QStringLiteral("testsrc2=size=640x360:rate=30:duration=%1").arg(seconds),
                       "-f", "lavfi", "-i", QStringLiteral("sine=frequency=440:sample_rate=48000:duration=%1").arg(seconds),
                       "-c:v", "libx264", "-preset", "veryfast", "-g", "30", "-pix_fmt", "yuv420p", "-c:a", "aac",
                       "-shortest", path});
    Listening listening(state);
    if (!listening.ready())
        return;
    sound::Monitor& monitor = *listening.monitor;
    int ours = 0, oursLongest = 0, theirs = 0, theirsLongest = 0;
    for (auto _ : state) {
        BusyCores busy;
        listening.player->setSource(path);
        listening.standAt(0);
        qsizetype from = monitor.now();
        QElapsedTimer wall;
        wall.start();
        listening.player->play();
        events::until([&] { return listening.player->rate() == 0; }, (seconds + 30) * 1000);
        state.SetIterationTime(wall.elapsed() / 1000.0);
        std::tie(ours, oursLongest) = breaks(monitor, from, wall.elapsed() / 1000.0);
        listening.player->setSource(std::nullopt);

        from = monitor.now();
        wall.restart();
        if (const pid_t child = fork(); child == 0) {
            const int none = ::open("/dev/null", O_RDWR);
            dup2(none, 0);
            dup2(none, 1);
            dup2(none, 2);
            setenv("SDL_VIDEODRIVER", "dummy", 1);
            setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
            const QByteArray file = path.toLocal8Bit();
            execlp("ffplay", "ffplay", "-hide_banner", "-autoexit", "-x", "505", "-y", "284", file.constData(),
                   static_cast<char*>(nullptr));
            _exit(127);
        } else if (child > 0) {
            waitpid(child, nullptr, 0);
        }
        std::tie(theirs, theirsLongest) = breaks(monitor, from, wall.elapsed() / 1000.0);
    }
    state.counters["breaks"] = ours;
    state.counters["longest break ms"] = oursLongest;
    state.counters["ffplay breaks"] = theirs;
    state.counters["ffplay longest break ms"] = theirsLongest;
}

// Light (0) or heavy (1), on every core (0) or on so many.
void BM_DecodingSlowerThanRealTime(benchmark::State& state)
{
    Cores cores(int(state.range(1)));
    Listening listening(state);
    if (!listening.ready())
        return;
    sound::Monitor& monitor = *listening.monitor;
    Player* player = listening.player.get();
    const QString path = state.range(0) ? heavyClip() : clip(30);
    int pictures = 0;
    QObject::connect(player->videoSink(), &QVideoSink::videoFrameChanged, player, [&](const QVideoFrame& f) {
        pictures += f.isValid();
    });
    int silent = 0;
    double played = HUGE_VAL;
    double shown = HUGE_VAL;
    for (auto _ : state) {
        player->setSource(path);
        listening.standAt(0);
        QElapsedTimer wall;
        wall.start();
        const qsizetype from = monitor.now();
        player->play();
        const std::optional<double> first = monitor.heard(from, never);
        pictures = 0;
        const qsizetype heard = from + qsizetype(first.value_or(0) * sound::Monitor::rate);
        int quiet = 0;
        for (int i = 0; i < 70; ++i)
            quiet += monitor.peak(heard + qsizetype(i) * sound::Monitor::rate / 10, 0.1) <= 0.03;
        const int during = pictures;
        events::until([&] { return wall.elapsed() >= 8000; }, 9000);
        silent = std::max(silent, first ? quiet : 70);
        played = std::min(played, player->time());
        shown = std::min(shown, during / 7.0);
        state.SetIterationTime(first.value_or(never));
        player->pause();
        player->setSource(std::nullopt);
        rest(300);
    }
    state.counters["silent tenths of 70"] = silent;
    state.counters["s played in 8 s"] = played;
    state.counters["pictures a second"] = shown;
}

// Played for 3 s from the start (0), or the Short through (1).
void BM_SoundWaitingForPictures(benchmark::State& state)
{
    Listening listening(state);
    if (!listening.ready())
        return;
    Player* player = listening.player.get();
    const QString path = earlyEndingPictures();
    double grew = 0;
    for (auto _ : state) {
        if (state.range(0))
            player->setShort(path, {{2.0, 3.0}, {100.0, 102.0}});
        else
            player->setSource(path);
        listening.standAt(0);
        const double before = residentBytes();
        double most = before;
        QElapsedTimer wall;
        wall.start();
        player->play();
        events::until(
            [&] {
                most = std::max(most, residentBytes());
                return wall.elapsed() > 3000 && (state.range(0) == 0 || player->rate() == 0);
            },
            20000);
        grew = std::max(grew, most - before);
        state.SetIterationTime(wall.elapsed() / 1000.0);
        player->pause();
        player->setSource(std::nullopt);
        rest(300);
    }
    state.counters["MB grown"] = grew / 1e6;
}

} // namespace

// A minute; ten (--benchmark_filter=LongPlay/600) as users play a stream's stretch.
BENCHMARK(BM_ClockOverALongPlay)->Arg(60)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK(BM_ClockOverALongPlay)->Arg(600)->Name("LongPlay")->UseManualTime()->Unit(benchmark::kSecond)->Iterations(1);

// Two minutes (--benchmark_filter=BreaksUnderLoad).
BENCHMARK(BM_BreaksUnderLoad)->Arg(120)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(1);

// 720p, 1080p and 2160p at 30 fps.
BENCHMARK(BM_PlayingCost)->Arg(720)->Arg(1080)->Arg(2160)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_DecodingSlowerThanRealTime)
    ->Args({0, 0})
    ->Args({0, 2})
    ->Args({1, 0})
    ->Args({1, 2})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);
BENCHMARK(BM_SoundWaitingForPictures)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
// Key frames 1 s and 8 s apart.
BENCHMARK(BM_SoundAfterSeekWhilePlaying)->Arg(30)->Arg(240)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ShortJoins)->Arg(30)->Arg(240)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_PlayToFirstSound)->Arg(30)->Arg(240)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
// Pressed beside the playhead (0) and on it (1).
BENCHMARK(BM_PressToFirstPicture)
    ->Args({30, 0})
    ->Args({30, 1})
    ->Args({240, 0})
    ->Args({240, 1})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(8);

int main(int argc, char** argv)
{
    sound::PlayersProgram<QApplication> program(argc, argv);
    return runBenchmarksIn(argc, argv);
}
