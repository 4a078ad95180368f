#include "support/Clips.h"

#include <QFile>
#include <algorithm>
#include <QProcess>
#include <cmath>
#include <cstring>
#include <deque>
#include <memory>

extern "C" {
#include <libavformat/avformat.h>
}

namespace Clips {

bool ffmpeg(const QStringList& arguments)
{
    QProcess process;
    process.setProgram(QStringLiteral("ffmpeg"));
    process.setArguments(QStringList{"-nostdin", "-v", "error", "-y"} + arguments);
    process.start();
    return process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QString video(const QString& path, double seconds, bool withAudio)
{
    const QString length = QString::number(seconds);
    QStringList args{"-f", "lavfi", "-i", "testsrc=size=320x180:rate=10:duration=" + length};
    if (withAudio)
        args << QStringList{"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=16000:duration=" + length};
    args << QStringList{"-c:v", "mpeg4", "-q:v", "5"};
    if (withAudio)
        args << QStringList{"-c:a", "aac", "-shortest"};
    args << path;
    return ffmpeg(args) ? path : QString();
}

QString rotatedVideo(const QString& path, double seconds, int degrees)
{
    const QString plain = path + QStringLiteral(".plain.mp4");
    if (video(plain, seconds, false).isEmpty())
        return {};
    const bool ok = ffmpeg({"-i", plain, "-c", "copy", "-metadata:s:v:0", "rotate=" + QString::number(degrees), path});
    QFile::remove(plain);
    return ok ? path : QString();
}

QString audioOnly(const QString& path, double seconds)
{
    return ffmpeg({"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=16000:duration=" + QString::number(seconds),
                   "-c:a", "aac", path})
        ? path
        : QString();
}

QString numbered(const QString& path, double seconds, int fps, int keyEvery)
{
    return numbered(path, seconds, Numbering{QString::number(fps), keyEvery});
}

QString numbered(const QString& path, double seconds, const Numbering& how)
{
    const QString length = QString::number(seconds);
    const QString sound = how.clicks
        ? QStringLiteral("aevalsrc='0.8*sin(2*PI*3000*t)*lt(mod(t+0.00001,0.1),0.002)':s=48000:d=") + length
        : how.noise ? QStringLiteral("anoisesrc=color=white:amplitude=0.5:seed=7:sample_rate=48000:duration=") + length
                    : QStringLiteral("sine=frequency=440:sample_rate=48000:duration=") + length;
    const QString bars = QStringLiteral("geq=lum='if(mod(trunc(N/pow(2,trunc(X*%1/W))),2),235,16)':cb=128:cr=128")
                             .arg(how.bits);
    QStringList args{"-f", "lavfi", "-i", QStringLiteral("color=c=black:s=320x180:r=%1:d=%2").arg(how.rate, length),
                     "-f", "lavfi", "-i", sound, "-vf", bars, "-c:v", "libx264", "-crf", "12", "-g",
                     QString::number(how.keyEvery), "-keyint_min", QString::number(how.keyEvery), "-sc_threshold", "0"};
    if (how.openGop)
        args << "-x264-params" << "open-gop=1:bframes=7:b-adapt=0:b-pyramid=none";
    args << QStringList{"-pix_fmt", "yuv420p", "-c:a", "aac", "-ac", "2", "-shortest", path};
    return ffmpeg(args) ? path : QString();
}

QString inContainer(const QString& from, const QString& to, int keyEvery)
{
    const QString suffix = to.section(u'.', -1).toLower();
    QStringList args{"-i", from};
    if (suffix == "webm")
        args << QStringList{"-c:v", "libvpx-vp9", "-crf", "10", "-b:v", "0", "-deadline", "realtime", "-cpu-used", "8",
                            "-g", QString::number(keyEvery), "-c:a", "libopus"};
    else
        args << "-c" << "copy";
    if (suffix == "mts")
        args << "-f" << "mpegts";
    return ffmpeg(args << to) ? to : QString();
}

QString soundStoredLate(const QString& from, const QString& to, double seconds)
{
    struct Close {
        void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
    };
    struct Free {
        void operator()(AVFormatContext* c) const
        {
            if (c->pb)
                avio_closep(&c->pb);
            avformat_free_context(c);
        }
    };
    struct PacketFree {
        void operator()(AVPacket* p) const { av_packet_free(&p); }
    };
    AVFormatContext* opened = nullptr;
    if (avformat_open_input(&opened, from.toUtf8().constData(), nullptr, nullptr) < 0)
        return {};
    std::unique_ptr<AVFormatContext, Close> in(opened);
    if (avformat_find_stream_info(in.get(), nullptr) < 0)
        return {};
    AVFormatContext* made = nullptr;
    if (avformat_alloc_output_context2(&made, nullptr, nullptr, to.toUtf8().constData()) < 0)
        return {};
    std::unique_ptr<AVFormatContext, Free> out(made);
    for (unsigned i = 0; i < in->nb_streams; ++i) {
        AVStream* stream = avformat_new_stream(out.get(), nullptr);
        if (!stream || avcodec_parameters_copy(stream->codecpar, in->streams[i]->codecpar) < 0)
            return {};
        // (Uncoded pictures keep theirs: it names their pixel format.)
        if (stream->codecpar->codec_id != AV_CODEC_ID_RAWVIDEO)
            stream->codecpar->codec_tag = 0;
        stream->time_base = in->streams[i]->time_base;
    }
    if (avio_open(&out->pb, to.toUtf8().constData(), AVIO_FLAG_WRITE) < 0 || avformat_write_header(out.get(), nullptr) < 0)
        return {};
    // Read whole (a test clip is small), then written in the order wanted.
    std::deque<std::unique_ptr<AVPacket, PacketFree>> pictures, sound;
    for (;;) {
        std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
        if (av_read_frame(in.get(), packet.get()) < 0)
            break;
        const bool audio = in->streams[packet->stream_index]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
        // (The sound's priming, stamped before 0, is left out: the copy starts at 0 as the MP4 does.)
        if (!audio || packet->pts == AV_NOPTS_VALUE || packet->pts >= 0)
            (audio ? sound : pictures).push_back(std::move(packet));
    }
    const auto time = [&](const AVPacket& p) { return double(p.dts) * av_q2d(in->streams[p.stream_index]->time_base); };
    while (!pictures.empty() || !sound.empty()) {
        const bool late = !sound.empty() && (pictures.empty() || time(*pictures.front()) > time(*sound.front()) + seconds);
        auto& queue = late ? sound : pictures;
        AVPacket* packet = queue.front().get();
        av_packet_rescale_ts(packet, in->streams[packet->stream_index]->time_base,
                             out->streams[packet->stream_index]->time_base);
        if (av_write_frame(out.get(), packet) < 0)
            return {};
        queue.pop_front();
    }
    return av_write_trailer(out.get()) < 0 ? QString() : to;
}

int numberOf(const QImage& image, int bits)
{
    if (image.isNull())
        return -1;
    int n = 0;
    for (int bit = 0; bit < bits; ++bit) {
        const int x = (2 * bit + 1) * image.width() / (2 * bits);
        const int grey = qGray(image.pixel(x, image.height() / 2));
        // Between the two levels is neither: a blend of two frames, or no numbered frame.
        if (grey > 80 && grey < 175)
            return -1;
        if (grey >= 175)
            n |= 1 << bit;
    }
    return n;
}

namespace {

QByteArray output(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return {};
    return process.readAllStandardOutput();
}

} // namespace

std::vector<Shown> shownFrames(const QString& path, int bits)
{
    const int w = 320, h = 180;
    const QByteArray times = output("ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                                "frame=best_effort_timestamp_time", "-of", "csv=p=0", path});
    const QByteArray pictures = output("ffmpeg", {"-nostdin", "-v", "error", "-i", path, "-map", "0:v:0", "-fps_mode",
                                                  "passthrough", "-s", "320x180", "-pix_fmt", "gray", "-f", "rawvideo",
                                                  "-"});
    // One line a frame, "0.033333", sometimes with a comma after it and a blank line for side data.
    QList<double> at;
    for (const QByteArray& line : times.split('\n'))
        if (const QByteArray time = line.split(',').value(0).trimmed(); !time.isEmpty())
            at << time.toDouble();
    std::vector<Shown> shown;
    for (qsizetype i = 0; i < at.size() && (i + 1) * w * h <= pictures.size(); ++i) {
        const QImage frame(reinterpret_cast<const uchar*>(pictures.constData() + i * w * h), w, h, w,
                           QImage::Format_Grayscale8);
        shown.push_back({numberOf(frame, bits), at[i]});
    }
    return shown;
}

std::vector<Shown> recordingFrames(const QString& path)
{
    const QByteArray start = output("ffprobe", {"-v", "error", "-show_entries", "format=start_time", "-of", "csv=p=0",
                                                path});
    const QByteArray packets = output("ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                                  "packet=pts_time,dts_time", "-of", "csv=p=0", path});
    const double origin = start.trimmed().toDouble();
    std::vector<double> times;
    for (const QByteArray& line : packets.split('\n')) {
        const QList<QByteArray> fields = line.split(',');
        bool ok = false;
        double t = fields.value(0).trimmed().toDouble(&ok);
        if (!ok)
            t = fields.value(1).trimmed().toDouble(&ok);
        if (ok)
            times.push_back(t - origin);
    }
    std::sort(times.begin(), times.end());
    std::vector<Shown> shown;
    for (std::size_t n = 0; n < times.size(); ++n)
        shown.push_back({int(n), times[n]});
    return shown;
}

std::vector<float> soundOf(const QString& path, int rate)
{
    const QByteArray raw = output("ffmpeg", {"-nostdin", "-v", "error", "-i", path, "-map", "0:a:0?", "-ac", "1", "-ar",
                                             QString::number(rate), "-f", "f32le", "-"});
    std::vector<float> samples(std::size_t(raw.size()) / sizeof(float));
    std::memcpy(samples.data(), raw.constData(), samples.size() * sizeof(float));
    return samples;
}

std::vector<double> clicksIn(const std::vector<float>& sound, int rate)
{
    // A click starts where the sound gets loud with nothing loud in the 20 ms before.
    std::vector<double> clicks;
    const std::size_t gap = std::size_t(rate) / 50;
    std::size_t since = gap;
    for (std::size_t i = 0; i < sound.size(); ++i) {
        const bool loud = std::fabs(sound[i]) > 0.3f;
        if (loud && since >= gap)
            clicks.push_back(double(i) / rate);
        since = loud ? 0 : since + 1;
    }
    return clicks;
}

} // namespace Clips
