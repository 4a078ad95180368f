#include "platform/TempFile.h"

#include "platform/SameFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUuid>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace TempFiles {

namespace {

// Where each running process notes its files.
QString notes()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Vantorel/Temporary");
}

QString uuid()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

// A name this program gives: an optional "vt-", an upper-case UUID, a suffix.
bool ours(const QString& name)
{
    static const QRegularExpression named(
        QStringLiteral("^(vt-)?[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\.[a-z]+$"));
    return named.match(name).hasMatch();
}

// Removes a file (never a folder, nor what a link points to).
void unlinkFile(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat info {};
    if (::lstat(name.constData(), &info) == 0 && !S_ISDIR(info.st_mode))
        ::unlink(name.constData());
}

// This process's files, and its note of them.
struct Counted {
    std::mutex lock;
    std::set<QString> files;
    int note = -1; // open and locked while a file is counted
    QString notePath;

    // Makes and locks the note; without one the files still go at the end, only not
    // after a kill.
    void openNote()
    {
        QDir().mkpath(notes());
        for (int attempt = 0; attempt < 5 && note < 0; ++attempt) {
            const QString path = notes() + u'/' + uuid();
            const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0600);
            if (fd < 0)
                return;
            // A sweep may have come between the making and the lock and taken the name:
            // then another is made.
            if (flock(fd, LOCK_EX | LOCK_NB) != 0 || !sameFile(fd, path)) {
                ::close(fd);
                continue;
            }
            note = fd;
            notePath = path;
        }
    }

    void count(const QString& path)
    {
        const std::lock_guard held(lock);
        if (!files.insert(path).second)
            return;
        if (note < 0)
            openNote();
        // Noted before the file is made: a kill leaves nothing the note does not name.
        if (note >= 0) {
            const QByteArray line = QFile::encodeName(path) + '\n';
            [[maybe_unused]] const ssize_t written = ::write(note, line.constData(), size_t(line.size()));
        }
    }

    void forget(const QString& path)
    {
        unlinkFile(path);
        const std::lock_guard held(lock);
        files.erase(path);
        // With nothing in use the note goes (the next file makes a new one): it never grows
        // with a long session, and a program that ends now leaves none. It goes before its
        // lock does, so a sweep never reads it.
        if (files.empty() && note >= 0) {
            ::unlink(QFile::encodeName(notePath).constData());
            ::close(note);
            note = -1;
        }
    }
};

Counted& counted()
{
    static auto* const made = new Counted; // never torn down: the end may come from anywhere
    return *made;
}

} // namespace

QString make(const QString& prefix, const QString& suffix)
{
    const QString path = QDir::tempPath() + u'/' + prefix + uuid() + suffix;
    counted().count(path);
    return path;
}

void own(const QString& path)
{
    if (ours(QFileInfo(path).fileName()))
        counted().count(path);
}

void remove(const QString& path)
{
    counted().forget(path);
}

void removeAll()
{
    Counted& c = counted();
    const std::lock_guard held(c.lock);
    for (const QString& path : c.files)
        unlinkFile(path);
    // A child program still running may make its file yet, in the moment before it ends
    // with us: the note stays for the next start to look at.
    c.files.clear();
}

void sweep()
{
    const QDir folder(notes());
    for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        const QString path = folder.filePath(name);
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0)
            continue;
        struct stat info {};
        // A note that its process holds is a running instance's: left alone.
        if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && flock(fd, LOCK_EX | LOCK_NB) == 0
            && sameFile(fd, path)) {
            QFile note;
            if (note.open(fd, QIODevice::ReadOnly)) {
                for (const QByteArray& line : note.readAll().split('\n')) {
                    const QString file = QFile::decodeName(line);
                    if (QFileInfo(file).isAbsolute() && ours(QFileInfo(file).fileName()))
                        unlinkFile(file);
                }
                note.close();
            }
            ::unlink(QFile::encodeName(path).constData());
        }
        ::close(fd);
    }
}

} // namespace TempFiles
