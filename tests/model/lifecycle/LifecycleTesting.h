#pragma once

// Shared helpers of the AppModel lifecycle tests: clips made once per run, packages
// written on disk, a model with fake players, and waiting for background work.

#include "core/project/Activity.h"
#include "core/project/Backups.h"
#include "core/project/Records.h"
#include "model/lifecycle/AppModel.h"
#include "platform/Prefs.h"
#include "support/Segments.h"
#include "support/Clips.h"
#include "support/EventLoop.h"
#include "support/Files.h"
#include "support/FakePlayer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <QCoro/QCoroTask>
#include <QCoro/QCoroTimer>
#include <gtest/gtest.h>
#include <functional>
#include <memory>
#include <ostream>

inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace lifecycle {

// Clips shared by every test of the run (ffmpeg is slow enough to make them once).
inline QTemporaryDir& clipFolder()
{
    static QTemporaryDir folder;
    return folder;
}
inline QString sharedClip(const QString& name, const std::function<QString(const QString&)>& make)
{
    const QString path = clipFolder().path() + u'/' + name;
    if (!QFileInfo::exists(path))
        make(path);
    return path;
}
// 6 s, 320x180 with sound.
inline QString plainClip()
{
    return sharedClip(QStringLiteral("plain.mp4"), [](const QString& p) { return Clips::video(p, 6); });
}
inline QString silentClip()
{
    return sharedClip(QStringLiteral("silent.mp4"), [](const QString& p) { return Clips::video(p, 6, false); });
}
// 6 s, shown turned a quarter clockwise (upright 180x320).
inline QString uprightClip()
{
    return sharedClip(QStringLiteral("upright.mp4"), [](const QString& p) { return Clips::rotatedVideo(p, 6, 90); });
}
// 6 s, 640x480.
inline QString largeClip()
{
    return sharedClip(QStringLiteral("large.mp4"), [](const QString& p) {
        return Clips::ffmpeg({"-f", "lavfi", "-i", "testsrc=size=640x480:rate=10:duration=6", "-c:v", "mpeg4",
                              "-q:v", "5", p})
            ? p
            : QString();
    });
}
inline QString soundClip()
{
    return sharedClip(QStringLiteral("sound.m4a"), [](const QString& p) { return Clips::audioOnly(p, 3); });
}

inline QString copy(const QString& from, const QString& to)
{
    QDir().mkpath(QFileInfo(to).absolutePath());
    QFile::remove(to);
    return QFile::copy(from, to) ? to : QString();
}

using testfiles::readFile;
using testfiles::uuid;
using testfiles::writeFile;

// A project of `video` with two marker segments. It transcribes nothing by itself, so the
// pipeline that every opening starts leaves it alone.
inline Project projectOf(const QString& video, std::vector<Segment> segments = {segment("01", 0, 2.5, {1}),
                                                                                segment("02", 3, 5.5, {4})})
{
    Project p;
    p.autoTranscribe = false;
    p.video = video;
    p.markersName = QStringLiteral("Stream.csv");
    p.markersCSV = QStringLiteral("0:00:01\n0:00:04\n");
    p.before = 1;
    p.after = 1.5;
    p.duration = 6;
    p.markerCount = 2;
    p.segments = std::move(segments);
    return p;
}

inline QString writePackage(const QString& path, const Project& project)
{
    project.save(path);
    return path;
}

inline QByteArray line(const Job& job)
{
    return json::dumpBytes(json::write(job)) + '\n';
}

inline Job job(int n, const QString& state, double started, std::optional<double> ended = std::nullopt)
{
    Job j;
    j.id = uuid(n);
    j.kind = QStringLiteral("summarize");
    j.title = QStringLiteral("Job %1").arg(n);
    j.started = started;
    j.ended = ended;
    j.state = state;
    return j;
}

// What a panel's user answers: a path or nothing, at once or after taking `ms` to choose.
inline Panels::Answer answer(std::optional<QString> path, int ms = 0)
{
    if (ms > 0)
        co_await QCoro::sleepFor(std::chrono::milliseconds(ms));
    co_return path;
}

// Runs the event loop until `done` holds or `ms` have passed.
inline bool waitUntil(const std::function<bool()>& done, int ms = 10000)
{
    return events::until(done, ms);
}
inline void settle(int ms)
{
    waitUntil([] { return false; }, ms);
}

inline QStringList backups()
{
    return QDir(Backups::folder()).entryList(QDir::Files);
}

// Every test gets its own folder, its own data folder (backups) and clean preferences.
class LifecycleTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QTemporaryDir data;
    QString root;

    static void SetUpTestSuite()
    {
        ASSERT_FALSE(plainClip().isEmpty());
        ASSERT_TRUE(QFileInfo::exists(plainClip())) << "ffmpeg could not make the test clip";
    }

    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(data.isValid());
        root = dir.path();
        qputenv("XDG_DATA_HOME", data.path().toUtf8());
        resetPrefs();
    }
    void TearDown() override
    {
        settle(50); // let queued starts (price refresh) run while this test's folders exist
        resetPrefs();
    }
    static void resetPrefs()
    {
        for (const char* key : {"recents", "volume", "pricing", "pricingFetched", "model", "editModel"})
            Prefs::shared().remove(QString::fromLatin1(key));
    }

    static std::unique_ptr<AppModel> makeModel()
    {
        return std::make_unique<AppModel>(std::make_unique<FakePlayer>(), std::make_unique<FakePlayer>());
    }
    static FakePlayer& playerOf(AppModel& model) { return static_cast<FakePlayer&>(model.player()); }

    // A package beside its own copy of a clip, opened in `model`.
    QString openPackage(AppModel& model, const QString& name, const QString& clip = plainClip(),
                        std::vector<Segment> segments = {segment("01", 0, 2.5, {1}), segment("02", 3, 5.5, {4})})
    {
        const QString recording = copy(clip, root + u'/' + name + QStringLiteral(".mp4"));
        const QString package = writePackage(root + u'/' + name + QStringLiteral(".vtrl"),
                                             projectOf(recording, std::move(segments)));
        QCoro::waitFor(model.openProject(package));
        return package;
    }
};

} // namespace lifecycle
