#include "platform/media/Media.h"

#include "core/project/Fail.h"
#include "platform/media/Av.h"

#include <QCoro/QCoroFuture>
#include <QFileInfo>
#include <QtConcurrent/QtConcurrentRun>
#include <cmath>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace Media::av {

namespace {
struct ScaleFree {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};
} // namespace

Fail unreadable(const QString& path)
{
    return Fail(QFileInfo(path).fileName() + QStringLiteral(" could not be read as a recording."));
}

Input openInput(const QString& path, const AVIOInterruptCB* interrupt)
{
    AVFormatContext* raw = avformat_alloc_context();
    if (!raw)
        throw unreadable(path);
    if (interrupt)
        raw->interrupt_callback = *interrupt;
    const QByteArray name = QFile::encodeName(path);
    if (avformat_open_input(&raw, name.constData(), nullptr, nullptr) < 0)
        throw unreadable(path); // the context was freed by the failed open
    Input input(raw);
    if (avformat_find_stream_info(input.get(), nullptr) < 0)
        throw unreadable(path);
    return input;
}

std::optional<int> firstVideo(const AVFormatContext* input)
{
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVStream* s = input->streams[i];
        // Cover art is stored as a video stream of one picture; it is not the recording.
        if (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(s->disposition & AV_DISPOSITION_ATTACHED_PIC))
            return int(i);
    }
    return std::nullopt;
}

double clockwiseRotation(const AVStream* stream)
{
    size_t size = 0;
    const uint8_t* data = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (!data || size < 9 * sizeof(int32_t))
        return 0;
    const double counterClockwise = av_display_rotation_get(reinterpret_cast<const int32_t*>(data));
    if (std::isnan(counterClockwise))
        return 0;
    double r = std::fmod(-counterClockwise, 360.0);
    if (r < 0)
        r += 360;
    const double quarter = std::round(r / 90) * 90;
    return quarter == 360 ? 0 : quarter;
}

Decoder openDecoder(const AVStream* stream, const QString& path, int threadType)
{
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec)
        throw Fail(QStringLiteral("The video of %1 uses a format that cannot be decoded.").arg(QFileInfo(path).fileName()));
    Decoder decoder(avcodec_alloc_context3(codec));
    if (!decoder || avcodec_parameters_to_context(decoder.get(), stream->codecpar) < 0)
        throw unreadable(path);
    decoder->thread_count = 0;
    decoder->thread_type = threadType;
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0)
        throw unreadable(path);
    return decoder;
}

QImage picture(const AVFrame* frame, double rotation, QSize box, const QString& path)
{
    if (frame->width <= 0 || frame->height <= 0)
        throw unreadable(path);
    // Fit the upright picture into the box, then scale the stored picture to match.
    const bool turned = rotation == 90 || rotation == 270;
    const double uw = turned ? frame->height : frame->width, uh = turned ? frame->width : frame->height;
    const double scale = std::min({1.0, box.width() / uw, box.height() / uh});
    const int outW = std::max(1, int(std::lround((turned ? uh : uw) * scale)));
    const int outH = std::max(1, int(std::lround((turned ? uw : uh) * scale)));

    std::unique_ptr<SwsContext, ScaleFree> scaler(sws_getContext(frame->width, frame->height,
                                                                  AVPixelFormat(frame->format), outW, outH,
                                                                  AV_PIX_FMT_RGB32, SWS_BILINEAR, nullptr, nullptr,
                                                                  nullptr));
    if (!scaler)
        throw unreadable(path);
    QImage image(outW, outH, QImage::Format_RGB32);
    uint8_t* planes[4] = {image.bits(), nullptr, nullptr, nullptr};
    int strides[4] = {int(image.bytesPerLine()), 0, 0, 0};
    sws_scale(scaler.get(), frame->data, frame->linesize, 0, frame->height, planes, strides);
    if (rotation != 0)
        image = image.transformed(QTransform().rotate(rotation));
    return image;
}

} // namespace Media::av

namespace Media {

using namespace av;

namespace {

Transform transformFor(double rotation, QSize size)
{
    const double w = size.width(), h = size.height();
    if (rotation == 90)
        return {0, 1, -1, 0, h, 0};
    if (rotation == 180)
        return {-1, 0, 0, -1, w, h};
    if (rotation == 270)
        return {0, -1, 1, 0, 0, w};
    return {};
}

} // namespace

MediaInfo probeNow(const QString& path)
{
    const Input input = openInput(path);
    MediaInfo info;
    info.path = path;
    if (input->duration != AV_NOPTS_VALUE && input->duration > 0) {
        info.duration = double(input->duration) / AV_TIME_BASE;
    } else {
        for (unsigned i = 0; i < input->nb_streams; ++i) {
            const AVStream* s = input->streams[i];
            if (s->duration != AV_NOPTS_VALUE)
                info.duration = std::max(info.duration, double(s->duration) * av_q2d(s->time_base));
        }
    }
    info.videoStream = firstVideo(input.get());
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        if (input->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
            info.audioStream = int(i);
            break;
        }
    }
    if (info.videoStream) {
        const AVStream* v = input->streams[*info.videoStream];
        info.naturalSize = QSize(v->codecpar->width, v->codecpar->height);
        info.rotation = clockwiseRotation(v);
        info.transform = transformFor(info.rotation, info.naturalSize);
        const AVRational rate = v->avg_frame_rate.num > 0 && v->avg_frame_rate.den > 0 ? v->avg_frame_rate : v->r_frame_rate;
        if (rate.num > 0 && rate.den > 0)
            info.frameRate = av_q2d(rate);
    }
    return info;
}

std::vector<FramesAround> framesAroundNow(const QString& path, const std::vector<double>& times)
{
    const Input input = openInput(path);
    const auto index = firstVideo(input.get());
    if (!index)
        throw Fail(QFileInfo(path).fileName() + QStringLiteral(" has no video in it."));
    const double unit = av_q2d(input->streams[*index]->time_base);
    // ffmpeg counts -ss from the earliest start of any stream in the file.
    const double origin = input->start_time == AV_NOPTS_VALUE ? 0 : double(input->start_time) / AV_TIME_BASE;
    constexpr double same = sameFrameTime;
    Packet packet(av_packet_alloc());
    std::vector<FramesAround> out;
    out.reserve(times.size());
    for (const double t : times) {
        FramesAround around;
        // Nothing is decoded, so any packet will do to read from, as long as it comes before
        // every frame near t: a second back covers the reordering of frames, and a seek that
        // lands only roughly (a stream without an index). Further back while the two frames
        // before t are not found.
        for (double back = 1; back < 1e5; back *= 8) {
            around = {};
            const int64_t target = int64_t(std::floor((t - back + origin) / unit));
            // Before the first key frame (the time lies near the start): from the start.
            if (av_seek_frame(input.get(), *index, target, AVSEEK_FLAG_BACKWARD) < 0
                && avformat_seek_file(input.get(), *index, INT64_MIN, target, INT64_MAX, 0) < 0)
                break;
            while (av_read_frame(input.get(), packet.get()) >= 0) {
                const bool video = packet->stream_index == *index;
                const int64_t pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
                const int64_t dts = packet->dts;
                av_packet_unref(packet.get());
                if (!video || pts == AV_NOPTS_VALUE)
                    continue;
                const double at = double(pts) * unit - origin;
                if (at < t - same) {
                    if (!around.last || at > *around.last) {
                        around.earlier = around.last;
                        around.last = at;
                    } else if (at < *around.last && (!around.earlier || at > *around.earlier)) {
                        around.earlier = at;
                    }
                } else if (!around.next || at < *around.next) {
                    around.next = at;
                }
                // Packets come in decoding order, and none is shown before it is decoded: once
                // one decodes after the first frame found from t on, no later one is nearer.
                const double decoded = dts == AV_NOPTS_VALUE ? at : double(dts) * unit - origin;
                if ((around.next && decoded > *around.next + same) || decoded > t + 60)
                    break;
            }
            if (around.earlier || t - back <= 0)
                break;
        }
        out.push_back(around);
    }
    return out;
}

QImage stillNow(const QString& path, double seconds, QSize box)
{
    const Input input = openInput(path);
    const auto index = firstVideo(input.get());
    if (!index)
        throw Fail(QFileInfo(path).fileName() + QStringLiteral(" has no video in it."));
    AVStream* stream = input->streams[*index];
    const Decoder decoder = openDecoder(stream, path, FF_THREAD_SLICE);

    seconds = std::max(0.0, seconds);
    const int64_t target = int64_t(seconds / av_q2d(stream->time_base));
    const int64_t startTime = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
    av_seek_frame(input.get(), *index, startTime + target, AVSEEK_FLAG_BACKWARD);

    Packet packet(av_packet_alloc());
    Frame frame(av_frame_alloc());
    Frame kept;
    auto take = [&](bool flushing) {
        while (avcodec_receive_frame(decoder.get(), frame.get()) == 0) {
            const int64_t pts = frame->best_effort_timestamp;
            kept.reset(av_frame_clone(frame.get()));
            av_frame_unref(frame.get());
            if (pts == AV_NOPTS_VALUE || pts >= startTime + target)
                return true;
        }
        return flushing && kept;
    };
    bool found = false;
    while (!found && av_read_frame(input.get(), packet.get()) >= 0) {
        if (packet->stream_index == *index && avcodec_send_packet(decoder.get(), packet.get()) >= 0)
            found = take(false);
        av_packet_unref(packet.get());
    }
    if (!found) {
        avcodec_send_packet(decoder.get(), nullptr);
        found = take(true);
    }
    if (!kept || kept->width <= 0 || kept->height <= 0)
        throw Fail(QStringLiteral("No picture could be read from %1 at that time.").arg(QFileInfo(path).fileName()));

    return picture(kept.get(), clockwiseRotation(stream), box, path);
}

namespace {
// Runs `f` on a worker thread; its Fail comes back as a Fail in the awaiting task.
template <class F>
auto offThread(F f) -> QCoro::Task<decltype(f())>
{
    using T = decltype(f());
    struct Outcome {
        std::optional<T> value;
        QString failure;
    };
    // Every lambda is named before it is awaited: GCC 12 destroys a lambda temporary made
    // inside a co_await expression twice, which freed the captured path twice.
    auto guarded = [f]() {
        Outcome o;
        try {
            o.value = f();
        } catch (const Fail& fail) {
            o.failure = fail.errorDescription;
        } catch (const std::exception& e) {
            o.failure = QString::fromUtf8(e.what());
        }
        return o;
    };
    auto future = QtConcurrent::run(std::move(guarded));
    Outcome outcome = co_await future;
    if (!outcome.value)
        throw Fail(outcome.failure);
    co_return std::move(*outcome.value);
}
} // namespace

QCoro::Task<MediaInfo> probe(QString path)
{
    auto work = [path] { return probeNow(path); };
    co_return co_await offThread(std::move(work));
}

QCoro::Task<std::vector<FramesAround>> framesAround(QString path, std::vector<double> times)
{
    auto work = [path, times] { return framesAroundNow(path, times); };
    co_return co_await offThread(std::move(work));
}

QCoro::Task<QImage> still(QString path, double seconds, QSize box)
{
    auto work = [=] { return stillNow(path, seconds, box); };
    co_return co_await offThread(std::move(work));
}

} // namespace Media
