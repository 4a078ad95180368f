// The real player on Qt Multimedia lands on the asked frame, and plays a Short through its
// spans, on clips whose frames show their own index.

#include "PlayingTesting.h"

#include "model/editing/StreamBrowser.h"
#include "support/Env.h"
#include "support/Files.h"

#include <QDir>
#include <QRegularExpression>
#include <QThread>
#include <QStandardPaths>
#include <QTemporaryDir>

using namespace playing;

namespace {

TEST(PlayerTest, SeeksAndCutJumpsShowTheRightFrame)
{
    const QString clip = countedClip();
    ASSERT_FALSE(clip.isEmpty());
    std::unique_ptr<Player> player = Player::makeDefault();
    ASSERT_NE(player->videoSink(), nullptr);
    std::vector<int> shown;
    QObject::connect(player->videoSink(), &QVideoSink::videoFrameChanged, [&](const QVideoFrame& frame) {
        if (frame.isValid())
            shown.push_back(frameIndex(frame.toImage()));
    });
    std::vector<double> reported;
    QObject::connect(player.get(), &Player::ticked, [&](double t) { reported.push_back(t); });

    player->setSource(clip);
    player->seek(2.3); // before the media has loaded: kept until it has
    EXPECT_TRUE(waitUntil([&] { return !shown.empty() && shown.back() == 23; }, patience)) << (shown.empty() ? -1 : shown.back());

    player->setShort(clip, {{1.0, 1.5}, {4.0, 4.5}});
    player->seek(0.3);
    EXPECT_TRUE(waitUntil([&] { return !shown.empty() && shown.back() == 13; }, patience));
    EXPECT_DOUBLE_EQ(player->time(), 0.3);
    shown.clear();
    reported.clear();
    player->play();
    EXPECT_TRUE(waitUntil([&] { return player->rate() == 0; }, patience)) << "pauses at the last span's end";
    // The last span's last frame, which may come a moment after the pause.
    EXPECT_TRUE(waitUntil([&] { return !shown.empty() && shown.back() >= 44; }, patience));
    ASSERT_FALSE(shown.empty());
    for (int n : shown)
        EXPECT_TRUE((n >= 13 && n <= 15) || (n >= 40 && n <= 45)) << n;
    for (double t : reported)
        EXPECT_TRUE(t >= 0 && t <= 1.0) << t;
    EXPECT_NEAR(player->time(), 1.0, 0.05);

    // A span that reaches the recording's end goes on to the next one all the same.
    player->setShort(clip, {{5.5, 6.0}, {1.0, 1.5}});
    player->seek(0.4);
    EXPECT_TRUE(waitUntil([&] { return !shown.empty() && shown.back() == 59; }, patience));
    shown.clear();
    player->play();
    EXPECT_TRUE(waitUntil([&] { return player->rate() == 0 && player->time() > 0.9; }, patience))
        << player->time() << " " << player->problem().value_or("").toStdString();
    // The second span's frames show (a busy machine may drop some of them).
    EXPECT_TRUE(waitUntil(
        [&] { return std::any_of(shown.begin(), shown.end(), [](int n) { return n >= 10 && n <= 14; }); }, patience));
}

// With no sound output to play to (the sound server of these tests has none until a test
// adds one), the picture plays all the same.
TEST(PlayerTest, ThePicturePlaysWhereNoSoundCan)
{
    const QString clip = numberedClip();
    ASSERT_FALSE(clip.isEmpty());
    std::unique_ptr<Player> player = Player::makeDefault();
    Watch watch(*player);
    player->setSource(clip);
    player->seek(2.0);
    EXPECT_TRUE(watch.shows(60)) << "frame " << watch.last();
    player->play();
    EXPECT_TRUE(waitUntil([&] { return player->time() > 2.5 && watch.last() > 72; }, patience))
        << "at " << player->time() << ", frame " << watch.last();
    EXPECT_NE(player->rate(), 0);
    player->pause();
    EXPECT_TRUE(waitUntil([&] { return player->rate() == 0; }, patience));
    EXPECT_TRUE(showsTheClock(*player, watch)) << "frame " << watch.last() << " at " << player->time();
    EXPECT_EQ(player->problem(), std::nullopt);
    // Play again goes on from where it paused, by the time passed since, neither back nor
    // ahead of it.
    const double paused = player->time();
    ClockLog log(*player);
    settle(600);
    player->play();
    EXPECT_GE(player->time(), paused - 1e-3);
    settle(700);
    EXPECT_GT(player->time(), paused + 0.3);
    EXPECT_EQ(log.fault(0, 0.05, 1.0), std::nullopt);
    player->pause();

    // Sound that outlasts the pictures plays on by the clock, not skipped to its end.
    QTemporaryDir folder;
    const QString longSound = folder.path() + QStringLiteral("/long-sound.mkv");
    ASSERT_TRUE(Clips::ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=320x180:rate=30:duration=2", "-f", "lavfi", "-i",
                               "sine=frequency=440:sample_rate=48000:duration=8", "-c:v", "libx264", "-preset",
                               "ultrafast", "-c:a", "aac", longSound}));
    player->setSource(longSound);
    player->seek(0);
    player->play();
    EXPECT_TRUE(waitUntil([&] { return player->time() > 2.5; }, patience)) << player->time();
    EXPECT_LT(player->time(), 7.0);
    EXPECT_NE(player->rate(), 0);
    player->pause();

    // A recording of sound alone plays too.
    const QString soundOnly = Clips::audioOnly(folder.path() + QStringLiteral("/sound.m4a"), 5);
    ASSERT_FALSE(soundOnly.isEmpty());
    player->setSource(soundOnly);
    player->seek(1.0);
    player->play();
    EXPECT_TRUE(waitUntil([&] { return player->time() > 1.5; }, patience)) << player->time();
    player->pause();
}

// A recording joined from two whose stamps start again at the join, played from its start
// with its sound on an output, and without sound: the picture goes on into the second
// recording, each picture after the one before, the clock neither goes back nor leaps ahead,
// and playing stops after the second (the two recordings' lengths together, the length it
// states), on its last picture, with nothing said.
TEST(PlayerTest, AJoinedRecordingPlaysOnThroughItsJoin)
{
    NullSink output;
    for (const bool sound : {true, false}) {
        SCOPED_TRACE(sound ? "with sound" : "without sound");
        const QString clip = joinedClip(sound);
        ASSERT_FALSE(clip.isEmpty());
        const int last = Clips::shownFrames(clip + QStringLiteral(".2.ts")).back().number;
        std::unique_ptr<Player> player = Player::makeDefault();
        Watch watch(*player);
        QStringList said;
        QObject::connect(player.get(), &Player::failed, [&](const QString& s) { said << s; });
        player->setSource(clip);
        player->seek(0);
        ASSERT_TRUE(watch.shows(0)) << "frame " << watch.last();
        ClockLog log(*player);
        player->play();
        EXPECT_TRUE(waitUntil([&] { return player->rate() == 0; }, 4 * patience))
            << "still playing at " << player->time() << ", frame " << watch.last();
        EXPECT_EQ(log.fault(), std::nullopt);
        EXPECT_TRUE(std::is_sorted(watch.shown.begin(), watch.shown.end()));
        EXPECT_TRUE(waitUntil([&] { return watch.last() == last; }, patience)) << "frame " << watch.last();
        const double length = Media::probeNow(clip + QStringLiteral(".1.ts")).duration
                              + Media::probeNow(clip + QStringLiteral(".2.ts")).duration;
        EXPECT_NEAR(Media::probeNow(clip).duration, length, 0.01);
        EXPECT_NEAR(player->time(), length, 0.05);
        EXPECT_EQ(said, QStringList());
    }
}

// Seeks land on the frame asked for, also where a frame's time in whole milliseconds lies
// just before it (n/30 s); in a Short, in every span.
TEST(PlayerTest, SeeksLandOnTheAskedFrameAtThirtyFrames)
{
    const QString clip = numberedClip();
    ASSERT_FALSE(clip.isEmpty());
    std::unique_ptr<Player> player = Player::makeDefault();
    Watch watch(*player);
    player->setSource(clip);
    for (const int frame : {1, 37, 89, 33, 133, 150, 32, 271, 299, 0, 34}) {
        player->seek(frame / 30.0);
        EXPECT_TRUE(watch.shows(frame)) << "asked " << frame << ", shown " << watch.last();
    }
    // Spans 1.0-2.0, 4.5-5.2 and 7.1-8.0 laid back to back: a 2.6 s Short, whose end
    // shows the last frame of its last span.
    const ShortLine line{{{1.0, 2.0}, {4.5, 5.2}, {7.1, 8.0}}};
    player->setShort(clip, line.spans);
    for (const auto& [at, frame] : std::vector<std::pair<double, int>>{
             {1.0, 135}, {1.0 + 1 / 30.0, 136}, {1.5 + 2 / 30.0, 152}, {1.75, 214}, {1.7 + 7 / 30.0, 220},
             {2.5, 237}, {0.1, 33}, {1.0 - 1 / 30.0, 59}, {2.6, 239}, {9.0, 239}, {-1.0, 30}}) {
        player->seek(at);
        EXPECT_TRUE(watch.shows(frame)) << "Short time " << at << ": shown " << watch.last();
        EXPECT_NEAR(player->time(), std::clamp(at, 0.0, line.total()), 1e-9) << at;
    }
}

// Round after round of play, pause, seek and jumps from span to span: playback always goes
// on, and the picture is the frame under the reported time, in the span it belongs to.
TEST(PlayerTest, PlaysOnThroughCutsRoundAfterRound)
{
    const QString clip = numberedClip();
    ASSERT_FALSE(clip.isEmpty());
    std::unique_ptr<Player> player = Player::makeDefault();
    Watch watch(*player);
    const ShortLine line{{{1.0, 2.0}, {4.5, 5.2}, {7.1, 8.0}}};
    player->setShort(clip, line.spans);
    ASSERT_TRUE(watch.shows(30));
    const auto inSomeSpan = [&](int frame) {
        return std::any_of(line.spans.begin(), line.spans.end(),
                           [&](const Span& s) { return frame >= frameAt(s.start) - 1 && frame <= frameAt(s.end) + 1; });
    };
    for (int round = 0; round < 24; ++round) {
        // Just before the end of span round % 3 (the last: its end, where playing stops).
        const int k = round % 3;
        const double from = line.offset(k) + line.spans[k].length() - (k == 2 ? 0.02 : 0.12);
        switch (round % 4) {
        case 0: // seek while paused, then play
            player->pause();
            player->seek(from);
            player->play();
            break;
        case 1: // seek while playing
            player->play();
            player->seek(from);
            break;
        case 2: // play, pause and play again at once
            player->seek(from);
            player->play();
            player->pause();
            player->play();
            break;
        case 3: // the Short put in again, as each edit does
            player->setShort(clip, line.spans);
            player->seek(from);
            player->play();
            break;
        }
        watch.clear();
        if (k == 2) {
            EXPECT_TRUE(waitUntil([&] { return player->rate() == 0; }, patience)) << "round " << round << " stops at the end";
            EXPECT_NEAR(player->time(), line.total(), 0.05) << "round " << round;
            continue;
        }
        // Past the cut into the next span (or, where the machine was slow to look, further).
        const double goal = line.offset(k + 1) + 0.25;
        EXPECT_TRUE(waitUntil([&] { return player->time() > goal; }, patience))
            << "round " << round << " stalled at " << player->time() << " playing " << player->rate();
        player->pause();
        EXPECT_TRUE(waitUntil([&] { return player->rate() == 0; }, patience)) << "round " << round;
        const double paused = player->time();
        EXPECT_GT(line.at(paused)->span, k) << "round " << round << " at " << paused;
        EXPECT_TRUE(showsTheClock(*player, watch)) << "round " << round << " at " << paused << ": frame "
                                                   << watch.last();
        for (int n : watch.shown)
            EXPECT_TRUE(inSomeSpan(n)) << "round " << round << " showed frame " << n;
        for (double t : watch.reported)
            EXPECT_TRUE(t >= from - 0.05 && t <= paused + 0.1) << "round " << round << " reported " << t;
    }
    // Play, a seek and a pause at once: the picture comes to be the one where it stands.
    int landings = 0;
    QObject::connect(player.get(), &Player::landed, [&] { ++landings; });
    for (const double at : {2.2, 0.4}) {
        player->play();
        player->seek(at);
        player->pause();
        EXPECT_DOUBLE_EQ(player->time(), at);
        EXPECT_TRUE(showsTheClock(*player, watch)) << "at " << at << ": frame " << watch.last();
    }
    EXPECT_GE(landings, 2);
}

// Under a sound server with an output: a good recording plays with sound, one that cannot
// be played says so and stands still with the Play symbol (rate 0), and the good one after
// it plays with sound again: the sound output is not blamed for the recording.
TEST(PlayerTest, ARecordingThatCannotPlayLeavesTheSoundOn)
{
    NullSink output;
    if (!output.ready())
        GTEST_SKIP() << "no sound server to give an output";
    const QString clip = numberedClip();
    ASSERT_FALSE(clip.isEmpty());
    QTemporaryDir folder;
    const QString broken = folder.path() + QStringLiteral("/Broken.mp4");
    QFile file(broken);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(64 * 1024, 'x'));
    file.close();

    std::unique_ptr<Player> player = Player::makeDefault();
    Watch watch(*player);
    std::vector<int> streams; // while each good recording plays
    const auto playGood = [&] {
        player->setSource(clip);
        player->seek(1.0);
        EXPECT_TRUE(watch.shows(30)) << watch.last();
        player->play();
        EXPECT_TRUE(waitUntil([&] { return watch.last() > 36; }, patience)) << watch.last();
        waitUntil([] { return soundStreams() == 1; }, patience);
        streams.push_back(soundStreams());
        EXPECT_NE(player->rate(), 0);
        EXPECT_EQ(player->problem(), std::nullopt);
        player->pause();
    };
    playGood();
    player->setSource(broken);
    player->play();
    EXPECT_TRUE(waitUntil([&] { return player->problem().has_value(); }, patience));
    settle(300);
    EXPECT_EQ(player->rate(), 0);
    EXPECT_EQ(player->problem(), std::optional<QString>(QStringLiteral(
                                     "Broken.mp4 cannot be played: it is damaged, or its picture or sound is stored "
                                     "in a way this computer cannot play.")));
    playGood();
    EXPECT_EQ(streams, (std::vector<int>{1, 1}));
}

// Every kind of file the open panel offers opens, shows after each seek the frame that an
// export takes for that time, tells that the seek has landed, and plays picture and sound;
// so do a recording whose time stamps start 5 s late, one whose picture starts 0.5 s after
// its sound, and recordings stored turned a quarter, a half and three quarters (as a phone
// stores its portrait recording): they show upright, in the shape and with the picture that
// an export gives them. The picture comes at the size a view asks for (at most the
// recording's own), upright. Recording time counts from the file's start, as ffmpeg's -ss
// counts it: in most containers the picture starts some milliseconds after the sound.
TEST(PlayerTest, EveryOfferedKindOfFileShowsTheFrameTheExportTakes)
{
    NullSink output;
    const QString clip = numberedClip();
    ASSERT_FALSE(clip.isEmpty());
    const QStringList copy{"-i", clip, "-c", "copy"};
    const QStringList mpegTs{"-i", clip, "-c", "copy", "-f", "mpegts"};
    const auto turned = [&](int degrees) {
        return copy + QStringList{"-metadata:s:v", "rotate=" + QString::number(degrees)};
    };
    QTemporaryDir folder;
    struct Row {
        QString name;
        QStringList args;
        int rotate = 0; // the turn its stream's display matrix states, in degrees
    };
    for (const auto& [name, args, rotate] : std::vector<Row>{
             {"mp4", copy},
             {"mov", copy},
             {"m4v", copy},
             {"mkv", copy},
             {"webm", {"-i", clip, "-c:v", "libvpx-vp9", "-crf", "20", "-b:v", "0", "-deadline", "realtime", "-cpu-used",
                       "8", "-g", "30", "-c:a", "libopus"}},
             {"avi", copy},
             {"ts", mpegTs},
             {"flv", copy},
             {"mts", mpegTs},
             {"late.mkv", {"-i", clip, "-c", "copy", "-output_ts_offset", "5"}},
             {"late-picture.mkv", {"-i", clip, "-itsoffset", "0.5", "-i", clip, "-map", "1:v", "-map", "0:a", "-c", "copy"}},
             {"turned90.mp4", turned(90), 90},
             {"turned180.mp4", turned(180), 180},
             {"turned270.mov", turned(270), 270},
             // Pictures in eights with 0.2 s between: the one shown in such a pause may be one
             // that no other refers to, which a seek decodes all the same.
             {"pauses.mkv", {"-i", clip, "-vf", "setpts=(N+floor(N/8)*6)/30/TB", "-fps_mode", "passthrough", "-c:v",
                             "libx264", "-preset", "veryfast", "-g", "30", "-x264-params", "b-pyramid=none", "-c:a",
                             "copy"}}}) {
        const QString path = folder.path() + QStringLiteral("/Stream.") + name;
        ASSERT_TRUE(Clips::ffmpeg(args + QStringList{path})) << name.toStdString();
        // (Numbers are read from the picture as stored: turned back as the probe reads it.)
        const int turn = int(Media::probeNow(path).rotation);
        EXPECT_EQ(turn % 180, rotate % 180) << name.toStdString();
        if (rotate % 180 == 0) {
            EXPECT_EQ(turn, rotate) << name.toStdString();
        }
        std::unique_ptr<Player> player = Player::makeDefault();
        Watch watch(*player, 10, turn);
        int landings = 0;
        QObject::connect(player.get(), &Player::landed, [&] { ++landings; });
        player->setSource(path);
        for (const double t : {2.0, 137 / 30.0, 31 / 30.0, 3.02}) {
            const int frame = frameTheExportTakes(path, t);
            landings = 0;
            player->seek(t);
            EXPECT_TRUE(waitUntil([&] { return landings > 0 && watch.last() == frame; }, patience))
                << name.toStdString() << ": at " << t << " the export takes " << frame << ", shown " << watch.last()
                << ", landed " << landings;
        }
        // Upright in the export's shape (its number, read turned back, says which way it turned).
        const QSize upright = rotate % 180 == 0 ? QSize(320, 180) : QSize(180, 320);
        EXPECT_EQ(player->videoSink()->videoFrame().size(), upright) << name.toStdString();
        // At the size a view shows it: fitted, upright, the same picture; no seek asked for it.
        // A view wider than high: a picture that meets its width, one that meets its height.
        landings = 0;
        const std::size_t before = watch.shown.size();
        player->setPictureSize(QSize(100, 80));
        const QSize fitted = rotate % 180 == 0 ? QSize(100, 56) : QSize(45, 80);
        EXPECT_TRUE(waitUntil([&] { return player->videoSink()->videoFrame().size() == fitted; }, patience))
            << name.toStdString() << ": " << player->videoSink()->videoFrame().size().width() << "x"
            << player->videoSink()->videoFrame().size().height();
        EXPECT_EQ(watch.shown.size(), before + 1) << name.toStdString();
        EXPECT_EQ(watch.last(), frameTheExportTakes(path, 3.02)) << name.toStdString();
        EXPECT_EQ(landings, 0) << name.toStdString();
        player->play();
        EXPECT_TRUE(waitUntil([&] { return watch.last() > 100 && player->time() > 3.5; }, patience))
            << name.toStdString() << " plays: frame " << watch.last() << " at " << player->time();
        if (output.ready()) {
            waitUntil([] { return soundStreams() == 1; }, patience);
            EXPECT_EQ(soundStreams(), 1) << name.toStdString();
        }
        player->pause();
        // Played to its end, a whole recording stops there with its last picture, and
        // nothing is said of it.
        QStringList said;
        QObject::connect(player.get(), &Player::failed, [&](const QString& s) { said << s; });
        player->seek(9.2);
        player->play();
        EXPECT_TRUE(waitUntil([&] { return player->rate() == 0; }, patience)) << name.toStdString();
        EXPECT_EQ(watch.last(), frameTheExportTakes(path, 20.0)) << name.toStdString();
        EXPECT_EQ(said, QStringList()) << name.toStdString();
    }
}

// A recording whose data stops at half of what it holds: with an index that says more (MP4),
// without one (Matroska), and in containers that state no length (MPEG-TS, fragmented MP4).
// A seek inside the data shows its picture; the player says so where a seek asks for what
// is missing, where playing reaches the data's end (in a file that states a longer
// length), and where a Short's cut reaches past the data or lies past it; the data's last
// picture is on screen, the clock stands, and Play there plays nothing.
TEST(PlayerTest, ARecordingCutShortSaysWhereItEnds)
{
    QTemporaryDir folder;
    struct Row {
        QString kind;
        QStringList container;
        bool statesLength;
    };
    for (const auto& [kind, container, statesLength] : std::vector<Row>{
             {"mp4", {"-movflags", "+faststart"}, true},
             {"mkv", {}, true},
             {"ts", {"-f", "mpegts"}, false},
             {"frag.mp4", {"-movflags", "frag_keyframe+empty_moov"}, false}}) {
        SCOPED_TRACE(kind.toStdString());
        const QString whole = folder.path() + QStringLiteral("/whole.") + kind;
        ASSERT_TRUE(Clips::ffmpeg(QStringList{"-i", numberedClip(), "-c", "copy"} + container + QStringList{whole}));
        QFile in(whole);
        ASSERT_TRUE(in.open(QIODevice::ReadOnly));
        const QByteArray bytes = in.readAll();
        const QString path = folder.path() + QStringLiteral("/Cut.") + kind;
        ASSERT_TRUE(testfiles::writeFile(path, bytes.left(bytes.size() / 2)));

        std::unique_ptr<Player> player = Player::makeDefault();
        Watch watch(*player);
        QStringList said;
        QObject::connect(player.get(), &Player::failed, [&](const QString& s) { said << s; });
        int blanks = 0;
        QObject::connect(player->videoSink(), &QVideoSink::videoFrameChanged, [&](const QVideoFrame& f) {
            blanks += !f.isValid();
        });
        const QRegularExpression sentence("^Cut\\." + QRegularExpression::escape(kind)
                                          + " ends early: it holds pictures up to 0:00:0[3-5] only\\.$");
        // (The last picture of a file cut off may be cut itself: one off.)
        const auto near = [&](double t) {
            const int frame = frameTheExportTakes(path, t);
            return waitUntil([&] { return std::abs(watch.last() - frame) <= 1; }, patience);
        };
        const auto saysItEndsEarly = [&] {
            const bool stopped = waitUntil([&] { return !said.isEmpty() && player->rate() == 0; }, patience);
            return stopped && sentence.match(said.back()).hasMatch();
        };
        player->setSource(path);
        player->seek(2.0);
        ASSERT_TRUE(near(2.0)) << watch.last();
        player->seek(4.0); // inside the data, far from where it stood
        EXPECT_TRUE(near(4.0)) << watch.last();
        const int before = watch.last();

        player->seek(8.0); // past the data
        EXPECT_TRUE(waitUntil([&] { return !said.isEmpty(); }, patience));
        if (!said.isEmpty()) {
            EXPECT_TRUE(sentence.match(said.back()).hasMatch()) << said.back().toStdString();
        }
        // The data's last picture shows there, not the picture shown before.
        EXPECT_TRUE(near(8.0)) << watch.last() << " (before: " << before << ")";
        EXPECT_DOUBLE_EQ(player->time(), 8.0);

        said.clear();
        player->seek(3.0);
        EXPECT_TRUE(near(3.0)) << watch.last();
        player->play();
        if (statesLength) {
            EXPECT_TRUE(saysItEndsEarly()) << said.join(' ').toStdString() << " at " << player->time();
        } else {
            // As long as its data: it ends there.
            EXPECT_TRUE(waitUntil([&] { return player->rate() == 0; }, patience)) << player->time();
            EXPECT_TRUE(said.isEmpty()) << said.join(' ').toStdString();
        }
        const int last = watch.last();
        EXPECT_GT(last, 90);
        if (statesLength) {
            said.clear();
            player->play();
            EXPECT_EQ(said.size(), 1) << "Play at the end says so again";
            settle(500);
            EXPECT_EQ(player->rate(), 0);
            EXPECT_EQ(watch.last(), last);
        }

        // A Short whose first cut runs on past the data plays to where it stops, and says so;
        // one whose second cut lies past the data stops after its first.
        for (const std::vector<Span>& cuts :
             {std::vector<Span>{{3.0, 8.0}, {1.0, 1.6}}, std::vector<Span>{{1.0, 2.0}, {8.0, 9.0}}}) {
            said.clear();
            player->setShort(path, cuts);
            player->seek(0.5);
            EXPECT_TRUE(near(cuts[0].start + 0.5)) << watch.last();
            player->play();
            EXPECT_TRUE(saysItEndsEarly()) << said.join(' ').toStdString() << " at " << player->time();
            const double stood = player->time();
            settle(300);
            EXPECT_EQ(player->time(), stood) << "the clock stands";
            EXPECT_LE(watch.last(), frameAt(std::min(cuts[0].end, 5.1)));
        }
        EXPECT_EQ(blanks, 0);
        EXPECT_EQ(player->problem(), std::nullopt) << "what the file holds plays";

        // A seek past the data while playing, in a player that has not been there yet: the
        // data's last picture, and the sentence.
        player = Player::makeDefault();
        Watch fresh(*player);
        said.clear();
        QObject::connect(player.get(), &Player::failed, [&](const QString& s) { said << s; });
        player->setSource(path);
        player->seek(1.0);
        const int early = frameTheExportTakes(path, 1.0);
        ASSERT_TRUE(waitUntil([&] { return std::abs(fresh.last() - early) <= 1; }, patience)) << fresh.last();
        player->play();
        player->seek(8.0);
        const int lastHeld = frameTheExportTakes(path, 8.0);
        EXPECT_TRUE(waitUntil([&] { return saysItEndsEarly() && std::abs(fresh.last() - lastHeld) <= 1; }, patience))
            << "frame " << fresh.last() << ", said: " << said.join(' ').toStdString();
        EXPECT_DOUBLE_EQ(player->time(), 8.0);
    }
}

// A recording that could not be played, shown again once it was replaced by a good one,
// plays: it is tried afresh.
TEST(PlayerTest, AnUnplayableRecordingShownAgainIsTriedAfresh)
{
    QTemporaryDir folder;
    const QString path = folder.path() + QStringLiteral("/Stream.mp4");
    ASSERT_TRUE(testfiles::writeFile(path, QByteArray(64 * 1024, 'x')));
    std::unique_ptr<Player> player = Player::makeDefault();
    Watch watch(*player);
    player->setSource(path);
    player->play();
    ASSERT_TRUE(waitUntil([&] { return player->problem().has_value(); }, patience));
    QFile::remove(path);
    ASSERT_TRUE(QFile::copy(numberedClip(), path));
    player->setSource(path);
    player->seek(2.0);
    EXPECT_TRUE(watch.shows(60)) << watch.last();
    EXPECT_EQ(player->problem(), std::nullopt);
}

// Quitting with an MPEG-TS recording paused in either window: the player's owner goes
// without a crash, and its thread with it.
TEST(PlayerTest, TheOwnersOfAPlayerGoCleanly)
{
    QTemporaryDir folder;
    const QString path = folder.path() + QStringLiteral("/Stream.ts");
    ASSERT_TRUE(Clips::ffmpeg({"-i", numberedClip(), "-c", "copy", "-f", "mpegts", path}));
    for (const bool main : {true, false}) {
        auto player = Player::makeDefault();
        Watch watch(*player);
        Player& held = *player;
        std::unique_ptr<QObject> owner;
        if (main)
            owner = std::make_unique<AppModel>(std::move(player), std::make_unique<FakePlayer>());
        else
            owner = std::make_unique<StreamBrowser>(std::move(player));
        held.setSource(path);
        held.seek(2.0);
        ASSERT_TRUE(watch.shows(frameTheExportTakes(path, 2.0))) << "main " << main << ": " << watch.last();
        held.play();
        settle(100);
        owner.reset();
    }
}

// While a Short of four cuts plays, every frame shown lies inside a cut: the jump from a
// cut's end holds its last frame until the next cut's first frame arrives, and the end
// shows the last cut's last frame.
TEST(PlayerTest, AShortShowsNoFrameOutsideItsCuts)
{
    const QString clip = numberedClip();
    ASSERT_FALSE(clip.isEmpty());
    std::unique_ptr<Player> player = Player::makeDefault();
    Watch watch(*player);
    // The first cut plays on for longer than a seek may take to land.
    const ShortLine line{{{0.5, 2.9}, {4.5, 5.21}, {7.1, 8.0}, {3.3, 3.9}}};
    // Frame n lies in a cut when its time n/30 ... (n+1)/30 overlaps the cut.
    const auto inside = [&](int n) {
        return std::any_of(line.spans.begin(), line.spans.end(), [&](const Span& s) {
            return n < std::ceil(s.end * 30 - 1e-6) && n >= std::floor(s.start * 30 + 1e-6);
        });
    };
    player->setShort(clip, line.spans);
    ASSERT_TRUE(watch.shows(15));
    std::vector<int> outside;
    for (int round = 0; round < 2; ++round) {
        player->seek(0);
        ASSERT_TRUE(watch.shows(15));
        watch.clear();
        player->play();
        EXPECT_TRUE(waitUntil([&] { return player->rate() == 0 && player->time() > line.total() - 0.05; }, patience))
            << "round " << round << " at " << player->time();
        EXPECT_TRUE(watch.shows(116)) << "round " << round << ": " << watch.last();
        settle(300);
        for (int n : watch.shown)
            if (!inside(n))
                outside.push_back(n);
        EXPECT_EQ(watch.last(), 116) << "round " << round;
    }
    QStringList shown;
    for (int n : outside)
        shown << QString::number(n);
    EXPECT_TRUE(outside.empty()) << outside.size() << " frames outside the cuts: " << shown.join(' ').toStdString();
}

} // namespace
