#include "platform/media/Stills.h"
#include "support/Clips.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// 10 s at 10 frames a second, red with blue from 3.5 s to 7.5 s; `gop` frames between key
// frames (none added at the colour changes).
QString colourClip(const QString& path, int gop)
{
    return Clips::ffmpeg({"-f", "lavfi", "-i", "color=c=red:s=320x180:r=10:d=10", "-vf",
                          "drawbox=x=0:y=0:w=iw:h=ih:color=blue:t=fill:enable='between(t,3.5,7.5)'", "-c:v",
                          "libx264", "-g", QString::number(gop), "-sc_threshold", "0", "-pix_fmt", "yuv420p", path})
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
    return c.red() > 180 && c.blue() < 80 ? "red" : c.blue() > 180 && c.red() < 80 ? "blue" : c.name();
}

// Key frames every second are read through the index; with one key frame at the start the
// decoder walks forward, going on from where it stood when the next second lies ahead. A
// transport stream has no index, and a seek in it may land past the key frame it needs.
TEST(StillsTest, KnownColoursAtKnownSeconds)
{
    QTemporaryDir dir;
    const std::vector<std::pair<int, QString>> clips{{10, "mp4"}, {1000, "mp4"}, {1000, "ts"}, {50, "ts"}};
    for (const auto& [gop, type] : clips) {
        const QString clip = colourClip(dir.filePath(QStringLiteral("gop%1.%2").arg(gop).arg(type)), gop);
        ASSERT_FALSE(clip.isEmpty());
        StillDecoder decoder(clip, QSize(240, 240));
        const std::vector<std::pair<int, QString>> table{
            {1, "red"}, {5, "blue"}, {6, "blue"}, {9, "red"}, {2, "red"}, {5, "blue"}, {40, "none"}, {-1, "none"}};
        for (const auto& [second, expected] : table)
            EXPECT_EQ(colour(stillOf(decoder, second)), expected) << type.toStdString() << " gop " << gop << ", second " << second;
        EXPECT_EQ(stillOf(decoder, 3)->size(), QSize(240, 135));
    }
    // Upright after rotation; a file that cannot be read gives nothing, every time.
    StillDecoder turned(Clips::rotatedVideo(dir.filePath("upright.mp4"), 3, 90), QSize(240, 240));
    EXPECT_EQ(stillOf(turned, 1).value_or(QImage()).size(), QSize(135, 240));
    StillDecoder missing(dir.filePath("missing.mp4"), QSize(240, 240));
    EXPECT_FALSE(stillOf(missing, 1));
    EXPECT_FALSE(stillOf(missing, 2));

    // Requests still waiting when the decoder goes finish with nothing instead of hanging.
    std::vector<QFuture<std::optional<QImage>>> futures;
    {
        StillDecoder decoder(dir.filePath("gop1000.mp4"), QSize(240, 240));
        for (int s = 9; s >= 0; --s)
            futures.push_back(decoder.still(s));
    }
    for (auto& f : futures)
        EXPECT_TRUE(f.isFinished() && f.resultCount() == 1);
}

// Stills of a 30 fps clip whose frames show their number: where a key frame lies on the
// second, or where the decoder walks to it, the still is the frame of that very second,
// not the one after it.
TEST(StillsTest, StillsAreTheFrameOfTheirSecondAtThirtyFrames)
{
    QTemporaryDir dir;
    for (const auto& [keyEvery, type] : std::vector<std::pair<int, QString>>{{30, "mp4"}, {300, "mp4"}, {300, "ts"}}) {
        const QString clip =
            Clips::numbered(dir.filePath(QStringLiteral("numbered%1.%2").arg(keyEvery).arg(type)), 10, 30, keyEvery);
        ASSERT_FALSE(clip.isEmpty());
        StillDecoder decoder(clip, QSize(240, 240));
        for (const int second : {0, 1, 3, 4, 7, 2, 9, 5}) {
            const std::optional<QImage> still = stillOf(decoder, second);
            EXPECT_EQ(still ? Clips::numberOf(*still) : -1, 30 * second)
                << type.toStdString() << " key every " << keyEvery << ", second " << second;
        }
    }
}

} // namespace
