// The frames around a time, read from the packets: what an export cuts at.

#include "core/project/Fail.h"
#include "platform/media/Media.h"
#include "support/Clips.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// The frames' numbers, for a video whose first frame starts at `first`.
QString framesOf(const FramesAround& a, double first)
{
    const auto frame = [first](std::optional<double> t) {
        return t ? QString::number(std::lround((*t - first) * 30)) : QString("-");
    };
    return frame(a.earlier) + u' ' + frame(a.last) + u' ' + frame(a.next);
}

// 10 s at 30 frames a second with a key frame every 5 s, in every container a recording
// comes in: some indexed, some not (MPEG-TS, whose video also starts a little after its
// sound). Frame n starts n / 30 s after the first.
TEST(FramesAround, TheTwoFramesBeforeATimeAndTheFirstFromIt)
{
    QTemporaryDir dir;
    const QString mp4 = Clips::numbered(dir.filePath("n.mp4"), 10, 30, 150);
    ASSERT_FALSE(mp4.isEmpty());
    QStringList files{mp4};
    for (const QString kind : {"mov", "mkv", "flv", "ts"}) {
        files << dir.filePath("n." + kind);
        ASSERT_TRUE(Clips::ffmpeg({"-i", mp4, "-c", "copy", files.back()})) << kind.toStdString();
    }
    const std::vector<std::pair<double, QString>> table = {
        {5.0, "148 149 150"},    // on a key frame: the frames before it lie before the key frame
        {5.01, "149 150 151"},   // just after it
        {2.51, "74 75 76"},      // off the grid
        {0.0, "- - 0"},          // nothing before the first frame
        {0.02, "- 0 1"},
        {9.99, "298 299 -"},     // nothing from it on
    };
    for (const QString& file : files) {
        const std::optional<double> first = Media::framesAroundNow(file, {0.0})[0].next;
        ASSERT_TRUE(first.has_value());
        std::vector<double> times;
        for (const auto& row : table)
            times.push_back(*first + row.first);
        const std::vector<FramesAround> around = Media::framesAroundNow(file, times);
        ASSERT_EQ(around.size(), table.size());
        for (std::size_t i = 0; i < table.size(); ++i)
            EXPECT_EQ(framesOf(around[i], *first).toStdString(), table[i].second.toStdString()) << file.toStdString() << " at " << table[i].first;
    }
    EXPECT_THROW(Media::framesAroundNow(dir.filePath("none.mp4"), {1.0}), Fail);
}

} // namespace
