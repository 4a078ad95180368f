// Saving the project, working on in a copy, the caches, the open panel and the
// thumbnails of the segments.

#include "core/project/Text.h"
#include "model/lifecycle/AppModel.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QLocale>
#include <QPointer>
#include <utility>

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
    const QString failed = QStringLiteral("Your work could not be saved to ") + fileName(*file_) + QStringLiteral(". ");
    // Another process's save is never written over. Processes of this program hold the
    // package while it is open, but one that could not lock it, or a program of another
    // kind, may have written it. A document that is gone holds nothing to lose.
    const std::optional<DiskVersion> now = Project::version(*file_);
    if (written_ && now && *now != *written_) {
        setProblem(failed
                   + QStringLiteral("Another program changed it after it was opened here. Open it again to see that "
                                    "change, or choose Duplicate… in the File menu to keep this work in a copy."));
        return false;
    }
    try {
        written_ = project_.save(*file_);
        return true;
    } catch (const Fail& fail) {
        setProblem(failed + fail.errorDescription);
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

QCoro::Task<> AppModel::duplicate()
{
    if (!file_ || !panels.savePackage)
        co_return;
    // A copy: the panel's callable must outlive the dialog, whatever happens to `panels`.
    const auto ask = panels.savePackage;
    const QString previous = *file_;
    const int generation = generation_;
    const QPointer<AppModel> self(this);
    const QFileInfo current(previous);
    const auto chosen = co_await ask(current.absolutePath(), current.completeBaseName() + QStringLiteral(" copy.vtrl"));
    // The work may have been closed, or another project opened, while the dialog was up:
    // then there is nothing left to copy.
    if (!chosen || !self || generation != generation_ || file_ != previous)
        co_return;
    const QString copy = Text::absolutePath(*chosen);
    // Another recording's project is never written over by a copy.
    if (!Project::mayWrite(copy, project_.video)) {
        setProblem(fileName(copy) + QStringLiteral(" holds the project of another recording. Choose another name."));
        co_return;
    }
    // The copy is held like any package opened here.
    std::optional<PackageLock> hold = PackageLock::take(copy);
    if (!hold) {
        setProblem(PackageLock::refusal(copy));
        co_return;
    }
    // When the copy cannot be written the work stays in the package it was in. Whatever
    // stands at the copy's name is this recording's project, which the copy replaces.
    const std::optional<DiskVersion> written = std::exchange(written_, std::nullopt);
    setFile(copy);
    if (!writeProject()) {
        setFile(previous);
        written_ = written;
        co_return;
    }
    hold_ = std::move(hold);
    remember(copy);
    setToast(QStringLiteral("Now working in ") + fileName(copy));
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

QCoro::Task<> AppModel::openPanel()
{
    if (!panels.openItem)
        co_return;
    const auto ask = panels.openItem;
    const QPointer<AppModel> self(this);
    const auto chosen = co_await ask();
    // What the user picks is the newest wish, whatever was opened while the panel was up.
    if (!chosen || !self)
        co_return;
    const QString path = Text::absolutePath(*chosen);
    const bool opened = co_await open(path);
    if (self && !opened) {
        close();
        setFresh(path);
    }
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
    // Segment ids repeat between projects: stills of a recording that was closed meanwhile
    // must not land in the next one.
    auto stillOpen = [&] { return self && generation == generation_; };
    for (const auto& [id, time] : work) {
        // Checked before each still and again before storing it: another run (after an
        // added or split segment) may have made it while this one waited.
        if (!stillOpen())
            co_return;
        if (thumbs_.contains(id))
            continue;
        QImage image;
        try {
            image = co_await Media::still(video, std::max(0.0, time), QSize(320, 180));
        } catch (const Fail&) {
            continue;
        }
        if (!stillOpen())
            co_return;
        if (thumbs_.contains(id))
            continue;
        QMap<QString, QImage> next = thumbs_;
        next.insert(id, image);
        setThumbs(next);
    }
}
