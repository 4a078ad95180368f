#include "core/project/PackageLock.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A process that takes `package`, says whether it holds it, and waits to be killed.
struct Holder {
    pid_t pid = -1;
    char said = '?';

    explicit Holder(const QString& package)
    {
        int pipe[2];
        if (::pipe(pipe) != 0)
            return;
        pid = fork();
        if (pid == 0) {
            const std::optional<PackageLock> hold = PackageLock::take(package);
            const char held = hold ? 'y' : 'n';
            if (::write(pipe[1], &held, 1) != 1)
                _exit(1);
            ::pause();
            _exit(0);
        }
        ::close(pipe[1]);
        if (pid < 0 || ::read(pipe[0], &said, 1) != 1)
            said = '?';
        ::close(pipe[0]);
    }
    // Killed, as a program that crashed ends.
    void kill()
    {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            pid = -1;
        }
    }
    ~Holder() { kill(); }
};

} // namespace

TEST(PackageLockTest, AnotherProcessIsRefusedUntilTheHolderEndsHoweverItEnds)
{
    QTemporaryDir dir;
    const QString package = dir.filePath("night.vtrl");
    Holder other(package);
    ASSERT_EQ(other.said, 'y');
    EXPECT_FALSE(PackageLock::take(package));
    EXPECT_FALSE(PackageLock::take(dir.path() + "/./night.vtrl"));
    EXPECT_TRUE(PackageLock::take(dir.filePath("night 2.vtrl"))) << "another package";
    EXPECT_EQ(PackageLock::refusal(package), "night.vtrl is open in another Vantorel window or job. Close it there, or "
                                             "wait until that job has ended, and try again.");

    // Its lock file stays after the crash; the next hold takes it over and removes it.
    other.kill();
    std::optional<PackageLock> hold = PackageLock::take(package);
    EXPECT_TRUE(hold);
    hold.reset();
    EXPECT_TRUE(QDir(dir.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
}

TEST(PackageLockTest, TheHoldsOfOneProcessShareOneLockThatGoesWithTheLast)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QFile::link(dir.path(), dir.filePath("link")));
    std::optional<PackageLock> first = PackageLock::take(dir.filePath("night.vtrl"));
    std::optional<PackageLock> second = PackageLock::take(dir.filePath("link/night.vtrl"));
    ASSERT_TRUE(first && second) << "this process's own hold, reached by another path, is no other process's";
    first.reset();
    // Still locked, as another process finds it (a child made by fork would share this
    // process's holds).
    QFile lock(dir.filePath(".night.vtrl.lock"));
    ASSERT_TRUE(lock.open(QIODevice::ReadOnly)) << "let go while another hold of it lives";
    EXPECT_NE(::flock(lock.handle(), LOCK_EX | LOCK_NB), 0) << "let go while another hold of it lives";
    lock.close();
    second.reset();
    EXPECT_FALSE(QFile::exists(dir.filePath(".night.vtrl.lock")));
    EXPECT_EQ(Holder(dir.filePath("night.vtrl")).said, 'y');
}

TEST(PackageLockTest, WhereNoLockCanBeMadeTheHoldIsGivenAllTheSame)
{
    QTemporaryDir dir;
    EXPECT_TRUE(PackageLock::take(dir.filePath("gone/night.vtrl")));
}
