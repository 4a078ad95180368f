// The composition of a Short's cuts, and the ffmpeg command that renders it.

#include "model/editing/Composition.h"

#include <gtest/gtest.h>

namespace {

Cut cut(double start, double end)
{
    return Cut{QUuid::createUuid(), start, end, QString()};
}

MediaInfo media(std::optional<int> audio = 1, QSize size = {320, 180})
{
    MediaInfo m;
    m.path = "/streams/night.mp4";
    m.duration = 100;
    m.videoStream = 0;
    m.audioStream = audio;
    m.naturalSize = size;
    return m;
}

TEST(CompositionTest, CutsAreHeldInsideTheRecordingOnA600thGrid)
{
    struct Row {
        std::vector<Cut> cuts;
        std::optional<std::vector<Span>> pieces;
    };
    const std::vector<Row> rows{
        {{cut(10.0, 12.5), cut(5.0, 6.0)}, std::vector<Span>{{10.0, 12.5}, {5.0, 6.0}}},
        {{cut(-0.5, 1.0)}, std::vector<Span>{{0, 1.0}}},
        {{cut(99.0, 130.0), cut(120, 125)}, std::vector<Span>{{99.0, 100.0}}},
        {{cut(1.0004, 2.0)}, std::vector<Span>{{1.0, 2.0}}},
        {{}, std::nullopt},
        {{cut(3, 3)}, std::nullopt},
    };
    for (const Row& row : rows) {
        const auto made = Composition::of(row.cuts, media());
        ASSERT_EQ(made.has_value(), row.pieces.has_value());
        if (!made)
            continue;
        ASSERT_EQ(made->pieces.size(), row.pieces->size());
        for (std::size_t i = 0; i < made->pieces.size(); ++i) {
            EXPECT_NEAR(made->pieces[i].start, (*row.pieces)[i].start, 1e-9);
            EXPECT_NEAR(made->pieces[i].end, (*row.pieces)[i].end, 1e-9);
        }
    }
    MediaInfo soundOnly = media();
    soundOnly.videoStream.reset();
    EXPECT_EQ(Composition::of({cut(1, 2)}, soundOnly), std::nullopt);
}

TEST(CompositionTest, TheCommandSeeksEveryInputAndMapsOnlyWhatExists)
{
    const QString both = Composition::of({cut(60, 70), cut(5, 7.5)}, media(1))->arguments("/out/x.mp4").join(' ');
    EXPECT_TRUE(both.contains("-ss 60.0 -t 10.0 -i /streams/night.mp4 -ss 5.0 -t 2.5 -i /streams/night.mp4 "
                              "-filter_complex [0:0][0:1][1:0][1:1]concat=n=2:v=1:a=1[v][a] -map [v] -map [a] "))
        << both.toStdString();
    EXPECT_TRUE(both.endsWith("-movflags +faststart -f mp4 /out/x.mp4")) << both.toStdString();

    const QString silentOdd =
        Composition::of({cut(1, 2)}, media(std::nullopt, {321, 180}))->arguments("/out/y.mp4").join(' ');
    EXPECT_TRUE(silentOdd.contains("[0:0]concat=n=1:v=1:a=0[c];[c]scale=trunc(iw/2)*2:trunc(ih/2)*2[v] -map [v] -c:v"))
        << silentOdd.toStdString();
    EXPECT_FALSE(silentOdd.contains("aac"));
}

} // namespace
