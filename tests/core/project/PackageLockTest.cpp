#include "core/project/PackageLock.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/file.h>

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
