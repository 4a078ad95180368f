#include "platform/media/SoundOutput.h"

#include <QElapsedTimer>
#include <QScopeGuard>

#include <algorithm>
#include <cmath>
#include <deque>
#include <functional>
#include <utility>
#include <vector>

#include <pulse/pulseaudio.h>

namespace {

// How long a call waits for the sound server to answer: a server that does not answer by
// then is taken as none, and the clock goes on by the time passed.
constexpr int answerWithin = 1000; // ms
// What the stream asks the server to hold, all told: the server fits the output's latency to
// it (as low as the output goes), and the stream plays once it is nearly full, also after
// running dry. An output that runs at a long latency renders that far ahead, and what it
// rendered as silence before the stream's first sound came is never heard where another
// program records from it (its recorder has it already).
constexpr pa_usec_t target = 60 * PA_USEC_PER_MSEC;
// An output may take more at a time than the stream holds (one that a program reads in
// bursts), or the computer may be too busy to write in time: the stream then runs dry though
// sound was there for it, and from then on it holds twice as much, up to this.
constexpr pa_usec_t mostHeld = 1000 * PA_USEC_PER_MSEC;
// Sound kept here that the server has not yet asked for: what carries the stream while the
// player's thread is busy elsewhere.
constexpr double keptAhead = 0.5;
// A stream whose output is suspended and that holds sound plays nowhere once this passed;
// one that takes nothing of what it holds plays nowhere once this passed beyond the longest
// its output said it holds (a fresh stream waits behind what an idle output rendered ahead,
// up to two seconds, and is then heard). The server's figures are asked for anew this often.
constexpr int standsStill = 500; // ms
constexpr int askEvery = 100;    // ms
// The clock's units for a recording without sound.
constexpr int soundlessRate = 1000;
// How much faster than the time passed the clock may move to catch up with the stream's.
constexpr double catchUp = 1.25;
// A device's clock runs a little fast or slow beside the computer's (tens to hundreds of
// ppm, a cheap one a percent or two): over minutes the clock follows the device. But the
// server's figures may lead what was heard for a moment, above all as a run begins, so for
// its first seconds the clock never leads the time passed, and after that by no more than
// this share of the time passed since.
constexpr double paceSlack = 0.025;
constexpr double settling = 2.0; // s

} // namespace

// The connection to the sound server, on a thread of libpulse's own, and the run's sound. Every
// member is read and written under the thread's lock (libpulse calls back under it too).
struct SoundOutput::Link {
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    int streamRate = 0; // the rate of `stream`
    pa_usec_t holding = target; // what it asks the server to hold
    int wantedRate = 0; // of the recording shown: the stream is made again for it where it went
    float level = 1;
    // Making the stream again where it went while no run plays (the server restarted, the
    // output went): a fresh one is there, corked, before the next Play.
    pa_time_event* again = nullptr;
    int againIn = 0;               // ms until the next try, longer after each that failed
    pa_stream* coming = nullptr;   // made so, until it is ready
    bool waiting = false;          // a call waits for the server (and makes what it waits for)

    // The run, counted in frames from its start at line time `from`.
    bool running = false;
    bool hasSound = false;
    int rate = soundlessRate;
    double from = 0;
    // Sound from frame `keptFrom` to `handed`: what may still have to be written, again where
    // a fresh stream takes over from one that went with what it had not played.
    std::deque<int16_t> kept;
    int64_t keptFrom = 0;
    int64_t handed = 0;
    int64_t written = 0; // into the stream that plays (without one: as far as the clock)
    int64_t heard = 0;   // the clock, never back
    bool finished = false;
    bool paused = false;

    // The run plays on the stream (else its clock goes by the time passed).
    bool following = false;
    int64_t streamFrom = 0; // the frame it took up the run at
    bool draining = false;
    int drains = 0;         // asked for and not yet answered
    bool emptied = false;   // it played all it was given, the last of the run
    int64_t consumed = -1;  // bytes its output took, as the server last told
    QElapsedTimer still;    // since its output last took any
    pa_usec_t holds = 0;    // the most its output said it holds since then
    QElapsedTimer asked;    // since the server was last asked for its figures
    QElapsedTimer reading;  // since the clock was last read from the stream
    // Its output took nothing for a while though not suspended (a busy machine, a device
    // that stalls): the clock goes by the time passed, and the stream, still playing what
    // is only silence now, waits for the output to take some of it.
    bool stalled = false;

    // The time the run has played, its pauses left out: `passedFrom` frames until `passing`
    // last started.
    QElapsedTimer passing;
    int64_t passedFrom = 0;

    // Without a stream: the time passed since frame `wallFrom`.
    QElapsedTimer wall;
    int64_t wallFrom = 0;

    Link()
    {
        loop = pa_threaded_mainloop_new();
        if (loop && pa_threaded_mainloop_start(loop) < 0) {
            pa_threaded_mainloop_free(loop);
            loop = nullptr;
        }
    }
    ~Link()
    {
        if (!loop)
            return;
        pa_threaded_mainloop_lock(loop);
        if (again)
            pa_threaded_mainloop_get_api(loop)->time_free(std::exchange(again, nullptr));
        dropContext();
        pa_threaded_mainloop_unlock(loop);
        pa_threaded_mainloop_stop(loop);
        pa_threaded_mainloop_free(loop);
    }

    // Holds the thread's lock; none where libpulse's thread could not be started (and then
    // there is never a stream, which every call looks for).
    struct Locked {
        explicit Locked(pa_threaded_mainloop* loop) : loop(loop)
        {
            if (loop)
                pa_threaded_mainloop_lock(loop);
        }
        ~Locked()
        {
            if (loop)
                pa_threaded_mainloop_unlock(loop);
        }
        pa_threaded_mainloop* loop;
    };

    static void wake(void* loop) { pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0); }

    // Waits (the lock held) until `done`, or until the server had `answerWithin` to answer.
    bool waitFor(const std::function<bool()>& done)
    {
        waiting = true;
        const auto over = qScopeGuard([this] { waiting = false; });
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop);
        timeval deadline;
        pa_timeval_add(pa_gettimeofday(&deadline), pa_usec_t(answerWithin) * PA_USEC_PER_MSEC);
        pa_time_event* timer = api->time_new(
            api, &deadline, [](pa_mainloop_api*, pa_time_event*, const timeval*, void* loop) { wake(loop); }, loop);
        timeval now;
        while (!done() && pa_timeval_cmp(pa_gettimeofday(&now), &deadline) < 0)
            pa_threaded_mainloop_wait(loop);
        if (timer)
            api->time_free(timer);
        return done();
    }

    bool contextReady() const { return context && pa_context_get_state(context) == PA_CONTEXT_READY; }
    bool streamReady() const
    {
        return contextReady() && stream && pa_stream_get_state(stream) == PA_STREAM_READY;
    }

    // Connected to the sound server, anew where the connection went (the server restarted).
    bool connect()
    {
        if (contextReady())
            return true;
        dropContext();
        if (!beginConnecting()
            || !waitFor([this] { return !PA_CONTEXT_IS_GOOD(pa_context_get_state(context)) || contextReady(); })
            || !contextReady()) {
            dropContext();
            return false;
        }
        return true;
    }

    // A fresh connection, on its way.
    bool beginConnecting()
    {
        dropContext();
        context = pa_context_new(pa_threaded_mainloop_get_api(loop), "Vantorel");
        if (!context)
            return false;
        pa_context_set_state_callback(
            context,
            [](pa_context* changed, void* data) {
                auto* link = static_cast<Link*>(data);
                wake(link->loop);
                const pa_context_state_t state = pa_context_get_state(changed);
                if (state == PA_CONTEXT_READY)
                    link->remakeSoon();
                else if (!PA_CONTEXT_IS_GOOD(state))
                    link->remakeSoon(link->againIn);
            },
            this);
        return pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0;
    }

    // A stream at `at` frames a second, corked and empty, on its way to the default output.
    pa_stream* newStream(int at)
    {
        const pa_sample_spec spec{PA_SAMPLE_S16LE, uint32_t(at), 2};
        pa_stream* fresh = pa_stream_new(context, "Playback", &spec, nullptr);
        if (!fresh)
            return nullptr;
        pa_stream_set_state_callback(
            fresh,
            [](pa_stream* changed, void* data) {
                auto* link = static_cast<Link*>(data);
                wake(link->loop);
                if (changed == link->coming || (changed == link->stream && !PA_STREAM_IS_GOOD(pa_stream_get_state(changed))))
                    link->remakeSoon();
            },
            this);
        const pa_buffer_attr buffer = holdingAttr(target, spec);
        const auto flags = pa_stream_flags_t(PA_STREAM_START_CORKED | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_ADJUST_LATENCY);
        if (pa_stream_connect_playback(fresh, nullptr, &buffer, flags, nullptr, nullptr) < 0)
            letGoOf(fresh);
        return fresh;
    }

    // `fresh`, ready, becomes the stream, in place of the one before.
    void adopt(pa_stream* fresh, int at)
    {
        dropStream();
        stream = fresh;
        // The server asks for sound whenever it has room: it is written then.
        pa_stream_set_write_callback(
            stream, [](pa_stream*, std::size_t, void* link) { static_cast<Link*>(link)->fill(); }, this);
        pa_stream_set_underflow_callback(
            stream, [](pa_stream*, void* link) { static_cast<Link*>(link)->ranDry(); }, this);
        streamRate = at;
        holding = target;
    }

    // Looks again soon at whether the stream went, and makes it again; sooner where something
    // changed, less often while the server stays away.
    void remakeSoon(int in = 0)
    {
        if (!loop)
            return;
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop);
        timeval at;
        pa_timeval_add(pa_gettimeofday(&at), pa_usec_t(in) * PA_USEC_PER_MSEC);
        if (again) {
            api->time_restart(again, &at);
            return;
        }
        again = api->time_new(
            api, &at, [](pa_mainloop_api*, pa_time_event*, const timeval*, void* link) { static_cast<Link*>(link)->remake(); },
            this);
    }

    // On libpulse's thread: where no run plays (or it is paused) and the stream for the rate
    // wanted went, the connection and a fresh corked stream are made without waiting for them.
    void remake()
    {
        pa_threaded_mainloop_get_api(loop)->time_free(std::exchange(again, nullptr));
        const bool wanted = wantedRate > 0 && !(streamReady() && streamRate == wantedRate);
        if (!wanted) {
            letGoOf(coming);
            againIn = 0;
            return;
        }
        if (waiting) {
            remakeSoon(50);
            return;
        }
        // (A run that plays makes its own stream; a look now and then finds it gone still.)
        againIn = std::clamp(againIn * 2, 125, 1000);
        if (running && !paused) {
            remakeSoon(againIn);
            return;
        }
        if (!context || !PA_CONTEXT_IS_GOOD(pa_context_get_state(context))) {
            // (Called again once connected; where that failed, after a while.)
            if (!beginConnecting() || !PA_CONTEXT_IS_GOOD(pa_context_get_state(context)))
                remakeSoon(againIn);
            return;
        }
        if (!contextReady())
            return;
        if (coming) {
            const pa_stream_state_t state = pa_stream_get_state(coming);
            if (state == PA_STREAM_READY) {
                adopt(std::exchange(coming, nullptr), wantedRate);
                againIn = 0;
                return;
            }
            if (PA_STREAM_IS_GOOD(state))
                return; // (it calls again once ready, or once it failed)
            letGoOf(coming);
        }
        coming = newStream(wantedRate);
        if (!coming)
            remakeSoon(againIn);
    }

    // A stream at `at` frames a second, corked and empty, on the default output, in place of
    // the one it had, which holds the output as it is until then. False where none can be had.
    bool openStream(int at)
    {
        if (!loop || at <= 0 || !connect()) {
            dropStream();
            return false;
        }
        pa_stream* fresh = newStream(at);
        const auto ready = [&] { return pa_stream_get_state(fresh) == PA_STREAM_READY; };
        if (!fresh || !waitFor([&] { return !PA_STREAM_IS_GOOD(pa_stream_get_state(fresh)) || ready(); }) || !ready()) {
            letGoOf(fresh);
            dropStream();
            return false;
        }
        adopt(fresh, at);
        return true;
    }

    // What the stream asks the server to hold: `length` in all; it starts playing once it holds
    // what the stream first held, however much more it may hold later (so that a stream grown
    // after running dry does not make each later Play wait to fill it).
    static pa_buffer_attr holdingAttr(pa_usec_t length, const pa_sample_spec& spec)
    {
        pa_buffer_attr buffer;
        buffer.maxlength = uint32_t(-1);
        buffer.tlength = uint32_t(pa_usec_to_bytes(length, &spec));
        buffer.prebuf = length > target ? uint32_t(pa_usec_to_bytes(target, &spec)) : uint32_t(-1);
        buffer.minreq = uint32_t(-1);
        buffer.fragsize = uint32_t(-1);
        return buffer;
    }

    // The stream ran dry: where sound was there for it, it holds more from now on.
    void ranDry()
    {
        if (!following || paused || handed <= written || holding >= mostHeld || !streamReady())
            return;
        holding = std::min(mostHeld, holding * 2);
        const pa_sample_spec spec{PA_SAMPLE_S16LE, uint32_t(streamRate), 2};
        const pa_buffer_attr buffer = holdingAttr(holding, spec);
        if (pa_operation* o = pa_stream_set_buffer_attr(stream, &buffer, nullptr, nullptr))
            pa_operation_unref(o);
    }

    // The stream for the run's rate, made where there is none for it.
    bool streamForRun() { return (streamReady() && streamRate == rate) || openStream(rate); }

    static void letGoOf(pa_stream*& stream)
    {
        if (!stream)
            return;
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        pa_stream_set_write_callback(stream, nullptr, nullptr);
        pa_stream_set_underflow_callback(stream, nullptr, nullptr);
        // (A stream that failed is only let go: libpulse refuses calls on it.)
        if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream)))
            pa_stream_disconnect(stream);
        pa_stream_unref(stream);
        stream = nullptr;
    }

    void dropStream()
    {
        following = false;
        stalled = false;
        drains = 0;
        streamRate = 0;
        letGoOf(stream);
    }

    void dropContext()
    {
        letGoOf(coming);
        dropStream();
        if (!context)
            return;
        pa_context_set_state_callback(context, nullptr, nullptr);
        if (PA_CONTEXT_IS_GOOD(pa_context_get_state(context)))
            pa_context_disconnect(context);
        pa_context_unref(context);
        context = nullptr;
    }

    void cork(bool corked)
    {
        if (pa_operation* o = pa_stream_cork(stream, corked, nullptr, nullptr))
            pa_operation_unref(o);
    }

    // What the stream holds and has not played goes.
    void flush()
    {
        if (pa_operation* o = pa_stream_flush(stream, nullptr, nullptr))
            pa_operation_unref(o);
    }

    // Corked and emptied, ready for the next run. (A stream that went is made again where the
    // recording shown has sound, so that the next Play finds one.)
    void quiet()
    {
        following = false;
        stalled = false;
        if (streamReady()) {
            cork(true);
            flush();
        } else if (wantedRate > 0) {
            openStream(wantedRate);
        }
    }

    // The run goes on on the stream from the clock: what was written before and not heard is
    // written again.
    void follow()
    {
        following = true;
        stalled = false;
        streamFrom = heard;
        written = heard;
        draining = false;
        emptied = false;
        consumed = -1;
        holds = 0;
        still.start();
        asked.start();
        reading.start();
        cork(false);
        fill();
    }

    // The most frames the run can have played by now.
    int64_t passed() const { return passedFrom + int64_t(double(passing.nsecsElapsed()) * rate / 1e9); }

    // What becomes of the stream while the clock goes by the time passed.
    enum class Leaving { corked, letGo, waiting };

    // The clock goes on by the time passed from where it is; the stream is corked, or let go
    // as one that plays nowhere, or left playing to wait for its output: what it held is
    // let go for as much silence as it needs to play, so that the output, once it takes
    // sound again, takes none that the clock has left behind.
    void byTimePassed(Leaving how)
    {
        if (how == Leaving::letGo) {
            dropStream();
            remakeSoon(); // (for the next Play, once this run pauses or ends)
        }
        else if (how == Leaving::corked && streamReady())
            cork(true);
        else if (how == Leaving::waiting) {
            flush();
            const pa_buffer_attr* buffer = pa_stream_get_buffer_attr(stream);
            const std::vector<char> silence(std::max<std::size_t>(buffer ? buffer->prebuf : 0, std::size_t(streamRate) / 100 * 4));
            pa_stream_write(stream, silence.data(), silence.size(), nullptr, 0, PA_SEEK_RELATIVE);
        }
        stalled = how == Leaving::waiting;
        following = false;
        written = heard;
        wallFrom = heard;
        wall.start();
    }

    // Writes what the server has room for, of what it was handed; once the run's last is
    // written, the stream plays it out, however little.
    void fill()
    {
        if (!following || paused || !streamReady())
            return;
        const std::size_t room = pa_stream_writable_size(stream);
        if (room == std::size_t(-1))
            return;
        const int64_t frames = std::min<int64_t>(int64_t(room / 4), handed - written);
        if (frames > 0) {
            std::vector<int16_t> samples(std::size_t(frames) * 2);
            const auto first = kept.begin() + (written - keptFrom) * 2;
            // The volume is the samples' own: the stream's volume on the server may be the output's.
            if (level < 1)
                std::transform(first, first + long(samples.size()), samples.begin(),
                               [this](int16_t s) { return int16_t(std::lround(s * double(level))); });
            else
                std::copy(first, first + long(samples.size()), samples.begin());
            if (pa_stream_write(stream, samples.data(), samples.size() * 2, nullptr, 0, PA_SEEK_RELATIVE) < 0)
                return;
            written += frames;
        }
        if (finished && written >= handed && !draining) {
            draining = true;
            if (pa_operation* o = pa_stream_trigger(stream, nullptr, nullptr))
                pa_operation_unref(o);
            const auto played = [](pa_stream* drained, int, void* data) {
                auto* link = static_cast<Link*>(data);
                // (Only the last drain asked for is the run's: one before it was cut short by a
                // flush. Where it could not be played out, the rest goes by the time passed too.)
                if (drained == link->stream && --link->drains == 0 && link->draining)
                    link->emptied = true;
            };
            if (pa_operation* o = pa_stream_drain(stream, played, this)) {
                ++drains;
                pa_operation_unref(o);
            }
        }
    }

    // Whether the stream plays nowhere: its output is suspended, or takes nothing of what the
    // stream holds for longer than it said it holds.
    bool standing()
    {
        const pa_timing_info* info = figures();
        const bool suspended = pa_stream_is_suspended(stream) > 0;
        if (info) {
            const int64_t bytes = int64_t(info->read_index);
            // (A stream holding less than it needs to begin waits for more rather than stands,
            // until the last is written: then it plays out whatever it holds.)
            const pa_buffer_attr* buffer = pa_stream_get_buffer_attr(stream);
            const int64_t little = buffer ? int64_t(buffer->prebuf) : 0;
            if (bytes != consumed || (!draining && int64_t(info->write_index) - bytes < little)) {
                consumed = bytes;
                still.restart();
                holds = 0;
            }
            holds = std::max(holds, info->sink_usec);
        }
        if (suspended)
            return still.elapsed() > standsStill;
        // (No figures count as nothing taken: a stream the server tells nothing of plays
        // nowhere the user hears.)
        return still.elapsed() > standsStill + int64_t(holds / PA_USEC_PER_MSEC);
    }

    // The server's figures for the stream, asked for anew now and then; none while they are
    // not to be trusted.
    const pa_timing_info* figures()
    {
        if (asked.elapsed() >= askEvery) {
            asked.restart();
            if (pa_operation* o = pa_stream_update_timing_info(stream, nullptr, nullptr))
                pa_operation_unref(o);
        }
        const pa_timing_info* info = pa_stream_get_timing_info(stream);
        return info && !info->read_index_corrupt && !info->write_index_corrupt ? info : nullptr;
    }

    // A stalled stream's output takes sound again: the run goes on on it from the clock, or
    // where all of it was heard, by the time passed still. One that went meanwhile is made again.
    void takeUpAgain()
    {
        if (streamReady()) {
            const pa_timing_info* info = figures();
            if (!info || int64_t(info->read_index) <= consumed)
                return;
            flush();
            if (finished && heard >= handed) {
                byTimePassed(Leaving::corked);
                return;
            }
            follow();
        } else {
            followAfresh();
        }
    }

    // A fresh stream on the default output now, where the run's went; without one, the clock
    // goes on by the time passed.
    void followAfresh()
    {
        dropStream();
        if (streamForRun())
            follow();
        else
            byTimePassed(Leaving::letGo);
    }

    // The most the clock may show now: the time passed since the run began, and later a little
    // more, as far as a device that plays faster than the time passes may have got ahead.
    int64_t bound() const
    {
        const int64_t played = passed();
        return played + int64_t(paceSlack * double(std::max<int64_t>(0, played - int64_t(settling * rate))));
    }

    // Brings the clock up to now: from the stream's timing where one plays, else by the time
    // passed; a stream that went or plays nowhere is let go here, and one that played out
    // leaves the rest to the time passed.
    void advance()
    {
        if (!running || paused)
            return;
        const auto readAgain = qScopeGuard([this] { reading.restart(); });
        if (stalled)
            takeUpAgain();
        if (following) {
            if (!streamReady()) {
                // Its output or the server went.
                followAfresh();
            } else if (standing()) {
                // (A suspended output is taken up again only by a Play, which finds it; one
                // the server told nothing of cannot be told to take sound again.)
                const bool nowhere = pa_stream_is_suspended(stream) > 0 || consumed < 0;
                byTimePassed(nowhere ? Leaving::letGo : Leaving::waiting);
            } else {
                // What was written less what the stream and its output hold yet, as the
                // server last told, and the time passed since while it plays.
                const pa_timing_info* info = pa_stream_get_timing_info(stream);
                if (info && !info->read_index_corrupt && !info->write_index_corrupt) {
                    const double queued = double(info->write_index - info->read_index) / 4;
                    double played = double(written - streamFrom) - queued - double(info->sink_usec) * rate / 1e6;
                    if (info->playing)
                        played += double(pa_timeval_age(&info->timestamp)) * rate / 1e6;
                    const int64_t at = streamFrom + std::clamp<int64_t>(int64_t(played), 0, written - streamFrom);
                    // (The server's figures may lag what the output took and then catch up at
                    // once: the clock follows such a leap a little faster than the time
                    // passes, so that the pictures never jump.)
                    const int64_t most = std::min(heard + int64_t(double(reading.nsecsElapsed()) * rate / 1e9 * catchUp), bound());
                    heard = std::max(heard, std::min(at, most));
                }
                // All was played: what outlasts the sound (pictures) goes by the time passed.
                if (emptied)
                    byTimePassed(Leaving::corked);
            }
        }
        if (!following) {
            int64_t at = wallFrom + int64_t(double(wall.nsecsElapsed()) * rate / 1e9);
            // Sound not yet handed is not heard: the clock waits for it from where it stood.
            if (!finished && at > handed) {
                at = handed;
                wallFrom = handed;
                wall.restart();
            }
            heard = std::max(heard, at);
            written = std::max(written, heard);
        }
        // What was heard is no longer kept.
        if (heard > keptFrom && !kept.empty()) {
            const int64_t drop = std::min(heard, handed) - keptFrom;
            kept.erase(kept.begin(), kept.begin() + drop * 2);
            keptFrom += drop;
        }
    }

    // Let go of the run's sound; the stream is kept, corked and empty.
    void reset()
    {
        quiet();
        running = false;
        kept.clear();
        keptFrom = handed = written = heard = 0;
        finished = paused = false;
    }
};

SoundOutput::SoundOutput() : link(std::make_unique<Link>())
{
}

SoundOutput::~SoundOutput() = default;

void SoundOutput::prepare(int rate)
{
    Link::Locked guard(link->loop);
    if (rate <= 0)
        return;
    link->wantedRate = rate;
    // (While a run plays, the next run's begin finds the stream for its rate.)
    if (!link->running && !(link->streamReady() && link->streamRate == rate))
        link->openStream(rate);
}

void SoundOutput::begin(int rate, double from)
{
    Link::Locked guard(link->loop);
    link->reset();
    link->running = true;
    link->hasSound = rate > 0;
    link->rate = rate > 0 ? rate : soundlessRate;
    link->from = from;
    link->finished = !link->hasSound;
    link->passing.start();
    link->passedFrom = 0;
    if (link->hasSound && link->streamForRun())
        link->follow();
    else
        link->byTimePassed(Link::Leaving::corked);
}

void SoundOutput::stop()
{
    Link::Locked guard(link->loop);
    link->reset();
}

void SoundOutput::pause()
{
    Link::Locked guard(link->loop);
    if (!link->running || link->paused)
        return;
    link->advance();
    link->paused = true;
    // (The time paused is not passed: what the stream still holds plays on after it.)
    link->passedFrom = link->passed();
    if (link->following && link->streamReady())
        link->cork(true);
    else if (link->stalled && link->streamReady())
        link->quiet(); // (what it held is not the run's now: the next Play writes from the clock)
}

void SoundOutput::resume()
{
    Link::Locked guard(link->loop);
    if (!link->running || !link->paused)
        return;

    link->paused = false;
    link->reading.restart();
    link->passing.restart();
    if (link->following && link->streamReady()) {
        // Goes on with what the stream still holds, at once, however little.
        link->cork(false);
        if (pa_operation* o = pa_stream_trigger(link->stream, nullptr, nullptr))
            pa_operation_unref(o);
        link->still.restart();
        link->holds = 0;
        link->fill();
    } else if (link->hasSound && !(link->finished && link->heard >= link->handed) && link->streamForRun()) {
        // The stream went while paused, or there was none: each Play tries the output again.
        link->follow();
    } else {
        link->byTimePassed(Link::Leaving::corked);
    }
}

int SoundOutput::room() const
{
    Link::Locked guard(link->loop);
    if (!link->running || !link->hasSound || link->finished)
        return 0;
    return int(std::max<int64_t>(0, int64_t(keptAhead * link->rate) - (link->handed - link->written)));
}

int SoundOutput::hand(const int16_t* samples, int frames)
{
    Link::Locked guard(link->loop);
    if (!link->running || !link->hasSound || link->finished || frames <= 0)
        return 0;
    const int64_t room = std::max<int64_t>(0, int64_t(keptAhead * link->rate) - (link->handed - link->written));
    const int taken = int(std::min<int64_t>(frames, room));
    link->kept.insert(link->kept.end(), samples, samples + std::size_t(taken) * 2);
    link->handed += taken;
    link->fill();
    return taken;
}

void SoundOutput::finish()
{
    Link::Locked guard(link->loop);
    if (!link->running || link->finished)
        return;
    link->advance();
    link->finished = true;
    link->fill();
}

double SoundOutput::time() const
{
    Link::Locked guard(link->loop);
    link->advance();
    return link->from + double(link->heard) / link->rate;
}

bool SoundOutput::audible() const
{
    Link::Locked guard(link->loop);
    return link->running && link->following && link->streamReady();
}

void SoundOutput::setVolume(float volume)
{
    Link::Locked guard(link->loop);
    link->level = std::clamp(volume, 0.0f, 1.0f);
}

float SoundOutput::volume() const
{
    Link::Locked guard(link->loop);
    return link->level;
}
