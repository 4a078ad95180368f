#include "ModelTesting.h"

#include "core/project/Backups.h"
#include "core/project/Package.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <algorithm>
#include <csignal>
#include <fstream>
#include <functional>
#include <limits>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace testing_model;

namespace {

Project project(const QString& video, const QString& note = "first")
{
    Project p;
    p.video = video;
    p.markersName = "night.csv";
    p.markersCSV = "0:10\n1:00\n";
    p.note = note;
    p.duration = 3600;
    p.markerCount = 2;
    Segment s;
    s.id = "01";
    s.end = 120;
    s.markers = {10, 60};
    p.segments = {s};
    return p;
}

QByteArray bytesOf(const Project& p)
{
    return json::dumpBytes(json::write(p));
}

QString failureOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const Fail& fail) {
        return fail.errorDescription.isEmpty() ? QStringLiteral("?") : fail.errorDescription;
    }
    return {};
}

// Makes every write past a few bytes fail with EFBIG for the lifetime of the object, so a
// save can be made to fail after its folder is in place (permissions do not stop root).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved);
        handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, handler);
    }

private:
    rlimit saved{};
    void (*handler)(int) = nullptr;
};

class PackageTest : public ::testing::Test {
protected:
    QTemporaryDir scratch;
    QString root;
    void SetUp() override
    {
        ASSERT_TRUE(scratch.isValid());
        root = scratch.path();
    }
};

} // namespace

TEST_F(PackageTest, NewFileIsNamedAfterTheMarkersOrTheRecording)
{
    EXPECT_EQ(Project::newFile("/streams/night.mov", QString("/streams/night markers.csv")), "/streams/night markers.vtrl");
    EXPECT_EQ(Project::newFile("/streams/night.mov", std::nullopt), "/streams/night.vtrl");
    EXPECT_EQ(Project::newFile("/streams/night.mov", QString("/elsewhere/m.v2.csv")), "/streams/m.v2.vtrl");
    EXPECT_EQ(Project::newFile("/streams/night.stream.mkv", std::nullopt), "/streams/night.stream.vtrl");
    EXPECT_EQ(Project::newFile("/streams/night", std::nullopt), "/streams/night.vtrl");
    EXPECT_FALSE(QFileInfo::exists("/streams"));
}

TEST_F(PackageTest, ExistingFileMatchesTheRecordingByFileName)
{
    const QString folder = root + "/streams";
    project("/streams/other.mov").save(folder + "/a.vtrl");
    writeFile(folder + "/0broken.vtrl", "not json {");
    QDir().mkpath(folder + "/0empty.vtrl"); // a folder without project.json
    project("/streams/anight.mov").save(folder + "/aa.vtrl");
    project("/streams/night.mov").save(folder + "/A.VTRL"); // capitals: not a package
    writeFile(folder + "/b.vtrl", bytesOf(project("/old/place/night.mov"))); // legacy, recording moved
    project("/streams/night.mov").save(folder + "/c.vtrl");

    EXPECT_EQ(Project::existingFile(folder + "/night.mov"), folder + "/b.vtrl");
    EXPECT_EQ(Project::existingFile(folder + "/other.mov"), folder + "/a.vtrl");
    EXPECT_EQ(Project::existingFile(folder + "/day.mov"), std::nullopt);
    EXPECT_EQ(Project::existingFile(root + "/missing/night.mov"), std::nullopt);
}

TEST_F(PackageTest, SaveWritesTheFolderAndKeepsItsOtherContents)
{
    const QString package = root + "/new/deeper/night.vtrl";
    Project p = project("/streams/night.mov");
    p.save(package);
    EXPECT_TRUE(QFileInfo(package).isDir());
    EXPECT_EQ(readFile(package + "/project.json"), bytesOf(p));
    EXPECT_EQ(Project::load(package), p);

    writeFile(package + "/activity.jsonl", "{}\n");
    writeFile(package + "/cache/waves/0.bin", "peaks");
    p.note = "second";
    p.save(package);
    EXPECT_EQ(Project::load(package), p);
    EXPECT_EQ(entries(package), QStringList({"activity.jsonl", "cache", "project.json"}));
    EXPECT_EQ(readFile(package + "/cache/waves/0.bin"), "peaks");

    // A project.json that links elsewhere is written there, and stays a link.
    const QString linked = root + "/linked.vtrl";
    writeFile(root + "/elsewhere/project.json", "{}");
    QDir().mkpath(linked);
    ASSERT_TRUE(QFile::link(root + "/elsewhere/project.json", linked + "/project.json"));
    p.save(linked);
    EXPECT_TRUE(QFileInfo(linked + "/project.json").isSymLink());
    EXPECT_EQ(readFile(root + "/elsewhere/project.json"), bytesOf(p));
    EXPECT_EQ(entries(root + "/elsewhere"), QStringList({"project.json"}));
}

TEST_F(PackageTest, LegacyFileBecomesAFolderOnSave)
{
    const QString package = root + "/night.vtrl";
    Project p = project("/streams/night.mov");
    writeFile(package, bytesOf(p));
    EXPECT_EQ(Project::load(package), p);

    p.note = "saved as a folder";
    p.save(package);
    EXPECT_TRUE(QFileInfo(package).isDir());
    EXPECT_EQ(entries(package), QStringList({"project.json"}));
    EXPECT_EQ(entries(root), QStringList({"night.vtrl"})); // nothing left aside
    EXPECT_EQ(Project::load(package), p);
}

TEST_F(PackageTest, FailedSaveLosesNothing)
{
    // Nothing can be written where the parent is a file; nothing at all for a non-finite number.
    writeFile(root + "/plain", "x");
    EXPECT_FALSE(failureOf([&] { project("/v.mov").save(root + "/plain/night.vtrl"); }).isEmpty());
    Project broken = project("/v.mov");
    broken.duration = std::numeric_limits<double>::infinity();
    EXPECT_FALSE(failureOf([&] { broken.save(root + "/nan.vtrl"); }).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(root + "/nan.vtrl"));

    // A legacy file is put back when the folder cannot be written (here a write that stops
    // part-way, as on a full disk).
    const QString legacy = root + "/legacy.vtrl";
    const QByteArray old = bytesOf(project("/streams/night.mov", "legacy"));
    writeFile(legacy, old);
    QString failure;
    {
        FileSizeLimit limit(16);
        failure = failureOf([&] { project("/streams/night.mov", "new").save(legacy); });
    }
    EXPECT_TRUE(failure.contains("legacy.vtrl")) << failure.toStdString();
    EXPECT_TRUE(QFileInfo(legacy).isFile());
    EXPECT_EQ(readFile(legacy), old);

    // An existing project.json stays whole when its replacement cannot be written at all.
    const QString folder = root + "/folder.vtrl";
    project("/streams/night.mov", "kept").save(folder);
    {
        FileSizeLimit limit(0);
        failure = failureOf([&] { project("/streams/night.mov", "lost").save(folder); });
    }
    EXPECT_FALSE(failure.isEmpty());
    // Looked at before any opening, which would clear away what the failed save left.
    EXPECT_EQ(entries(folder), QStringList({"project.json"}));
    EXPECT_EQ(entries(root), QStringList({"folder.vtrl", "legacy.vtrl", "plain"}));
    EXPECT_EQ(Project::load(folder).note, "kept");
}

// Opening a package removes what a save that was cut short left there, and nothing else:
// not the document, the log or the caches, not a file a person made, not another
// package's leftovers, not a file that a save under way still writes, not a project that
// may be the only copy of newer work, and nothing at all while project.json cannot be read.
TEST_F(PackageTest, OpeningRemovesOnlyTheLeftoversOfSavesCutShort)
{
    auto fresh = [] { return QUuid::createUuid().toString(QUuid::WithoutBraces); };
    const QString id = fresh();
    const Project p = project("/streams/night.mov");
    const QByteArray same = bytesOf(p);
    const QByteArray partial = same.left(40);
    const QByteArray other = bytesOf(project("/streams/night.mov", "other work"));
    struct Row {
        QString path; // below root; a trailing slash makes a folder
        QByteArray content;
        int age = 0; // seconds after project.json was written
        bool locked = false; // a save under way holds it
        bool removed = false;
    };
    const Row rows[] = {
        // A save's temporary file: a part of a project, however new, or what project.json
        // holds, or a whole project that a later save has since replaced.
        {"night.vtrl/project.json.saving-" + fresh(), partial, -10, false, true},
        {"night.vtrl/project.json.saving-" + fresh(), partial, 10, false, true},
        {"night.vtrl/project.json.saving-" + fresh(), same, 10, false, true},
        {"night.vtrl/project.json.saving-" + fresh(), other, -10, false, true},
        // Kept: a whole project newer than project.json may be the only copy of that work,
        // and a file that a save in another process still writes is not a leftover.
        {"night.vtrl/project.json.saving-" + fresh(), other, 10},
        {"night.vtrl/project.json.saving-" + fresh(), partial, -10, true},
        // The single-file project moved aside while it became a folder: removed only when
        // the folder holds the same project.
        {"night.vtrl.saving-" + fresh(), same, 0, false, true},
        {"night.vtrl.saving-" + fresh(), partial},
        {"night.vtrl.saving-" + fresh(), other},
        {"night.vtrl.saving-" + fresh(), same, 0, true},
        {"night.vtrl/activity.jsonl", partial},
        {"night.vtrl/cache/waves/0.bin", partial},
        {"night.vtrl/cache/frames/project.json.saving-" + id, partial}, // only beside project.json
        {"night.vtrl/project.json.AbC123", partial},               // perhaps a person's copy
        {"night.vtrl/project.json.backup", partial},
        {"night.vtrl/project.json.saving-notes", partial},
        {"night.vtrl/project.json.saving-" + id.toUpper(), partial}, // not as a save names it
        {"night.vtrl/activity.jsonl.saving-" + id, partial},
        {"night.vtrl/notes.txt", partial},
        {"night.vtrl/project.json.saving-" + id + "-a/", {}}, // a folder
        {"other.vtrl.saving-" + id, same}, // another project's only copy, perhaps
        {"night.mov", partial},
    };
    const QString package = root + "/night.vtrl";
    p.save(package);
    const QDateTime written = QFileInfo(package + "/project.json").lastModified();
    std::vector<std::unique_ptr<QFile>> held;
    for (const Row& row : rows) {
        const QString path = root + '/' + row.path;
        if (row.path.endsWith('/')) {
            QDir().mkpath(path);
            continue;
        }
        writeFile(path, row.content);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(written.addSecs(row.age), QFileDevice::FileModificationTime));
        if (row.locked) {
            held.push_back(std::make_unique<QFile>(path));
            ASSERT_TRUE(held.back()->open(QIODevice::ReadOnly));
            ASSERT_EQ(flock(held.back()->handle(), LOCK_EX | LOCK_NB), 0);
        }
    }

    EXPECT_EQ(Project::load(package), p);
    EXPECT_EQ(readFile(package + "/project.json"), same);
    for (const Row& row : rows)
        EXPECT_EQ(QFileInfo::exists(root + '/' + row.path), !row.removed) << row.path.toStdString();

    // While project.json cannot be read, a leftover may hold the only copy: it stays.
    const QString broken = root + "/broken.vtrl";
    const QString leftover = broken + "/project.json.saving-" + id;
    writeFile(leftover, bytesOf(p));
    EXPECT_FALSE(failureOf([&] { Project::load(broken); }).isEmpty());
    writeFile(broken + "/project.json", "{");
    EXPECT_FALSE(failureOf([&] { Project::load(broken); }).isEmpty());
    EXPECT_TRUE(QFileInfo::exists(leftover));
}

// The program killed at any moment of a save: project.json is always whole (the old or
// the new project). Opening the package removes what is left beside it, except a whole
// project newer than project.json, which may be the only copy of the latest work; once a
// later save has replaced it, that goes too.
TEST_F(PackageTest, ASaveKilledAtAnyMomentLeavesAWholeProjectAndKeepsOnlyNewerWork)
{
    const QString package = root + "/night.vtrl";
    Project p = project(root + "/night.mov");
    p.segments[0].lines = std::vector<Line>(20000, Line{1.5, 2.25, "words and more words"});
    p.note = "0";
    p.save(package);
    for (int round = 0; round < 12; ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            Project changing = p;
            for (int n = 1;; ++n) {
                changing.note = QString::number((round + 1) * 100000 + n); // later saves, larger numbers
                changing.save(package);
            }
        }
        usleep(useconds_t(5000 + round * 3100));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        Project loaded;
        ASSERT_NO_THROW(loaded = Project::load(package)) << "round " << round;
        EXPECT_EQ(loaded.segments, p.segments);
        EXPECT_EQ(entries(root), QStringList({"night.vtrl"})) << "round " << round;
        for (const QString& name : entries(package)) {
            if (name == "project.json")
                continue;
            const Project kept = Project::load(package + '/' + name);
            EXPECT_GT(kept.note.toLongLong(), loaded.note.toLongLong()) << "round " << round;
        }
    }
    // File times advance in steps of a few milliseconds: the next save is surely later.
    usleep(50000);
    p.save(package);
    EXPECT_EQ(Project::load(package), p);
    EXPECT_EQ(entries(package), QStringList({"project.json"}));
}

TEST_F(PackageTest, LoadNamesThePackageThatCannotBeRead)
{
    const QString sentence = "night stream.vtrl could not be read as a Vantorel project.";
    const QString package = root + "/night stream.vtrl";
    auto loadFailure = [&] { return failureOf([&] { Project::load(package); }); };

    EXPECT_EQ(loadFailure(), sentence); // missing
    QDir().mkpath(package);
    EXPECT_EQ(loadFailure(), sentence); // folder without project.json
    const QByteArray good = bytesOf(project("/streams/night stream.mov"));
    for (const QByteArray& bad : {QByteArray("not json"), good.left(good.size() / 2), QByteArray(),
                                  QByteArray("[]"), QByteArray(good).replace(",\"analyzed\":false", "")}) {
        writeFile(package + "/project.json", bad);
        EXPECT_EQ(loadFailure(), sentence) << bad.constData();
    }
    QDir(package).removeRecursively();
    writeFile(package, "{\"format\":1"); // truncated legacy file
    EXPECT_EQ(loadFailure(), sentence);
}

TEST_F(PackageTest, AFileTooLargeForAProjectIsNeverRead)
{
    // Sparse files: they take no room on the disk, and reading one whole would take seconds.
    const qint64 huge = qint64(257) * 1024 * 1024;
    auto sparse = [&](const QString& path) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.resize(huge);
    };
    ASSERT_TRUE(sparse(root + "/a huge.vtrl"));
    ASSERT_TRUE(sparse(root + "/b huge.vtrl/project.json"));
    project("/streams/night.mov").save(root + "/c.vtrl");

    EXPECT_EQ(Project::existingFile(root + "/night.mov"), root + "/c.vtrl");
    for (const char* name : {"a huge.vtrl", "b huge.vtrl"})
        EXPECT_EQ(failureOf([&] { Project::load(root + '/' + name); }),
                  QString(name) + " could not be read as a Vantorel project. It is larger than 256 MB, far more "
                                  "than any project holds.");
}

TEST_F(PackageTest, RecordingIsFoundAtItsPathOrBesideThePackage)
{
    const Project p = project(root + "/streams/night.mov");
    writeFile(root + "/streams/night.mov", "video");
    EXPECT_EQ(p.recording(root + "/streams/night.vtrl"), root + "/streams/night.mov");
    EXPECT_EQ(p.recording(root + "/moved/night.vtrl"), root + "/streams/night.mov");

    // Moved together with its package into another folder.
    QDir().rename(root + "/streams", root + "/moved");
    EXPECT_EQ(p.recording(root + "/moved/night.vtrl"), root + "/moved/night.mov");
    EXPECT_EQ(p.recording(root + "/elsewhere/night.vtrl"), std::nullopt);
}

namespace {

// A project of `count` transcribed segments (about 5 KB of JSON each).
Project sizeable(const QString& video, int count)
{
    Project p = project(video);
    p.segments.clear();
    for (int i = 0; i < count; ++i) {
        Segment s;
        s.id = QString::asprintf("%02d", i + 1);
        s.start = i * 300;
        s.end = s.start + 210;
        s.markers = {s.start + 150};
        s.lines = std::vector<Line>(60, Line{s.start + 1.5, s.start + 4.25, "and then the boss came back, again"});
        p.segments.push_back(s);
    }
    return p;
}

} // namespace

// A command-line job and the program, or the start screen's recent rows, open a package
// while another process saves it: no save may fail for it.
TEST_F(PackageTest, OpeningInAnotherProcessNeverBreaksASave)
{
    const QString package = root + "/night.vtrl";
    Project p = sizeable(root + "/night.mov", 60);
    p.save(package);
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t opener = fork();
    ASSERT_GE(opener, 0);
    if (opener == 0) {
        for (bool told = false;; told = true) {
            try {
                Project::load(package);
            } catch (const Fail&) {
            }
            if (!told && write(ready[1], "!", 1) != 1)
                _exit(1);
        }
    }
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    int failed = 0;
    QString failure;
    const int saves = 600;
    for (int n = 0; n < saves; ++n) {
        p.note = QString::number(n);
        const QString sentence = failureOf([&] { p.save(package); });
        if (!sentence.isEmpty()) {
            ++failed;
            failure = sentence;
        }
    }
    kill(opener, SIGKILL);
    waitpid(opener, nullptr, 0);
    close(ready[0]);
    close(ready[1]);
    EXPECT_EQ(failed, 0) << "of " << saves << " saves, the last: " << failure.toStdString();
    EXPECT_EQ(Project::load(package).note, p.note);
    EXPECT_EQ(entries(package), QStringList({"project.json"}));
}

namespace {

// Kills and reaps a child process when the test leaves, however it leaves, so that no
// child outlives a failed assertion.
class Child {
public:
    explicit Child(pid_t pid) : pid_(pid) {}
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() { end(); }
    pid_t pid() const { return pid_; }
    void end()
    {
        if (pid_ > 0)
            kill(pid_, SIGKILL);
        wait();
    }
    // Waits for the child to end; its status as waitpid gives it, or -1.
    int wait()
    {
        if (pid_ > 0 && waitpid(pid_, &status_, 0) != pid_)
            status_ = -1;
        pid_ = -1;
        return status_;
    }
    // Whether the child has ended, without waiting for it; wait() then gives its status.
    bool ended()
    {
        if (pid_ > 0 && waitpid(pid_, &status_, WNOHANG) == pid_)
            pid_ = -1;
        return pid_ <= 0;
    }

private:
    pid_t pid_;
    int status_ = -1;
};

// Whether every one of `processes` waits for the flock lock of the file with inode
// `inode`. The list of locks is read while it changes, so a line may come twice.
bool allWaitForLock(ino_t inode, const std::vector<pid_t>& processes)
{
    std::ifstream locks("/proc/locks");
    const std::string suffix = ':' + std::to_string(inode);
    std::set<pid_t> waiting;
    for (std::string line; std::getline(locks, line);) {
        std::istringstream words(line);
        std::string number, arrow, kind, mode, access, device;
        pid_t pid = 0;
        words >> number >> arrow >> kind >> mode >> access >> pid >> device;
        if (words && arrow == "->" && kind == "FLOCK" && device.ends_with(suffix))
            waiting.insert(pid);
    }
    return std::ranges::all_of(processes, [&](pid_t pid) { return waiting.contains(pid); });
}

} // namespace

// A save holds its temporary file from the moment it starts writing it: an opening of the
// package in another process, whenever it comes, leaves that file to the save, and the
// save goes on to succeed. The saving process is stopped at varied moments until it has
// been caught a few times with its temporary file written. It saves the same project
// again and again (as saving without a change does), so that the file holds just what
// project.json holds, which an opening would take for a leftover were it not held.
TEST_F(PackageTest, AnOpeningInTheMiddleOfASaveLeavesItsFileToTheSave)
{
    const QString package = root + "/night.vtrl";
    const Project p = sizeable(root + "/night.mov", 400);
    p.save(package);
    int failures[2];
    ASSERT_EQ(pipe(failures), 0);
    Child saver(fork());
    ASSERT_GE(saver.pid(), 0);
    if (saver.pid() == 0) {
        close(failures[0]);
        for (;;) {
            if (!failureOf([&] { p.save(package); }).isEmpty() && write(failures[1], "!", 1) != 1)
                _exit(1);
        }
    }
    close(failures[1]);

    int caught = 0;
    QElapsedTimer elapsed;
    elapsed.start();
    for (int attempt = 0; caught < 8 && elapsed.elapsed() < 4000; ++attempt) {
        usleep(useconds_t(1000 + attempt * 1700 % 13000));
        ASSERT_EQ(kill(saver.pid(), SIGSTOP), 0);
        int status = 0;
        ASSERT_EQ(waitpid(saver.pid(), &status, WUNTRACED), saver.pid());
        ASSERT_TRUE(WIFSTOPPED(status));
        QString temporary;
        for (const QString& name : entries(package)) {
            if (name != "project.json")
                temporary = package + '/' + name;
        }
        // An empty file may be one the save has only just made and not yet locked: an
        // opening may take it, and the save then makes another.
        if (!temporary.isEmpty() && QFileInfo(temporary).size() > 0) {
            ++caught;
            EXPECT_NO_THROW(Project::load(package));
            EXPECT_TRUE(QFileInfo::exists(temporary)) << "caught " << caught << " times, at attempt " << attempt;
        }
        ASSERT_EQ(kill(saver.pid(), SIGCONT), 0);
        if (HasFailure())
            break;
    }
    // Let the save last caught go on long enough to finish, or to fail.
    usleep(100000);
    saver.end();
    int failed = 0;
    char byte = 0;
    while (read(failures[0], &byte, 1) == 1)
        ++failed;
    close(failures[0]);
    EXPECT_GT(caught, 0) << "the save was never caught writing";
    EXPECT_EQ(failed, 0);
    EXPECT_NO_THROW(Project::load(package));
}

// The program and a command-line job, say, save over the same single-file project at
// once: one turns it into a folder, the other then writes into that folder. Both saves
// succeed, the folder holds one of the two projects, and nothing is left aside. Once the
// test holds the single file's lock until both saves wait for it, so both have found a
// file; once both start together, so one may find the other's folder at the name.
TEST_F(PackageTest, TwoProcessesTurningOneSingleFileIntoAFolderBothSave)
{
    if (!std::ifstream("/proc/locks"))
        GTEST_SKIP() << "the system does not show who waits for a lock";
    const QString package = root + "/night.vtrl";
    const Project saved[] = {project(root + "/night.mov", "one"), project(root + "/night.mov", "two")};
    const QByteArray legacy = bytesOf(project(root + "/night.mov", "single file"));
    for (int round = 0; round < 240; ++round) {
        const bool holding = round % 8 == 0;
        QDir(package).removeRecursively();
        QFile::remove(package);
        writeFile(package, legacy);
        struct stat single {};
        ASSERT_EQ(::stat(QFile::encodeName(package).constData(), &single), 0);

        int barrier[2];
        ASSERT_EQ(pipe(barrier), 0);
        std::vector<std::unique_ptr<Child>> savers;
        for (const Project& p : saved) {
            const pid_t pid = fork();
            ASSERT_GE(pid, 0);
            if (pid == 0) {
                close(barrier[1]);
                char byte = 0;
                if (read(barrier[0], &byte, 1) != 1)
                    _exit(2);
                _exit(failureOf([&] { p.save(package); }).isEmpty() ? 0 : 1);
            }
            savers.push_back(std::make_unique<Child>(pid));
        }
        close(barrier[0]);
        QFile held(package);
        ASSERT_TRUE(held.open(QIODevice::ReadOnly));
        if (holding) {
            ASSERT_EQ(flock(held.handle(), LOCK_EX), 0);
        }
        ASSERT_EQ(write(barrier[1], "!!", 2), 2);
        close(barrier[1]);
        std::vector<pid_t> pids;
        for (const auto& saver : savers)
            pids.push_back(saver->pid());
        if (holding) {
            QElapsedTimer waited;
            waited.start();
            while (!allWaitForLock(single.st_ino, pids) && waited.elapsed() < 3000)
                usleep(500);
            ASSERT_TRUE(allWaitForLock(single.st_ino, pids)) << "round " << round;
            flock(held.handle(), LOCK_UN);
        }
        held.close();

        for (const auto& saver : savers) {
            const int status = saver->wait();
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "round " << round << ", status " << status;
        }
        // Before any opening, which would clear away what was left aside.
        EXPECT_EQ(entries(root), QStringList({"night.vtrl"})) << "round " << round;
        EXPECT_TRUE(QFileInfo(package).isDir()) << "round " << round;
        EXPECT_EQ(entries(package), QStringList({"project.json"})) << "round " << round;
        const QByteArray written = readFile(package + "/project.json");
        EXPECT_TRUE(written == bytesOf(saved[0]) || written == bytesOf(saved[1])) << "round " << round;
        if (HasFailure())
            break;
    }
}

namespace {

// A save in a child process of its own. It may be held at one moment of turning a single
// file into a folder: it then says so through `held` and waits for a byte on `goOn`.
class Saver {
public:
    struct Held {
        Package::Moment moment;
        int held;
        int goOn;
    };

    Saver(const Project& project, const QString& package, std::optional<Held> hold = std::nullopt)
    {
        int said[2];
        if (pipe(said) != 0)
            return;
        child_ = std::make_unique<Child>(fork());
        if (child_->pid() == 0) {
            close(said[0]);
            if (hold) {
                holding = *hold;
                Package::hold = [](Package::Moment moment) {
                    char byte = '!';
                    if (moment == holding.moment && (write(holding.held, &byte, 1) != 1 || read(holding.goOn, &byte, 1) != 1))
                        _exit(2);
                };
            }
            const QByteArray sentence = failureOf([&] { project.save(package); }).toUtf8();
            _exit(write(said[1], sentence.constData(), size_t(sentence.size())) == sentence.size() ? 0 : 3);
        }
        close(said[1]);
        said_ = said[0];
    }
    Saver(const Saver&) = delete;
    Saver& operator=(const Saver&) = delete;
    ~Saver()
    {
        if (said_ >= 0)
            close(said_);
    }

    pid_t pid() const { return child_ ? child_->pid() : -1; }
    bool ended() { return !child_ || child_->ended(); }
    // Waits for the save to end: its exit status as waitpid gives it, and the sentence of
    // its failure (empty when it saved).
    std::pair<int, QString> outcome()
    {
        QByteArray sentence;
        char buffer[512];
        for (ssize_t got; said_ >= 0 && (got = read(said_, buffer, sizeof buffer)) != 0;) {
            if (got > 0)
                sentence.append(buffer, got);
            else if (errno != EINTR)
                break;
        }
        return {child_ ? child_->wait() : -1, QString::fromUtf8(sentence)};
    }

private:
    static inline Held holding{};
    std::unique_ptr<Child> child_;
    int said_ = -1;
};

} // namespace

// The same race made certain: one save is held at each moment of turning the single file
// into a folder, and the other save goes as far as it can meanwhile (to its end, or to the
// lock the held one has taken). The folder the other one made is never moved aside, with
// the log the program has written in it since; nothing else is left beside the package;
// each save succeeds or says why not; project.json holds a project that was saved.
TEST_F(PackageTest, ASaveHeldWhileAnotherTurnsTheSingleFileIntoAFolderLeavesThatFolderInPlace)
{
    if (!std::ifstream("/proc/locks"))
        GTEST_SKIP() << "the system does not show who waits for a lock";
    const Project saved[] = {project(root + "/night.mov", "held"), project(root + "/night.mov", "other")};
    const QByteArray legacy = bytesOf(project(root + "/night.mov", "single file"));
    const QByteArray log = "{\"event\":\"opened\"}\n";
    struct Row {
        const char* name;
        Package::Moment moment;
    };
    const Row rows[] = {
        {"held having found a single file", Package::Moment::FoundSingleFile},
        {"held having opened it", Package::Moment::OpenedSingleFile},
        {"held having locked it and found it still at the name", Package::Moment::CheckedSingleFile},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const QString folder = root + '/' + row.name;
        const QString package = folder + "/night.vtrl";
        writeFile(package, legacy);
        struct stat single {};
        ASSERT_EQ(::stat(QFile::encodeName(package).constData(), &single), 0);

        int held[2], goOn[2];
        ASSERT_EQ(pipe(held), 0);
        ASSERT_EQ(pipe(goOn), 0);
        Saver first(saved[0], package, Saver::Held{row.moment, held[1], goOn[0]});
        ASSERT_GT(first.pid(), 0);
        close(held[1]);
        close(goOn[0]);
        char byte = 0;
        ASSERT_EQ(read(held[0], &byte, 1), 1) << "the save never came to that moment";
        close(held[0]);

        Saver second(saved[1], package);
        ASSERT_GT(second.pid(), 0);
        const pid_t other = second.pid();
        // Only a hang would take this long; a save of this project takes milliseconds.
        QElapsedTimer guard;
        guard.start();
        while (!second.ended() && !allWaitForLock(single.st_ino, {other}) && guard.elapsed() < 60000)
            usleep(1000);
        ASSERT_TRUE(second.ended() || allWaitForLock(single.st_ino, {other})) << "the other save neither ended nor waited";
        // The program writes its log into the folder as soon as it stands.
        const bool converted = QFileInfo(package).isDir();
        if (converted)
            writeFile(package + "/activity.jsonl", log);
        ASSERT_EQ(write(goOn[1], "!", 1), 1);
        close(goOn[1]);

        std::vector<QByteArray> kept;
        for (auto [saver, p] : {std::pair{&first, &saved[0]}, std::pair{&second, &saved[1]}}) {
            const auto [status, sentence] = saver->outcome();
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
            if (sentence.isEmpty()) {
                kept.push_back(bytesOf(*p));
            } else {
                EXPECT_TRUE(sentence.startsWith("The project could not be saved to night.vtrl: ") && sentence.endsWith('.'))
                    << sentence.toStdString();
            }
        }
        if (kept.empty())
            kept.push_back(legacy); // neither saved: the single file stays as it was
        // Before any opening, which would clear away what was left aside.
        EXPECT_EQ(entries(folder), QStringList({"night.vtrl"}));
        const QString document = QFileInfo(package).isDir() ? package + "/project.json" : package;
        EXPECT_TRUE(std::ranges::find(kept, readFile(document)) != kept.end()) << readFile(document).toStdString();
        if (QFileInfo(package).isDir()) {
            EXPECT_EQ(entries(package), converted ? QStringList({"activity.jsonl", "project.json"}) : QStringList({"project.json"}));
        }
        if (converted) {
            EXPECT_EQ(QString::fromUtf8(readFile(package + "/activity.jsonl")), QString::fromUtf8(log));
        }
        if (HasFailure())
            break;
    }
}

// A save that the system cuts short past the first write buffer (here a file-size limit,
// as a full disk would) fails, and the project saved before stays whole. Run in a child
// process: the limit holds for the whole process.
TEST_F(PackageTest, AShortWriteOfALargeProjectFailsAndKeepsTheOldOne)
{
    struct Row {
        const char* name;
        bool legacy; // the package is still a single file
        rlim_t limit;
        int segments;
    };
    const Row rows[] = {
        {"a folder, 300 KB under a 64 KB limit", false, 64 * 1024, 60},
        {"a single file, 300 KB under a 64 KB limit", true, 64 * 1024, 60},
        {"a folder, a few buffers under a limit past the first", false, 20 * 1024, 10},
    };
    for (const Row& row : rows) {
        const QString folder = root + '/' + row.name;
        const QString package = folder + "/night.vtrl";
        const Project old = sizeable(root + "/night.mov", row.segments);
        if (row.legacy)
            writeFile(package, bytesOf(old));
        else
            old.save(package);
        Project changed = old;
        changed.note = "changed";
        ASSERT_GT(bytesOf(changed).size(), qsizetype(row.limit) * 2) << row.name;

        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit limit{};
            getrlimit(RLIMIT_FSIZE, &limit);
            limit.rlim_cur = row.limit;
            setrlimit(RLIMIT_FSIZE, &limit);
            const QString failure = failureOf([&] { changed.save(package); });
            // 0: failed naming the package; 1: claimed success; 2: failed without naming it.
            _exit(failure.isEmpty() ? 1 : failure.contains("night.vtrl") ? 0 : 2);
        }
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status)) << row.name;
        EXPECT_EQ(WEXITSTATUS(status), 0) << row.name;
        EXPECT_EQ(QFileInfo(package).isDir(), !row.legacy) << row.name;
        // Before any opening, which would clear away what the failed save left.
        EXPECT_EQ(entries(folder), QStringList({"night.vtrl"})) << row.name;
        if (!row.legacy) {
            EXPECT_EQ(entries(package), QStringList({"project.json"})) << row.name;
        }
        Project kept;
        EXPECT_NO_THROW(kept = Project::load(package)) << row.name;
        EXPECT_TRUE(kept == old) << row.name;
    }
}

// ---- backups ----

namespace {

class BackupsTest : public PackageTest {
protected:
    QTemporaryDir data;
    QString backups;
    const QDateTime evening{QDate(2024, 5, 1), QTime(22, 0, 0)};

    QByteArray previous = qgetenv("XDG_DATA_HOME");

    // The backup folder lives in a scratch data folder, never the user's own.
    void SetUp() override
    {
        PackageTest::SetUp();
        ASSERT_TRUE(data.isValid());
        qputenv("XDG_DATA_HOME", data.path().toUtf8());
        backups = Backups::folder();
        ASSERT_EQ(backups, data.path() + "/Vantorel/Backups");
    }
    void TearDown() override
    {
        if (previous.isNull())
            qunsetenv("XDG_DATA_HOME");
        else
            qputenv("XDG_DATA_HOME", previous);
    }

    QStringList named(const QString& prefix) const
    {
        return entries(backups).filter(QRegularExpression(QStringLiteral("^") + QRegularExpression::escape(prefix)));
    }
};

} // namespace

TEST_F(BackupsTest, KeepsTheTenNewestCopiesOfAProject)
{
    const QString package = root + "/night.vtrl";
    for (int i = 0; i < 11; ++i) {
        project("/streams/night.mov", QString::number(i)).save(package);
        Backups::keep(package, evening.addSecs(i));
    }
    QStringList expected;
    for (int i = 1; i < 11; ++i)
        expected << QStringLiteral("night 2024-05-01 22.00.%1.vtrl").arg(i, 2, 10, QLatin1Char('0'));
    EXPECT_EQ(entries(backups), expected);
    // A backup is a legacy package holding the project as it was.
    EXPECT_EQ(Project::load(backups + "/night 2024-05-01 22.00.04.vtrl"), project("/streams/night.mov", "4"));
}

TEST_F(BackupsTest, SameSecondMissingSourceAndLegacyFiles)
{
    const QString package = root + "/night.vtrl";
    project("/streams/night.mov", "first").save(package);
    Backups::keep(package, evening);
    project("/streams/night.mov", "second").save(package);
    Backups::keep(package, evening);
    EXPECT_EQ(entries(backups), QStringList({"night 2024-05-01 22.00.00.vtrl"}));
    EXPECT_EQ(Project::load(backups + "/night 2024-05-01 22.00.00.vtrl").note, "first");

    Backups::keep(root + "/gone.vtrl", evening); // nothing to copy, nothing reported
    EXPECT_TRUE(named("gone").isEmpty());

    writeFile(root + "/old.vtrl", bytesOf(project("/streams/old.mov")));
    Backups::keep(root + "/old.vtrl", evening);
    EXPECT_EQ(readFile(backups + "/old 2024-05-01 22.00.00.vtrl"), bytesOf(project("/streams/old.mov")));

    Backups::keep(root + "/night.vtrl"); // the current moment
    EXPECT_EQ(named("night 20").size(), 2);
}

TEST_F(BackupsTest, PrunesOnlyBackupsOfTheSameProject)
{
    QDir().mkpath(backups);
    QStringList others;
    for (int i = 0; i < 11; ++i) {
        const QString stamp = evening.addDays(-1).addSecs(i).toString("yyyy-MM-dd HH.mm.ss");
        others << "night 2024 " + stamp + ".vtrl" << "night2 " + stamp + ".vtrl";
    }
    others << "night 2023-01-01 00.00.00 copy.vtrl" << "night notes.vtrl" << "night 2023-01-01 00.00.00.json";
    for (const QString& name : others)
        writeFile(backups + u'/' + name, "{}");

    const QString package = root + "/night.vtrl";
    project("/streams/night.mov").save(package);
    for (int i = 0; i < 11; ++i)
        Backups::keep(package, evening.addSecs(i));
    EXPECT_EQ(entries(backups).size(), others.size() + 10);
    for (const QString& name : others)
        EXPECT_TRUE(QFileInfo::exists(backups + u'/' + name)) << name.toStdString();
    EXPECT_FALSE(QFileInfo::exists(backups + "/night 2024-05-01 22.00.00.vtrl"));

    // A stem with blanks and digits prunes its own backups.
    project("/streams/night 2024.mov").save(root + "/night 2024.vtrl");
    Backups::keep(root + "/night 2024.vtrl", evening);
    EXPECT_EQ(named("night 2024 ").size(), 10);
    EXPECT_TRUE(QFileInfo::exists(backups + "/night 2024 2024-05-01 22.00.00.vtrl"));
    EXPECT_FALSE(QFileInfo::exists(backups + "/night 2024 2024-04-30 22.00.01.vtrl"));
    EXPECT_EQ(named("night2 ").size(), 11);
}
