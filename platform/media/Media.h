#pragma once

// What the program needs to know about a recording, read with the FFmpeg libraries off
// the main thread, and stills decoded from it.

#include "platform/media/ShortLine.h"

#include <QCoro/QCoroTask>
#include <QImage>
#include <QSize>
#include <QString>
#include <cmath>
#include <optional>
#include <vector>

// A 2-D affine transform (a b; c d) with translation, as a display matrix gives it.
struct Transform {
    double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;
    bool operator==(const Transform&) const = default;
    // The size a picture of `size` takes once transformed (may be negative per axis).
    std::pair<double, double> apply(double width, double height) const
    {
        return {a * width + c * height, b * width + d * height};
    }
};

struct MediaInfo {
    QString path;
    double duration = 0;            // seconds
    std::optional<int> videoStream; // first real video stream (cover art skipped)
    std::optional<int> audioStream;
    QSize naturalSize;              // of the video stream, before rotation
    double rotation = 0;            // degrees, clockwise, from the display matrix
    Transform transform;            // turns the stored picture upright
    double frameRate = 0;           // frames a second of the video on average; 0: not known
    double firstPicture = 0;        // recording time of the first picture (after the sound's start)
    // Where the file's data stops short of what it says it holds (a copy or a download cut
    // off): the recording time of the last picture whose data is in the file.
    std::optional<double> dataEnd;
    bool operator==(const MediaInfo&) const = default;
};

// Frame times this close count as one time. Matroska and FLV store times in whole
// milliseconds, so frame k of 30 a second lies up to half a millisecond from k / 30.
constexpr double sameFrameTime = 0.001;

// Which picture shows at a time, in the player, the stills and an export alike: the picture
// shown at `t` is the last that starts before `showingLimit(t)`, 2 ms on in whole
// milliseconds (a frame stored in whole milliseconds may lie a fraction before its exact
// time, and a stream's own stamps may put one a hair after it). A stretch that ends at `t`
// holds the pictures that start before `endingLimit(t)`, a millisecond or two before it: one
// whole millisecond clear of the picture that starts at the end, even where that is stored
// in whole milliseconds after a picture stored as lasting into it.
inline double showingLimit(double t)
{
    return (std::floor(t * 1000.0 + 1e-6) + 2.0005) / 1000.0;
}
inline double endingLimit(double t)
{
    return (std::ceil(t * 1000.0 - 1e-6) - 2 + 0.0005) / 1000.0;
}

// The video frames next to a limit: the two that start last before it (`last` the later)
// and the first that starts at it or later. Times are recording times; none where the
// stream has no such frame.
struct FramesAround {
    std::optional<double> earlier;
    std::optional<double> last;
    std::optional<double> next;
};

// What an export takes of one stretch of the recording, read from the packets alone: the
// frames the player shows over it, and where a seek made as ffmpeg's -ss makes it has to go
// for the decoder to have every one of them (MPEG-TS has no index, so such a seek lands
// anywhere in a group of pictures, and the decoder waits there for the next key frame; a key
// frame of an open group of pictures comes before frames that are shown before it).
struct StretchFrames {
    FramesAround start; // the frames around the stretch's start
    FramesAround end;   // and around its end
    int frames = 0;     // how many the player shows over it
    double seekTo = 0;  // recording time, from 0 to the stretch's start
    // Where ffmpeg's time 0 lies in recording time after its -ss `seekTo`, for the picture
    // and for the first sound stream: each stream's own, up to half a unit of its stamps
    // from `seekTo` (AVI counts its pictures in whole frames).
    double pictureZero = 0, soundZero = 0;
    std::optional<double> picturesStop; // the last picture, where the file's pictures stop within it
    // A video that stores only decoding stamps (AVI) has its decoded pictures stamped
    // about as late as the decoder holds them back for reordering, and not steadily after a
    // seek: for such a video this says how late, and its frames are known only roughly.
    std::optional<double> decodedLate;

    // The frame shown at the start; the first frame when the picture starts after the
    // stretch does.
    std::optional<double> shown() const;
    // Halfway from the frame before that one to it (or just before it, for the first): the
    // frames from this on are the stretch's, clear of the rounding of either time.
    std::optional<double> firstKept() const;
    // Halfway from the last frame the stretch holds to the next one: the frames before this
    // are the stretch's. None where no frame follows.
    std::optional<double> keptUntil() const;
};

namespace Media {

// Opens the file and reads its streams on a worker thread. Throws Fail with a sentence
// when the file cannot be read as media.
QCoro::Task<MediaInfo> probe(QString path);

// Synchronous forms, for worker threads.
MediaInfo probeNow(const QString& path);
// How a still takes its box: fitted inside it, or covering it and cut to it around its
// middle (a square that the picture fills). Either way, aspect kept and never enlarged.
enum class Fit { inside, cover };

// The picture the player shows at recording time `seconds` (see `showingLimit`; the first
// picture before it, the last after the file's end), upright, scaled to `box` as `fit`
// says. Throws Fail when no picture can be decoded there.
QImage stillNow(const QString& path, double seconds, QSize box, Fit fit = Fit::inside);
// Fixes the C library's heap thresholds, so that the memory a large recording's pictures took
// on a worker thread goes back once they are freed. Called first thing in `main`, before any
// thread runs; left alone where the user tuned the library's heap (GLIBC_TUNABLES).
void pinHeapThresholds();

// The frames around each of `times` (a frame within `sameFrameTime` after a time counts as
// at it), read from the packets alone (nothing is decoded). Throws Fail when the file
// cannot be read or has no video.
std::vector<FramesAround> framesAroundNow(const QString& path, const std::vector<double>& times);

// The frames of each stretch (recording times). Throws Fail when the file cannot be read or
// has no video.
std::vector<StretchFrames> stretchesNow(const QString& path, const std::vector<Span>& stretches);
QCoro::Task<std::vector<StretchFrames>> stretches(QString path, std::vector<Span> stretches);

// What a file holds, counted from its packets (nothing is decoded): its video's pictures
// (0 without video), and seconds of sound (0 without). Throws Fail when it cannot be read.
struct Held {
    int pictures = 0;
    double sound = 0;
};
Held heldNow(const QString& path);
QCoro::Task<Held> held(QString path);

// The sentence for a recording at `path` whose pictures stop at `seconds`, short of its length.
QString endsEarly(const QString& path, double seconds);

// A still made on a worker thread.
QCoro::Task<QImage> still(QString path, double seconds, QSize box, Fit fit = Fit::inside);

} // namespace Media
