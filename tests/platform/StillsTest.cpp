#include "platform/media/Stills.h"
#include "support/Clips.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// 10 s at 10 frames a second: red, blue from 4 s to 7 s, then red again. `gop` frames
// between key frames (no extra ones at the colour changes).
QString colourClip(const QString& path, int gop)
{
    return Clips::ffmpeg({"-f", "lavfi", "-i", "color=c=red:s=320x180:r=10:d=10", "-vf",
                          "drawbox=x=0:y=0:w=iw:h=ih:color=blue:t=fill:enable='between(t,4,7)'", "-c:v", "libx264",
                          "-g", QString::number(gop), "-sc_threshold", "0", "-pix_fmt", "yuv420p", path})
        ? path
        : QString();
}

std::optional<QImage> stillOf(StillSource& source, int second)
{
    QFuture<std::optional<QImage>> future = source.still(second);
    future.waitForFinished();
    return future.result();
}

QString colour(const std::optional<QImage>& image)
{
    if (!image)
        return "none";
    const QColor c = image->pixelColor(image->width() / 2, image->height() / 2);
    if (c.red() > 180 && c.blue() < 80)
        return "red";
    if (c.blue() > 180 && c.red() < 80)
        return "blue";
    return c.name();
}

class StillsTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
};

// Key frames every second are read through the index; one key frame at the start makes
// the decoder walk forward, on from where it stood when the next second lies ahead.
TEST_F(StillsTest, KnownColoursAtKnownSeconds)
{
    for (const int gop : {10, 1000}) {
        const QString clip = colourClip(dir.filePath(QStringLiteral("gop%1.mp4").arg(gop)), gop);
        ASSERT_FALSE(clip.isEmpty());
        StillDecoder decoder(clip, QSize(240, 240));
        const std::vector<std::pair<int, QString>> table{
            {1, "red"}, {5, "blue"}, {6, "blue"}, {9, "red"}, {2, "red"}, {5, "blue"}, {40, "none"}, {-1, "none"}};
        for (const auto& [second, expected] : table)
            EXPECT_EQ(colour(stillOf(decoder, second)), expected) << "gop " << gop << ", second " << second;
        const auto image = stillOf(decoder, 3);
        ASSERT_TRUE(image);
        EXPECT_EQ(image->size(), QSize(240, 135));
    }
}

TEST_F(StillsTest, UprightFitAndUnreadableFiles)
{
    const QString upright = Clips::rotatedVideo(dir.filePath("upright.mp4"), 3, 90);
    ASSERT_FALSE(upright.isEmpty());
    StillDecoder turned(upright, QSize(240, 240));
    const auto image = stillOf(turned, 1);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size(), QSize(135, 240));

    StillDecoder missing(dir.filePath("missing.mp4"), QSize(240, 240));
    EXPECT_FALSE(stillOf(missing, 1));
    EXPECT_FALSE(stillOf(missing, 2));
}

// Requests left waiting when the decoder goes finish with nothing instead of hanging.
TEST_F(StillsTest, DestroyingAnswersEveryRequest)
{
    const QString clip = colourClip(dir.filePath("c.mp4"), 1000);
    ASSERT_FALSE(clip.isEmpty());
    std::vector<QFuture<std::optional<QImage>>> futures;
    {
        StillDecoder decoder(clip, QSize(240, 240));
        for (int s = 9; s >= 0; --s)
            futures.push_back(decoder.still(s));
    }
    for (auto& f : futures) {
        ASSERT_TRUE(f.isFinished());
        ASSERT_EQ(f.resultCount(), 1);
    }
}

} // namespace
