// What the user waits for from the real player, on 20 s clips at 640x360 and 30 fps with a
// tone, key frames a second apart and 8 s apart (where a seek decodes for a while):
//  - from Play to the first sound heard, after a paused seek to a new place; the sound is
//    read back from a null sink's monitor on a sound server of the program's own;
//  - from the press of a drag in the stream window to its first picture: 25 moves 16 ms
//    apart over 3 s, pressed on the playhead a click put there, or beside it. "pictures
//    during drag" counts those shown before the release, at most.
// "slowest ms" is the longest of the rounds; a round that never got there counts as 10 s,
// and in "missed".

#include "bench/QtMain.h"
#include "model/editing/StreamBrowser.h"
#include "platform/media/Player.h"
#include "support/Clips.h"
#include "support/Sound.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QVideoFrame>
#include <QVideoSink>
#include <benchmark/benchmark.h>
#include <clocale>

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

void BM_PlayToFirstSound(benchmark::State& state)
{
    sound::NullSink output;
    if (!output.ready()) {
        state.SkipWithError("no sound server to give an output");
        return;
    }
    sound::Monitor monitor;
    std::unique_ptr<Player> player = Player::makeDefault();
    Landings landings(*player);
    player->setSource(clip(int(state.range(0))));
    double slowest = 0;
    int missed = 0;
    int round = 0;
    for (auto _ : state) {
        // A paused seek to a new place, landed and left a moment, as a user does before Play.
        const int before = landings.count;
        player->seek(2.3 + (round++ % 5) * 3.1);
        landings.after(before);
        rest(400);
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

} // namespace

// Key frames 1 s and 8 s apart.
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
    sound::PlayersProgram program(argc, argv);
    return runBenchmarksIn(argc, argv);
}
