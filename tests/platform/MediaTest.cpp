// What the probe and the still decoder read of recordings in each container.

#include "core/project/Fail.h"
#include "platform/media/Media.h"
#include "platform/media/Stills.h"
#include "support/Clips.h"
#include "support/Files.h"

#include <QTemporaryDir>
#include <QTemporaryFile>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

using testfiles::readFile;
using testfiles::writeFile;

// The picture the player shows at recording time `t` of a numbered clip whose pictures are
// shown at `frames`: the last that starts before the showing limit of `t`, or the first.
int shownAt(const std::vector<Clips::Shown>& frames, double t)
{
    int number = frames.empty() ? -1 : frames.front().number;
    for (const Clips::Shown& f : frames)
        if (f.time < showingLimit(t))
            number = f.number;
    return number;
}

// What is written to standard error (by anyone in the process) while `work` runs.
QByteArray standardErrorOf(const std::function<void()>& work)
{
    QTemporaryFile file;
    if (!file.open())
        return "no file to catch standard error in";
    std::fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    dup2(file.handle(), STDERR_FILENO);
    work();
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    file.seek(0);
    return file.readAll();
}

// A segment's or a recent project's thumbnail shows the picture the player shows at its
// time, in every container the picker offers: an MPEG-TS has no index, and a seek in it
// lands within a group of pictures, where the decoder shows nothing until the next key
// frame. Key frames 3 s apart; times on a frame, just after one, between two.
TEST(MediaTest, AStillIsThePictureThePlayerShowsAtItsTime)
{
    QTemporaryDir dir;
    const QString base = Clips::numbered(dir.filePath("base.mp4"), 10, 30, 90);
    ASSERT_FALSE(base.isEmpty());
    const std::vector<double> times{0, 0.5, 1.99, 2.01, 2.02, 3.0, 4.51, 6.0, 8.99, 9.95};
    for (const QString suffix : {"mp4", "mov", "m4v", "mkv", "webm", "flv", "ts", "mts", "avi"}) {
        SCOPED_TRACE(suffix.toStdString());
        const QString clip = Clips::inContainer(base, dir.filePath("clip." + suffix), 90);
        ASSERT_FALSE(clip.isEmpty());
        const std::vector<Clips::Shown> frames = Clips::recordingFrames(clip);
        ASSERT_GT(frames.size(), 290u);
        QStringList got, wanted;
        for (const double t : times) {
            wanted << QString::number(shownAt(frames, t));
            try {
                got << QString::number(Clips::numberOf(Media::stillNow(clip, t, QSize(320, 180))));
            } catch (const Fail& fail) {
                got << fail.errorDescription;
            }
        }
        EXPECT_EQ(got.join(u' ').toStdString(), wanted.join(u' ').toStdString());
    }
}

// Where a recording's data stops short of what it says it holds (a copy cut off) the player
// keeps to it; a recording whose picture ends before its sound is whole, in every container
// (the probe reads the tail of a file without an index: any stream's packets tell where the
// data stops, not the picture's alone).
TEST(MediaTest, OnlyARecordingCutOffEndsEarly)
{
    QTemporaryDir dir;
    const QString base = Clips::numbered(dir.filePath("base.mp4"), 20, 30, 30);
    ASSERT_FALSE(base.isEmpty());
    const struct {
        QString name, suffix;
        bool pictureEndsFirst; // its picture stops at 10 s, its sound goes on to 20 s
        bool cutOff;           // half its bytes
        std::optional<double> dataEnd;
    } table[] = {
        {"whole", "mp4", false, false, std::nullopt},
        {"whole", "ts", false, false, std::nullopt},
        {"picture ends first", "mp4", true, false, std::nullopt},
        {"picture ends first", "ts", true, false, std::nullopt},
        {"picture ends first", "flv", true, false, std::nullopt},
        {"cut off", "mp4", false, true, 10},
        {"cut off", "mkv", false, true, 10},
    };
    for (const auto& row : table) {
        SCOPED_TRACE((row.name + " " + row.suffix).toStdString());
        const QString made = dir.filePath("made." + row.suffix);
        const QStringList inputs = row.pictureEndsFirst ? QStringList{"-t", "10", "-i", base, "-i", base, "-map", "0:v",
                                                                      "-map", "1:a"}
                                                        : QStringList{"-i", base};
        ASSERT_TRUE(Clips::ffmpeg(inputs + QStringList{"-c", "copy", "-movflags", "+faststart", made}));
        const QString clip = dir.filePath("clip." + row.suffix);
        const QByteArray bytes = readFile(made);
        ASSERT_TRUE(writeFile(clip, row.cutOff ? bytes.left(bytes.size() / 2) : bytes));
        const MediaInfo info = Media::probeNow(clip);
        EXPECT_EQ(info.dataEnd.has_value(), row.dataEnd.has_value()) << info.dataEnd.value_or(-1);
        // A still far past the data is its last picture, decoded from the key frame before it.
        if (row.cutOff) {
            EXPECT_NEAR(Clips::numberOf(Media::stillNow(clip, 19.5, QSize(160, 90))), 300, 35);
        }
        if (info.dataEnd && row.dataEnd) {
            EXPECT_NEAR(*info.dataEnd, *row.dataEnd, 1.1);
        }
    }
}

// What the libraries say as they read a damaged recording (a corrupt packet, a picture whose
// reference is missing) is not the user's to read: a command-line job keeps standard error
// clear while it probes, reads packets and makes stills.
TEST(MediaTest, TheLibrariesSayNothingOfADamagedRecording)
{
    QTemporaryDir dir;
    const QString clip = Clips::numbered(dir.filePath("damaged.ts"), 10, 30, 90);
    ASSERT_FALSE(clip.isEmpty());
    QByteArray bytes = readFile(clip);
    quint32 noise = 12345;
    for (qsizetype i = bytes.size() * 2 / 5; i < bytes.size() * 3 / 5; i += 3) {
        noise = noise * 1664525u + 1013904223u;
        bytes[i] = char(noise >> 24);
    }
    ASSERT_TRUE(writeFile(clip, bytes));
    const QByteArray said = standardErrorOf([&] {
        try {
            Media::probeNow(clip);
            Media::stretchesNow(clip, {{1, 2}, {4.5, 6}, {8, 9.5}});
            Media::framesAroundNow(clip, {3, 5, 7});
            Media::heldNow(clip);
        } catch (const Fail&) {
        }
        for (const double t : {1.0, 4.0, 5.0, 6.5, 9.0}) {
            try {
                Media::stillNow(clip, t, QSize(160, 90));
            } catch (const Fail&) {
            }
        }
        StillDecoder strip(clip, QSize(160, 90));
        for (int second = 0; second < 10; ++second)
            strip.still(second).waitForFinished();
    });
    EXPECT_EQ(said.size(), 0) << said.left(2000).toStdString();
}

} // namespace
