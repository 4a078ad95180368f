#include "platform/media/SoundOutput.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include <pulse/pulseaudio.h>

namespace {

// How long a call waits for the sound server to answer: a server that does not answer by
// then is taken as none, and the picture plays without sound.
constexpr int answerWithin = 1000; // ms
// How much sound the server holds ahead of what is heard, and how much must be there before
// a stream begins to play (or goes on after it ran dry).
constexpr pa_usec_t held = 400 * PA_USEC_PER_MSEC;
constexpr pa_usec_t toBegin = 10 * PA_USEC_PER_MSEC;
// A stream that has sound to play and of which the output takes nothing this long plays
// nowhere.
constexpr int standsStill = 500; // ms

} // namespace

// The connection to the sound server, on a thread of libpulse's own; every member is read
// and written under the thread's lock.
struct SoundOutput::Link {
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    int rate = 0;
    int64_t written = 0;  // frames, into the stream
    double heard = 0;     // the stream's last reading of what was played
    bool corked = false;
    bool emptied = false; // all it was given was played
    bool stalled = false; // the last stream let go played nowhere (it had not failed)
    int64_t consumed = -1; // bytes the output took, as the server last told
    QElapsedTimer still;  // since the output last took any
    QElapsedTimer asked;  // since the server was last asked how far it is  // since `heard` last moved on

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
    // there is no stream, which every call looks for).
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

    bool openStream(int samplesPerSecond)
    {
        const pa_sample_spec spec{PA_SAMPLE_S16LE, uint32_t(samplesPerSecond), 2};
        stream = pa_stream_new(context, "Playback", &spec, nullptr);
        if (!stream)
            return false;
        pa_stream_set_state_callback(
            stream, [](pa_stream*, void* loop) { wake(loop); }, loop);
        pa_buffer_attr buffer;
        buffer.maxlength = uint32_t(-1);
        buffer.tlength = uint32_t(pa_usec_to_bytes(held, &spec));
        buffer.prebuf = uint32_t(pa_usec_to_bytes(toBegin, &spec));
        buffer.minreq = uint32_t(-1);
        buffer.fragsize = uint32_t(-1);
        const auto flags = pa_stream_flags_t(PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE
                                             | PA_STREAM_ADJUST_LATENCY);
        if (pa_stream_connect_playback(stream, nullptr, &buffer, flags, nullptr, nullptr) < 0
            || !waitFor([this] { return !PA_STREAM_IS_GOOD(pa_stream_get_state(stream)) || streamReady(); })
            || !streamReady()) {
            dropStream();
            return false;
        }
        rate = samplesPerSecond;
        written = 0;
        heard = 0;
        corked = false;
        emptied = false;
        stalled = false;
        consumed = -1;
        still.start();
        asked.start();
        return true;
    }

    void dropStream()
    {
        if (!stream)
            return;
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        // (A stream that failed is only let go: libpulse refuses calls on it.)
        if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream)))
            pa_stream_disconnect(stream);
        pa_stream_unref(stream);
        stream = nullptr;
    }

    void dropContext()
    {
        dropStream();
        if (!context)
            return;
        pa_context_set_state_callback(context, nullptr, nullptr);
        if (PA_CONTEXT_IS_GOOD(pa_context_get_state(context)))
            pa_context_disconnect(context);
        pa_context_unref(context);
        context = nullptr;
    }

    // Reads what the stream has played, where it still plays: never more than was written
    // (the server's time goes on between its reports whether the output takes sound or not).
    void read()
    {
        pa_usec_t usec = 0;
        if (streamReady() && pa_stream_get_time(stream, &usec) == 0)
            heard = std::max(heard, std::min(double(usec) / 1e6, double(written) / rate));
    }

    // Whether the output takes what the stream holds: what the server reports it took moves
    // on while uncorked with sound to play (asked anew every tenth of a second).
    bool standing()
    {
        if (!streamReady() || corked) {
            still.restart();
            return false;
        }
        if (asked.elapsed() > 100) {
            asked.restart();
            if (pa_operation* o = pa_stream_update_timing_info(stream, nullptr, nullptr))
                pa_operation_unref(o);
        }
        const pa_timing_info* info = pa_stream_get_timing_info(stream);
        if (!info || info->read_index_corrupt)
            return false;
        const int64_t bytes = int64_t(info->read_index);
        if (bytes != consumed || emptied || info->write_index - info->read_index < int64_t(rate) * 4 / 20) {
            consumed = bytes;
            still.restart();
        }
        return still.elapsed() > standsStill;
    }

    void cork(bool hold)
    {
        if (!streamReady() || corked == hold)
            return;
        corked = hold;
        if (pa_operation* o = pa_stream_cork(stream, hold ? 1 : 0, nullptr, nullptr))
            pa_operation_unref(o);
        // Goes on at once, however little it holds.
        if (!hold)
            trigger();
        still.restart();
    }

    // Plays what the stream holds, however little: it waits for a little before it plays.
    void trigger()
    {
        if (pa_operation* o = pa_stream_trigger(stream, nullptr, nullptr))
            pa_operation_unref(o);
    }
};

SoundOutput::SoundOutput() : link(std::make_unique<Link>())
{
}

SoundOutput::~SoundOutput() = default;

bool SoundOutput::start(int samplesPerSecond)
{
    stop();
    if (!link->loop || samplesPerSecond <= 0)
        return false;
    Link::Locked guard(link->loop);
    return link->connect() && link->openStream(samplesPerSecond);
}

void SoundOutput::stop()
{
    Link::Locked guard(link->loop);
    link->dropStream();
}

bool SoundOutput::started() const
{
    Link::Locked guard(link->loop);
    return link->stream != nullptr;
}

void SoundOutput::suspend()
{
    Link::Locked guard(link->loop);
    link->read();
    link->cork(true);
}

void SoundOutput::resume()
{
    Link::Locked guard(link->loop);
    link->cork(false);
}

bool SoundOutput::broken()
{
    Link::Locked guard(link->loop);
    if (!link->stream)
        return false;
    link->read();
    const bool stands = link->standing();
    if (link->streamReady() && !stands)
        return false;
    link->stalled = stands;
    link->dropStream();
    return true;
}

double SoundOutput::played() const
{
    Link::Locked guard(link->loop);
    link->read();
    return link->heard;
}

double SoundOutput::ahead() const
{
    Link::Locked guard(link->loop);
    if (!link->stream || link->emptied)
        return 0;
    link->read();
    return std::max(0.0, double(link->written) / link->rate - link->heard);
}

int SoundOutput::write(const int16_t* samples, int frames)
{
    if (frames <= 0)
        return 0;
    Link::Locked guard(link->loop);
    if (!link->streamReady())
        return 0;
    const std::size_t room = pa_stream_writable_size(link->stream);
    if (room == std::size_t(-1))
        return 0;
    const int taken = int(std::min<std::size_t>(std::size_t(frames), room / 4));
    if (taken <= 0)
        return 0;
    // The volume is the samples' own: the stream's volume on the server may be the output's.
    std::vector<int16_t> scaled;
    const int16_t* data = samples;
    if (level < 1) {
        scaled.resize(std::size_t(taken) * 2);
        for (std::size_t i = 0; i < scaled.size(); ++i)
            scaled[i] = int16_t(std::lround(samples[i] * double(std::max(0.0f, level))));
        data = scaled.data();
    }
    if (pa_stream_write(link->stream, data, std::size_t(taken) * 4, nullptr, 0, PA_SEEK_RELATIVE) < 0)
        return 0;
    link->written += taken;
    return taken;
}

bool SoundOutput::stalled() const
{
    Link::Locked guard(link->loop);
    return link->stalled;
}

double SoundOutput::lead() const
{
    Link::Locked guard(link->loop);
    if (!link->streamReady())
        return 0;
    // What the server holds for the stream, less what the output already has of it.
    const pa_timing_info* info = pa_stream_get_timing_info(link->stream);
    link->read();
    const double latency = info ? double(info->sink_usec) / 1e6 : 0.0;
    return std::max(0.0, double(link->written) / link->rate - link->heard - latency);
}

void SoundOutput::drain()
{
    Link::Locked guard(link->loop);
    if (!link->streamReady() || link->corked)
        return;
    link->trigger();
    // The server says when all of it was played: the stream's clock may stop short of it by
    // the output's latency.
    const auto played = [](pa_stream*, int, void* link) { static_cast<Link*>(link)->emptied = true; };
    if (pa_operation* o = pa_stream_drain(link->stream, played, link.get()))
        pa_operation_unref(o);
}

void SoundOutput::setVolume(float volume)
{
    level = std::clamp(volume, 0.0f, 1.0f);
}
