#pragma once

// Recording time: seconds from the start of the recording's file, counted as ffmpeg's -ss
// counts them, from the earliest stamp of any of its streams. Markers, transcripts, cuts,
// sound cuts and waveforms all count so (they come from ffmpeg's -ss), and so do the player,
// the export and the film strip: they go through this unit, so that one time shows one frame
// everywhere. Containers differ in where their stamps start: MPEG-TS seconds late, a
// picture may start after its sound (Matroska made from an MP4: 21 ms), and Matroska and
// FLV keep whole milliseconds. Only code in platform/media includes this.

#include <QtGlobal>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>

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

// How a player's back end counts: it stamps each picture in microseconds and seeks in
// milliseconds of a position, each from a start of its own (MPEG-TS and FLV demuxers
// start at the first stamp they meet, Matroska at the file's 0). Learnt from one picture
// whose recording time is known, the first, and from the position that one seek asked for
// and the stamp the picture it showed carries.
struct PlayerClock {
    bool known = false;
    qint64 firstStamp = 0;  // µs: the back end's stamp of the first picture
    qint64 zeroStamp = 0;   // µs: the back end's stamp at its position 0
    double firstPicture = 0; // s: the recording time of the first picture

    // The back end's position, in seconds, of recording time `seconds`.
    double position(double seconds) const { return seconds + offset(); }
    // The recording time of the back end's position, in seconds.
    double fromPosition(double position) const { return position - offset(); }
    // The recording time of a picture's stamp.
    double fromStamp(qint64 stamp) const { return firstPicture + double(stamp - firstStamp) / 1e6; }
    // The back end's stamp at its position `ms`: the stamp that the picture a seek there
    // lands on carries.
    qint64 stampAt(qint64 ms) const { return zeroStamp + ms * 1000; }

    // The millisecond a seek to the picture shown at recording time `seconds` asks for: 2 ms
    // after it. A frame's time in whole milliseconds may lie before it (1/30 s is 33.33 ms),
    // and a stream's own stamps may put a frame a hair after its exact time (frame 33 of a
    // 30 fps clip just after 1.100 s): a seek that lands before a frame shows the one before.
    // Containers that keep whole milliseconds (Matroska, FLV) give the frame before a
    // nominal length reaching a third of a millisecond past the next one's stamp. (An
    // export takes the same picture: see `showingLimit`.)
    qint64 seekTo(double seconds) const
    {
        return qint64(std::floor(std::max(0.0, position(seconds)) * 1000.0 + 1e-6)) + 2;
    }
    // The millisecond before `seconds` that shows the last picture of a stretch ending there:
    // one whole millisecond clear of the picture that starts at the end, even where it is
    // stored in whole milliseconds after a picture stored as lasting into it. (An export
    // ends a stretch on the same picture: see `endingLimit`.)
    qint64 seekBefore(double seconds) const
    {
        return std::max<qint64>(0, qint64(std::ceil(position(seconds) * 1000.0 - 1e-6)) - 2);
    }
    // Whether a picture stamped `stamp` is the one a seek to the back end's millisecond `ms`
    // lands on: the back end cuts that picture's stamp to the place sought, exactly. The
    // picture after it may start a third of a millisecond on (a Short ending at 1003.333 s
    // is left at 1003.333 s, where frame 30100 starts at 1003.3333 s), so it is not.
    bool landsOn(qint64 stamp, qint64 ms) const { return known && std::llabs(stamp - stampAt(ms)) <= 50; }

private:
    double offset() const { return double(firstStamp - zeroStamp) / 1e6 - firstPicture; }
};

} // namespace RecordingTime
