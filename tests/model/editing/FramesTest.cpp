#include "model/editing/Frames.h"
#include "model/lifecycle/LifecycleTesting.h"

#include <QPromise>
#include <limits>
#include <map>

namespace {

using lifecycle::settle;
using lifecycle::waitUntil;
using Promise = QPromise<std::optional<QImage>>;

// Answers only when the test says so, and records what it was asked.
struct FakeStills : StillSource {
    std::vector<int>& asked;
    std::map<int, Promise> waiting;
    explicit FakeStills(std::vector<int>& a) : asked(a) {}
    ~FakeStills() override
    {
        for (auto& entry : waiting)
            finish(entry.second, std::nullopt);
    }
    QFuture<std::optional<QImage>> still(int second) override
    {
        asked.push_back(second);
        Promise& p = waiting[second];
        p.start();
        return p.future();
    }
    void answer(int second, std::optional<QImage> image)
    {
        finish(waiting.at(second), std::move(image));
        waiting.erase(second);
    }
    static void finish(Promise& p, std::optional<QImage> image)
    {
        p.addResult(std::move(image));
        p.finish();
    }
};

QImage filled(Qt::GlobalColor colour)
{
    QImage image(24, 14, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

class FramesTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::vector<int> asked;
    FakeStills* source = nullptr;
    Frames frames{[this](const MediaInfo&) {
        auto made = std::make_unique<FakeStills>(asked);
        source = made.get();
        return made;
    }};
    QString cache() const { return dir.filePath("cache/frames"); }
};

TEST_F(FramesTest, AsksOncePerSecondAndNeverBeforeARecording)
{
    frames.load(3);
    EXPECT_EQ(source, nullptr);
    EXPECT_DOUBLE_EQ(frames.aspect(), 16.0 / 9.0);
    frames.use(MediaInfo{}, 0.5625, std::nullopt);
    EXPECT_DOUBLE_EQ(frames.aspect(), 0.5625);
    for (int s : {3, 3, 4})
        frames.load(s);
    source->answer(4, std::nullopt); // cannot be made: not asked again
    settle(20);
    frames.load(4);
    EXPECT_EQ(asked, (std::vector<int>{3, 4}));
    source->answer(3, filled(Qt::red));
    EXPECT_TRUE(waitUntil([&] { return frames.images().contains(3); }));
    EXPECT_FALSE(frames.images().contains(4));
}

TEST_F(FramesTest, ASecondPastTheEndShowsTheLastPicture)
{
    const struct {
        double duration;
        int second, asks;
    } rows[] = {{179.5, 184, 179}, {179.5, 12, 12}, {180, 180, 179}, {0.4, 3, 0},
                // A damaged file's length beyond any second: every second is asked as it is.
                {1e13, 184, 184}, {std::numeric_limits<double>::infinity(), 184, 184}};
    for (const auto& row : rows) {
        asked.clear();
        MediaInfo recording;
        recording.duration = row.duration;
        frames.use(recording, 16.0 / 9.0, std::nullopt);
        frames.load(row.second);
        EXPECT_EQ(asked, std::vector<int>{row.asks}) << row.duration << " " << row.second;
        source->answer(row.asks, filled(Qt::blue));
        EXPECT_TRUE(waitUntil([&] { return frames.images().contains(row.second); })) << row.duration;
    }
}

TEST_F(FramesTest, ReadsTheCacheWithoutAskingAndWritesWhatWasMade)
{
    ASSERT_TRUE(QDir().mkpath(cache()) && filled(Qt::green).save(Frames::file(cache(), 42), "jpg"));
    frames.use(MediaInfo{}, 1, cache());
    frames.load(42);
    ASSERT_TRUE(waitUntil([&] { return frames.images().contains(42); }));
    EXPECT_TRUE(asked.empty());
    EXPECT_EQ(frames.images()[42].pixelColor(5, 5).green(), 255);

    // A still that arrives after the recording was replaced is kept on disk, not shown.
    frames.load(7);
    ASSERT_TRUE(waitUntil([&] { return !asked.empty(); }));
    source->answer(7, filled(Qt::blue));
    frames.use(MediaInfo{}, 1, dir.filePath("other"));
    EXPECT_TRUE(waitUntil([&] { return QFileInfo::exists(Frames::file(cache(), 7)); }));
    settle(20);
    EXPECT_TRUE(frames.images().isEmpty());
    EXPECT_EQ(QImage(Frames::file(cache(), 7)).size(), QSize(24, 14));
}

// Stills leave in the order they arrived, not in time order.
TEST_F(FramesTest, EvictsTheOldestArrivalsPastTheCap)
{
    frames.use(MediaInfo{}, 1, std::nullopt);
    for (int s = 0; s <= Frames::cap; ++s)
        frames.load(s);
    for (int s = Frames::cap; s >= 0; --s)
        source->answer(s, filled(Qt::red));
    ASSERT_TRUE(waitUntil([&] { return frames.images().size() == 1201; }));
    settle(20);
    EXPECT_EQ(frames.images().size(), 1201);
    EXPECT_FALSE(frames.images().contains(1500) || frames.images().contains(1201));
    EXPECT_TRUE(frames.images().contains(1200));
    asked.clear();
    frames.load(1500); // evicted: asked again
    frames.load(0);    // still held
    EXPECT_EQ(asked, std::vector<int>{1500});
}

} // namespace
