#include "model/editing/Frames.h"
#include "model/lifecycle/LifecycleTesting.h"

#include <QImageWriter>
#include <QPromise>
#include <map>

namespace {

using lifecycle::settle;
using lifecycle::waitUntil;

// Answers only when the test says so, and records what it was asked.
class FakeStills : public StillSource {
public:
    explicit FakeStills(std::vector<int>& asked) : asked(asked) {}
    ~FakeStills() override
    {
        for (auto& [second, promise] : waiting)
            finish(promise, std::nullopt);
    }
    QFuture<std::optional<QImage>> still(int second) override
    {
        asked.push_back(second);
        QPromise<std::optional<QImage>> promise;
        promise.start();
        auto future = promise.future();
        waiting.emplace(second, std::move(promise));
        return future;
    }
    void answer(int second, std::optional<QImage> image)
    {
        auto it = waiting.find(second);
        ASSERT_NE(it, waiting.end()) << second;
        finish(it->second, std::move(image));
        waiting.erase(it);
    }
    static void finish(QPromise<std::optional<QImage>>& p, std::optional<QImage> image)
    {
        p.addResult(std::move(image));
        p.finish();
    }

    std::vector<int>& asked;
    std::map<int, QPromise<std::optional<QImage>>> waiting;
};

QImage filled(Qt::GlobalColor colour)
{
    QImage image(24, 14, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

MediaInfo recording(const QString& path)
{
    MediaInfo info;
    info.path = path;
    return info;
}

class FramesTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::vector<int> asked;
    std::vector<FakeStills*> sources;
    Frames frames{[this](const MediaInfo&) {
        auto source = std::make_unique<FakeStills>(asked);
        sources.push_back(source.get());
        return source;
    }};
    QString cache() const { return dir.filePath("cache/frames"); }
};

TEST_F(FramesTest, AsksOncePerSecondAndNeverBeforeARecording)
{
    frames.load(3);
    EXPECT_TRUE(sources.empty());
    EXPECT_DOUBLE_EQ(frames.aspect(), 16.0 / 9.0);

    frames.use(recording("a.mp4"), 0.5625, std::nullopt);
    EXPECT_DOUBLE_EQ(frames.aspect(), 0.5625);
    frames.load(3);
    frames.load(3);
    frames.load(4);
    sources[0]->answer(4, std::nullopt); // cannot be made: not asked again
    settle(20);
    frames.load(4);
    EXPECT_EQ(asked, (std::vector<int>{3, 4}));
    sources[0]->answer(3, filled(Qt::red));
    EXPECT_TRUE(waitUntil([&] { return frames.images().contains(3); }));
    EXPECT_FALSE(frames.images().contains(4));
}

TEST_F(FramesTest, ReadsTheCacheWithoutAskingAndWritesWhatWasMade)
{
    ASSERT_TRUE(QDir().mkpath(cache()));
    ASSERT_TRUE(filled(Qt::green).save(Frames::file(cache(), 42), "jpg"));
    frames.use(recording("a.mp4"), 1, cache());
    frames.load(42);
    ASSERT_TRUE(waitUntil([&] { return frames.images().contains(42); }));
    EXPECT_TRUE(asked.empty());
    EXPECT_EQ(frames.images()[42].pixelColor(5, 5).green(), 255);

    // A still that arrives after the recording was replaced is kept on disk, not shown.
    frames.load(7);
    ASSERT_TRUE(waitUntil([&] { return !asked.empty(); }));
    sources[0]->answer(7, filled(Qt::blue));
    frames.use(recording("b.mp4"), 1, dir.filePath("other"));
    EXPECT_TRUE(waitUntil([&] { return QFileInfo::exists(Frames::file(cache(), 7)); }));
    settle(20);
    EXPECT_TRUE(frames.images().isEmpty());
    const QImage written(Frames::file(cache(), 7));
    EXPECT_EQ(written.size(), QSize(24, 14));
}

// Stills leave in the order they arrived, not in time order.
TEST_F(FramesTest, EvictsTheOldestArrivalsPastTheCap)
{
    frames.use(recording("a.mp4"), 1, std::nullopt);
    for (int s = 0; s <= Frames::cap; ++s)
        frames.load(s);
    for (int s = Frames::cap; s >= 0; --s)
        sources[0]->answer(s, filled(Qt::red));
    ASSERT_TRUE(waitUntil([&] { return frames.images().size() == Frames::cap + 1 - Frames::evicted; }));
    settle(20);
    EXPECT_EQ(frames.images().size(), 1201);
    EXPECT_FALSE(frames.images().contains(Frames::cap));
    EXPECT_FALSE(frames.images().contains(1201));
    EXPECT_TRUE(frames.images().contains(1200));
    asked.clear();
    frames.load(1500); // evicted: asked again
    frames.load(0);    // still held
    EXPECT_EQ(asked, std::vector<int>{1500});
}

// The real decoder and cache: a second decoded once is read back from its JPEG.
TEST_F(FramesTest, RealStillsAreCachedAndReadBackWithoutDecoding)
{
    const QString clip = Clips::ffmpeg({"-f", "lavfi", "-i", "color=c=red:s=320x180:r=10:d=6", "-vf",
                                        "drawbox=x=0:y=0:w=iw:h=ih:color=blue:t=fill:enable='between(t,2,5)'",
                                        "-c:v", "libx264", "-g", "10", "-pix_fmt", "yuv420p", dir.filePath("c.mp4")})
                             ? dir.filePath("c.mp4")
                             : QString();
    ASSERT_FALSE(clip.isEmpty());
    Frames real;
    real.use(recording(clip), 16.0 / 9.0, cache());
    real.load(1);
    real.load(3);
    ASSERT_TRUE(waitUntil([&] { return real.images().size() == 2; }));
    EXPECT_GT(real.images()[3].pixelColor(120, 67).blue(), 180);
    EXPECT_GT(real.images()[1].pixelColor(120, 67).red(), 180);
    EXPECT_EQ(real.images()[3].size(), QSize(240, 135));
    ASSERT_TRUE(waitUntil([&] { return QFileInfo::exists(Frames::file(cache(), 3)); }));

    frames.use(recording(clip), 16.0 / 9.0, cache());
    frames.load(3);
    ASSERT_TRUE(waitUntil([&] { return frames.images().contains(3); }));
    EXPECT_TRUE(asked.empty());
    EXPECT_GT(frames.images()[3].pixelColor(120, 67).blue(), 180);
}

} // namespace
