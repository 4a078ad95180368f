#include "platform/media/KeyFrames.h"

#include "platform/media/Av.h"
#include "platform/media/Media.h"
#include "platform/media/RecordingTime.h"

#include <algorithm>

namespace Media {

namespace {
// The most of a file without an index that is read through for its key frames.
constexpr int64_t scannedBytes = int64_t(64) << 20;
} // namespace

std::vector<double> keyFramesNow(const QString& path)
{
    const av::Input input = av::openInput(path);
    const auto video = av::firstVideo(input.get());
    if (!video)
        return {};
    AVStream* stream = input->streams[*video];
    // Matroska reads its cues at the first seek.
    av_seek_frame(input.get(), *video, stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time,
                  AVSEEK_FLAG_BACKWARD);
    std::vector<double> times;
    const int n = avformat_index_get_entries_count(stream);
    times.reserve(std::max(0, n));
    for (int i = 0; i < n; ++i) {
        const AVIndexEntry* e = avformat_index_get_entry(stream, i);
        if (e && (e->flags & AVINDEX_KEYFRAME) && e->timestamp != AV_NOPTS_VALUE)
            times.push_back(RecordingTime::of(e->timestamp, input.get(), stream));
    }
    // A small file is read through: its index may be missing (a Matroska file cut off before
    // its cues, MPEG-TS) or hold only what the demuxer has read so far (FLV). A large one
    // keeps what its index says.
    const int64_t size = input->pb ? avio_size(input->pb) : -1;
    if (size > 0 && size <= scannedBytes
        && avformat_seek_file(input.get(), -1, INT64_MIN, 0, INT64_MAX, 0) >= 0) {
        times.clear();
        av::Packet packet(av_packet_alloc());
        while (av_read_frame(input.get(), packet.get()) >= 0) {
            const int64_t pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
            if (packet->stream_index == *video && (packet->flags & AV_PKT_FLAG_KEY) && pts != AV_NOPTS_VALUE)
                times.push_back(RecordingTime::of(pts, input.get(), stream));
            av_packet_unref(packet.get());
        }
    }
    std::sort(times.begin(), times.end());
    return times;
}

double keyFrameBefore(const std::vector<double>& keyFrames, double seconds)
{
    const auto after = std::upper_bound(keyFrames.begin(), keyFrames.end(), seconds + sameFrameTime);
    return after == keyFrames.begin() ? 0.0 : std::max(0.0, *(after - 1));
}

} // namespace Media
