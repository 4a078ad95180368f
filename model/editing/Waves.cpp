#include "model/editing/Waves.h"

#include "core/project/Fail.h"
#include "core/services/Audio.h"
#include "platform/TaskHandle.h"
#include "platform/TempFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

QString Waves::file(const QString& folder, int index)
{
    return folder + u'/' + QString::number(index) + QStringLiteral(".bin");
}

void Waves::reset(const std::optional<QString>& video, const std::optional<QString>& cache)
{
    video_ = video;
    cache_ = cache;
    clear();
}

void Waves::clear()
{
    peaks_.clear();
    wanted_.clear();
    asked_.clear();
    ++generation_;
    // Also when nothing had arrived yet: chunks on their way are forgotten too.
    Q_EMIT peaksChanged();
}

void Waves::load(const std::vector<int>& chunks)
{
    for (int index : chunks) {
        if (asked_.insert(index).second)
            wanted_.push_back(index);
    }
    if (busy_ || wanted_.empty())
        return;
    busy_ = true;
    TaskHandle::start([self = QPointer<Waves>(this)](Cancel) { return work(self); });
}

void Waves::store(int index, const QByteArray& bytes)
{
    peaks_.insert(index, bytes);
    Q_EMIT peaksChanged();
}

// The worker reads the queue, the recording and the cache folder afresh on every pass:
// while it waits for ffmpeg, requests may arrive and the recording may change.
QCoro::Task<> Waves::work(QPointer<Waves> self)
{
    while (self) {
        if (self->wanted_.empty() || !self->video_) {
            self->busy_ = false;
            co_return;
        }
        const int index = self->wanted_.back();
        self->wanted_.pop_back();
        const QString video = *self->video_;
        const std::optional<QString> file = self->cache_ ? std::optional(Waves::file(*self->cache_, index)) : std::nullopt;
        if (file) {
            QFile cached(*file);
            if (cached.open(QIODevice::ReadOnly)) {
                const QByteArray bytes = cached.readAll();
                if (cached.error() == QFileDevice::NoError) {
                    self->store(index, bytes);
                    continue;
                }
            }
        }
        std::optional<QString> wav;
        try {
            wav = co_await Audio::extract(video, chunk * index, chunk);
        } catch (const Fail&) {
        }
        if (!self) {
            if (wav)
                TempFiles::remove(*wav);
            co_return;
        }
        if (!wav) {
            self->asked_.erase(index); // a later request tries again
            continue;
        }
        const RemoveWhenDone cut{*wav};
        const QByteArray bytes = Audio::peaks(*wav);
        if (self->video_ != video)
            continue; // another recording (or none) is open now
        self->store(index, bytes);
        if (file) {
            QDir().mkpath(QFileInfo(*file).absolutePath());
            QSaveFile out(*file);
            if (out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size())
                out.commit();
        }
    }
}
