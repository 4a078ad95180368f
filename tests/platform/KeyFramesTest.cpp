// Where a recording's key frames lie, read from its index or, without one, its packets: what
// the player's patience with a seek is measured from.

#include "model/lifecycle/LifecycleTesting.h"
#include "platform/media/KeyFrames.h"
#include "support/Clips.h"
#include "support/Files.h"

#include <QTemporaryDir>

namespace {

TEST(KeyFramesTest, EveryContainerListsItsKeyFrames)
{
    QTemporaryDir folder;
    const QString source = folder.path() + QStringLiteral("/source.mp4");
    ASSERT_FALSE(Clips::numbered(source, 6, 30, 60).isEmpty()); // key frames at 0, 2 and 4 s
    QFile in(source);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    for (const QString kind : {"mp4", "mkv", "flv", "ts", "avi"}) {
        SCOPED_TRACE(kind.toStdString());
        const QString path = folder.path() + QStringLiteral("/copy.") + kind;
        ASSERT_TRUE(Clips::ffmpeg({"-i", source, "-c", "copy", path}));
        const std::vector<double> keys = Media::keyFramesNow(path);
        ASSERT_EQ(keys.size(), 3u);
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(keys[i], 2.0 * i, 0.1);
        EXPECT_EQ(Media::keyFrameBefore(keys, keys[2] - 0.1), keys[1]);
        EXPECT_EQ(Media::keyFrameBefore(keys, keys[2]), keys[2]);
    }
    // A Matroska file cut off before its cues is read through.
    const QString whole = folder.path() + QStringLiteral("/copy.mkv");
    QFile mkv(whole);
    ASSERT_TRUE(mkv.open(QIODevice::ReadOnly));
    const QByteArray bytes = mkv.readAll();
    const QString cut = folder.path() + QStringLiteral("/cut.mkv");
    ASSERT_TRUE(testfiles::writeFile(cut, bytes.left(bytes.size() * 3 / 4)));
    EXPECT_GE(Media::keyFramesNow(cut).size(), 2u);
    // Without any, a decode may start at the recording's start.
    EXPECT_EQ(Media::keyFrameBefore({}, 5.0), 0.0);
}

} // namespace
