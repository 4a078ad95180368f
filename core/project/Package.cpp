#include "core/project/Backups.h"
#include "core/project/Package.h"
#include "core/project/Records.h"
#include "core/project/Text.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

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

std::optional<Project> decode(const QByteArray& bytes)
{
    try {
        Project project;
        json::read(json::parse(bytes), project);
        return project;
    } catch (const Fail&) {
        return std::nullopt;
    } catch (const Json::exception&) {
        return std::nullopt;
    }
}

struct Read {
    std::optional<QByteArray> bytes;
    bool tooLarge = false;
};

// The bytes of an open plain file, unless it is larger than `limit`.
Read readOpen(QFile& file, qint64 size, qint64 limit)
{
    if (size > limit)
        return {std::nullopt, true};
    // Sized by the file, not the limit (the buffer is reserved whole); one byte more shows
    // a file that has grown past the limit since.
    QByteArray bytes = file.read(std::min(size, limit) + 1);
    if (bytes.size() > limit)
        return {std::nullopt, true};
    return {std::move(bytes)};
}

Loaded tryLoad(const QString& package, qint64 limit = documentLimit)
{
    const QString path = documentPath(package);
    // Only a plain file is read: a pipe or a device would never end.
    const QFileInfo info(path);
    if (!info.isFile())
        return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const Read read = readOpen(file, info.size(), limit);
    if (!read.bytes)
        return {std::nullopt, read.tooLarge};
    return {decode(*read.bytes)};
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

// A file descriptor that is closed (and so lets go of its lock) when it goes.
class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept
    {
        std::swap(fd_, other.fd_);
        return *this;
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

QByteArray encoded(const QString& path)
{
    return QFile::encodeName(path);
}

// A save holds an exclusive lock (flock) on the file it is writing, from the moment the
// file is made until it has been renamed into place; opening the package in any process
// leaves a locked file alone. The kernel drops the lock when the saving process ends,
// however it ends, so what a killed save left is unlocked.
bool lockedElsewhere(int fd)
{
    return ::flock(fd, LOCK_EX | LOCK_NB) != 0;
}

// Makes and locks the temporary file for `target`. Between making the file and locking it,
// an opening in another process may have taken it for a leftover and removed it: then the
// file has no name any more, and another one is made.
Descriptor makeTemporary(const QFileInfo& target, mode_t mode, QString& temporary)
{
    for (int attempt = 0;; ++attempt) {
        temporary = target.absolutePath() + u'/' + savingName(target.fileName());
        Descriptor fd(::open(encoded(temporary).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
        if (!fd)
            throw Fail(qt_error_string(errno));
        struct stat held {};
        int locked;
        while ((locked = ::flock(fd.get(), LOCK_EX)) != 0 && errno == EINTR) {
        }
        if (locked != 0 || ::fstat(fd.get(), &held) != 0) {
            const QString reason = qt_error_string(errno);
            ::unlink(encoded(temporary).constData());
            throw Fail(reason);
        }
        if (held.st_nlink > 0)
            return fd;
        if (attempt == 10)
            throw Fail(QStringLiteral("its temporary file was removed while it was being written"));
    }
}

// Writes `bytes` to `path` whole or not at all: into a temporary file beside it, flushed to
// the disk, then renamed over `path`. Throws the system's reason; the temporary file is
// removed on failure.
void writeWhole(const QString& path, const QByteArray& bytes)
{
    // A document that is a link is written where the link points, and the link stays.
    const QFileInfo named(path);
    const QFileInfo target(named.isSymLink() ? named.symLinkTarget() : path);
    // A document made read-only for others stays so.
    struct stat old {};
    const mode_t mode = ::stat(encoded(target.absoluteFilePath()).constData(), &old) == 0 ? (old.st_mode & 0777) : 0666;
    QString temporary;
    const Descriptor fd = makeTemporary(target, mode, temporary);

    std::optional<QString> reason;
    // A write may take only part of the bytes (a full disk, a size limit): the rest is
    // written again, until the system gives its reason for taking nothing.
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0 && !reason) {
        const ssize_t written = ::write(fd.get(), data, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            reason = written < 0 ? qt_error_string(errno) : QStringLiteral("the file could not be written");
        } else {
            data += written;
            left -= written;
        }
    }
    if (!reason && ::fdatasync(fd.get()) != 0)
        reason = qt_error_string(errno);
    if (!reason && std::rename(encoded(temporary).constData(), encoded(target.absoluteFilePath()).constData()) != 0)
        reason = qt_error_string(errno);
    if (reason) {
        ::unlink(encoded(temporary).constData());
        throw Fail(reason->isEmpty() ? QStringLiteral("the file could not be written") : *reason);
    }
}

bool laterThan(const timespec& a, const timespec& b)
{
    return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec > b.tv_nsec;
}

// Removes the file at `path` when `unneeded` says so of its content and its status, unless
// a save still holds it. It is locked while it is judged, so no save can take it meanwhile.
template <class Judge>
void removeIfUnneeded(const QString& path, Judge unneeded)
{
    const QByteArray name = encoded(path);
    const Descriptor fd(::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!fd || lockedElsewhere(fd.get()))
        return;
    // Still the file that was listed, under its name, and a plain file.
    struct stat held {}, listed {};
    if (::fstat(fd.get(), &held) != 0 || !S_ISREG(held.st_mode) || held.st_nlink == 0
        || ::lstat(name.constData(), &listed) != 0 || listed.st_ino != held.st_ino || listed.st_dev != held.st_dev)
        return;
    QFile file;
    if (!file.open(fd.get(), QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        return;
    const Read read = readOpen(file, held.st_size, documentLimit);
    if (read.bytes && unneeded(*read.bytes, held))
        ::unlink(name.constData());
}

// What saves cut short may have left: the temporary files beside project.json, and the
// older single-file project moved aside while the package became a folder. Called only
// once the package's own project.json has been read. A file that a save in any process
// still writes is locked and stays.
//
// A temporary file goes when it holds no whole project (the save was stopped while
// writing it), the project that project.json holds, or a project that a later save has
// since replaced. One that holds a whole project newer than project.json stays: the save
// was stopped after writing it and before renaming it, so it may be the only copy of the
// latest work. A moved-aside project goes only when project.json holds the same project.
void removeLeftovers(const QString& package)
{
    const QFileInfo info(package);
    if (!info.isDir())
        return;
    const auto files = QDir::Files | QDir::Hidden | QDir::NoSymLinks;
    QStringList temporaries, asides;
    for (const QString& name : QDir(package).entryList(files)) {
        if (isSavingName(name, documentName))
            temporaries.append(package + u'/' + name);
    }
    const QString folder = info.absolutePath();
    for (const QString& name : QDir(folder).entryList(files)) {
        if (isSavingName(name, info.fileName()))
            asides.append(folder + u'/' + name);
    }
    if (temporaries.isEmpty() && asides.isEmpty())
        return;

    // What the package holds now (a save may have replaced what was loaded).
    QFile document(package + u'/' + documentName);
    struct stat current {};
    if (!document.open(QIODevice::ReadOnly) || ::fstat(document.handle(), &current) != 0 || !S_ISREG(current.st_mode))
        return;
    const Read read = readOpen(document, current.st_size, documentLimit);
    const std::optional<Project> saved = read.bytes ? decode(*read.bytes) : std::nullopt;
    if (!saved)
        return;
    auto same = [&](const QByteArray& bytes, const std::optional<Project>& project) {
        return bytes == *read.bytes || (project && *project == *saved);
    };
    for (const QString& path : temporaries) {
        removeIfUnneeded(path, [&](const QByteArray& bytes, const struct stat& leftover) {
            const std::optional<Project> project = decode(bytes);
            return !project || same(bytes, project) || laterThan(current.st_mtim, leftover.st_mtim);
        });
    }
    for (const QString& path : asides)
        removeIfUnneeded(path, [&](const QByteArray& bytes, const struct stat&) { return same(bytes, decode(bytes)); });
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

std::optional<QString> Project::namedFile(const QString& video, const std::optional<QString>& markers)
{
    const QString first = newFile(video, markers);
    const QString base = first.chopped(packageExtension.size() + 1);
    QString package = first;
    for (int n = 2; QFileInfo::exists(package); ++n) {
        const auto project = tryLoad(package).project;
        if (!project || project->isOf(video))
            return package;
        package = base + u' ' + QString::number(n) + u'.' + packageExtension;
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

std::optional<QString> Project::unwritable(const QString& package)
{
    // A folder package is written inside; a single-file one is made a folder beside itself.
    const QFileInfo info(package);
    const QString folder = info.isDir() ? info.absoluteFilePath() : info.absolutePath();
    if (::access(encoded(folder).constData(), W_OK | X_OK) == 0)
        return std::nullopt;
    const QString reason = qt_error_string(errno);
    return QStringLiteral("Your work cannot be saved as %1: the folder %2 cannot be written (%3). Put the %4 in a "
                          "folder you can write to.")
        .arg(info.fileName(), folder, reason,
             info.exists() ? QStringLiteral("project") : QStringLiteral("recording"));
}

DiskVersion Project::save(const QString& package) const
{
    const QByteArray bytes = json::encode(*this); // throws before any write

    // A legacy single-file package is moved aside, not deleted, until the folder is
    // written, so a failed save never loses the only copy.
    const QFileInfo info(package);
    QString aside;
    Descriptor asideLock;
    auto reached = [](Package::Moment moment) {
        if (Package::hold)
            Package::hold(moment);
    };
    if (info.exists() && !info.isDir()) {
        reached(Package::Moment::FoundSingleFile);
        // Locked before it moves and until the save ends, so that an opening elsewhere never
        // judges it while this save may still put it back.
        asideLock = Descriptor(::open(encoded(package).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
        reached(Package::Moment::OpenedSingleFile);
        if (asideLock)
            ::flock(asideLock.get(), LOCK_EX);
        // A save in another process may have made the folder before this one opened the
        // name, or while it waited for the lock: what stands at the name now is that folder,
        // which must not be moved aside.
        struct stat held {}, named {};
        const bool converted = asideLock
                                   ? (::fstat(asideLock.get(), &held) != 0 || !S_ISREG(held.st_mode)
                                      || ::lstat(encoded(package).constData(), &named) != 0
                                      || held.st_ino != named.st_ino || held.st_dev != named.st_dev)
                                   : !QFileInfo(package).isFile(); // moved aside meanwhile
        if (!converted) {
            reached(Package::Moment::CheckedSingleFile);
            aside = info.absolutePath() + u'/' + savingName(info.fileName());
            if (!QFile::rename(package, aside))
                throw writeFailure(package, QStringLiteral("the older single-file project could not be moved"));
        }
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
    return {QCryptographicHash::hash(bytes, QCryptographicHash::Sha256)};
}

std::optional<DiskVersion> Project::version(const QString& package)
{
    // Only a plain file is read (a pipe would never end), through a link as a save writes.
    const QString path = documentPath(package);
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QCryptographicHash digest(QCryptographicHash::Sha256);
    if (!digest.addData(&file))
        return std::nullopt;
    return DiskVersion{digest.result()};
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
