#include "platform/media/PlayableCopy.h"

#include "core/project/Fail.h"
#include "platform/PartialFile.h"
#include "platform/media/Av.h"
#include "platform/media/RecordingTime.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <atomic>
#include <optional>
#include <vector>

namespace {

struct OutputFree {
    void operator()(AVFormatContext* c) const
    {
        if (c->pb && !(c->oformat->flags & AVFMT_NOFILE))
            avio_closep(&c->pb);
        avformat_free_context(c);
    }
};

// Room the copy always leaves on its disk: a copy is worth less than a save of the project
// or an export that would fail for want of space.
constexpr qint64 spareBytes = qint64(2) << 30;

bool roomFor(const QString& folder, qint64 bytes)
{
    QStorageInfo disk(folder);
    disk.refresh();
    return disk.isValid() && disk.bytesAvailable() - bytes > spareBytes;
}

// Copies the picture and sound of the recording at `path` unchanged into a Matroska file at
// `copy`, whose seeks the back end makes exactly (the recording is only read). Its stamps
// count from the recording's time 0. False when it could not be made, or `off` was set
// meanwhile; then no copy is left.
bool remux(const QString& path, const QString& copy, const std::shared_ptr<std::atomic_bool>& off,
           const std::shared_ptr<std::atomic<double>>& copied)
{
    using namespace Media::av;
    const QString folder = QFileInfo(copy).absolutePath();
    // A copy is about as large as the recording: made only where it leaves room to spare.
    if (!roomFor(folder, QFileInfo(path).size()))
        return false;
    const auto made = [&] {
        AVIOInterruptCB interrupt{[](void* flag) { return int(static_cast<std::atomic_bool*>(flag)->load()); },
                                  off.get()};
        Input input = openInput(path, &interrupt);
        const QByteArray name = QFile::encodeName(copy);
        AVFormatContext* raw = nullptr;
        if (avformat_alloc_output_context2(&raw, nullptr, "matroska", name.constData()) < 0 || !raw)
            return false;
        std::unique_ptr<AVFormatContext, OutputFree> output(raw);
        std::vector<int> to(input->nb_streams, -1);
        const int audio = av_find_best_stream(input.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
        for (const int i : {firstVideo(input.get()).value_or(-1), audio}) {
            if (i < 0)
                continue;
            AVStream* stream = avformat_new_stream(output.get(), nullptr);
            if (!stream || avcodec_parameters_copy(stream->codecpar, input->streams[i]->codecpar) < 0)
                return false;
            stream->codecpar->codec_tag = 0;
            stream->time_base = input->streams[i]->time_base;
            to[i] = stream->index;
        }
        if (avio_open(&output->pb, name.constData(), AVIO_FLAG_WRITE) < 0
            || avformat_write_header(output.get(), nullptr) < 0)
            return false;
        Packet packet(av_packet_alloc());
        const int64_t size = input->pb ? avio_size(input->pb) : -1;
        for (qint64 n = 1; !off->load() && av_read_frame(input.get(), packet.get()) >= 0; ++n) {
            // Something else may fill the disk meanwhile: the copy gives way.
            if (n % 4096 == 0 && !roomFor(folder, 0))
                return false;
            if (n % 256 == 0 && size > 0)
                copied->store(std::clamp(double(avio_tell(input->pb)) / double(size), 0.0, 1.0));
            const int index = packet->stream_index;
            if (index < 0 || index >= int(to.size()) || to[index] < 0) {
                av_packet_unref(packet.get());
                continue;
            }
            const AVStream* in = input->streams[index];
            const int64_t shift = RecordingTime::origin(input.get(), in);
            if (packet->pts != AV_NOPTS_VALUE)
                packet->pts -= shift;
            if (packet->dts != AV_NOPTS_VALUE)
                packet->dts -= shift;
            av_packet_rescale_ts(packet.get(), in->time_base, output->streams[to[index]]->time_base);
            packet->stream_index = to[index];
            packet->pos = -1;
            if (av_interleaved_write_frame(output.get(), packet.get()) < 0)
                return false;
        }
        return !off->load() && av_write_trailer(output.get()) >= 0;
    };
    bool done = false;
    try {
        done = made();
    } catch (const Fail&) {
    }
    if (!done)
        QFile::remove(copy);
    return done;
}

// A recording as it stands: its path, size and last change.
QString identity(const QString& recording)
{
    const QFileInfo info(recording);
    return QStringLiteral("%1\n%2\n%3")
        .arg(info.absoluteFilePath())
        .arg(info.size())
        .arg(info.lastModified().toMSecsSinceEpoch());
}

} // namespace

// The file is locked while a player of this process holds it, so a program killed while
// it had one leaves a copy that the next copy made (in any process) removes.
struct PlayableCopy::Making {
    QString path;
    std::optional<PartialFile> held;
    std::shared_ptr<std::atomic_bool> off = std::make_shared<std::atomic_bool>(false);
    std::shared_ptr<std::atomic<double>> done = std::make_shared<std::atomic<double>>(0.0);
    QFuture<bool> made;
};

bool PlayableCopy::wanted(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == u"ts" || suffix == u"mts" || suffix == u"m2ts";
}

std::shared_ptr<PlayableCopy> PlayableCopy::of(const QString& recording)
{
    static QHash<QString, std::weak_ptr<PlayableCopy>> copies;
    const QString key = identity(recording);
    if (auto existing = copies.value(key).lock())
        return existing;
    copies.removeIf([](const auto& entry) { return entry.value().expired(); });
    const QString folder =
        QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/Vantorel/Playable");
    QDir().mkpath(folder);
    PartialFile::sweep(folder, QStringLiteral(".mkv"));
    std::shared_ptr<PlayableCopy> copy(new PlayableCopy);
    copy->making_ = std::make_shared<Making>();
    Making& m = *copy->making_;
    try {
        m.held.emplace(PartialFile::create(folder, QStringLiteral(".mkv")));
        m.path = m.held->path();
        m.made = QtConcurrent::run(remux, recording, m.path, m.off, m.done);
    } catch (const Fail&) {
        m.made = QtFuture::makeReadyFuture(false); // played as it is
    }
    copies.insert(key, copy);
    return copy;
}

PlayableCopy::~PlayableCopy()
{
    // Also while it is being made: its maker then writes to nothing and stops. Letting go
    // of `held` removes the file.
    making_->off->store(true);
}

const QString& PlayableCopy::path() const
{
    return making_->path;
}

double PlayableCopy::done() const
{
    return making_->done->load();
}

const QFuture<bool>& PlayableCopy::made() const
{
    return making_->made;
}
