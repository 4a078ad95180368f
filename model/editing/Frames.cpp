#include "model/editing/Frames.h"

#include "platform/Ending.h"
#include "platform/Observable.h"

#include <QCoro/QCoroFuture>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QPointer>
#include <QSaveFile>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <climits>
#include <cmath>
#include <memory>

namespace {

QImage readJpeg(const QString& path)
{
    QImageReader reader(path, "jpg");
    return reader.read(); // a missing or damaged file gives a null image
}

// Written whole or not at all, so a reader never sees half a picture.
void writeJpeg(const QString& path, const QImage& image)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return;
    QImageWriter writer(&out, "jpg");
    writer.setQuality(Frames::quality);
    if (writer.write(image))
        out.commit();
}

} // namespace

Frames::Frames(QObject* parent)
    : Frames([](const MediaInfo& recording) -> std::unique_ptr<StillSource> {
          return std::make_unique<StillDecoder>(recording.path, QSize(side, side));
      },
             parent)
{
}

Frames::Frames(Sources sources, QObject* parent) : QObject(parent), sources_(std::move(sources)) {}

Frames::~Frames() = default;

QString Frames::file(const QString& folder, int second)
{
    return folder + u'/' + QString::number(second) + QStringLiteral(".jpg");
}

void Frames::use(const MediaInfo& recording, double aspect, const std::optional<QString>& cache)
{
    clear();
    if (assign(aspect_, aspect))
        Q_EMIT aspectChanged();
    cache_ = cache;
    // Reckoned in double: a damaged file may claim a length no int can hold.
    last_ = recording.duration > 0 && std::isfinite(recording.duration)
                ? std::optional(int(std::clamp(std::ceil(recording.duration) - 1, 0.0, double(INT_MAX))))
                : std::nullopt;
    source_ = sources_(recording);
}

void Frames::clear()
{
    ++generation_;
    if (!images_.isEmpty()) {
        images_.clear();
        Q_EMIT imagesChanged();
    }
    asked_.clear();
    order_.clear();
}

void Frames::load(int second)
{
    if (!source_ || !asked_.insert(second).second)
        return;
    fetch(second, cache_ ? std::optional(file(*cache_, second)) : std::nullopt, generation_);
}

QCoro::Task<> Frames::fetch(int second, std::optional<QString> file, int generation)
{
    const QPointer<Frames> self(this);
    QImage image;
    if (file) {
        auto read = [path = *file] { return readJpeg(path); };
        image = co_await QtConcurrent::run(std::move(read));
        if (!self || generation != generation_)
            co_return;
    }
    if (image.isNull()) {
        // A strip's last cell may stand for a second past the end (its middle lies beyond
        // the recording): it shows the last picture there is rather than staying empty.
        QFuture<std::optional<QImage>> request = source_->still(last_ ? std::min(second, *last_) : second);
        const std::optional<QImage> made = co_await request;
        if (!made)
            co_return; // stays asked: not tried again for this recording
        image = *made;
        // The file is worth keeping even when the recording was replaced meanwhile.
        if (file) {
            // Nobody waits for the file, but the program's end does once it is being written.
            auto write = [path = *file, image, hold = std::make_shared<Ending::Hold>()] { writeJpeg(path, image); };
            (void)QtConcurrent::run(std::move(write));
        }
        if (!self || generation != generation_)
            co_return;
    }
    store(second, image);
}

void Frames::store(int second, const QImage& image)
{
    images_.insert(second, image);
    order_.push_back(second);
    if (int(order_.size()) > cap) {
        for (int k = 0; k < evicted; ++k) {
            images_.remove(order_.front());
            asked_.erase(order_.front());
            order_.pop_front();
        }
    }
    Q_EMIT imagesChanged();
}
