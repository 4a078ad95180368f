#include "platform/media/Media.h"

#include "core/project/Fail.h"
#include "core/project/Records.h"
#include "platform/Pieces.h"
#include "platform/media/Av.h"
#include "platform/media/Reader.h"
#include "platform/media/RecordingTime.h"

#include <QCoro/QCoroFuture>
#include <QFileInfo>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <utility>

#ifdef __GLIBC__
#include <malloc.h>
#endif

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace Media::av {

Fail unreadable(const QString& path)
{
    return Fail(QFileInfo(path).fileName() + QStringLiteral(" could not be read as a recording."));
}

Input openInput(const QString& path, const AVIOInterruptCB* interrupt)
{
    // What the libraries say of a recording as they read it (a damaged packet, a picture
    // whose reference is missing) is for developers: the program says what the user needs
    // in its own words, and a command-line job keeps standard error clear.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
    AVFormatContext* raw = avformat_alloc_context();
    if (!raw)
        throw unreadable(path);
    if (interrupt)
        raw->interrupt_callback = *interrupt;
    // A recording joined from pieces is read as they join (see Pieces): with the concat
    // demuxer, from a list of its pieces.
    const auto joined = Pieces::joinedUrl(path);
    const QByteArray name = joined.value_or(QFile::encodeName(path));
    AVDictionary* options = nullptr;
    if (joined)
        av_dict_set(&options, "safe", "0", 0);
    const int opened = avformat_open_input(&raw, name.constData(), joined ? av_find_input_format("concat") : nullptr,
                                           &options);
    av_dict_free(&options);
    if (opened < 0)
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

std::optional<int> firstAudio(const AVFormatContext* input)
{
    for (unsigned i = 0; i < input->nb_streams; ++i)
        if (input->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            return int(i);
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

QSize uprightSize(QSize stored, double rotation, QSize box)
{
    const bool turned = rotation == 90 || rotation == 270;
    const double uw = turned ? stored.height() : stored.width(), uh = turned ? stored.width() : stored.height();
    const double scale = box.isEmpty() ? 1.0 : std::min({1.0, box.width() / uw, box.height() / uh});
    return {std::max(1, int(std::lround(uw * scale))), std::max(1, int(std::lround(uh * scale)))};
}

Scaler::~Scaler()
{
    sws_freeContext(context);
}

namespace {

// The colours of `frame` as its stream states them, for the scaler: the matrix and whether
// it uses the full range of values.
std::pair<int, int> colours(const AVFrame* frame)
{
    int space = SWS_CS_ITU601;
    switch (frame->colorspace) {
    case AVCOL_SPC_BT709:
        space = SWS_CS_ITU709;
        break;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL:
        space = SWS_CS_BT2020;
        break;
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M:
        space = SWS_CS_ITU601;
        break;
    default: // unstated: as players guess it, by the picture's size
        space = frame->height >= 720 ? SWS_CS_ITU709 : SWS_CS_ITU601;
    }
    const bool full = frame->color_range == AVCOL_RANGE_JPEG || frame->format == AV_PIX_FMT_YUVJ420P
                      || frame->format == AV_PIX_FMT_YUVJ422P || frame->format == AV_PIX_FMT_YUVJ444P;
    return {space, full ? 1 : 0};
}

} // namespace

bool drawUpright(const AVFrame* frame, double rotation, QSize size, Scaler& scaler, uchar* out, qsizetype stride)
{
    if (frame->width <= 0 || frame->height <= 0 || size.isEmpty())
        return false;
    const bool turned = rotation == 90 || rotation == 270;
    const QSize stored = turned ? size.transposed() : size;
    SwsContext* before = scaler.context;
    const bool reduced = stored.width() * 2 <= frame->width || stored.height() * 2 <= frame->height;
    scaler.context = sws_getCachedContext(scaler.context, frame->width, frame->height, AVPixelFormat(frame->format),
                                          stored.width(), stored.height(), AV_PIX_FMT_RGB32,
                                          scaler.quick && reduced ? SWS_FAST_BILINEAR : SWS_BILINEAR, nullptr, nullptr,
                                          nullptr);
    if (!scaler.context)
        return false;
    const auto [space, range] = colours(frame);
    if (scaler.context != before || space != scaler.space || range != scaler.range) {
        int *inverse = nullptr, *table = nullptr;
        int sourceRange = 0, range0 = 0, brightness = 0, contrast = 0, saturation = 0;
        if (sws_getColorspaceDetails(scaler.context, &inverse, &sourceRange, &table, &range0, &brightness, &contrast,
                                     &saturation) >= 0)
            sws_setColorspaceDetails(scaler.context, sws_getCoefficients(space), range, table, 1, brightness, contrast,
                                     saturation);
        scaler.space = space;
        scaler.range = range;
    }
    if (rotation == 0) {
        uint8_t* planes[4] = {out, nullptr, nullptr, nullptr};
        int strides[4] = {int(stride), 0, 0, 0};
        sws_scale(scaler.context, frame->data, frame->linesize, 0, frame->height, planes, strides);
        return true;
    }
    QImage scaled(stored, QImage::Format_RGB32);
    uint8_t* planes[4] = {scaled.bits(), nullptr, nullptr, nullptr};
    int strides[4] = {int(scaled.bytesPerLine()), 0, 0, 0};
    sws_scale(scaler.context, frame->data, frame->linesize, 0, frame->height, planes, strides);
    const QImage upright = scaled.transformed(QTransform().rotate(rotation));
    if (upright.size() != size)
        return false;
    for (int row = 0; row < size.height(); ++row)
        std::memcpy(out + stride * row, upright.constScanLine(row), std::size_t(size.width()) * 4);
    return true;
}

QImage picture(const AVFrame* frame, double rotation, QSize box, const QString& path)
{
    if (frame->width <= 0 || frame->height <= 0)
        throw unreadable(path);
    const QSize size = uprightSize(QSize(frame->width, frame->height), rotation, box);
    QImage image(size, QImage::Format_RGB32);
    Scaler scaler;
    if (image.isNull() || !drawUpright(frame, rotation, size, scaler, image.bits(), image.bytesPerLine()))
        throw unreadable(path);
    return image;
}

} // namespace Media::av

std::optional<double> StretchFrames::shown() const
{
    return start.last ? start.last : start.next;
}

std::optional<double> StretchFrames::firstKept() const
{
    const auto at = shown();
    if (!at)
        return std::nullopt;
    const auto before = start.last ? start.earlier : std::nullopt;
    return before ? (*before + *at) / 2 : *at - 0.005;
}

std::optional<double> StretchFrames::keptUntil() const
{
    if (end.last && end.next)
        return (*end.last + *end.next) / 2;
    return std::nullopt;
}

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

namespace av {

namespace {

// The latest packets in the last few megabytes of the file, where the demuxer can read from
// a place in the file (MPEG-TS, Matroska, FLV): of `stream`, and of any stream. Reads from
// the file's start again after.
struct Tail {
    std::optional<double> picture, any;
};
Tail tail(AVFormatContext* input, AVStream* stream)
{
    Tail found;
    const int64_t size = input->pb ? avio_size(input->pb) : -1;
    if (size <= 0 || (input->iformat->flags & AVFMT_NO_BYTE_SEEK)
        || av_seek_frame(input, -1, std::max<int64_t>(0, size - (int64_t(4) << 20)), AVSEEK_FLAG_BYTE) < 0)
        return found;
    Packet packet(av_packet_alloc());
    while (av_read_frame(input, packet.get()) >= 0) {
        const int64_t pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        if (pts != AV_NOPTS_VALUE && packet->stream_index >= 0 && packet->stream_index < int(input->nb_streams)) {
            const double at = RecordingTime::of(pts, input, input->streams[packet->stream_index]);
            found.any = std::max(found.any.value_or(0.0), at);
            if (packet->stream_index == stream->index)
                found.picture = std::max(found.picture.value_or(0.0), at);
        }
        av_packet_unref(packet.get());
    }
    avformat_seek_file(input, -1, INT64_MIN, 0, INT64_MAX, 0);
    return found;
}

} // namespace

double statedLength(const AVFormatContext* input)
{
    // To the latest end its streams state, else as its container states it. Matroska states
    // where its segment ends, and a segment starts at 0 however late its first stamp lies (a
    // recording cut from a longer one).
    double length = 0;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVStream* s = input->streams[i];
        const auto type = s->codecpar->codec_type;
        if ((type == AVMEDIA_TYPE_AUDIO || type == AVMEDIA_TYPE_VIDEO) && !(s->disposition & AV_DISPOSITION_ATTACHED_PIC)
            && s->start_time != AV_NOPTS_VALUE && s->duration != AV_NOPTS_VALUE && s->duration > 0)
            length = std::max(length, RecordingTime::of(s->start_time + s->duration, input, s));
    }
    if (length <= 0 && input->duration != AV_NOPTS_VALUE && input->duration > 0) {
        length = double(input->duration) / AV_TIME_BASE;
        if (std::strstr(input->iformat->name, "matroska") && input->start_time != AV_NOPTS_VALUE && input->start_time > 0)
            length = std::max(0.0, length - double(input->start_time) / AV_TIME_BASE);
    }
    return length;
}

std::optional<double> dataEnd(AVFormatContext* input, AVStream* stream)
{
    const int64_t size = input->pb ? avio_size(input->pb) : -1;
    if (size <= 0)
        return std::nullopt;
    const double length = statedLength(input);
    int n = avformat_index_get_entries_count(stream);
    const auto within = [size](const AVIndexEntry* e) { return e && e->pos + std::max(0, e->size) <= size; };
    // An index read from the file's header reaches its stated length; one that the demuxer
    // builds as it reads (Matroska without cues) holds only what was read so far.
    const AVIndexEntry* lastEntry = n > 0 ? avformat_index_get_entry(stream, n - 1) : nullptr;
    if (lastEntry && RecordingTime::of(lastEntry->timestamp, input, stream) >= length - 2.0) {
        if (within(avformat_index_get_entry(stream, n - 1)))
            return std::nullopt;
        while (n > 0 && !within(avformat_index_get_entry(stream, n - 1)))
            --n;
        return n == 0 ? 0.0
                      : std::max(0.0, RecordingTime::of(avformat_index_get_entry(stream, n - 1)->timestamp, input, stream));
    }
    // Else the pictures in the last few megabytes. A picture that ends before the sound is
    // no file cut short: every stream stops early.
    if (length <= 0)
        return std::nullopt;
    const Tail end = tail(input, stream);
    return end.picture && end.any && *end.any < length - 2.0 ? end.picture : std::nullopt;
}

std::optional<double> lastPicture(AVFormatContext* input, AVStream* stream)
{
    if (const auto stop = dataEnd(input, stream))
        return stop;
    return tail(input, stream).picture;
}

} // namespace av

MediaInfo probeNow(const QString& path)
{
    const Input input = openInput(path);
    MediaInfo info;
    info.path = path;
    info.duration = statedLength(input.get());
    info.videoStream = firstVideo(input.get());
    info.audioStream = firstAudio(input.get());
    if (info.videoStream) {
        AVStream* v = input->streams[*info.videoStream];
        info.naturalSize = QSize(v->codecpar->width, v->codecpar->height);
        info.rotation = clockwiseRotation(v);
        info.transform = transformFor(info.rotation, info.naturalSize);
        const AVRational rate = v->avg_frame_rate.num > 0 && v->avg_frame_rate.den > 0 ? v->avg_frame_rate : v->r_frame_rate;
        if (rate.num > 0 && rate.den > 0)
            info.frameRate = av_q2d(rate);
        if (v->start_time != AV_NOPTS_VALUE)
            info.firstPicture = std::max(0.0, RecordingTime::of(v->start_time, input.get(), v));
        info.dataEnd = dataEnd(input.get(), v);
    }
    return info;
}

namespace {

// A recording's video packets, read in recording time (nothing is decoded).
class Packets {
public:
    explicit Packets(const QString& path) : input_(openInput(path))
    {
        const auto index = firstVideo(input_.get());
        if (!index)
            throw Fail(QFileInfo(path).fileName() + QStringLiteral(" has no video in it."));
        index_ = *index;
        stream_ = input_->streams[index_];
        packet_.reset(av_packet_alloc());
        // ffmpeg's -ss seeks a little earlier where frames are reordered and the demuxer
        // seeks by decoding times.
        if (!(input_->iformat->flags & AVFMT_SEEK_TO_PTS))
            for (unsigned i = 0; i < input_->nb_streams; ++i)
                early_ = early_ || input_->streams[i]->codecpar->video_delay > 0;
    }

    // The frames next to `limit`.
    FramesAround around(double limit)
    {
        FramesAround around;
        // Nothing is decoded, so any packet will do to read from, as long as it comes before
        // every frame near the limit: a second back covers the reordering of frames, and a
        // seek that lands only roughly (a stream without an index). Further back while the
        // two frames before it are not found.
        for (double back = 1; back < 1e5; back *= 8) {
            around = {};
            if (!seekBefore(limit - back))
                break;
            while (const auto p = next()) {
                if (p->at < limit) {
                    if (!around.last || p->at > *around.last) {
                        around.earlier = around.last;
                        around.last = p->at;
                    } else if (p->at < *around.last && (!around.earlier || p->at > *around.earlier)) {
                        around.earlier = p->at;
                    }
                } else if (!around.next || p->at < *around.next) {
                    around.next = p->at;
                }
                // Packets come in decoding order, and none is shown before it is decoded: once
                // one decodes after the first frame found from the limit on, no later one is nearer.
                if ((around.next && p->decoded > *around.next + sameFrameTime) || p->decoded > limit + 60)
                    break;
            }
            if (around.earlier || limit - back <= 0)
                break;
        }
        return around;
    }

    // The frames that start from `first` on and before `until`; the packets are read until
    // one decodes after `after` (to the end without it).
    int count(double first, double until, std::optional<double> after)
    {
        std::set<double> frames;
        if (seekBefore(first - 1)) {
            while (const auto p = next()) {
                if (p->at >= first && p->at < until)
                    frames.insert(p->at);
                if ((after && p->decoded > *after + sameFrameTime) || p->decoded > until + 60)
                    break;
            }
        }
        return int(frames.size());
    }

    // A time to seek to, as ffmpeg's -ss seeks, not after `preferred`, after which the first
    // key frame read starts at or before `shown`: decoding from there has every frame from
    // `shown` on. The latest such, so that little is decoded in vain. 0 is the file's start,
    // read without a seek (the export gives ffmpeg no -ss there).
    double seekTo(double shown, double preferred)
    {
        const auto works = [&](double t) {
            if (t <= 0)
                return true;
            const auto key = firstKeyAfterSeek(t);
            return key && *key <= shown + sameFrameTime;
        };
        preferred = std::max(0.0, std::floor(preferred * 1e6) / 1e6); // ffmpeg reads whole microseconds
        if (works(preferred))
            return preferred;
        double found = 0;
        for (double back = 1;; back *= 2) {
            const double t = std::max(0.0, std::floor((shown - back) * 1e6) / 1e6);
            if (t < preferred && works(t)) {
                found = t;
                break;
            }
            if (t <= 0)
                return 0;
        }
        // The latest key frame at or before the frame shown, found from there: a seek to its
        // own time (or its decoding time) is nearer, where the demuxer lands before it.
        std::optional<Read> key;
        if (seekAsFfmpeg(found)) {
            while (const auto p = next()) {
                if (p->decoded > shown + sameFrameTime)
                    break;
                if (p->key && p->at <= shown + sameFrameTime && (!key || p->at > key->at))
                    key = p;
            }
        }
        if (key) {
            for (double t : {key->at, key->decoded}) {
                t = std::min(preferred, std::floor(t * 1e6) / 1e6);
                if (t > found && works(t))
                    return t;
            }
        }
        return found;
    }

    // Where the file's data stops: the latest end of a packet of any stream, read from the
    // key frame before `from` to the end of the file, or until a packet ends past `enough`
    // (a picture whose length is not stored lasts a frame). None where nothing can be read there.
    std::optional<double> dataStop(double from, double enough = HUGE_VAL)
    {
        if (!seekBefore(from))
            return std::nullopt;
        std::optional<double> stop;
        while (stop.value_or(-HUGE_VAL) <= enough && av_read_frame(input_.get(), packet_.get()) >= 0) {
            const int index = packet_->stream_index;
            const int64_t stamp = packet_->pts != AV_NOPTS_VALUE ? packet_->pts : packet_->dts;
            if (stamp != AV_NOPTS_VALUE && index >= 0 && index < int(input_->nb_streams)) {
                const int64_t length = std::max<int64_t>(0, packet_->duration);
                double end = RecordingTime::of(stamp + length, input_.get(), input_->streams[index]);
                if (index == index_ && length == 0)
                    end += frameLength();
                stop = std::max(stop.value_or(end), end);
            }
            av_packet_unref(packet_.get());
        }
        return stop;
    }

    // Whether the video stores only decoding stamps (AVI): its pictures come out of the
    // decoder in showing order, but each stamped with the decoding stamp of a later packet.
    bool decodingStampsOnly() const { return decodedOnly_; }

    // Where ffmpeg's -ss `seekTo` puts time 0 of the picture and of the first sound stream.
    // ffmpeg drops what lies before its time 0: where the sound's would be rounded past
    // `start` by more than a millisecond (MP3 in AVI counts in 24 ms), the seek goes half of
    // the sound's unit before `start`, which is rounded to no later.
    struct Zeros {
        double seekTo, picture, sound;
    };
    Zeros zeros(double seekTo, double start) const
    {
        const auto audio = firstAudio(input_.get());
        const AVStream* sound = audio ? input_->streams[*audio] : nullptr;
        const auto soundZero = [&] { return sound ? RecordingTime::ffmpegZero(seekTo, input_.get(), sound) : seekTo; };
        if (sound && seekTo > 0 && soundZero() > start + 0.001)
            seekTo = std::max(0.0, std::floor((start - av_q2d(sound->time_base) / 2) * 1e6) / 1e6);
        return {seekTo, RecordingTime::ffmpegZero(seekTo, input_.get(), stream_), soundZero()};
    }

    // How long a picture lasts at the video's rate; a thirtieth of a second when unknown.
    double frameLength() const
    {
        const AVRational rate = stream_->avg_frame_rate.num > 0 ? stream_->avg_frame_rate : stream_->r_frame_rate;
        return rate.num > 0 && rate.den > 0 ? 1 / av_q2d(rate) : 1 / 30.0;
    }

    // How long the decoder holds pictures back for reordering.
    double reorderDelay() const
    {
        const AVRational rate = stream_->avg_frame_rate.num > 0 ? stream_->avg_frame_rate : stream_->r_frame_rate;
        return rate.num > 0 && rate.den > 0 ? stream_->codecpar->video_delay / av_q2d(rate) : 0;
    }

    // Where the decoder of a run of ffmpeg with -ss `t` starts: the first key frame read.
    std::optional<double> firstKeyAfterSeek(double t)
    {
        if (!seekAsFfmpeg(t))
            return std::nullopt;
        while (const auto p = next()) {
            if (p->key)
                return p->at;
            if (p->decoded > t + 120)
                break;
        }
        return std::nullopt;
    }

private:
    struct Read {
        double at;      // when it is shown
        double decoded; // when it is decoded (its dts)
        bool key;
    };

    double time(int64_t stamp) const { return RecordingTime::of(stamp, input_.get(), stream_); }

    // The next video packet; none at the end.
    std::optional<Read> next()
    {
        while (av_read_frame(input_.get(), packet_.get()) >= 0) {
            const bool video = packet_->stream_index == index_;
            const int64_t pts = packet_->pts != AV_NOPTS_VALUE ? packet_->pts : packet_->dts;
            const int64_t dts = packet_->dts;
            const bool key = packet_->flags & AV_PKT_FLAG_KEY;
            const bool shownUnknown = packet_->pts == AV_NOPTS_VALUE;
            av_packet_unref(packet_.get());
            if (!video || pts == AV_NOPTS_VALUE)
                continue;
            decodedOnly_ = decodedOnly_ || shownUnknown;
            const double at = time(pts);
            return Read{at, dts == AV_NOPTS_VALUE ? at : time(dts), key};
        }
        return std::nullopt;
    }

    // To a key frame at or before `t`, or the start; false when the file cannot seek.
    bool seekBefore(double t)
    {
        const int64_t target = int64_t(std::floor(double(RecordingTime::stamp(t, input_.get(), stream_))));
        // Before the first key frame (the time lies near the start): from the start.
        return av_seek_frame(input_.get(), index_, target, AVSEEK_FLAG_BACKWARD) >= 0
               || avformat_seek_file(input_.get(), index_, INT64_MIN, target, INT64_MAX, 0) >= 0;
    }

    // As ffmpeg's -ss seeks to recording time `t`; false when it cannot.
    bool seekAsFfmpeg(double t)
    {
        int64_t at = RecordingTime::fileStamp(t, input_.get());
        if (early_)
            at -= 3 * AV_TIME_BASE / 23;
        return avformat_seek_file(input_.get(), -1, INT64_MIN, at, at, 0) >= 0;
    }

    Input input_;
    int index_ = 0;
    AVStream* stream_ = nullptr;
    Packet packet_;
    bool early_ = false;       // ffmpeg's -ss seeks a little before the time asked
    bool decodedOnly_ = false; // packets without showing stamps were read
};

} // namespace

std::vector<FramesAround> framesAroundNow(const QString& path, const std::vector<double>& times)
{
    Packets packets(path);
    std::vector<FramesAround> out;
    out.reserve(times.size());
    for (const double t : times)
        out.push_back(packets.around(t - sameFrameTime));
    return out;
}

std::vector<StretchFrames> stretchesNow(const QString& path, const std::vector<Span>& stretches)
{
    Packets packets(path);
    std::vector<StretchFrames> out;
    out.reserve(stretches.size());
    const double frame = packets.frameLength();
    for (const Span& s : stretches) {
        StretchFrames f;
        f.start = packets.around(showingLimit(s.start));
        f.end = packets.around(endingLimit(s.end));
        // No picture follows the stretch: the file's pictures stop within it, or before it. A
        // recording whose picture ends before its sound has its last picture shown a moment
        // longer over a stretch that ends within the sound (as at a recording's very end), but
        // not for a second; where no stream's data reaches the stretch's end (a file cut off),
        // a tenth of a second is all that the rounding of its last stamps may hold.
        if (!f.end.next && f.end.last) {
            if (*f.end.last < s.end - std::max(1.0, 2 * frame))
                f.picturesStop = *f.end.last;
            else if (const auto stop = packets.dataStop(*f.end.last - 1); stop && s.end > *stop + 0.1)
                f.picturesStop = *f.end.last;
        }
        f.seekTo = s.start;
        if (const auto shown = f.shown()) {
            f.frames = packets.count(*shown, endingLimit(s.end), f.end.next);
            // ffmpeg keeps the frames from its seek point on.
            f.seekTo = packets.seekTo(*shown, std::min(*f.firstKept(), s.start));
        }
        const Packets::Zeros zeros = packets.zeros(std::clamp(f.seekTo, 0.0, s.start), s.start);
        f.seekTo = zeros.seekTo;
        f.pictureZero = zeros.picture;
        f.soundZero = zeros.sound;
        out.push_back(f);
    }
    if (packets.decodingStampsOnly()) {
        for (StretchFrames& f : out)
            f.decodedLate = packets.reorderDelay();
    }
    return out;
}

Held heldNow(const QString& path)
{
    const Input input = openInput(path);
    const auto video = firstVideo(input.get());
    const int audio = av_find_best_stream(input.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    Packet packet(av_packet_alloc());
    Held held;
    int64_t sound = 0; // in the sound stream's time base
    while (av_read_frame(input.get(), packet.get()) >= 0) {
        if (video && packet->stream_index == *video)
            ++held.pictures;
        else if (packet->stream_index == audio && packet->duration > 0)
            sound += packet->duration;
        av_packet_unref(packet.get());
    }
    if (audio >= 0)
        held.sound = double(sound) * av_q2d(input->streams[audio]->time_base);
    return held;
}

QString endsEarly(const QString& path, double seconds)
{
    return QFileInfo(path).fileName() + QStringLiteral(" ends early: it holds pictures up to ") + clock(seconds)
           + QStringLiteral(" only.");
}

namespace {

// The frame scaled to cover `box` once upright, then cut to the box around its middle.
QImage covering(const AVFrame* frame, double rotation, QSize box, const QString& path)
{
    const QSize upright = uprightSize(QSize(frame->width, frame->height), rotation, {});
    const double scale = box.isEmpty() ? 1.0
                                       : std::min(1.0, std::max(double(box.width()) / upright.width(),
                                                                double(box.height()) / upright.height()));
    // The side that meets the box meets it exactly, whatever the rounding.
    const QSize size = scale < 1 ? QSize(std::max(box.width(), int(std::lround(upright.width() * scale))),
                                         std::max(box.height(), int(std::lround(upright.height() * scale))))
                                 : upright;
    QImage image(size, QImage::Format_RGB32);
    Scaler scaler;
    if (image.isNull() || !drawUpright(frame, rotation, size, scaler, image.bits(), image.bytesPerLine()))
        throw unreadable(path);
    const QSize cut = box.isEmpty() ? size : size.boundedTo(box);
    if (cut == size)
        return image;
    return image.copy((size.width() - cut.width()) / 2, (size.height() - cut.height()) / 2, cut.width(), cut.height());
}

// A still of a large recording passes through the decoder's full-size pictures (some 90 MB
// for one of 2160p). Freed on a worker thread, they stay with that thread's heap, out of
// everybody else's reach, for as long as the program runs: each recent on the start screen
// would hold that much. What lies free between blocks still in use is handed back as soon
// as the decoder is gone; what lies free at the heap's end goes back as it is freed (see
// `pinHeapThresholds`).
struct GiveBackFreedMemory {
    GiveBackFreedMemory() = default;
    GiveBackFreedMemory(const GiveBackFreedMemory&) = delete;
    GiveBackFreedMemory& operator=(const GiveBackFreedMemory&) = delete;
    ~GiveBackFreedMemory()
    {
#ifdef __GLIBC__
        malloc_trim(0);
#endif
    }
};


} // namespace

void pinHeapThresholds()
{
#ifdef __GLIBC__
    // The C library adapts its thresholds to what the program frees: once a block larger than
    // the size from which blocks are mapped on their own is freed (a 2160p picture's plane, a
    // HiDPI window's backing store), blocks up to that size come from the threads' heaps, and
    // a heap lets up to twice that lie free at its end before it gives any of it back. Below
    // that, a worker's heap keeps its free end for good (`malloc_trim` leaves it too): each
    // still of a 2160p recording made on another thread of the pool kept some 16 MB. Fixed
    // thresholds end the adapting: a block of 4 MB or more (a large picture's plane) is mapped
    // on its own and goes back as it is freed, and a heap gives back what lies free at its
    // end beyond 128 kB, as the library does before it adapts. Smaller blocks (the player's
    // pictures at the size shown, packets) still come from the heaps. A user who tuned the
    // library's heap keeps what they set.
    if (const char* tunables = std::getenv("GLIBC_TUNABLES"); tunables && std::strstr(tunables, "glibc.malloc."))
        return;
    mallopt(M_MMAP_THRESHOLD, 4 << 20);
    mallopt(M_TRIM_THRESHOLD, 128 << 10);
#endif
}

QImage stillNow(const QString& path, double seconds, QSize box, Fit fit)
{
    const GiveBackFreedMemory afterwards; // also when no picture came
    Reader reader(path, Reader::Use::still);
    if (!reader.hasPictures())
        throw Fail(QFileInfo(path).fileName() + QStringLiteral(" has no video in it."));
    // The picture the player shows at `seconds`: the last that starts before its showing
    // limit; past the file's last picture that one, before its first the first.
    const auto found = reader.seek(showingLimit(std::max(0.0, seconds)), seconds);
    if (!found.picture || found.picture->frame->width <= 0 || found.picture->frame->height <= 0)
        throw Fail(QStringLiteral("No picture could be read from %1 at that time.").arg(QFileInfo(path).fileName()));
    const AVFrame* frame = found.picture->frame.get();
    return fit == Fit::cover ? covering(frame, reader.rotation(), box, path)
                             : picture(frame, reader.rotation(), box, path);
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

QCoro::Task<std::vector<StretchFrames>> stretches(QString path, std::vector<Span> stretches)
{
    auto work = [path, stretches] { return stretchesNow(path, stretches); };
    co_return co_await offThread(std::move(work));
}

QCoro::Task<Held> held(QString path)
{
    auto work = [path] { return heldNow(path); };
    co_return co_await offThread(std::move(work));
}

QCoro::Task<QImage> still(QString path, double seconds, QSize box, Fit fit)
{
    auto work = [=] { return stillNow(path, seconds, box, fit); };
    co_return co_await offThread(std::move(work));
}

} // namespace Media
