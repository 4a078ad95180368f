// The main player as the window drives it: the model with real players, a Short played with
// `togglePlay`, a drag sent as the strips send it (a hand scrub, then a seek per move).

#include "PlayingTesting.h"

#include "model/editing/StreamBrowser.h"
#include "support/Files.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

using namespace playing;

namespace {

// Where every stream of a file cut off still holds whole packets (as ffprobe lists them, in
// recording time): playing reaches at least this far. (A fragmented MP4 keeps a piece's
// pictures before its sound, so its pictures may be listed further on.)
double wholeUpTo(const QString& path)
{
    const qint64 size = QFileInfo(path).size();
    const auto run = [&](const QStringList& args) {
        QProcess probe;
        probe.start(QStringLiteral("ffprobe"), QStringList{"-v", "quiet"} + args + QStringList{path});
        probe.waitForFinished(60000);
        return probe.readAllStandardOutput();
    };
    const double origin = run({"-show_entries", "format=start_time", "-of", "csv=p=0"}).trimmed().toDouble();
    double upTo = HUGE_VAL;
    for (const char* stream : {"v:0", "a:0"}) {
        double reached = -HUGE_VAL;
        const QByteArray packets =
            run({"-select_streams", stream, "-show_entries", "packet=pts_time,pos,size", "-of", "csv=p=0"});
        for (const QByteArray& line : packets.split('\n')) {
            const QList<QByteArray> fields = line.trimmed().split(',');
            if (fields.size() == 3 && fields[1].toLongLong() + fields[2].toLongLong() <= size)
                reached = std::max(reached, fields[0].toDouble());
        }
        upTo = std::min(upTo, reached - origin);
    }
    return upTo;
}

class WindowPlaybackTest : public ShortTest {
protected:
    QStringList said;

    // A model with real players on `clip`, in a project made when it was `length` seconds
    // long, holding one segment over all of it (and `more`) and a Short of `cuts`.
    // With `stream`, the stream window's player is a real one as well.
    void open(const QString& clip, double length, std::vector<Cut> cuts, std::vector<Segment> more = {},
              bool stream = false)
    {
        model = std::make_unique<AppModel>(Player::makeDefault(),
                                           stream ? Player::makeDefault() : std::make_unique<FakePlayer>());
        ASSERT_FALSE(clip.isEmpty());
        more.insert(more.begin(), segment("01", 0, length - 0.1));
        openWith(clip, {shortOf("Short", std::move(cuts))}, std::move(more), length);
        ASSERT_EQ(model->problem(), std::nullopt);
        QObject::connect(&model->player(), &Player::failed, [this](const QString& s) { said << s; });
        QObject::connect(&model->browser().player(), &Player::failed, [this](const QString& s) { said << s; });
    }
    // A click on a strip: a hand scrub of one move.
    void click(double at)
    {
        model->handScrubbing = true;
        model->player().pause();
        model->seek(at);
        model->handScrubbing = false;
    }
};

// A press on the playhead that a click put there, then a drag: the pictures follow the drag
// as they do from anywhere else, and the last move's picture comes once the drag ends.
TEST_F(WindowPlaybackTest, ADragFromAClickedPlayheadShowsPicturesAsItGoes)
{
    open(numberedClip(), 10, {cut(1, 2)});
    Watch watch(model->player());
    model->setSelection(QStringLiteral("01"));
    for (const double from : {3.0, 1.5}) {
        SCOPED_TRACE(from);
        click(from);
        ASSERT_TRUE(watch.shows(frameAt(from)));
        settle(500);
        watch.clear();
        model->handScrubbing = true;
        model->player().pause();
        model->seek(from); // the press
        for (int i = 1; i <= 25; ++i) {
            settle(16);
            model->seek(from + i * (6.0 - from) / 25);
        }
        settle(16);
        model->handScrubbing = false;
        const std::size_t during = watch.shown.size();
        EXPECT_GT(during, 0u) << "no picture during the drag";
        EXPECT_TRUE(watch.shows(frameAt(6.0))) << watch.last();
    }
}

// A Short played to its end in the model shows no frame outside its cuts: not the frame
// that starts right at a cut's end, at any join, nor after the Short's end, round after round.
TEST_F(WindowPlaybackTest, AShortPlayedShowsNoFrameOutsideItsCuts)
{
    const std::vector<Span> spans{{1.0, 2.0}, {4.0, 5.0}, {7.21, 8.0}};
    std::vector<Cut> cuts;
    for (const Span& s : spans)
        cuts.push_back(cut(s.start, s.end));
    open(numberedClip(), 10, cuts);
    model->setMode(Mode::shortClip);
    Watch watch(model->player());
    const auto inside = [&](int n) {
        return std::any_of(spans.begin(), spans.end(), [&](const Span& s) {
            return n < std::ceil(s.end * 30 - 1e-6) && n >= std::floor(s.start * 30 + 1e-6);
        });
    };
    QStringList outside;
    for (int round = 0; round < 3; ++round) {
        model->seek(0);
        ASSERT_TRUE(watch.shows(30));
        watch.clear();
        model->togglePlay();
        EXPECT_TRUE(waitUntil([&] { return model->player().rate() == 0 && !model->clock().playing(); }, 8000));
        settle(2500); // frames of a seek made at the end would come by now
        for (int n : watch.shown)
            if (!inside(n))
                outside << QString::number(n);
        EXPECT_EQ(watch.last(), 239) << "round " << round;
    }
    EXPECT_TRUE(outside.isEmpty()) << outside.join(' ').toStdString();
}

// A Short played from the model is heard through every cut and every join: read per tenth
// of a second, its sound never stops from its first tenth to its end (key frames 1 s and 8 s
// apart, so that a join decodes for a while; cuts far apart, and cuts back to back or a
// moment apart, whose joins the decoder reaches by reading on, then one further back).
TEST_F(WindowPlaybackTest, AShortPlayedIsHeardThroughEveryCut)
{
    NullSink output;
    if (!output.ready())
        GTEST_SKIP() << "no sound server to give an output";
    Monitor monitor;
    for (const ShortLine& line : {ShortLine{{{2.0, 4.6}, {9.1, 11.7}, {15.4, 17.0}}},
                                  ShortLine{{{3.0, 3.8}, {3.8, 4.6}, {4.65, 5.5}, {1.0, 1.8}}}}) {
        std::vector<Cut> cuts;
        for (const Span& s : line.spans)
            cuts.push_back(cut(s.start, s.end));
        for (const int keyEvery : {30, 240}) {
            SCOPED_TRACE(QStringLiteral("key frames every %1, cuts from %2 s").arg(keyEvery).arg(line.spans[0].start).toStdString());
            open(toneClip(keyEvery), 20, cuts);
            model->setMode(Mode::shortClip);
            model->seek(0);
            settle(500);
            const qsizetype from = monitor.now();
            model->togglePlay();
            const auto first = monitor.heard(from, 10.0);
            ASSERT_TRUE(first.has_value()) << "never heard";
            const qsizetype start = from + qsizetype(*first * Monitor::rate);
            EXPECT_EQ(quietTenths(monitor, start, line.total() - 0.2), std::vector<double>());
            EXPECT_TRUE(waitUntil([&] { return model->player().rate() == 0; }, patience));
            EXPECT_TRUE(said.isEmpty()) << said.join(' ').toStdString();
            model.reset();
        }
    }
}

// A recording whose data stops at half its bytes (key frames 8 s apart), in each container
// kind that keeps an index, states no length (MPEG-TS), keeps its index at the end
// (Matroska) or in pieces (fragmented MP4, which states a length a few seconds past its
// data): a Short with a cut far past the data stops after the cut it can play, says why, and
// stays stopped. Wherever a time past the data is shown (a seek, a segment chosen after one
// within the data, a click on a strip, the stream window's map and timeline, Play there) the
// data's last picture shows and the player says why: never the picture of another time,
// never none.
TEST_F(WindowPlaybackTest, PastARecordingsDataThePlayerStopsAndKeepsItsLastPicture)
{
    QTemporaryDir folder;
    const QString sparse = sharedClip(QStringLiteral("numbered120-sparse.mp4"), [](const QString& p) {
        Clips::Numbering how;
        how.keyEvery = 240;
        how.bits = 12;
        return Clips::numbered(p, 120, how);
    });
    ASSERT_FALSE(sparse.isEmpty());
    const struct {
        const char* name;
        QString suffix;
        QStringList flags;
        bool statesLength; // its end, reached by playing, is said to come early
    } table[] = {
        {"MP4 with its index first, as copied off a full disk", "mp4", {"-movflags", "+faststart"}, true},
        {"MPEG-TS", "ts", {}, false},
        {"Matroska", "mkv", {}, true},
        {"fragmented MP4", "mp4", {"-movflags", "frag_keyframe+empty_moov"}, true},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.name);
        const QString whole = folder.path() + QStringLiteral("/whole.") + row.suffix;
        ASSERT_TRUE(Clips::ffmpeg(QStringList{"-i", sparse, "-c", "copy"} + row.flags + QStringList{whole}));
        const QString cut = folder.path() + QStringLiteral("/Cut.") + row.suffix;
        ASSERT_TRUE(testfiles::writeFile(cut, testfiles::readFile(whole).chopped(QFileInfo(whole).size() / 2)));
        const MediaInfo info = Media::probeNow(cut);
        const double dataEnd = wholeUpTo(cut);
        ASSERT_GT(dataEnd, 50);
        ASSERT_LT(dataEnd, 70);

        said.clear();
        open(cut, 120, {shorts::cut(5, 6), shorts::cut(100, 103)},
             {segment("02", 10, 20), segment("03", 45, 80), segment("04", 90, 110)}, true);
        Watch watch(model->player(), 12);
        model->setMode(Mode::shortClip);
        model->seek(0);
        // (MPEG-TS starts its picture a little after its sound: frame 149 still shows at 5 s.)
        ASSERT_TRUE(watch.shows(frameAt(5.0 - info.firstPicture))) << watch.last();
        model->togglePlay();
        EXPECT_TRUE(waitUntil([&] { return !said.isEmpty(); }, patience));
        EXPECT_TRUE(waitUntil([&] { return model->player().rate() == 0 && !model->clock().playing(); }, patience))
            << "still playing at " << model->clock().time();
        settle(1500);
        EXPECT_EQ(model->player().rate(), 0);
        EXPECT_NEAR(model->clock().time(), 1.0, 0.05);
        // The cut's last frames, or one a busy machine showed just before them; none past it.
        EXPECT_LE(watch.last(), 179);
        EXPECT_GE(watch.last(), 175);
        EXPECT_EQ(model->player().waiting(), std::nullopt);

        // The recording itself: play up to where its data stops, then seek past it.
        model->setMode(Mode::segment);
        said.clear();
        // (Midway between two pictures: Matroska keeps whole milliseconds.)
        const int before = frameAt(dataEnd - 1 - info.firstPicture);
        model->seek(info.firstPicture + (before + 0.5) / 30);
        ASSERT_TRUE(watch.shows(before)) << watch.last();
        model->togglePlay();
        EXPECT_TRUE(waitUntil(
            [&] {
                return watch.last() >= frameAt(dataEnd) - 3 && model->player().rate() == 0
                       && (!row.statesLength || !said.isEmpty());
            },
            patience))
            << "frame " << watch.last();
        EXPECT_GE(watch.last(), frameAt(dataEnd) - 3);
        settle(500);
        const int last = watch.last();
        // Past the data, and short of the length a fragmented MP4 states.
        const double pastData = info.firstPicture + last / 30.0 + 1.5;
        for (const double at : {70.0, 80.0, 95.0}) {
            said.clear();
            model->seek(at);
            EXPECT_TRUE(waitUntil([&] { return !said.isEmpty(); }, patience)) << at;
            settle(800);
            EXPECT_EQ(watch.last(), last) << "after a seek to " << at;
            EXPECT_EQ(model->player().waiting(), std::nullopt) << "after a seek to " << at;
        }
        // Shown past the data from a picture of another time: the data's last picture and the
        // sentence; Play there says it again and stays.
        const auto pastTheData = [&](Player& player, Watch& shown, const std::function<void()>& go) {
            said.clear();
            go();
            EXPECT_TRUE(waitUntil([&] { return !said.isEmpty() && shown.last() == last; }, patience))
                << "frame " << shown.last() << ", said: " << said.join(' ').toStdString();
            EXPECT_TRUE(said.value(0).contains(QStringLiteral(" ends early: it holds pictures up to ")))
                << said.join(' ').toStdString();
            said.clear();
            player.play();
            EXPECT_TRUE(waitUntil([&] { return !said.isEmpty(); }, patience)) << "Play said nothing";
            settle(500);
            EXPECT_EQ(player.rate(), 0);
            EXPECT_EQ(shown.last(), last);
            EXPECT_EQ(player.waiting(), std::nullopt);
        };
        {
            SCOPED_TRACE("a segment wholly past the data, chosen after one within it");
            model->show(QStringLiteral("02"));
            ASSERT_TRUE(watch.shows(frameAt(10 - info.firstPicture))) << watch.last();
            pastTheData(model->player(), watch, [&] { model->show(QStringLiteral("04")); });
            EXPECT_DOUBLE_EQ(model->clock().time(), 90);
            EXPECT_FALSE(model->clock().playing());
        }
        {
            SCOPED_TRACE("a click past the data in a segment that starts within it");
            model->show(QStringLiteral("03"));
            ASSERT_TRUE(watch.shows(frameAt(45 - info.firstPicture))) << watch.last();
            pastTheData(model->player(), watch, [&] { click(pastData); });
        }
        // (The stream window reaches as far as the recording states it lasts: an MPEG-TS
        // file ends where its data does.)
        if (info.duration > pastData + 1) {
            SCOPED_TRACE("the stream window: a click on the map, then on its timeline");
            StreamBrowser& browser = model->browser();
            Watch stream(browser.player(), 12);
            pastTheData(browser.player(), stream, [&] { browser.show(pastData, std::nullopt); });
            pastTheData(browser.player(), stream, [&] { browser.seek(pastData + 1); });
        }
        model.reset();
    }
}

} // namespace

namespace {

// A seek that decodes for seconds (720p, one key frame at the start, a seek 100 s on) lands
// on its picture in time, saying meanwhile that it is on its way; a healthy file is never
// said to end early for being slow.
TEST(SlowSeekTest, ASeekFarFromAKeyFrameLandsAndSaysItIsOnItsWay)
{
    const QString clip = sharedClip(QStringLiteral("one-key-720.mp4"), [](const QString& p) {
        return Clips::ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=30:duration=110", "-c:v", "libx264",
                              "-preset", "ultrafast", "-g", "100000", "-keyint_min", "100000", "-sc_threshold", "0",
                              "-pix_fmt", "yuv420p", p})
            ? p
            : QString();
    });
    ASSERT_FALSE(clip.isEmpty());
    std::unique_ptr<Player> player = Player::makeDefault();
    QStringList said;
    QObject::connect(player.get(), &Player::failed, [&](const QString& s) { said << s; });
    std::optional<QString> waited;
    QObject::connect(player.get(), &Player::waitingChanged, [&] {
        if (player->waiting())
            waited = player->waiting();
    });
    int landings = 0;
    QObject::connect(player.get(), &Player::landed, [&] { ++landings; });
    player->setSource(clip);
    player->seek(1.0);
    ASSERT_TRUE(waitUntil([&] { return landings == 1; }, 10000));
    QElapsedTimer took;
    took.start();
    player->seek(100.0);
    EXPECT_TRUE(waitUntil([&] { return landings == 2; }, 120000));
    EXPECT_EQ(said, QStringList());
    // (A quick machine decodes it within the second the note waits.)
    if (took.elapsed() > 1300) {
        EXPECT_EQ(waited, std::optional<QString>(QStringLiteral("Finding the picture…"))) << took.elapsed() << " ms";
    }
    EXPECT_EQ(player->waiting(), std::nullopt);
}

} // namespace

namespace {

// A recording that cannot be played says so by itself, without Play being pressed: the
// viewer would otherwise stay black with no word.
TEST(WaitingTest, AnUnplayableRecordingSaysSoWithoutPlay)
{
    QTemporaryDir folder;
    const QString path = folder.path() + QStringLiteral("/Broken.mp4");
    ASSERT_TRUE(testfiles::writeFile(path, QByteArray(64 * 1024, 'x')));
    std::unique_ptr<Player> player = Player::makeDefault();
    QStringList said;
    QObject::connect(player.get(), &Player::failed, [&](const QString& s) { said << s; });
    player->setSource(path);
    player->seek(1.0);
    EXPECT_TRUE(waitUntil([&] { return !said.isEmpty(); }, 15000));
    EXPECT_EQ(said.value(0), QStringLiteral("Broken.mp4 cannot be played: it is damaged, or its picture or sound is "
                                            "stored in a way this computer cannot play."));
}

} // namespace
