#include "core/project/PackageLock.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>
#include <map>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// A lock file, by device and inode: every path to it names one.
using Identity = std::pair<quint64, quint64>;

Identity identity(const struct stat& file)
{
    return {quint64(file.st_dev), quint64(file.st_ino)};
}

} // namespace

struct PackageLock::Held {
    QByteArray path;   // the lock file
    int fd = -1;       // none where no lock could be made
    Identity file{};

    Held(QByteArray p, int f, Identity i) : path(std::move(p)), fd(f), file(i) {}
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    ~Held();
};

namespace {

// The locks this process holds.
std::map<Identity, std::weak_ptr<PackageLock::Held>>& holds()
{
    static std::map<Identity, std::weak_ptr<PackageLock::Held>> map;
    return map;
}

// The package's own path: links to it, or to a folder on the way, followed. A link to the
// package would otherwise have a lock of its own beside it, and two processes would hold
// one project. A package not made yet is named in its folder's own path; one that a link
// names before it is made, where the link points.
QString resolved(const QString& package)
{
    const QString canonical = QFileInfo(package).canonicalFilePath();
    if (!canonical.isEmpty())
        return canonical;
    QString path = QFileInfo(package).absoluteFilePath();
    for (int depth = 0; depth < 40 && QFileInfo(path).isSymLink(); ++depth)
        path = QFileInfo(path).symLinkTarget();
    const QFileInfo info(path);
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    return (folder.isEmpty() ? info.absolutePath() : folder) + u'/' + info.fileName();
}

QByteArray lockPath(const QString& package)
{
    const QFileInfo info(resolved(package));
    return QFile::encodeName(info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".lock"));
}

// Removed while still locked, so nobody can win a lock on it once it has gone; unless the
// name has been given to another file since, which is not this hold's to remove.
void release(PackageLock::Held& held)
{
    if (held.fd < 0)
        return;
    struct stat named {};
    if (::lstat(held.path.constData(), &named) == 0 && identity(named) == held.file)
        ::unlink(held.path.constData());
    ::close(held.fd);
    held.fd = -1;
}

} // namespace

PackageLock::Held::~Held()
{
    if (fd >= 0)
        holds().erase(file);
    release(*this);
}

void PackageLock::releaseAll()
{
    for (const auto& [file, weak] : holds()) {
        if (const std::shared_ptr<Held> held = weak.lock())
            release(*held);
    }
    holds().clear();
}

std::optional<PackageLock> PackageLock::take(const QString& package)
{
    const QByteArray path = lockPath(package);
    const auto unlocked = [&] { return PackageLock(std::make_shared<Held>(path, -1, Identity{})); };
    // A lock won on a file that has lost its name since it was opened (its holder removed it
    // as it let go) holds nothing: the file at the name is tried again.
    for (int attempt = 0; attempt < 10; ++attempt) {
        const int fd = ::open(path.constData(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
        struct stat held {};
        if (fd < 0)
            return unlocked();
        if (::fstat(fd, &held) != 0) {
            ::close(fd);
            return unlocked();
        }
        // This process holds it already (another opening of the same package).
        if (const auto found = holds().find(identity(held)); found != holds().end()) {
            if (std::shared_ptr<Held> shared = found->second.lock()) {
                ::close(fd);
                return PackageLock(std::move(shared));
            }
        }
        int locked;
        while ((locked = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
        }
        if (locked != 0) {
            const int reason = errno;
            ::close(fd);
            if (reason == EWOULDBLOCK)
                return std::nullopt;
            return unlocked();
        }
        struct stat named {};
        if (::fstat(fd, &held) == 0 && held.st_nlink > 0 && ::lstat(path.constData(), &named) == 0
            && identity(named) == identity(held)) {
            auto shared = std::make_shared<Held>(path, fd, identity(held));
            holds()[identity(held)] = shared;
            return PackageLock(std::move(shared));
        }
        ::close(fd);
    }
    return unlocked();
}

QString PackageLock::refusal(const QString& package)
{
    return QFileInfo(package).fileName()
        + QStringLiteral(" is open in another Vantorel window or job. Close it there, or wait until that job has "
                         "ended, and try again.");
}
