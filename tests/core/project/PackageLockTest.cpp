#include "core/project/PackageLock.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

// Other processes are refused and a crashed holder holds nothing: the command-line tests run
// the program beside a model of their own for these.

TEST(PackageLockTest, TheHoldsOfOneProcessShareOneLockWhoseFileGoesWithTheLast)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QFile::link(dir.path(), dir.filePath("link")));
    std::optional<PackageLock> first = PackageLock::take(dir.filePath("night.vtrl"));
    std::optional<PackageLock> second = PackageLock::take(dir.filePath("link/night.vtrl"));
    ASSERT_TRUE(first && second) << "this process's own hold, reached by another path, is no other process's";
    first.reset();
    QFile lock(dir.filePath(".night.vtrl.lock")); // another opening of it, as another process has
    ASSERT_TRUE(lock.open(QIODevice::ReadOnly));
    EXPECT_NE(::flock(lock.handle(), LOCK_EX | LOCK_NB), 0) << "let go while another hold of it lives";
    lock.close();
    second.reset();
    EXPECT_FALSE(QFile::exists(dir.filePath(".night.vtrl.lock")));

    // Where no lock can be made the hold is given all the same.
    EXPECT_TRUE(PackageLock::take(dir.filePath("gone/night.vtrl")));
}

// Every path that reaches a package meets its one lock, beside the package itself: a link to
// it, or to its folder, takes no lock of its own, or two processes would hold one project.
TEST(PackageLockTest, EveryPathToAPackageMeetsTheLockBesideThePackage)
{
    QTemporaryDir dir, elsewhere;
    const QString package = dir.filePath("night.vtrl"), lock = dir.filePath(".night.vtrl.lock");
    ASSERT_EQ(::symlink(QFile::encodeName(dir.path()).constData(), QFile::encodeName(elsewhere.filePath("folder")).constData()), 0);
    ASSERT_EQ(::symlink(QFile::encodeName(package).constData(), QFile::encodeName(dir.filePath("link.vtrl")).constData()), 0);
    ASSERT_EQ(::symlink("night.vtrl", QFile::encodeName(dir.filePath("near.vtrl")).constData()), 0);
    ASSERT_EQ(::symlink(QFile::encodeName(dir.filePath("link.vtrl")).constData(), QFile::encodeName(elsewhere.filePath("far.vtrl")).constData()), 0);
    const struct {
        const char* what;
        QString path;
        bool made; // the package is there yet
    } table[] = {
        {"the package", package, true},
        {"through a linked folder", elsewhere.filePath("folder/night.vtrl"), true},
        {"a link to it", dir.filePath("link.vtrl"), true},
        {"a link by a relative path", dir.filePath("near.vtrl"), true},
        {"a link elsewhere to a link to it", elsewhere.filePath("far.vtrl"), true},
        {"a link to it before it is made", dir.filePath("link.vtrl"), false},
        {"a link elsewhere to a link to it before it is made", elsewhere.filePath("far.vtrl"), false},
    };
    for (const auto& [what, path, made] : table) {
        QDir(package).removeRecursively();
        if (made) {
            ASSERT_TRUE(QDir().mkpath(package));
        }
        std::optional<PackageLock> hold = PackageLock::take(path);
        ASSERT_TRUE(hold) << what;
        QFile other(lock); // another opening of it, as another process has
        ASSERT_TRUE(other.open(QIODevice::ReadOnly)) << what;
        EXPECT_NE(::flock(other.handle(), LOCK_EX | LOCK_NB), 0) << what << ": not locked beside the package";
        other.close();
        const auto locks = [](const QTemporaryDir& folder) {
            return QDir(folder.path()).entryList({".*.lock"}, QDir::Files | QDir::Hidden);
        };
        EXPECT_EQ(locks(dir), QStringList{".night.vtrl.lock"}) << what;
        EXPECT_EQ(locks(elsewhere), QStringList{}) << what;
        hold.reset();
        EXPECT_FALSE(QFile::exists(lock)) << what;
    }
}
