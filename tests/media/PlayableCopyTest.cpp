// The exact copy an MPEG-TS recording plays from: one that fails partway leaves the player
// on the recording itself, and one that nobody holds any more stops and leaves no file.

#include "PlayingTesting.h"

#include "platform/media/PlayableCopy.h"
#include "support/Env.h"

#include <QDir>
#include <QTemporaryDir>
#include <csignal>
#include <sys/resource.h>

using namespace playing;

namespace {

// While this lives, no file of this process grows past `bytes`: a write beyond fails as it
// does on a full disk (the signal such a write sends is ignored meanwhile).
class FileSizeLimit {
public:
    explicit FileSizeLimit(qint64 bytes)
    {
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit lower = old;
        lower.rlim_cur = rlim_t(bytes);
        setrlimit(RLIMIT_FSIZE, &lower);
        oldSignal = std::signal(SIGXFSZ, SIG_IGN);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldSignal);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit old{};
    void (*oldSignal)(int) = nullptr;
};

class PlayableCopyTest : public ::testing::Test {
protected:
    QTemporaryDir folder;
    // Copies of this test's own, apart from those of tests running at the same time.
    ScopedEnv cache{"XDG_CACHE_HOME", QFile::encodeName(folder.path())};
    QDir copies{folder.path() + QStringLiteral("/Vantorel/Playable")};

    QStringList copiesLeft() const { return copies.entryList({QStringLiteral("*.mkv")}, QDir::Files | QDir::Hidden); }
};

// The disk fills while the copy is made, halfway through: the copy gives up, and the player
// that waited for it plays the recording itself.
TEST_F(PlayableCopyTest, ACopyThatFailsPartwayPlaysTheRecordingItself)
{
    const QString path = folder.path() + QStringLiteral("/Stream.ts");
    ASSERT_TRUE(Clips::ffmpeg({"-i", numberedClip(), "-c", "copy", "-f", "mpegts", path}));
    std::unique_ptr<Player> player = Player::makeDefault();
    Watch watch(*player);
    std::shared_ptr<PlayableCopy> copy;
    {
        FileSizeLimit full(QFileInfo(path).size() / 2);
        player->setSource(path);
        copy = PlayableCopy::of(path); // the one the player waits for
        ASSERT_TRUE(waitUntil([&] { return copy->made().isFinished(); }, 20000));
    }
    ASSERT_FALSE(copy->made().result());
    EXPECT_GT(copy->done(), 0.0) << "it failed as it started, not partway";
    EXPECT_TRUE(copiesLeft().isEmpty()) << copiesLeft().join(u' ').toStdString();
    copy.reset();
    // The recording's own seeks land a second or two early (the reason for the copy), so
    // what shows it plays is that it plays on through the place asked for.
    player->seek(5.0);
    EXPECT_TRUE(waitUntil([&] { return !watch.shown.empty(); }, 10000)) << "no picture";
    player->play();
    EXPECT_TRUE(waitUntil([&] { return watch.last() > frameAt(5.5); }, 10000)) << "plays on: " << watch.last();
    EXPECT_EQ(player->problem(), std::nullopt);
}

// A copy whose last holder lets go while it is made stops there: it ends unfinished, it
// writes no further (read through a handle opened before it went), and its file goes. The
// recording is long enough (20 minutes) that its copy cannot be half done by then.
TEST_F(PlayableCopyTest, ACopyNobodyHoldsStopsAndLeavesNoFile)
{
    const QString path = folder.path() + QStringLiteral("/Long.ts");
    ASSERT_TRUE(
        Clips::ffmpeg({"-stream_loop", "119", "-i", numberedClip(), "-c", "copy", "-f", "mpegts", path}));
    const qint64 recording = QFileInfo(path).size();
    const QString other = numberedClip();
    const struct {
        const char* holder;
        std::function<void(std::unique_ptr<Player>&)> letGo; // none: the test holds the copy alone
    } table[] = {
        {"a copy held alone", {}},
        {"a player that goes", [](std::unique_ptr<Player>& p) { p.reset(); }},
        {"a player given another recording", [&](std::unique_ptr<Player>& p) { p->setSource(other); }},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.holder);
        std::unique_ptr<Player> player = row.letGo ? Player::makeDefault() : nullptr;
        std::shared_ptr<PlayableCopy> copy = PlayableCopy::of(path);
        if (player)
            player->setSource(path); // the same copy
        // Under way: its file is written.
        ASSERT_TRUE(waitUntil([&] { return copy->done() > 0 || copy->made().isFinished(); }, 20000));
        const QFuture<bool> made = copy->made();
        QFile written(copy->path());
        ASSERT_TRUE(written.open(QIODevice::ReadOnly));
        ASSERT_FALSE(made.isFinished()) << "copied already: the recording is too short for this test";
        copy.reset();
        if (row.letGo)
            row.letGo(player);
        ASSERT_TRUE(waitUntil([&] { return made.isFinished(); }, 20000)) << "the copy goes on";
        EXPECT_FALSE(made.result()) << "the copy was finished";
        EXPECT_LT(written.size(), recording / 2) << "it copied on once let go";
        EXPECT_FALSE(QFile::exists(written.fileName()));
        EXPECT_TRUE(copiesLeft().isEmpty()) << copiesLeft().join(u' ').toStdString();
    }
}

} // namespace
