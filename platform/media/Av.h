#pragma once

// The FFmpeg-library pieces shared by the probe and the still decoders of platform/media.
// Only code in this folder includes it.

#include "core/project/Fail.h"

#include <QImage>
#include <QSize>
#include <QString>
#include <memory>
#include <optional>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

struct SwsContext;

namespace Media::av {

struct InputCloser {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct CodecFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
using Input = std::unique_ptr<AVFormatContext, InputCloser>;
using Decoder = std::unique_ptr<AVCodecContext, CodecFree>;
using Frame = std::unique_ptr<AVFrame, FrameFree>;
using Packet = std::unique_ptr<AVPacket, PacketFree>;

Fail unreadable(const QString& path);
// Opens the file and reads its stream information; `interrupt`, when given, can stop the
// reading of a slow or huge file. Throws Fail.
Input openInput(const QString& path, const AVIOInterruptCB* interrupt = nullptr);
// The first real video stream (cover art skipped).
std::optional<int> firstVideo(const AVFormatContext* input);
// The first sound stream.
std::optional<int> firstAudio(const AVFormatContext* input);
// Degrees clockwise (0, 90, 180 or 270) that turn the stored picture upright.
double clockwiseRotation(const AVStream* stream);
// An opened decoder for the stream. Throws Fail.
Decoder openDecoder(const AVStream* stream, const QString& path, int threadType);
// How every picture is shown, in the player, the stills and the film strip alike: scaled to
// fit inside `box` once turned upright (never enlarged; an empty box: at its own size), with
// the colours its stream states (unstated: as players guess them, by its size), then turned
// clockwise by `rotation`, as the export turns it.
//
// The size a stored picture of `stored` is shown at.
QSize uprightSize(QSize stored, double rotation, QSize box);
// A scaler kept from picture to picture (a player's pictures share their size and colours).
struct Scaler {
    SwsContext* context = nullptr;
    int space = -1;
    int range = -1;
    // A picture reduced to under half its size is sampled as a display samples a texture
    // (two taps each way), not averaged over the pixels it covers: averaging a 2160p picture
    // down to a window costs more than decoding it, 30 times a second. For the player.
    bool quick = false;
    Scaler() = default;
    Scaler(const Scaler&) = delete;
    Scaler& operator=(const Scaler&) = delete;
    ~Scaler();
};
// Draws `frame` shown at `size` (from `uprightSize`) into `out`: 4 bytes a pixel as
// QImage::Format_RGB32 lays them out, `stride` bytes a row. False where it cannot.
bool drawUpright(const AVFrame* frame, double rotation, QSize size, Scaler& scaler, uchar* out, qsizetype stride);
// The frame as shown in `box`, as an image. Throws Fail.
QImage picture(const AVFrame* frame, double rotation, QSize box, const QString& path);

// How long the file says it runs, in recording time; 0 where it does not say.
double statedLength(const AVFormatContext* input);
// Where the pictures of `stream` stop short of the file's length: from its index where its
// header gives one, else from the last pictures of the file's tail. None where the file is
// whole, or this cannot be told.
std::optional<double> dataEnd(AVFormatContext* input, AVStream* stream);
// Where the last picture of the file's data starts: where the file is cut short, else the
// latest in its last few megabytes. None where this cannot be told.
std::optional<double> lastPicture(AVFormatContext* input, AVStream* stream);

} // namespace Media::av
