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
// The frame turned upright and scaled to fit inside `box` (never enlarged). Throws Fail.
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
