#pragma once

// Recording time: seconds from the start of the recording's file, counted as ffmpeg's -ss
// counts them, from the earliest stamp of any of its streams. Markers, transcripts, cuts,
// sound cuts and waveforms all count so (they come from ffmpeg's -ss), and so do the player,
// the export and the film strip: they go through this unit, so that one time shows one frame
// everywhere. Containers differ in where their stamps start: MPEG-TS seconds late, a
// picture may start after its sound (Matroska made from an MP4: 21 ms), and Matroska and
// FLV keep whole milliseconds. A recording joined from pieces of MPEG-TS counts it as the
// pieces join (see platform/Pieces.h): the file is opened so. Only code in platform/media
// includes this.

#include <cmath>

extern "C" {
#include <libavformat/avformat.h>
}

namespace RecordingTime {

// Where the recording's time 0 lies, in the stamps of `stream`.
inline int64_t origin(const AVFormatContext* file, const AVStream* stream)
{
    return file->start_time == AV_NOPTS_VALUE ? 0 : av_rescale_q(file->start_time, AV_TIME_BASE_Q, stream->time_base);
}

// The recording time of a stamp of `stream`.
inline double of(int64_t stamp, const AVFormatContext* file, const AVStream* stream)
{
    return double(stamp - origin(file, stream)) * av_q2d(stream->time_base);
}

// The stamp of `stream` at recording time `seconds` (rounded to the nearest).
inline int64_t stamp(double seconds, const AVFormatContext* file, const AVStream* stream)
{
    return origin(file, stream) + int64_t(std::llround(seconds / av_q2d(stream->time_base)));
}

// The same for a whole file: the time in AV_TIME_BASE units, as ffmpeg seeks.
inline int64_t fileStamp(double seconds, const AVFormatContext* file)
{
    return (file->start_time == AV_NOPTS_VALUE ? 0 : file->start_time) + int64_t(std::llround(seconds * AV_TIME_BASE));
}

// Where ffmpeg puts time 0 of `stream` when asked to read from recording time `seconds`
// (its -ss; 0: read from the start), in recording time. ffmpeg moves each stream's stamps
// by that time counted in the stream's own units, rounded to the nearest one: where those
// are whole frames (AVI's video) or whole packets of sound (MP3 in AVI, 24 ms), time 0 may
// lie up to half of one from the time asked.
inline double ffmpegZero(double seconds, const AVFormatContext* file, const AVStream* stream)
{
    const int64_t moved = -av_rescale_q(-fileStamp(seconds, file), AV_TIME_BASE_Q, stream->time_base);
    return of(moved, file, stream);
}

} // namespace RecordingTime
