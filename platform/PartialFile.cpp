#include "platform/PartialFile.h"

#include "platform/SameFile.h"
#include "core/project/Fail.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUuid>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString prefix = QStringLiteral(".vt-");

// Where writers note their files: a killed writer's file is found there wherever it lies.
QString notes()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Vantorel/Exports");
}

// Removes the file at `path` when no writer holds it. A file made without a lock (by an
// older version) counts as held by nobody.
void removeIfLeft(const QString& path)
{
    // Without waiting: a FIFO under such a name would block the open for good.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return;
    struct stat opened {};
    if (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        ::close(fd); // no file a writer of ours made
        return;
    }
    // While we hold the lock no writer can take it; the name is checked again so that
    // nothing else that came to stand there meanwhile is removed.
    if (flock(fd, LOCK_EX | LOCK_NB) == 0 && sameFile(fd, path))
        ::unlink(QFile::encodeName(path).constData());
    ::close(fd);
}

// This process's partial files, by their notes: the path of a file not moved yet, or
// empty once it became its target.
struct Live {
    std::mutex lock;
    std::map<QString, QString> files;
};

Live& live()
{
    static Live* files = new Live; // never destroyed: the end may come from any thread
    return *files;
}

void setLive(const QString& note, const QString& path)
{
    Live& l = live();
    const std::lock_guard held(l.lock);
    l.files[note] = path;
}

void forget(const QString& note)
{
    Live& l = live();
    const std::lock_guard held(l.lock);
    l.files.erase(note);
}

} // namespace

PartialFile::PartialFile(QString path, QString note, int lock)
    : path_(std::move(path)), note_(std::move(note)), lock_(lock)
{
    setLive(note_, path_);
}

PartialFile::PartialFile(PartialFile&& other) noexcept
    : path_(std::move(other.path_)), note_(std::move(other.note_)), lock_(other.lock_), moved_(other.moved_)
{
    other.lock_ = -1;
    other.path_.clear();
    other.note_.clear();
}

PartialFile PartialFile::create(const QString& folder, const QString& suffix)
{
    for (int attempt = 0; attempt < 5; ++attempt) {
        const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
        const QString path = QDir(folder).absoluteFilePath(prefix + id + suffix);
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666); // less the umask, as any new file
        if (fd < 0)
            throw Fail(QStringLiteral("The export could not be started in %1: %2.")
                           .arg(QDir::toNativeSeparators(folder), QString::fromLocal8Bit(std::strerror(errno))));
        // A sweep may have come between the making and the lock: then the file under the
        // name is no longer the one locked, and another name is taken.
        if (flock(fd, LOCK_EX | LOCK_NB) != 0 || !sameFile(fd, path)) {
            ::close(fd);
            continue;
        }
        // Noted only once it is locked: a sweep that reads the note finds it held.
        const QString note = notes() + u'/' + id;
        QDir().mkpath(notes());
        QSaveFile file(note);
        if (!file.open(QIODevice::WriteOnly) || file.write(QFile::encodeName(path)) < 0 || !file.commit())
            QFile::remove(note); // a sweep of the folder still finds it
        return PartialFile(path, note, fd);
    }
    throw Fail(QStringLiteral("The export could not be started in %1.").arg(QDir::toNativeSeparators(folder)));
}

PartialFile::~PartialFile()
{
    if (lock_ < 0)
        return;
    if (!moved_)
        ::unlink(QFile::encodeName(path_).constData());
    QFile::remove(note_);
    ::close(lock_);
    forget(note_);
}

bool PartialFile::moveTo(const QString& target)
{
    // rename(2) puts the finished file in place in one step, replacing any file there.
    moved_ = std::rename(QFile::encodeName(path_).constData(), QFile::encodeName(target).constData()) == 0;
    if (moved_)
        setLive(note_, QString()); // the name is the target's now
    return moved_;
}

void PartialFile::removeAll()
{
    Live& l = live();
    const std::lock_guard held(l.lock);
    for (const auto& [note, path] : l.files) {
        if (!path.isEmpty())
            ::unlink(QFile::encodeName(path).constData());
        QFile::remove(note);
    }
    l.files.clear();
}

void PartialFile::sweep(const QString& folder, const QString& suffix)
{
    const QDir noted(notes());
    for (const QString& name : noted.entryList(QDir::Files)) {
        if (name.contains(u'.'))
            continue; // a note still being written
        QFile note(noted.filePath(name));
        if (!note.open(QIODevice::ReadOnly))
            continue;
        const QString path = QFile::decodeName(note.readAll());
        note.close();
        // A note is written after its file is locked: a file that is gone, or no longer
        // held, belongs to an export that ended.
        if (QFileInfo(path).fileName().startsWith(prefix))
            removeIfLeft(path);
        if (!QFileInfo::exists(path))
            note.remove();
    }
    if (folder.isEmpty())
        return;
    for (const QString& name : QDir(folder).entryList({prefix + u'*' + suffix}, QDir::Files | QDir::Hidden | QDir::System))
        removeIfLeft(QDir(folder).filePath(name));
}
