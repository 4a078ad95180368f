// Real exports of generated clips through ffmpeg.

#include "core/project/Subtitles.h"
#include "model/editing/ShortTesting.h"
#include "support/Await.h"
#include "platform/PartialFile.h"
#include "support/Env.h"

#include <QRegularExpression>
#include <QStandardPaths>
#include <climits>
#include <sys/wait.h>
#include <unistd.h>

using namespace shorts;

namespace {

// Runs of consecutive numbers, as "300-359 1357-1439": what a file's frames show, readably.
QString runs(const std::vector<int>& numbers)
{
    QStringList out;
    for (std::size_t i = 0; i < numbers.size();) {
        std::size_t j = i;
        while (j + 1 < numbers.size() && numbers[j + 1] == numbers[j] + 1)
            ++j;
        out << (i == j ? QString::number(numbers[i]) : QStringLiteral("%1-%2").arg(numbers[i]).arg(numbers[j]));
        i = j + 1;
    }
    return out.join(u' ');
}

// The start times of an SRT's entries.
std::vector<double> subtitleStarts(const QString& srt)
{
    std::vector<double> starts;
    static const QRegularExpression stamp(QStringLiteral("^(\\d+):(\\d+):(\\d+),(\\d+) -->"),
                                          QRegularExpression::MultilineOption);
    for (auto it = stamp.globalMatch(srt); it.hasNext();) {
        const auto m = it.next();
        starts.push_back(m.captured(1).toInt() * 3600 + m.captured(2).toInt() * 60 + m.captured(3).toInt()
                         + m.captured(4).toInt() / 1000.0);
    }
    return starts;
}

// The first and last frame the player shows over each cut, from a numbered recording whose
// pictures are shown at `source`: from the one shown at its start to the last that starts
// before its end (its edges held on a grid of 1/600 s).
std::vector<std::pair<int, int>> shownOver(const std::vector<Cut>& cuts, const std::vector<Clips::Shown>& source)
{
    std::vector<std::pair<int, int>> out;
    for (const Cut& c : cuts) {
        const double s = std::round(c.start * 600) / 600, e = std::round(c.end * 600) / 600;
        int first = source.front().number, last = -1;
        for (const Clips::Shown& f : source) {
            first = f.time < showingLimit(s) ? f.number : first;
            last = f.time < endingLimit(e) ? f.number : last;
        }
        out.push_back({first, last});
    }
    return out;
}

// The runs of consecutive numbers a file's frames show, first and last of each.
std::vector<std::pair<int, int>> runsIn(const std::vector<Clips::Shown>& frames)
{
    std::vector<std::pair<int, int>> out;
    for (const Clips::Shown& f : frames) {
        if (out.empty() || f.number != out.back().second + 1)
            out.push_back({f.number, f.number});
        else
            out.back().second = f.number;
    }
    return out;
}

// How far (in frames) the picture of an exported Short lies from its sound at worst, read
// from a recording with a click every 0.1 s: at each click heard in the file, the frame the
// file shows then against the frame the recording shows where that click lies in it. Which
// frames a file holds says nothing of this; a picture placed late against its sound shows here.
int framesFromSound(const QString& mp4, const std::vector<Cut>& cuts, const std::vector<Clips::Shown>& source, int bits)
{
    const std::vector<Clips::Shown> shown = Clips::shownFrames(mp4, bits);
    const std::vector<double> heard = Clips::clicksIn(Clips::soundOf(mp4));
    if (heard.empty() || shown.empty())
        return INT_MAX;
    // The frame showing at `t` (a little after a click, clear of the rounding of either time).
    const auto at = [](const std::vector<Clips::Shown>& frames, double t) {
        int number = frames.front().number;
        for (const Clips::Shown& f : frames)
            if (f.time <= t)
                number = f.number;
        return number;
    };
    int worst = 0;
    for (const double h : heard) {
        double start = 0;
        for (const Cut& c : cuts) {
            const double s = std::round(c.start * 600) / 600, length = std::round(c.end * 600) / 600 - s;
            if (h < start + length) {
                const int wanted = at(source, s + (h - start) + 0.005);
                worst = std::max(worst, std::abs(at(shown, h + 0.005) - wanted));
                break;
            }
            start += length;
        }
    }
    return worst;
}

class ExportTest : public ShortTest {
protected:
    QStringList revealed;
    QStringList busyWhileShown;
    bool revealWorks = true; // what the file manager does
    void SetUp() override
    {
        ShortTest::SetUp();
        model->revealFile = [this](QString path) {
            revealed << path;
            // The export is over before the file manager is asked: another may start meanwhile.
            if (model->exportProgress() || !model->exportLabel().isEmpty())
                busyWhileShown << path;
            return ready(revealWorks);
        };
    }
    static QCoro::Task<bool> ready(bool value) { co_return value; }
    static QStringList leftovers(const QString& folder)
    {
        return QDir(folder).entryList({".vt-*"}, QDir::Files | QDir::Hidden);
    }
};

TEST_F(ExportTest, CutsAreRenderedBackToBackFromTheirPlaceInTheRecording)
{
    std::vector<Segment> segments{segment("01", 0, 6)};
    segments[0].lines = std::vector<Line>{{1.2, 1.8, "one"}, {2.1, 2.4, "two [laughs]"}};
    openWith(countedClip(), {shortOf("Clip", {cut(2.0, 2.5), cut(1.0, 2.0)})}, segments);
    const QString mp4 = root + "/out/clip.mp4";
    QDir().mkpath(root + "/out");
    writeFile(mp4, "an older export");
    std::vector<double> progress;
    QObject::connect(model.get(), &AppModel::exportProgressChanged, [&] {
        if (model->exportProgress())
            progress.push_back(*model->exportProgress());
    });

    await(model->exportShort(mp4, true, true));

    EXPECT_EQ(model->problem(), std::nullopt);
    EXPECT_EQ(model->toast(), "Exported clip.mp4");
    EXPECT_EQ(revealed, QStringList{mp4});
    EXPECT_EQ(model->exportProgress(), std::nullopt);
    EXPECT_EQ(model->exportLabel(), "");
    ASSERT_FALSE(progress.empty());
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(progress.back(), 1.0);
    ASSERT_EQ(model->jobs().size(), 1u);
    const Job& job = model->jobs()[0];
    EXPECT_EQ(QStringList({job.kind, job.title, job.detail, job.state}).join('|'), "export|Export Clip|clip.mp4|done");

    const MediaInfo out = Media::probeNow(mp4);
    EXPECT_NEAR(out.duration, 1.5, 0.1);
    // The tone goes on over the change of cut: each cut's sound lasts the whole cut.
    const std::vector<float> sound = Clips::soundOf(mp4);
    std::size_t quiet = 0, longest = 0;
    for (std::size_t i = 0; i < std::min<std::size_t>(sound.size(), 1.5 * 48000); ++i) { // the Short, not the padding after it
        quiet = std::fabs(sound[i]) < 0.01f ? quiet + 1 : 0;
        longest = std::max(longest, quiet);
    }
    EXPECT_LT(longest, 48u) << "a silence of " << longest / 48.0 << " ms";
    EXPECT_TRUE(out.audioStream.has_value());
    EXPECT_EQ(out.naturalSize, QSize(160, 96));
    EXPECT_EQ(frameIndex(Media::stillNow(mp4, 0, {160, 96})), 20);
    EXPECT_EQ(frameIndex(Media::stillNow(mp4, 0.5, {160, 96})), 10);
    EXPECT_EQ(frameIndex(Media::stillNow(mp4, 1.4, {160, 96})), 19);
    EXPECT_EQ(QString::fromUtf8(readFile(root + "/out/clip.srt")),
              Subtitles::srt(model->project().shorts[0], model->project()));
    EXPECT_TRUE(leftovers(root + "/out").isEmpty());
}

// Each cut holds the frames the player shows over it, from the frame shown at its start to
// the last that starts before its end, each at the Short time the player shows it at, and
// the sound of exactly its stretch: so the file keeps time with its subtitles, cut by cut.
// From every container the picker offers, with key frames seconds apart, and with open
// GOPs, whose frames just before a key frame are decoded after it. And an AVI coded again
// without B-frames, whose first picture is followed by an empty packet: every later picture
// is stamped a frame late, and its sound (MP3) starts late by the encoder's delay.
TEST_F(ExportTest, EachCutHoldsTheFramesThePlayerShowsAtItsPlaceInTheShort)
{
    struct Source {
        QString name, rate;
        double fps;
        QString suffix = ".mp4";
        int keyEvery = 30;
        bool openGop = false;
        QStringList recode = {}; // made from the MP4 of this name with these ffmpeg arguments
    };
    const double ntsc = 30000.0 / 1001.0;
    const QStringList mpeg4{"-c:v", "mpeg4", "-q:v", "3", "-g", "60", "-bf", "0", "-c:a", "libmp3lame"};
    for (const Source& r : {Source{"30", "30", 30}, Source{"29.97", "30000/1001", ntsc},
                            Source{"30-sparse", "30", 30, ".ts", 240}, Source{"29.97-sparse", "30000/1001", ntsc, ".ts", 240},
                            Source{"30", "30", 30, ".mkv"}, Source{"30", "30", 30, ".flv"},
                            Source{"30-open-gop", "30", 30, ".mp4", 60, true},
                            Source{"30", "30", 30, ".avi", 30, false, mpeg4}}) {
        SCOPED_TRACE((r.name + r.suffix).toStdString());
        const auto numbered = [&](const QString& p) {
            return Clips::numbered(p, 56, Clips::Numbering{r.rate, r.keyEvery, 11, true, r.openGop});
        };
        const QString clip = r.recode.isEmpty()
            ? sharedClip("numbered-clicks-" + r.name + r.suffix, numbered)
            : sharedClip("numbered-clicks-" + r.name + "-recoded" + r.suffix, [&](const QString& p) {
                  const QString from = sharedClip("numbered-clicks-" + r.name + ".mp4", numbered);
                  return Clips::ffmpeg(QStringList{"-i", from} + r.recode + QStringList{p}) ? p : QString();
              });
        ASSERT_FALSE(clip.isEmpty());
        const double fps = r.fps;
        // Out of order, on the frame grid (at 30 fps) and off it; one just before a key frame.
        const std::vector<Cut> cuts{cut(10.0, 12.0),         cut(45.25, 48.0), cut(20.51, 21.49),
                                    cut(30 + 2 / 30.0, 31 + 1 / 30.0), cut(3.9717, 4.0067), cut(50.0, 53.3)};
        // One line 10 ms into every cut: its subtitle says where the cut starts in the file
        // (the cut of 35 ms is too short for one).
        std::vector<Segment> segments{segment("01", 0, 56)};
        segments[0].lines = std::vector<Line>{};
        for (const Cut& c : {cuts[0], cuts[2], cuts[3], cuts[1], cuts[5]})
            segments[0].lines->push_back({c.start + 0.01, c.start + 0.3, "cut"});
        openWith(clip, {shortOf("Exact", cuts)}, segments);
        const QString mp4 = root + "/exact.mp4";
        await(model->exportShort(mp4, true, false));
        ASSERT_EQ(model->problem(), std::nullopt);

        // What the player shows: from the frame shown at a cut's start to the last that starts
        // before the whole millisecond before its end.
        const std::vector<Clips::Shown> source = Clips::recordingFrames(clip);
        ASSERT_GT(source.size(), 1600u);
        // Where the recording's clicks start: with frame 0, or later where its sound was coded again.
        const std::vector<double> recorded = Clips::clicksIn(Clips::soundOf(clip));
        ASSERT_FALSE(recorded.empty());
        const double clickOrigin = std::max(source.front().time, recorded.front());
        std::vector<int> wanted;
        std::vector<double> times, starts, clicks;
        double at = 0;
        for (const Cut& c : cuts) {
            // Cut edges are held on a grid of 1/600 s.
            const double s = std::round(c.start * 600) / 600, e = std::round(c.end * 600) / 600;
            std::size_t first = 0;
            while (first + 1 < source.size() && source[first + 1].time < showingLimit(s))
                ++first;
            for (std::size_t n = first; n < source.size() && source[n].time < endingLimit(e); ++n) {
                wanted.push_back(source[n].number);
                times.push_back(at + std::max(0.0, source[n].time - s));
            }
            starts.push_back(at);
            // A click heard within 20 ms of the one before is not told apart from it.
            for (int k = 0; k < 560; ++k)
                if (const double click = clickOrigin + k * 0.1; click >= s - 1e-6 && click + 0.002 < e)
                    if (clicks.empty() || at + click - s > clicks.back() + 0.02)
                        clicks.push_back(at + click - s);
            at += e - s;
        }
        const double total = at;

        const std::vector<Clips::Shown> shown = Clips::shownFrames(mp4, 11);
        std::vector<int> numbers;
        for (const Clips::Shown& f : shown)
            numbers.push_back(f.number);
        EXPECT_EQ(runs(numbers), runs(wanted));
        EXPECT_EQ(shown.size(), wanted.size()) << "for a Short of " << total * fps << " frames";
        double off = 0; // the farthest a frame lies from where the player shows it
        for (std::size_t i = 0; i < shown.size() && i < times.size(); ++i)
            off = std::max(off, std::fabs(shown[i].time - times[i]));
        EXPECT_LT(off, 0.002);
        // Where each cut starts in the file against where its subtitle puts it.
        const std::vector<double> subtitles = subtitleStarts(QString::fromUtf8(readFile(root + "/exact.srt")));
        ASSERT_EQ(subtitles.size(), cuts.size() - 1);
        for (std::size_t k = 0, entry = 0; k < cuts.size(); ++k)
            if (k != 4) {
                EXPECT_NEAR(subtitles[entry++], starts[k] + 0.01, 0.0015) << "cut " << k + 1;
            }
        // The whole file lasts the Short, and the sound keeps step with the picture.
        EXPECT_NEAR(Media::probeNow(mp4).duration, total, 1 / fps);
        const std::vector<float> sound = Clips::soundOf(mp4);
        EXPECT_NEAR(sound.size() / 48000.0, total, 1 / fps);
        const std::vector<double> heard = Clips::clicksIn(sound);
        EXPECT_EQ(heard.size(), clicks.size());
        double late = 0; // the farthest a click lies from where its picture is
        for (std::size_t i = 0; i < clicks.size() && i < heard.size(); ++i)
            late = std::max(late, std::fabs(heard[i] - clicks[i]));
        EXPECT_LT(late, 0.003);
    }
}

// AVI keeps no showing stamps for a video with B-frames, and ffmpeg stamps such pictures
// only about as late as its decoder holds them back: the export is made all the same, each
// cut within a frame of the pictures the player shows.
TEST_F(ExportTest, AnAviRecordingWithBFramesExportsWithinAFrameAtEachEdge)
{
    const QString clip = sharedClip("numbered-clicks-30.avi", [](const QString& p) {
        return Clips::numbered(p, 56, Clips::Numbering{"30", 30, 11, true});
    });
    ASSERT_FALSE(clip.isEmpty());
    const std::vector<Cut> cuts{cut(10.0, 12.0), cut(45.25, 48.0), cut(20.51, 21.49)};
    openWith(clip, {shortOf("Avi", cuts)}, {segment("01", 0, 56)});
    await(model->exportShort(root + "/avi.mp4", false, false));
    ASSERT_EQ(model->problem(), std::nullopt);
    std::vector<int> numbers;
    for (const Clips::Shown& f : Clips::shownFrames(root + "/avi.mp4", 11))
        numbers.push_back(f.number);
    const std::vector<std::pair<int, int>> wanted{{300, 359}, {1357, 1439}, {615, 644}};
    std::size_t at = 0;
    for (const auto& [first, last] : wanted) {
        ASSERT_LT(at, numbers.size());
        EXPECT_NEAR(numbers[at], first, 1) << "cut from frame " << first;
        while (at + 1 < numbers.size() && numbers[at + 1] == numbers[at] + 1)
            ++at;
        EXPECT_NEAR(numbers[at], last, 1) << "cut to frame " << last;
        ++at;
    }
    EXPECT_EQ(at, numbers.size());
    // And each picture shows with its sound, within a frame.
    EXPECT_LE(framesFromSound(root + "/avi.mp4", cuts, Clips::recordingFrames(clip), 11), 1);
}

// Where the recording has no sound (its sound starts late or ends early), a cut gets silence
// there, so its sound lasts the cut and every later cut's sound stays with its picture.
TEST_F(ExportTest, ACutWithoutSoundForPartOfItKeepsTheSoundInStep)
{
    struct Gap {
        QString name;
        double from, until; // where the recording has sound
        QStringList make;   // how it is made from a 4 s numbered clip with clicks
    };
    const QString base = sharedClip("numbered-clicks-4s.mp4", [](const QString& p) {
        return Clips::numbered(p, 4, Clips::Numbering{"30", 30, 11, true});
    });
    for (const Gap& g : {Gap{"late", 0.5, 4, {"-i", base, "-itsoffset", "0.5", "-i", base, "-t", "4"}},
                         Gap{"early", 0, 3, {"-i", base, "-t", "3", "-i", base}}}) {
        SCOPED_TRACE(g.name.toStdString());
        const QString clip = root + "/" + g.name + ".mp4";
        ASSERT_TRUE(Clips::ffmpeg(g.make + QStringList{"-map", "0:v", "-map", "1:a", "-c:v", "copy", "-c:a", "aac",
                                                       clip}));
        // Each case has a cut wholly without sound: before it starts, after it ends. (No cut
        // ends on a click, which the sound's own rounding might put on either side.)
        const std::vector<Cut> cuts{cut(0, 1.95), cut(0.1, 0.4), cut(2.5, 3.5), cut(3.2, 3.8), cut(3, 3.95)};
        openWith(clip, {shortOf("Gap", cuts)}, {segment("01", 0, 4)});
        const QString mp4 = root + "/gap.mp4";
        await(model->exportShort(mp4, false, false));
        ASSERT_EQ(model->problem(), std::nullopt);

        std::vector<double> clicks;
        double at = 0;
        for (const Cut& c : cuts) {
            for (int k = 0; g.from + k * 0.1 < g.until - 0.002; ++k)
                if (const double r = g.from + k * 0.1; r >= c.start && r + 0.002 < c.end)
                    clicks.push_back(at + r - c.start);
            at += c.end - c.start;
        }
        const std::vector<float> sound = Clips::soundOf(mp4);
        EXPECT_NEAR(sound.size() / 48000.0, at, 1 / 30.0);
        EXPECT_NEAR(Media::probeNow(mp4).duration, at, 1 / 30.0);
        const std::vector<double> heard = Clips::clicksIn(sound);
        ASSERT_EQ(heard.size(), clicks.size());
        double late = 0;
        for (std::size_t i = 0; i < clicks.size(); ++i)
            late = std::max(late, std::fabs(heard[i] - clicks[i]));
        EXPECT_LT(late, 0.003);
    }
}

TEST_F(ExportTest, SilentAndTurnedRecordingsKeepTheirNature)
{
    std::vector<Segment> segments{segment("01", 0, 6)};
    segments[0].lines = std::vector<Line>{{2.1, 2.4, "late"}};
    // Held inside the recording, and the subtitles with it.
    openWith(silentClip(), {shortOf("Quiet", {cut(-0.5, 1), cut(2, 2.5)})}, segments);
    await(model->exportShort(root + "/quiet.mp4", true, false));
    const MediaInfo quiet = Media::probeNow(root + "/quiet.mp4");
    EXPECT_EQ(quiet.audioStream, std::nullopt);
    EXPECT_NEAR(quiet.duration, 1.5, 0.1);
    EXPECT_EQ(readFile(root + "/quiet.srt"), "1\n00:00:01,100 --> 00:00:01,400\nlate\n\n");
    EXPECT_TRUE(revealed.isEmpty());

    openWith(uprightClip(), {shortOf("Tall", {cut(1, 2)})});
    await(model->exportShort(root + "/tall.mp4", false, false));
    EXPECT_FALSE(QFile::exists(root + "/tall.srt"));
    const MediaInfo tall = Media::probeNow(root + "/tall.mp4");
    const auto [w, h] = tall.transform.apply(tall.naturalSize.width(), tall.naturalSize.height());
    EXPECT_EQ(std::fabs(w), 180);
    EXPECT_EQ(std::fabs(h), 320);
}

TEST_F(ExportTest, FailuresAndCancelsLeaveTheOldFile)
{
    openWith(plainClip(), {shortOf("Gone", {cut(1, 5)})});
    const QString mp4 = root + "/keep.mp4";
    writeFile(mp4, "an older export");

    // A cancel stops ffmpeg; a second export meanwhile does nothing at all.
    const Cancel cancel = Cancel::make();
    auto running = model->exportShort(mp4, true, false, cancel);
    EXPECT_EQ(model->exportLabel(), "Exporting Gone");
    const int pauses = player().calls.count("pause");
    auto refused = model->exportShort(root + "/other.mp4", false, false);
    await(std::move(refused));
    EXPECT_EQ(player().calls.count("pause"), pauses);
    cancel.cancel();
    await(std::move(running));
    EXPECT_EQ(model->jobs()[0].state, "cancelled");
    EXPECT_EQ(model->problem(), "The Short could not be exported. The export was cancelled.");
    EXPECT_EQ(model->exportProgress(), std::nullopt);

    // ffmpeg failing: the recording went away.
    QFile::remove(root + "/Stream.mp4");
    await(model->exportShort(mp4, true, false));
    EXPECT_EQ(model->jobs()[0].state, "failed");
    EXPECT_TRUE(model->problem()->startsWith("The Short could not be exported. ffmpeg stopped with an error. "))
        << model->problem()->toStdString();

    EXPECT_EQ(readFile(mp4), "an older export");
    EXPECT_FALSE(QFile::exists(root + "/keep.srt"));
    EXPECT_TRUE(leftovers(root).isEmpty());
    EXPECT_EQ(model->toast(), std::nullopt);
}

// ffmpeg may end well with a file that lacks what was asked (a recording whose picture it
// could not decode at the cuts): such a file is no export, and the one before stays.
TEST_F(ExportTest, AFileWithoutEveryFrameAskedForIsNotKept)
{
    openWith(plainClip(), {shortOf("Gone", {cut(1, 5)})}); // 40 frames at 10 a second
    const QString mp4 = root + "/keep.mp4";
    writeFile(mp4, "an older export");
    const QString real = QStandardPaths::findExecutable("ffmpeg");
    ASSERT_FALSE(real.isEmpty());
    QTemporaryDir tools;
    ScopedEnv found{"VANTOREL_TOOL_DIRS", tools.path().toUtf8()};
    const struct {
        QString writes, said;
    } table[] = {
        {"-f lavfi -i sine=d=4",
         "ffmpeg wrote no picture (the recording may be damaged at a cut), so the file was not kept."},
        {"-f lavfi -i color=s=160x96:r=10:d=3.9",
         "ffmpeg wrote 39 frames where the Short has 40 (the recording may be damaged at a cut), so the file was not "
         "kept."},
        {"-f lavfi -i color=s=160x96:r=10:d=4 -f lavfi -i sine=d=2",
         "ffmpeg wrote 2.0 s of sound for the Short's 4.0 s (the recording may be damaged at a cut), so the file was "
         "not kept."},
    };
    for (const auto& row : table) {
        // A stand-in that writes this to the file it is given, its last argument.
        ASSERT_TRUE(writeFile(tools.filePath("ffmpeg"), ("#!/bin/sh\nfor out; do :; done\nexec '" + real
                                                         + "' -nostdin -v error -y " + row.writes
                                                         + " -shortest -f mp4 \"$out\"\n").toUtf8()));
        QFile::setPermissions(tools.filePath("ffmpeg"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        await(model->exportShort(mp4, true, false));
        EXPECT_EQ(model->problem(), "The Short could not be exported. " + row.said);
        EXPECT_EQ(model->jobs()[0].state, "failed");
        EXPECT_EQ(readFile(mp4), "an older export");
        EXPECT_FALSE(QFile::exists(root + "/keep.srt"));
        EXPECT_TRUE(leftovers(root).isEmpty());
        EXPECT_EQ(model->toast(), std::nullopt);
    }
}

// A recording whose data stops at half its length (a copy or a download cut off), its
// project made from the whole file: a cut past the data is not exported short of its
// picture and sound, nor left out, but says why, whether it lies far past the data or ends
// half a second past it; cuts within it export as ever. With an index (MP4) and without one
// (Matroska), and in a container that states no length at all, so that what the file holds
// is all that tells its length (MPEG-TS; a fragmented MP4 is the same case). A recording whose picture ends
// before its sound is whole, but a cut past its picture has nothing to show there.
TEST_F(ExportTest, ARecordingCutShortSaysSoForACutPastItsData)
{
    const QString base = sharedClip("numbered-20.mp4", [](const QString& p) { return Clips::numbered(p, 20, 30, 30); });
    ASSERT_FALSE(base.isEmpty());
    const struct {
        QString name, suffix;
        QStringList make; // after "-i base"
        bool cutShort;    // cut to about half its bytes; else whole
    } table[] = {
        {"MP4 with an index", "mp4", {"-c", "copy", "-movflags", "+faststart"}, true},
        {"Matroska", "mkv", {"-c", "copy"}, true},
        {"MPEG-TS", "ts", {"-c", "copy"}, true},
        {"MP4 whose picture ends at 10 s", "mp4", {"-t", "10", "-i", base, "-map", "1:v", "-map", "0:a", "-c", "copy"},
         false},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.name.toStdString());
        const QString made = root + "/made." + row.suffix;
        ASSERT_TRUE(Clips::ffmpeg(QStringList{"-i", base} + row.make + QStringList{made}));
        const QString recording = root + "/Cut." + row.suffix;
        const QByteArray bytes = readFile(made);
        ASSERT_TRUE(writeFile(recording, row.cutShort ? bytes.left(bytes.size() / 2) : bytes));
        const std::vector<Clips::Shown> pictures = Clips::recordingFrames(recording);
        ASSERT_FALSE(pictures.empty());
        const double dataEnd = pictures.back().time + 1 / 30.0; // where the last picture ends
        ASSERT_LT(dataEnd, 12.0);
        const struct {
            QString name;
            Cut late;
            bool refused;
        } shorts[] = {
            {"a cut far past the data", cut(15, 17), true},
            // Where the picture ends before the sound, the last picture stays a moment at a
            // cut that ends within the sound (as at a Short ending with the recording).
            {"a cut ending half a second past the data", cut(dataEnd - 1, dataEnd + 0.5), row.cutShort},
        };
        for (const auto& s : shorts) {
            SCOPED_TRACE(s.name.toStdString());
            model->setProblem(std::nullopt);
            QFile::remove(root + "/late.mp4");
            openWith(recording, {shortOf("Late", {cut(2, 4), s.late})}, {segment("01", 0, 20)}, 20);
            await(model->exportShort(root + "/late.mp4", false, false));
            if (!s.refused) {
                EXPECT_EQ(model->problem(), std::nullopt);
                continue;
            }
            EXPECT_TRUE(model->problem()) << "exported, " << Media::probeNow(root + "/late.mp4").duration << " s";
            if (!model->problem())
                continue;
            EXPECT_TRUE(QRegularExpression("^The Short could not be exported\\. Stream\\." + row.suffix
                                           + " ends early: it holds pictures up to 0:00:(09|10|11) only\\.$")
                            .match(*model->problem())
                            .hasMatch())
                << model->problem()->toStdString();
            EXPECT_FALSE(QFile::exists(root + "/late.mp4"));
        }
        model->setProblem(std::nullopt);
        openWith(recording, {shortOf("Early", {cut(2, 4), cut(6, 7)})}, {segment("01", 0, 20)}, 20);
        await(model->exportShort(root + "/early.mp4", false, false));
        EXPECT_EQ(model->problem(), std::nullopt);
    }
}

// A cut from the recording's first frame (or a frame or two on) holds the frames the player
// shows there, in every container the picker offers: ffmpeg seeking to 0 in an FLV or an AVI
// whose video has B-frames lands on the key frame after the ones it read to learn the file,
// seconds on. Key frames 8 s apart; each picture in step with the recording's clicks (AVI,
// which keeps no showing times, within a frame).
TEST_F(ExportTest, ACutFromTheFirstFrameExportsFromEveryContainer)
{
    const QString base = sharedClip("numbered-clicks-14-sparse.mp4", [](const QString& p) {
        return Clips::numbered(p, 14, Clips::Numbering{"30", 240, 11, true});
    });
    ASSERT_FALSE(base.isEmpty());
    const std::vector<Cut> cuts{cut(0, 1.5), cut(10, 12), cut(0.05, 1.5), cut(0.1, 1.5)};
    for (const QString suffix : {"mp4", "mov", "m4v", "mkv", "ts", "mts", "flv", "avi", "webm"}) {
        SCOPED_TRACE(suffix.toStdString());
        const int slack = suffix == "avi" ? 1 : 0; // frames at each edge, where no showing times are kept
        const QString clip = Clips::inContainer(base, root + "/first." + suffix, 240);
        ASSERT_FALSE(clip.isEmpty());
        model->setProblem(std::nullopt);
        openWith(clip, {shortOf("First", cuts)}, {segment("01", 0, 14)});
        const QString mp4 = root + "/short.mp4";
        await(model->exportShort(mp4, false, false));
        EXPECT_EQ(model->problem(), std::nullopt);
        if (model->problem())
            continue;
        const std::vector<Clips::Shown> source = Clips::recordingFrames(clip);
        const auto wanted = shownOver(cuts, source);
        const auto got = runsIn(Clips::shownFrames(mp4, 11));
        ASSERT_EQ(got.size(), wanted.size());
        for (std::size_t k = 0; k < got.size(); ++k) {
            EXPECT_NEAR(got[k].first, wanted[k].first, slack) << "cut " << k + 1;
            EXPECT_NEAR(got[k].second, wanted[k].second, slack) << "cut " << k + 1;
        }
        EXPECT_LE(framesFromSound(mp4, cuts, source, 11), slack);
    }
}

// An export killed midway (in a job of the command line, say) leaves its partial file; the
// next export in the window that stayed open removes it, wherever either goes.
TEST_F(ExportTest, AnExportRemovesWhatAKilledOneLeftElsewhere)
{
    openWith(plainClip(), {shortOf("Gone", {cut(1, 2)})});
    QDir().mkpath(root + "/killed");
    const pid_t writer = fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        const PartialFile left = PartialFile::create(root + "/killed", ".mp4");
        _exit(0); // as if killed: nothing of its own is cleaned up
    }
    int status = 0;
    waitpid(writer, &status, 0);
    ASSERT_EQ(leftovers(root + "/killed").size(), 1);
    await(model->exportShort(root + "/clip.mp4", false, false));
    EXPECT_EQ(model->problem(), std::nullopt);
    EXPECT_TRUE(leftovers(root + "/killed").isEmpty());
}

TEST_F(ExportTest, ExportAllNamesEveryFileOnceAndCountsWhatWasWritten)
{
    openWith(plainClip(), {shortOf("Boss: part 2/3", {cut(1, 2)}), shortOf("Empty", {}),
                           shortOf("Boss: part 2/3", {cut(3, 4)}), shortOf("Late", {cut(7, 9)}),
                           shortOf(QString::fromUtf8("Two\nlines\0x", 11), {cut(0, 0.5)})});
    const QString folder = root + "/all";
    QDir().mkpath(folder);
    await(model->exportAll(folder, true));

    QStringList files = QDir(folder).entryList(QDir::Files);
    files.sort();
    EXPECT_EQ(files, (QStringList{"Stream.vtr Boss part 2-3 2.mp4", "Stream.vtr Boss part 2-3 2.srt",
                                  "Stream.vtr Boss part 2-3.mp4", "Stream.vtr Boss part 2-3.srt",
                                  "Stream.vtr Two lines x.mp4", "Stream.vtr Two lines x.srt"}));
    EXPECT_EQ(model->toast(), "Exported 3 Shorts");
    EXPECT_EQ(revealed, QStringList{folder});
    EXPECT_EQ(model->problem(), "Late could not be exported. It has no cuts."); // it lies past the recording's end
    ASSERT_EQ(model->jobs().size(), 4u);
    EXPECT_EQ(model->jobs()[3].detail, "Stream.vtr Boss part 2-3.mp4");
    EXPECT_EQ(model->exportProgress(), std::nullopt);
    EXPECT_EQ(model->exportLabel(), "");
}

// A cancel during the last Short stops the run: it says so, and counts only the Shorts finished.
TEST_F(ExportTest, ACancelDuringTheLastShortSaysTheRunStopped)
{
    openWith(plainClip(), {shortOf("One", {cut(1, 2)}), shortOf("Two", {cut(3, 4)})});
    const QString folder = root + "/all";
    QDir().mkpath(folder);
    const Cancel cancel = Cancel::make();
    QObject::connect(model.get(), &AppModel::exportLabelChanged, [&] {
        if (model->exportLabel() == "Exporting 2 of 2")
            cancel.cancel();
    });
    await(model->exportAll(folder, false, cancel));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList{"Stream.vtr One.mp4"});
    EXPECT_EQ(model->toast(), "Export stopped after 1 of 2 Shorts");
}

TEST_F(ExportTest, AnExportKeepsToTheRecordingAndWordsItStartedWith)
{
    // The counted clip says "alpha"; the project opened meanwhile is another clip saying "bravo"
    // at the same times.
    std::vector<Segment> mine{segment("01", 0, 6)};
    mine[0].lines = std::vector<Line>{{1.2, 1.8, "alpha"}};
    std::vector<Segment> theirs{segment("01", 0, 6)};
    theirs[0].lines = std::vector<Line>{{1.2, 1.8, "bravo"}};
    const QString alpha = "1\n00:00:00,200 --> 00:00:00,800\nalpha\n\n";

    // One Short: finished from what it took.
    openWith(countedClip(), {shortOf("One", {cut(1, 2)})}, mine);
    auto one = model->exportShort(root + "/one.mp4", true, false);
    openPackage(*model, "Other", plainClip(), theirs);
    await(std::move(one));
    EXPECT_EQ(model->problem(), std::nullopt);
    EXPECT_EQ(QString::fromUtf8(readFile(root + "/one.srt")), alpha);
    EXPECT_EQ(frameIndex(Media::stillNow(root + "/one.mp4", 0.5, {160, 96})), 15);

    // All Shorts: the one under way is finished, and no other is begun for the project
    // that is no longer open.
    openWith(countedClip(), {shortOf("First", {cut(1, 2)}), shortOf("Second", {cut(3, 4)}), shortOf("Third", {cut(4, 5)})},
             mine);
    const QString folder = root + "/all";
    QDir().mkpath(folder);
    auto all = model->exportAll(folder, true);
    openPackage(*model, "Later", plainClip(), theirs);
    await(std::move(all));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), (QStringList{"Stream.vtr First.mp4", "Stream.vtr First.srt"}));
    EXPECT_EQ(QString::fromUtf8(readFile(folder + "/Stream.vtr First.srt")), alpha);
    EXPECT_EQ(frameIndex(Media::stillNow(folder + "/Stream.vtr First.mp4", 0.5, {160, 96})), 15);
    EXPECT_EQ(model->toast(), "Export stopped after 1 of 3 Shorts");
    EXPECT_EQ(model->exportProgress(), std::nullopt);
    for (const Job& job : model->jobs())
        EXPECT_NE(job.kind, "export") << "the other project's activity holds none of it";
}

// The export is done whatever the file manager does: the toast says so, and says when no
// file manager could show the file or folder.
TEST_F(ExportTest, TheToastSaysWhenNoFileManagerCouldShowTheFile)
{
    openWith(plainClip(), {shortOf("One", {cut(1, 2)}), shortOf("Two", {cut(3, 4)})});
    const QString folder = root + "/all";
    QDir().mkpath(folder);
    for (const auto& [works, one, all] : std::vector<std::tuple<bool, QString, QString>>{
             {true, "Exported one.mp4", "Exported 2 Shorts"},
             {false, "Exported one.mp4. No file manager could show it.",
              "Exported 2 Shorts. No file manager could show the folder."}}) {
        revealWorks = works;
        revealed.clear();
        await(model->exportShort(root + "/one.mp4", false, true));
        EXPECT_EQ(model->toast(), one);
        await(model->exportAll(folder, false));
        EXPECT_EQ(model->toast(), all);
        EXPECT_EQ(revealed, (QStringList{root + "/one.mp4", folder}));
        EXPECT_EQ(busyWhileShown, QStringList{});
        EXPECT_EQ(model->problem(), std::nullopt);
    }
    // Asked not to show it, nothing is said about a file manager.
    await(model->exportShort(root + "/one.mp4", false, false));
    EXPECT_EQ(model->toast(), "Exported one.mp4");
}

} // namespace
