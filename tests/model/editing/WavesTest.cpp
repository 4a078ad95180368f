#include "model/editing/Waves.h"
#include "model/lifecycle/LifecycleTesting.h"
#include "support/Env.h"

namespace {

using lifecycle::waitUntil;
using testfiles::readFile;
using testfiles::writeFile;

// A stand-in ffmpeg that logs each cut's start, takes a while when `slow` exists, fails
// for a start named by a `fail-<start>` file and otherwise writes a WAV of 1601 samples at
// full scale (two peak bytes of 255).
class WavesTest : public ::testing::Test {
protected:
    QTemporaryDir dir, tmp;
    ScopedEnv tools{"VANTOREL_TOOL_DIRS", dir.path().toUtf8()};
    ScopedEnv tmpdir{"TMPDIR", tmp.path().toUtf8()};
    Waves waves;
    const QByteArray loud{2, '\xff'};

    void SetUp() override
    {
        QByteArray wav = QByteArray::fromHex("524946460000000057415645666d74201000000001000100803e0000007d0000"
                                             "020010006461746100000000");
        for (int k = 0; k < 1601; ++k)
            wav.append("\xff\x7f", 2);
        ASSERT_TRUE(writeFile(dir.filePath("canned.wav"), wav));
        ASSERT_TRUE(writeFile(dir.filePath("ffmpeg"),
                              "#!/bin/sh\nd=$(dirname \"$0\")\necho \"$6\" >> \"$d/log\"\n"
                              "[ -f \"$d/slow\" ] && sleep 0.3\n"
                              "[ -f \"$d/fail-$6\" ] && { echo 'no sound here' >&2; exit 1; }\n"
                              "for last; do :; done\ncp \"$d/canned.wav\" \"$last\"\n",
                              true));
        waves.reset(dir.filePath("Stream.mp4"), cache());
    }
    QString cache() const { return dir.filePath("cache/waves"); }
    QStringList cuts() const { return QString::fromUtf8(readFile(dir.filePath("log"))).split('\n', Qt::SkipEmptyParts); }
    bool idle() { return waitUntil([&] { return !waves.busy(); }); }
};

// Newest request first; a chunk asked again while queued or running is not queued twice.
TEST_F(WavesTest, ComputesTheNewestRequestFirstOneAtATime)
{
    writeFile(dir.filePath("slow"), "");
    waves.load({3, 4, 5});
    ASSERT_TRUE(waitUntil([&] { return cuts().size() == 1; }));
    waves.load({4, 6});
    ASSERT_TRUE(idle());
    EXPECT_EQ(cuts(), (QStringList{"300.0", "360.0", "240.0", "180.0"}));
    EXPECT_EQ(waves.peaks().keys(), (QList<int>{3, 4, 5, 6}));
    EXPECT_EQ(waves.peaks()[6], loud);
    EXPECT_EQ(readFile(Waves::file(cache(), 3)), loud);
    EXPECT_EQ(QDir(tmp.path()).entryList(QDir::Files), QStringList{}); // every WAV removed
}

TEST_F(WavesTest, CachedChunksRunNoFfmpegAndAFailedCutIsTriedAgainLater)
{
    writeFile(Waves::file(cache(), 4), "abc");
    writeFile(Waves::file(cache(), 7), "");
    writeFile(dir.filePath("fail-120.0"), "");
    waves.load({2, 4, 7});
    ASSERT_TRUE(idle());
    EXPECT_EQ(cuts(), QStringList{"120.0"});
    EXPECT_EQ(waves.peaks()[4], "abc");
    EXPECT_TRUE(waves.peaks().contains(7) && waves.peaks()[7].isEmpty());
    EXPECT_FALSE(waves.peaks().contains(2) || QFileInfo::exists(Waves::file(cache(), 2)));
    QFile::remove(dir.filePath("fail-120.0"));
    waves.load({2, 4});
    ASSERT_TRUE(idle());
    EXPECT_EQ(waves.peaks()[2], loud);
    EXPECT_EQ(cuts().size(), 2);
}

TEST_F(WavesTest, ClosingWhileCuttingDropsTheResult)
{
    writeFile(dir.filePath("slow"), "");
    waves.load({1, 2});
    ASSERT_TRUE(waitUntil([&] { return cuts().size() == 1; }));
    waves.reset(std::nullopt, std::nullopt);
    ASSERT_TRUE(idle());
    EXPECT_TRUE(waves.peaks().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(Waves::file(cache(), 2)));
    // With no recording the worker ends at once, cutting nothing.
    waves.load({1, 2});
    EXPECT_TRUE(waves.busy());
    ASSERT_TRUE(idle());
    EXPECT_EQ(cuts().size(), 1);
}

TEST_F(WavesTest, RealFfmpegCutsTheChunk)
{
    ScopedEnv realTools{"VANTOREL_TOOL_DIRS", std::nullopt};
    const QString clip = Clips::video(dir.filePath("clip.mp4"), 3);
    ASSERT_FALSE(clip.isEmpty());
    waves.reset(clip, cache());
    waves.load({0, 1});
    ASSERT_TRUE(idle());
    // 3 s of a tone at 1/8 of full scale: 59 bytes near 32; past the end, nothing.
    EXPECT_NEAR(waves.peaks()[0].size(), 59, 1);
    EXPECT_NEAR(quint8(waves.peaks()[0][10]), 32, 2);
    EXPECT_EQ(readFile(Waves::file(cache(), 0)), waves.peaks()[0]);
    EXPECT_EQ(waves.peaks()[1], "");
}

} // namespace
