#include "platform/media/SoundOutput.h"

#include <QElapsedTimer>
#include <QScopeGuard>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
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
// program records from it (its recorder has it already): at a fifth of a second, each Play
// lost its first 0.15-0.2 s there; at this, none of it.
constexpr pa_usec_t target = 60 * PA_USEC_PER_MSEC;
// Sound kept here that the server has not yet asked for: what carries the stream while the
// player's thread is busy elsewhere.
constexpr double keptAhead = 0.5;
// A stream that holds sound and of which the output takes nothing this long plays nowhere
// (a suspended output); a fresh one is tried this many times before the clock goes on by the
// time passed. The server's figures are asked for anew this often to tell.
constexpr int standsStill = 500; // ms
constexpr int freshTries = 2;
constexpr int askEvery = 100; // ms
// How long the last run's stream is kept, emptied, for the next run's.
constexpr int lingerFor = 2000; // ms
// The clock's units for a recording without sound.
constexpr int soundlessRate = 1000;
// How much faster than the time passed the clock may move to catch up with the stream's.
constexpr double catchUp = 1.25;

} // namespace

// The connection to the sound server, on a thread of libpulse's own, and the run's sound. Every
// member is read and written under the thread's lock (libpulse calls back under it too).
struct SoundOutput::Link {
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    // The last run's stream, emptied, until the next run's plays or a moment passed: an output
    // that nobody plays to any more renders seconds of silence ahead, which a stream that
    // comes next waits behind (a null sink nobody records from held each seek's sound 0.4-1.4 s).
    pa_stream* lingering = nullptr;
    pa_time_event* letGo = nullptr;
    float level = 1;

    // The run, counted in frames from its start at line time `from`.
    bool running = false;
    bool hasSound = false;
    int rate = soundlessRate;
    double from = 0;
    // Sound from frame `keptFrom` to `handed`: what may still have to be written, again where
    // a fresh stream takes over from one that went with what it had not played.
    std::vector<int16_t> kept;
    int64_t keptFrom = 0;
    int64_t handed = 0;
    int64_t written = 0; // into the stream that plays (without one: as far as the clock)
    int64_t heard = 0;   // the clock, never back
    bool finished = false;
    bool paused = false;

    // The stream that plays.
    int64_t streamFrom = 0; // the frame it started at
    bool draining = false;
    bool emptied = false;   // it played all it was given, the last of the run
    int stalls = 0;         // fresh streams tried since one stood still
    int64_t consumed = -1;  // bytes its output took, as the server last told
    QElapsedTimer still;    // since its output last took any
    QElapsedTimer asked;    // since the server was last asked for its figures
    QElapsedTimer reading;  // since the clock was last read from the stream

    // The time the run has played, its pauses left out: `passedFrom` frames until `passing`
    // last started. What was heard is never more (a stream's figures that leap ahead of it
    // would show pictures before their sound).
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
        dropStream();
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
        context = pa_context_new(pa_threaded_mainloop_get_api(loop), "Vantorel");
        if (!context)
            return false;
        pa_context_set_state_callback(
            context, [](pa_context*, void* loop) { wake(loop); }, loop);
        if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0
            || !waitFor([this] { return !PA_CONTEXT_IS_GOOD(pa_context_get_state(context)) || contextReady(); })
            || !contextReady()) {
            dropContext();
            return false;
        }
        return true;
    }

    // A fresh stream on the default output that goes on from the clock: what was written to
    // the one before and not heard is written again. False where none can be had.
    bool openStream()
    {
        dropStream();
        // (Where all the run's sound was heard, the rest goes by the time passed.)
        if (!loop || !hasSound || (finished && heard >= handed) || !connect())
            return false;
        const pa_sample_spec spec{PA_SAMPLE_S16LE, uint32_t(rate), 2};
        stream = pa_stream_new(context, "Playback", &spec, nullptr);
        if (!stream)
            return false;
        pa_stream_set_state_callback(
            stream, [](pa_stream*, void* loop) { wake(loop); }, loop);
        pa_buffer_attr buffer;
        buffer.maxlength = uint32_t(-1);
        buffer.tlength = uint32_t(pa_usec_to_bytes(target, &spec));
        buffer.prebuf = uint32_t(-1);
        buffer.minreq = uint32_t(-1);
        buffer.fragsize = uint32_t(-1);
        const auto flags = pa_stream_flags_t(PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_ADJUST_LATENCY);
        const bool connected = pa_stream_connect_playback(stream, nullptr, &buffer, flags, nullptr, nullptr) >= 0
                               && waitFor([this] { return !PA_STREAM_IS_GOOD(pa_stream_get_state(stream)) || streamReady(); });
        // (The last run's stream held the output as it was until now.)
        dropLingering();
        if (!connected || !streamReady()) {
            dropStream();
            return false;
        }
        // The server asks for sound whenever it has room: it is written then.
        pa_stream_set_write_callback(
            stream, [](pa_stream*, std::size_t, void* link) { static_cast<Link*>(link)->fill(); }, this);
        streamFrom = heard;
        written = heard;
        draining = false;
        emptied = false;
        consumed = -1;
        still.start();
        asked.start();
        reading.start();
        fill();
        return true;
    }

    static void letGoOf(pa_stream*& stream)
    {
        if (!stream)
            return;
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        pa_stream_set_write_callback(stream, nullptr, nullptr);
        // (A stream that failed is only let go: libpulse refuses calls on it.)
        if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream)))
            pa_stream_disconnect(stream);
        pa_stream_unref(stream);
        stream = nullptr;
    }

    void dropStream() { letGoOf(stream); }

    // Keeps the stream that plays, emptied of what it holds, for a moment: the next run's
    // stream, made meanwhile, then finds the output as this one left it.
    void linger()
    {
        if (!streamReady()) {
            dropStream();
            return;
        }
        dropLingering();
        pa_stream_set_write_callback(stream, nullptr, nullptr);
        if (pa_operation* o = pa_stream_flush(stream, nullptr, nullptr))
            pa_operation_unref(o);
        lingering = std::exchange(stream, nullptr);
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop);
        timeval at;
        pa_timeval_add(pa_gettimeofday(&at), pa_usec_t(lingerFor) * PA_USEC_PER_MSEC);
        letGo = api->time_new(
            api, &at, [](pa_mainloop_api*, pa_time_event*, const timeval*, void* link) { static_cast<Link*>(link)->dropLingering(); },
            this);
    }

    void dropLingering()
    {
        if (letGo) {
            pa_threaded_mainloop_get_api(loop)->time_free(letGo);
            letGo = nullptr;
        }
        letGoOf(lingering);
    }

    void dropContext()
    {
        dropLingering();
        dropStream();
        if (!context)
            return;
        pa_context_set_state_callback(context, nullptr, nullptr);
        if (PA_CONTEXT_IS_GOOD(pa_context_get_state(context)))
            pa_context_disconnect(context);
        pa_context_unref(context);
        context = nullptr;
    }

    // The most frames the run can have played by now.
    int64_t passed() const { return passedFrom + int64_t(double(passing.nsecsElapsed()) * rate / 1e9); }

    // The clock goes on by the time passed from where it is.
    void byTimePassed()
    {
        dropStream();
        written = heard;
        wallFrom = heard;
        wall.start();
    }

    // Writes what the server has room for, of what it was handed; once the run's last is
    // written, the stream plays it out, however little.
    void fill()
    {
        if (!streamReady() || paused)
            return;
        const std::size_t room = pa_stream_writable_size(stream);
        if (room == std::size_t(-1))
            return;
        const int64_t frames = std::min<int64_t>(int64_t(room / 4), handed - written);
        if (frames > 0) {
            const int16_t* from = kept.data() + (written - keptFrom) * 2;
            std::vector<int16_t> scaled;
            // The volume is the samples' own: the stream's volume on the server may be the output's.
            if (level < 1) {
                scaled.resize(std::size_t(frames) * 2);
                for (std::size_t i = 0; i < scaled.size(); ++i)
                    scaled[i] = int16_t(std::lround(from[i] * double(level)));
                from = scaled.data();
            }
            if (pa_stream_write(stream, from, std::size_t(frames) * 4, nullptr, 0, PA_SEEK_RELATIVE) < 0)
                return;
            written += frames;
        }
        if (finished && written >= handed && !draining) {
            draining = true;
            if (pa_operation* o = pa_stream_trigger(stream, nullptr, nullptr))
                pa_operation_unref(o);
            const auto played = [](pa_stream* drained, int, void* data) {
                auto* link = static_cast<Link*>(data);
                // (Where it could not be played out, the rest goes by the time passed too.)
                if (drained == link->stream)
                    link->emptied = true;
            };
            if (pa_operation* o = pa_stream_drain(stream, played, this))
                pa_operation_unref(o);
        }
    }

    // Whether the stream's output takes nothing of what it holds: what the server reports it
    // took stands while the stream plays with sound to play.
    bool standing()
    {
        if (asked.elapsed() >= askEvery) {
            asked.restart();
            if (pa_operation* o = pa_stream_update_timing_info(stream, nullptr, nullptr))
                pa_operation_unref(o);
        }
        // (No figures count as nothing taken: a stream the server tells nothing of plays
        // nowhere the user hears.)
        const pa_timing_info* info = pa_stream_get_timing_info(stream);
        if (!info || info->read_index_corrupt || info->write_index_corrupt)
            return still.elapsed() > standsStill;
        const int64_t bytes = int64_t(info->read_index);
        const int64_t holds = int64_t(info->write_index) - bytes;
        // (A stream holding less than it needs to begin waits for more rather than stands,
        // until the last is written: then it plays out whatever it holds.)
        const pa_buffer_attr* buffer = pa_stream_get_buffer_attr(stream);
        const int64_t little = buffer ? int64_t(buffer->prebuf) : 0;
        if (bytes != consumed || (!draining && holds < little)) {
            consumed = bytes;
            still.restart();
        }
        return still.elapsed() > standsStill + int64_t(info->sink_usec / PA_USEC_PER_MSEC);
    }

    // Brings the clock up to now: from the stream's timing where one plays, else by the time
    // passed; a stream that went, stands still or played out is let go here.
    void advance()
    {
        if (!running || paused)
            return;
        const auto readAgain = qScopeGuard([this] { reading.restart(); });
        if (stream) {
            if (!streamReady()) {
                // Its output or the server went: a fresh stream on the default output now.
                if (!openStream())
                    byTimePassed();
            } else if (standing()) {
                if (++stalls > freshTries || !openStream())
                    byTimePassed();
            } else {
                // What the output took, less what it holds yet, as the server last told, and
                // the time passed since while it plays. (libpulse's own reckoning runs on
                // while the server still says the stream does not play, and stands while an
                // output with a long latency has taken sound it plays later.)
                const pa_timing_info* info = pa_stream_get_timing_info(stream);
                if (info && !info->read_index_corrupt) {
                    double seconds = double(info->read_index) / 4 / rate - double(info->sink_usec) / 1e6;
                    if (info->playing)
                        seconds += double(pa_timeval_age(&info->timestamp)) / 1e6;
                    const int64_t played = int64_t(std::max(0.0, seconds) * rate);
                    // (The server's figures may lag what the output took and then catch up at
                    // once: the clock follows such a leap a little faster than the time
                    // passes, so that the pictures never jump.)
                    const int64_t most = std::min(heard + int64_t(double(reading.nsecsElapsed()) * rate / 1e9 * catchUp), passed());
                    heard = std::max(heard, std::min({streamFrom + std::min(played, written - streamFrom), most}));
                }
                // All was played: what outlasts the sound (pictures) goes by the time passed.
                if (emptied)
                    byTimePassed();
            }
        }
        if (!stream) {
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
        // What was heard is no longer kept (a second at a time, so as not to move it often).
        if (heard - keptFrom > rate && !kept.empty()) {
            const int64_t drop = std::min(heard, handed) - keptFrom;
            kept.erase(kept.begin(), kept.begin() + drop * 2);
            keptFrom += drop;
        }
    }

    // Let go of the stream and the run's sound.
    void reset()
    {
        linger();
        running = false;
        kept.clear();
        keptFrom = handed = written = heard = 0;
        finished = paused = false;
        stalls = 0;
    }
};

SoundOutput::SoundOutput() : link(std::make_unique<Link>())
{
}

SoundOutput::~SoundOutput() = default;

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
    if (!link->openStream())
        link->byTimePassed();
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
    if (link->streamReady())
        if (pa_operation* o = pa_stream_cork(link->stream, 1, nullptr, nullptr))
            pa_operation_unref(o);
}

void SoundOutput::resume()
{
    Link::Locked guard(link->loop);
    if (!link->running || !link->paused)
        return;
    link->paused = false;
    link->reading.restart();
    link->passing.restart();
    link->stalls = 0;
    if (link->streamReady()) {
        // Goes on with what the stream still holds, at once, however little.
        if (pa_operation* o = pa_stream_cork(link->stream, 0, nullptr, nullptr))
            pa_operation_unref(o);
        if (pa_operation* o = pa_stream_trigger(link->stream, nullptr, nullptr))
            pa_operation_unref(o);
        link->still.restart();
        link->fill();
    } else if (!link->openStream()) {
        // The stream went while paused, or there was none: each Play tries the output again.
        link->byTimePassed();
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
    return link->running && link->streamReady();
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
