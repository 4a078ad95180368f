#include "core/project/Backups.h"
#include "core/project/Records.h"
#include "core/project/Text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace {

const QString packageExtension = QStringLiteral("vtrl");
const QString documentName = QStringLiteral("project.json");

// Folder packages keep the document inside; legacy packages are the document itself.
QString documentPath(const QString& package)
{
    return QFileInfo(package).isDir() ? package + u'/' + documentName : package;
}

// Far above any real project (hours of transcripts come to a few megabytes). A larger
// file is not read at all: one huge file beside a recording must not make every lookup
// in its folder read it whole. Lookups, which read every package in a folder, stop lower
// still, yet far above a four-hour stream's project.
constexpr qint64 documentLimit = qint64(256) * 1024 * 1024;
constexpr qint64 lookupLimit = qint64(64) * 1024 * 1024;

struct Loaded {
    std::optional<Project> project;
    bool tooLarge = false;
};

Loaded tryLoad(const QString& package, qint64 limit = documentLimit)
{
    const QString path = documentPath(package);
    // Only a plain file is read: a pipe or a device would never end.
    const QFileInfo info(path);
    if (!info.isFile())
        return {};
    if (info.size() > limit)
        return {std::nullopt, true};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // Sized by the file, not the limit (the buffer is reserved whole); one byte more shows
    // a file that has grown past the limit since.
    const QByteArray bytes = file.read(std::min(info.size(), limit) + 1);
    if (bytes.size() > limit)
        return {std::nullopt, true};
    try {
        Project project;
        json::read(json::parse(bytes), project);
        return {std::move(project)};
    } catch (const Fail&) {
        return {};
    } catch (const Json::exception&) {
        return {};
    }
}

// Entries of a folder in a fixed order (by name), hidden ones included.
QStringList listing(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                                  QDir::Name);
}

Fail writeFailure(const QString& path, const QString& reason)
{
    return Fail(QStringLiteral("The project could not be saved to %1: %2.")
                    .arg(QFileInfo(path).fileName(), reason));
}

// A save writes into a file of this name beside the document and renames it over the
// document when it is whole. A save cut short (the program killed) leaves it behind; the
// name, which nobody else would choose, is how opening the package knows it is ours.
const QString savingMark = QStringLiteral(".saving-");

QString savingName(const QString& name)
{
    return name + savingMark + QUuid::createUuid().toString(QUuid::WithoutBraces);
}

// True when `name` is `base` followed by the mark and a UUID as savingName writes it.
bool isSavingName(const QString& name, const QString& base)
{
    if (!name.startsWith(base + savingMark))
        return false;
    const QString id = name.mid(base.size() + savingMark.size());
    return QUuid::fromString(id).toString(QUuid::WithoutBraces) == id && !QUuid::fromString(id).isNull();
}

// Writes `bytes` to `path` whole or not at all: into a temporary file beside it, flushed to
// the disk, then renamed over `path`. Throws the system's reason; the temporary file is
// removed on failure.
void writeWhole(const QString& path, const QByteArray& bytes)
{
    // A document that is a link is written where the link points, and the link stays.
    const QFileInfo named(path);
    const QFileInfo target(named.isSymLink() ? named.symLinkTarget() : path);
    const QString temporary = target.absolutePath() + u'/' + savingName(target.fileName());
    QFile file(temporary);
    // A document made read-only for others stays so.
    const bool opened = target.exists() ? file.open(QIODevice::WriteOnly | QIODevice::NewOnly, target.permissions())
                                        : file.open(QIODevice::WriteOnly | QIODevice::NewOnly);
    std::optional<QString> reason;
    if (!opened || file.write(bytes) != bytes.size() || !file.flush())
        reason = file.errorString();
    else if (::fdatasync(file.handle()) != 0)
        reason = qt_error_string(errno);
    file.close();
    if (!reason && std::rename(QFile::encodeName(temporary).constData(),
                                      QFile::encodeName(target.absoluteFilePath()).constData()) != 0)
        reason = qt_error_string(errno);
    if (reason) {
        if (opened)
            QFile::remove(temporary);
        throw Fail(reason->isEmpty() ? QStringLiteral("the file could not be written") : *reason);
    }
}

// What saves cut short left: the temporary files beside project.json, and the older
// single-file project moved aside while the package became a folder. Called only once the
// package's own project.json has been read, so the newest state is certainly kept.
void removeLeftovers(const QString& package)
{
    const QFileInfo info(package);
    if (!info.isDir())
        return;
    const auto files = QDir::Files | QDir::Hidden | QDir::NoSymLinks;
    for (const QString& name : QDir(package).entryList(files)) {
        if (isSavingName(name, documentName))
            QFile::remove(package + u'/' + name);
    }
    const QString folder = info.absolutePath();
    for (const QString& name : QDir(folder).entryList(files)) {
        if (isSavingName(name, info.fileName()))
            QFile::remove(folder + u'/' + name);
    }
}

} // namespace

QString Project::newFile(const QString& video, const std::optional<QString>& markers)
{
    const QFileInfo recording(video);
    const QString stem = Text::stem(QFileInfo(markers ? *markers : video).fileName());
    return recording.absolutePath() + u'/' + stem + u'.' + packageExtension;
}

std::optional<QString> Project::existingFile(const QString& video)
{
    const QFileInfo recording(video);
    const QString folder = recording.absolutePath();
    for (const QString& name : listing(folder)) {
        if (Text::extension(name) != packageExtension)
            continue;
        const QString package = folder + u'/' + name;
        const auto project = tryLoad(package, lookupLimit).project;
        if (project && project->isOf(video))
            return package;
    }
    return std::nullopt;
}

Project Project::load(const QString& package)
{
    Loaded loaded = tryLoad(package);
    if (loaded.project) {
        removeLeftovers(package);
        return std::move(*loaded.project);
    }
    QString sentence = QFileInfo(package).fileName() + QStringLiteral(" could not be read as a Vantorel project.");
    if (loaded.tooLarge)
        sentence += QStringLiteral(" It is larger than 256 MB, far more than any project holds.");
    throw Fail(sentence);
}

bool Project::mayWrite(const QString& package, const QString& video)
{
    if (!QFileInfo::exists(package))
        return true;
    const auto project = tryLoad(package).project;
    return project && project->isOf(video);
}

void Project::save(const QString& package) const
{
    const QByteArray bytes = json::encode(*this); // throws before any write

    // A legacy single-file package is moved aside, not deleted, until the folder is
    // written, so a failed save never loses the only copy.
    const QFileInfo info(package);
    QString aside;
    if (info.exists() && !info.isDir()) {
        aside = info.absolutePath() + u'/' + savingName(info.fileName());
        if (!QFile::rename(package, aside))
            throw writeFailure(package, QStringLiteral("the older single-file project could not be moved"));
    }
    auto restore = [&] {
        if (!aside.isEmpty()) {
            QDir(package).removeRecursively();
            QFile::rename(aside, package);
        }
    };

    if (!QDir().mkpath(package)) {
        restore();
        throw writeFailure(package, QStringLiteral("the folder could not be created"));
    }
    try {
        writeWhole(package + u'/' + documentName, bytes);
    } catch (const Fail& fail) {
        restore();
        throw writeFailure(package, fail.errorDescription);
    }
    if (!aside.isEmpty())
        QFile::remove(aside);
}

bool Project::isOf(const QString& recording) const
{
    return video.endsWith(u'/' + QFileInfo(recording).fileName());
}

std::optional<QString> Project::recording(const QString& package) const
{
    const QString beside = QFileInfo(package).absolutePath() + u'/' + QFileInfo(video).fileName();
    for (const QString& candidate : {video, beside}) {
        if (!candidate.isEmpty() && QFileInfo::exists(candidate))
            return candidate;
    }
    return std::nullopt;
}

namespace Backups {

QString folder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QStringLiteral("/Vantorel/Backups");
}

namespace {
const QString stampPattern = QStringLiteral("yyyy-MM-dd HH.mm.ss");

// Only names of the exact form "<stem> yyyy-MM-dd HH.mm.ss.vtrl" belong to a stem, so the
// backups of "night 2024" are never pruned as backups of "night".
bool isBackupOf(const QString& name, const QString& stem)
{
    const qsizetype stampLength = stampPattern.size();
    const QString suffix = u'.' + packageExtension;
    if (name.size() != stem.size() + 1 + stampLength + suffix.size())
        return false;
    if (!name.startsWith(stem) || name[stem.size()] != u' ' || !name.endsWith(suffix))
        return false;
    const QString stamp = name.mid(stem.size() + 1, stampLength);
    for (qsizetype i = 0; i < stampLength; ++i) {
        const QChar p = stampPattern[i];
        const bool digitSlot = p.isLetter();
        if (digitSlot ? !(stamp[i] >= u'0' && stamp[i] <= u'9') : stamp[i] != p)
            return false;
    }
    return true;
}
} // namespace

void keep(const QString& package)
{
    keep(package, QDateTime::currentDateTime());
}

void keep(const QString& package, const QDateTime& now)
{
    const QString stem = Text::stem(QFileInfo(package).fileName());
    const QString dir = folder();
    QDir().mkpath(dir);
    const QString target = dir + u'/' + stem + u' ' + now.toString(stampPattern) + u'.' + packageExtension;
    QFile::copy(documentPath(package), target); // a taken name or a missing source is ignored

    QStringList mine;
    for (const QString& name : QDir(dir).entryList(QDir::Files | QDir::Hidden)) {
        if (isBackupOf(name, stem))
            mine.append(name);
    }
    std::sort(mine.begin(), mine.end());
    for (qsizetype i = 0; i + 10 < mine.size(); ++i)
        QFile::remove(dir + u'/' + mine[i]);
}

} // namespace Backups
