// Partial files of exports under way, and the sweep of those left behind. (A writer killed
// in another process, and one stopped there, are in the command-line tests.)

#include "platform/PartialFile.h"
#include "support/Files.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

using testfiles::writeFile;

TEST(PartialFile, ASweepRemovesOnlyWhatNoWriterHolds)
{
    QTemporaryDir dir, data;
    const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    const QString folder = dir.path();
    const auto files = [&] {
        QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden);
        names.sort();
        return names;
    };
    // Left by a writer that is gone (or by a version that took no lock), and files of the user.
    ASSERT_TRUE(writeFile(folder + "/.vt-LEFT.mp4", "half"));
    ASSERT_TRUE(writeFile(folder + "/.vt-LEFT.srt", "other kind"));
    ASSERT_TRUE(writeFile(folder + "/clip.mp4", "the user's"));
    {
        PartialFile held = PartialFile::create(folder, ".mp4");
        PartialFile done = PartialFile::create(folder, ".mp4");
        const QString name = QFileInfo(held.path()).fileName();
        EXPECT_TRUE(name.startsWith(".vt-") && name.endsWith(".mp4")) << name.toStdString();
        PartialFile::sweep(folder, ".mp4");
        QStringList kept{".vt-LEFT.srt", QFileInfo(done.path()).fileName(), name, "clip.mp4"};
        kept.sort();
        EXPECT_EQ(files(), kept);
        EXPECT_EQ(QDir(data.filePath("Vantorel/Exports")).entryList(QDir::Files).size(), 2u) << "both are noted";
        ASSERT_TRUE(done.moveTo(folder + "/done.mp4"));
    }
    // Ended: the one not moved is removed with its note; the moved one is the finished file.
    EXPECT_EQ(files(), (QStringList{".vt-LEFT.srt", "clip.mp4", "done.mp4"}));
    EXPECT_TRUE(QDir(data.filePath("Vantorel/Exports")).isEmpty());
    qputenv("XDG_DATA_HOME", dataHome);
}

// A pipe under such a name is no file of ours: the sweep neither waits on it nor removes it.
// A new file gets the permissions the user's umask gives any new file.
TEST(PartialFile, ASweepPassesOverPipesAndNewFilesFollowTheUmask)
{
    QTemporaryDir dir, data;
    const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    const QString pipe = dir.filePath(".vt-PIPE.mp4");
    ASSERT_EQ(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    PartialFile::sweep(dir.path(), ".mp4");
    EXPECT_TRUE(QFileInfo(pipe).exists());
    const mode_t was = umask(002);
    {
        PartialFile part = PartialFile::create(dir.path(), ".mp4");
        struct stat made {};
        ASSERT_EQ(::stat(QFile::encodeName(part.path()).constData(), &made), 0);
        EXPECT_EQ(made.st_mode & 0777, 0664u);
    }
    umask(was);
    qputenv("XDG_DATA_HOME", dataHome);
}

} // namespace
