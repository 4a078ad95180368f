#include "platform/media/Stills.h"

#include "platform/media/Av.h"
#include "platform/media/RecordingTime.h"

#include <QFileInfo>
#include <QPromise>
#include <atomic>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <map>
#include <mutex>

using Result = std::optional<QImage>;

struct StillDecoder::Shared {
    QString path;
    QSize box;
    std::atomic<bool> stop = false;
    std::mutex lock;
    std::condition_variable wake;
    std::multimap<int, QPromise<Result>> pending; // under `lock`
};

namespace {

using namespace Media::av;

// How far from the asked second a key frame may be and still stand in for it.
constexpr double tolerance = 1.0;
// Without an index, decoding on is preferred to a seek for a target this close ahead.
constexpr double walkAhead = 5.0;
// How far before a target a walk looks for a key frame when a seek lands past it.
constexpr double reach = 80.0;

void answer(QPromise<Result>& promise, Result result)
{
    promise.addResult(std::move(result));
    promise.finish();
}

int interrupted(void* stop)
{
    return static_cast<std::atomic<bool>*>(stop)->load() ? 1 : 0;
}

// The open recording and where its decoder stands.
class Walker {
public:
    Walker(const QString& path, QSize box, std::atomic<bool>& stop) : path_(path), box_(box), stop_(stop)
    {
        const AVIOInterruptCB interrupt{interrupted, &stop};
        input_ = openInput(path, &interrupt);
        const auto index = firstVideo(input_.get());
        if (!index)
            throw Fail(QFileInfo(path).fileName() + QStringLiteral(" has no video in it."));
        index_ = *index;
        stream_ = input_->streams[index_];
        // Only the picture is read: the demuxer passes over the other streams' packets.
        for (unsigned i = 0; i < input_->nb_streams; ++i) {
            if (int(i) != index_)
                input_->streams[i]->discard = AVDISCARD_ALL;
        }
        decoder_ = openDecoder(stream_, path, FF_THREAD_FRAME);
        rotation_ = clockwiseRotation(stream_);
        base_ = RecordingTime::origin(input_.get(), stream_); // seconds count recording time
        unit_ = av_q2d(stream_->time_base);
        packet_.reset(av_packet_alloc());
        frame_.reset(av_frame_alloc());
    }

    Result at(int second)
    {
        const double s = second;
        if (const auto key = nearestKey(s)) {
            if (shownKey_ == *key)
                return shown_;
            if (Result made = keyFrame(*key)) {
                shownKey_ = *key;
                shown_ = made;
                return made;
            }
        }
        return walk(s);
    }

private:
    double seconds(int64_t stamp) const { return double(stamp - base_) * unit_; }
    int64_t stamp(double s) const { return base_ + int64_t(std::llround(s / unit_)); }

    // A key frame of the index to the left (backward) or right of `s`.
    std::optional<int64_t> key(double s, int direction) const
    {
        const AVIndexEntry* e = avformat_index_get_entry_from_timestamp(stream_, stamp(s), direction);
        return e ? std::optional<int64_t>(e->timestamp) : std::nullopt;
    }
    // The index's key frame nearest to `s`, when one lies within the tolerance.
    std::optional<int64_t> nearestKey(double s) const
    {
        if (avformat_index_get_entries_count(stream_) <= 0)
            return std::nullopt;
        std::optional<int64_t> best;
        double bestDistance = tolerance + 1e-6;
        for (const int direction : {AVSEEK_FLAG_BACKWARD, 0}) {
            const auto k = key(s, direction);
            const double distance = k ? std::fabs(seconds(*k) - s) : bestDistance;
            if (distance < bestDistance) {
                best = k;
                bestDistance = distance;
            }
        }
        return best;
    }

    Result make(const AVFrame* frame) const
    {
        try {
            return picture(frame, rotation_, box_, path_);
        } catch (const Fail&) {
            return std::nullopt;
        }
    }

    // Jumps so that the next packets begin with the key frame at or before `at`; false
    // when the file cannot seek there.
    bool restart(int64_t at)
    {
        avcodec_flush_buffers(decoder_.get());
        last_ = -std::numeric_limits<double>::infinity();
        streaming_ = av_seek_frame(input_.get(), index_, at, AVSEEK_FLAG_BACKWARD) >= 0;
        return streaming_;
    }
    // Jumps to the very beginning of the file, where a seek by time may still land late.
    bool rewind()
    {
        avcodec_flush_buffers(decoder_.get());
        last_ = -std::numeric_limits<double>::infinity();
        streaming_ = av_seek_frame(input_.get(), -1, 0, AVSEEK_FLAG_BYTE) >= 0
                     || av_seek_frame(input_.get(), index_, base_, AVSEEK_FLAG_BACKWARD) >= 0;
        return streaming_;
    }

    // Decodes the key frame at `at` on its own: one packet in, one picture out.
    Result keyFrame(int64_t at)
    {
        if (!restart(at))
            return std::nullopt;
        streaming_ = false;
        while (!stop_ && av_read_frame(input_.get(), packet_.get()) >= 0) {
            // A file without an index may list a frame as a key frame that is none; the key
            // frame that follows it is not the one asked for.
            const int64_t stamp = packet_->pts != AV_NOPTS_VALUE ? packet_->pts : packet_->dts;
            const bool mine = packet_->stream_index == index_ && (packet_->flags & AV_PKT_FLAG_KEY);
            // The seek may land on a key frame before the one asked for (an MP4's index holds
            // decoding times, which its seek shifts by the delay that reordered frames add):
            // read on to the one asked for. Its stamps are not both before the index's.
            const int64_t latest = std::max(packet_->pts == AV_NOPTS_VALUE ? INT64_MIN : packet_->pts,
                                            packet_->dts == AV_NOPTS_VALUE ? INT64_MIN : packet_->dts);
            if (mine && stamp != AV_NOPTS_VALUE && latest < at) {
                av_packet_unref(packet_.get());
                continue;
            }
            if (mine && (stamp == AV_NOPTS_VALUE || std::fabs(seconds(stamp) - seconds(at)) > tolerance)) {
                av_packet_unref(packet_.get());
                return std::nullopt;
            }
            if (mine)
                avcodec_send_packet(decoder_.get(), packet_.get());
            av_packet_unref(packet_.get());
            if (!mine)
                continue;
            avcodec_send_packet(decoder_.get(), nullptr);
            Result out;
            while (avcodec_receive_frame(decoder_.get(), frame_.get()) == 0) {
                if (!out)
                    out = make(frame_.get());
            }
            avcodec_flush_buffers(decoder_.get());
            return out;
        }
        return std::nullopt;
    }

    // The next decoded frame in time order; null at the end of the recording or on a stop.
    // Frames before `wanted` that no other frame refers to are not decoded at all.
    AVFrame* next(double wanted)
    {
        while (!stop_) {
            const int received = avcodec_receive_frame(decoder_.get(), frame_.get());
            if (received == 0)
                return frame_.get();
            if (received != AVERROR(EAGAIN))
                break;
            if (av_read_frame(input_.get(), packet_.get()) < 0) {
                avcodec_send_packet(decoder_.get(), nullptr); // drain what the decoder holds
                continue;
            }
            if (packet_->stream_index == index_) {
                const int64_t at = packet_->pts != AV_NOPTS_VALUE ? packet_->pts : packet_->dts;
                decoder_->skip_frame = at != AV_NOPTS_VALUE && seconds(at) < wanted ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
                avcodec_send_packet(decoder_.get(), packet_.get()); // a damaged packet is skipped
            }
            av_packet_unref(packet_.get());
        }
        streaming_ = false;
        return nullptr;
    }

    // The first picture at or after `s`, decoded forward: on from the last picture when `s`
    // lies ahead of it with no key frame between, else from the key frame before `s`.
    Result walk(double s)
    {
        const auto before = avformat_index_get_entries_count(stream_) > 0 ? key(s, AVSEEK_FLAG_BACKWARD) : std::nullopt;
        if (streaming_ && last_ < s && (before ? seconds(*before) <= last_ : s - last_ <= walkAhead))
            return forward(s, false);
        // A seek in a file without an index (a transport stream) may land past the key frame
        // before `s`; the decoder then shows nothing until a later one. Seek further back
        // until a picture at or before `s` comes out, as far as the beginning or `reach`.
        for (double back = 0;; back = std::max(2 * back, 10.0)) {
            const bool first = s - back <= 0;
            if (!(first ? rewind() : restart(stamp(s - back))))
                return std::nullopt;
            bool late = false;
            Result made = forward(s, !first && back < reach, &late);
            if (!late || stop_)
                return made;
        }
    }

    // Decodes on to the first picture at or after `s`. With `check`, a walk whose first
    // picture lies more than the tolerance past `s` (or that brings none) is abandoned as
    // `late`.
    Result forward(double s, bool check, bool* late = nullptr)
    {
        Frame kept;
        while (AVFrame* f = next(s)) {
            last_ = f->best_effort_timestamp == AV_NOPTS_VALUE ? s : seconds(f->best_effort_timestamp);
            if (last_ >= s) {
                if (check && !kept && last_ - s > tolerance) {
                    *late = true;
                    return std::nullopt;
                }
                // After a gap in the picture, the frame still shown at `s` is the one before.
                return make(kept && last_ - s > tolerance ? kept.get() : f);
            }
            kept.reset(av_frame_clone(f));
        }
        if (check && !kept)
            *late = true;
        // The recording ended first: its last picture stands in when it is near enough.
        if (kept && !stop_ && s - last_ <= tolerance)
            return make(kept.get());
        return std::nullopt;
    }

    QString path_;
    QSize box_;
    std::atomic<bool>& stop_;
    Input input_;
    int index_ = 0;
    AVStream* stream_ = nullptr;
    Decoder decoder_;
    double rotation_ = 0;
    int64_t base_ = 0;
    double unit_ = 1;
    Packet packet_;
    Frame frame_;
    bool streaming_ = false;
    double last_ = -std::numeric_limits<double>::infinity();
    std::optional<int64_t> shownKey_;
    Result shown_;
};

// The worker: takes the waiting request at or after the last one served (the lowest
// when none lies ahead), so a strip is decoded in one forward sweep.
void serve(std::shared_ptr<StillDecoder::Shared> shared)
{
    std::unique_ptr<Walker> walker;
    bool unreadable = false;
    int cursor = INT_MIN;
    for (;;) {
        QPromise<Result> promise;
        int second = 0;
        {
            std::unique_lock hold(shared->lock);
            shared->wake.wait(hold, [&] { return shared->stop || !shared->pending.empty(); });
            if (shared->stop)
                return;
            auto it = shared->pending.lower_bound(cursor);
            if (it == shared->pending.end())
                it = shared->pending.begin();
            second = it->first;
            promise = std::move(it->second);
            shared->pending.erase(it);
        }
        cursor = second;
        Result result;
        if (!unreadable && second >= 0) {
            try {
                if (!walker)
                    walker = std::make_unique<Walker>(shared->path, shared->box, shared->stop);
                result = walker->at(second);
            } catch (const std::exception&) {
                unreadable = !walker; // a recording that cannot be opened is not tried again
            }
        }
        answer(promise, std::move(result));
    }
}

} // namespace

StillDecoder::StillDecoder(QString path, QSize box) : shared_(std::make_shared<Shared>())
{
    shared_->path = std::move(path);
    shared_->box = box;
}

StillDecoder::~StillDecoder()
{
    {
        const std::lock_guard hold(shared_->lock);
        shared_->stop = true;
    }
    shared_->wake.notify_all();
    if (worker_.joinable())
        worker_.join();
    for (auto& [second, promise] : shared_->pending)
        answer(promise, std::nullopt);
}

QFuture<std::optional<QImage>> StillDecoder::still(int second)
{
    QPromise<Result> promise;
    promise.start();
    QFuture<Result> future = promise.future();
    {
        const std::lock_guard hold(shared_->lock);
        shared_->pending.emplace(second, std::move(promise));
    }
    if (!worker_.joinable())
        worker_ = std::thread(serve, shared_);
    shared_->wake.notify_one();
    return future;
}
