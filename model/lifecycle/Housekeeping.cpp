// Saving the project, working on in a copy, the caches, the open panel and the
// thumbnails of the segments.

#include "model/lifecycle/AppModel.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QLocale>
#include <QPointer>

namespace {
QString fileName(const QString& path)
{
    return QFileInfo(path).fileName();
}
} // namespace

bool AppModel::writeProject()
{
    if (!file_)
        return true;
    try {
        project_.save(*file_);
        return true;
    } catch (const Fail& fail) {
        setProblem(QStringLiteral("Your work could not be saved to ") + fileName(*file_) + QStringLiteral(". ")
                   + fail.errorDescription);
        return false;
    }
}

void AppModel::save()
{
    writeProject();
}

void AppModel::saveNow()
{
    save();
    if (!problem_ && file_)
        setToast(QStringLiteral("Saved ") + fileName(*file_));
}

void AppModel::duplicate()
{
    if (!file_ || !panels.savePackage)
        return;
    const QFileInfo current(*file_);
    const auto chosen = panels.savePackage(current.absolutePath(), current.completeBaseName() + QStringLiteral(" copy.vtrl"));
    if (!chosen)
        return;
    // When the copy cannot be written the work stays in the package it was in.
    const QString previous = *file_;
    setFile(*chosen);
    if (!writeProject()) {
        setFile(previous);
        return;
    }
    remember(*chosen);
    setToast(QStringLiteral("Now working in ") + fileName(*chosen));
}

void AppModel::purgeCache()
{
    if (!file_)
        return;
    const QString cache = *file_ + QStringLiteral("/cache");
    qint64 total = 0;
    QDirIterator walk(cache, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                      QDirIterator::Subdirectories);
    while (walk.hasNext()) {
        const QFileInfo item(walk.next());
        if (item.isFile())
            total += item.size();
    }
    QDir(cache).removeRecursively();
    frames_->clear();
    waves_->clear();
    setToast(QStringLiteral("Freed ") + QLocale().formattedDataSize(total, 1, QLocale::DataSizeSIFormat));
}

void AppModel::openPanel()
{
    if (!panels.openItem)
        return;
    const auto chosen = panels.openItem();
    if (!chosen)
        return;
    TaskHandle::start([self = QPointer<AppModel>(this), path = *chosen](Cancel) -> QCoro::Task<> {
        if (!self)
            co_return;
        const bool opened = co_await self->open(path);
        if (self && !opened) {
            self->close();
            self->setFresh(path);
        }
    });
}

void AppModel::loadThumbs()
{
    if (!asset_)
        return;
    std::vector<std::pair<QString, double>> work;
    for (const Segment& s : project_.segments) {
        if (!thumbs_.contains(s.id))
            work.emplace_back(s.id, s.markers.empty() ? s.start : s.markers.front() - 2);
    }
    if (work.empty())
        return;
    makeThumbs(asset_->path, std::move(work), generation_);
}

QCoro::Task<> AppModel::makeThumbs(QString video, std::vector<std::pair<QString, double>> work, int generation)
{
    const QPointer<AppModel> self(this);
    for (const auto& [id, time] : work) {
        QImage image;
        bool made = true;
        try {
            image = co_await Media::still(video, std::max(0.0, time), QSize(320, 180));
        } catch (const Fail&) {
            made = false;
        }
        if (!self)
            co_return;
        if (!made)
            continue;
        // Segment ids repeat between projects: stills of a recording that was closed
        // meanwhile must not land in the next one.
        if (generation != generation_)
            co_return;
        QMap<QString, QImage> next = thumbs_;
        next.insert(id, image);
        setThumbs(next);
    }
}
