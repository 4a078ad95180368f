// The player's decoding thread on its own: what it hands over for a line to play, before any
// sound output or clock. Sound comes to the sample, each span as long as it is and the next
// right after it; every picture lies in its span, in order.

#include "PlayingTesting.h"

#include "model/editing/Composition.h"
#include "platform/media/Playing.h"
#include "support/Await.h"
#include "support/Files.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <cmath>

using namespace playing;

namespace {

// The number of the last picture that the data of a numbered clip cut off holds: the latest
// shown of the pictures whose packets lie whole in the file.
int lastOfData(const QString& path)
{
    const auto probe = [&](const QStringList& args) {
        QProcess process;
        process.start(QStringLiteral("ffprobe"), QStringList{"-v", "quiet"} + args + QStringList{path});
        process.waitForFinished(60000);
        return process.readAllStandardOutput();
    };
    const double origin = probe({"-show_entries", "format=start_time", "-of", "csv=p=0"}).trimmed().toDouble();
    const qint64 size = QFileInfo(path).size();
    double last = -HUGE_VAL;
    for (const QByteArray& line :
         probe({"-select_streams", "v:0", "-show_entries", "packet=pts_time,pos,size", "-of", "csv=p=0"}).split('\n')) {
        const QList<QByteArray> fields = line.trimmed().split(',');
        if (fields.size() == 3 && fields[1].toLongLong() + fields[2].toLongLong() <= size)
            last = std::max(last, fields[0].toDouble());
    }
    return int(std::lround((last - origin) * 30));
}

TEST(PlayingTest, ALineIsHandedOverSpanBySpan)
{
    const QString clip = numberedClip();
    ASSERT_FALSE(clip.isEmpty());
    // Matroska keeps whole milliseconds, so a picture may start a fraction before its time:
    // a cut that ends right after picture 31 starts holds it not.
    const QString mkv = sharedClip(QStringLiteral("numbered30.mkv"), [&](const QString& p) {
        return Clips::ffmpeg({"-i", clip, "-c", "copy", p}) ? p : QString();
    });
    ASSERT_FALSE(mkv.isEmpty());
    const double at31 = Clips::recordingFrames(mkv).at(31).time;
    // Broadcast MPEG-TS changes how many channels its sound has between programmes: 5.1 for
    // the first 5 s, then one.
    const QString changing = sharedClip(QStringLiteral("numbered30-channels.ts"), [&](const QString& p) {
        const QString first = p + QStringLiteral(".1.ts"), second = p + QStringLiteral(".2.ts");
        const bool made = Clips::ffmpeg({"-t", "5", "-i", clip, "-c:v", "copy", "-c:a", "aac", "-ac", "6", first})
                          && Clips::ffmpeg({"-ss", "5", "-i", clip, "-c:v", "copy", "-c:a", "aac", "-ac", "1",
                                            "-output_ts_offset", "5", second})
                          && testfiles::writeFile(p, testfiles::readFile(first) + testfiles::readFile(second));
        return made ? p : QString();
    });
    ASSERT_FALSE(changing.isEmpty());
    // Matroska whose sound misses 0.6 s (from 4.01 s to 4.63 s): its stamps leave the gap.
    const QString gap = sharedClip(QStringLiteral("numbered30-gap.mkv"), [&](const QString& p) {
        return Clips::ffmpeg({"-i", clip, "-c:v", "copy", "-af", "aselect='not(between(t,4,4.6))'", "-c:a", "aac", p})
                   ? p
                   : QString();
    });
    ASSERT_FALSE(gap.isEmpty());
    // 1080p, so that few of its pictures wait decoded: a fragmented MP4 keeps each piece's
    // sound after its pictures (a second later in the file), and a recorder may store its
    // sound later still.
    const QString large = sharedClip(QStringLiteral("tone1080.mp4"), [](const QString& p) {
        return Clips::ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=30:duration=6", "-f", "lavfi", "-i",
                              "sine=frequency=440:sample_rate=48000:duration=6", "-c:v", "libx264", "-preset",
                              "ultrafast", "-g", "60", "-pix_fmt", "yuv420p", "-c:a", "aac", "-shortest", p})
                   ? p
                   : QString();
    });
    const QString fragmented = sharedClip(QStringLiteral("tone1080-fragmented.mp4"), [&](const QString& p) {
        return Clips::ffmpeg({"-i", large, "-c", "copy", "-movflags", "frag_keyframe+empty_moov", p}) ? p : QString();
    });
    const QString late = sharedClip(QStringLiteral("tone1080-sound-late.mkv"),
                                    [&](const QString& p) { return Clips::soundStoredLate(large, p, 1.8); });
    ASSERT_FALSE(fragmented.isEmpty());
    ASSERT_FALSE(late.isEmpty());
    // Cut off at half its bytes (its index first, so that what is left plays): its data stops
    // at about 5 s of its 10.
    const QString cutOff = sharedClip(QStringLiteral("numbered30-cut.mp4"), [&](const QString& p) {
        const QString whole = p + QStringLiteral(".whole.mp4");
        const bool made = Clips::ffmpeg({"-i", clip, "-c", "copy", "-movflags", "+faststart", whole});
        const QByteArray bytes = testfiles::readFile(whole);
        return made && testfiles::writeFile(p, bytes.left(bytes.size() / 2)) ? p : QString();
    });
    ASSERT_FALSE(cutOff.isEmpty());
    // Its pictures start 0.5 s after its sound, and outlast it by as much.
    const QString latePicture = sharedClip(QStringLiteral("numbered30-late-picture.mkv"), [&](const QString& p) {
        return Clips::ffmpeg({"-i", clip, "-itsoffset", "0.5", "-i", clip, "-map", "1:v", "-map", "0:a", "-c", "copy", p})
                   ? p
                   : QString();
    });
    ASSERT_FALSE(latePicture.isEmpty());
    const struct {
        const char* name;
        QString clip;
        std::vector<Span> spans;
        int span;
        double from;
        double end;           // line time
        bool exact = true;    // its pictures join without a seam (the channels' file was cut and joined)
        std::optional<Span> quiet = {}; // recording time whose sound is missing: silence in its place
        // Taken as a player takes it whose sound output holds a second: a second of sound
        // stays in the mailbox until the end is told.
        bool holdsSound = false;
        // The player's clock stands there from the start, as where decoding lags far behind.
        std::optional<double> clock = {};
        // Taken as a player whose decoding keeps up takes it: each picture once the sound
        // before it was taken, the sound once the pictures up to its end have come.
        bool paced = false;
        // The data stops short of the line (then its end is not set): playing says so and
        // ends on the data's own last picture.
        bool stops = false;
    } table[] = {
        {"a Short from its start", clip, {{1.0, 2.0}, {4.5, 5.2}, {7.1, 8.0}}, 0, 1.0, 2.6},
        {"a Short from within its second cut", clip, {{1.0, 2.0}, {4.5, 5.2}, {7.1, 8.0}}, 1, 4.8, 2.6},
        {"cuts back to back and back again", clip, {{3.0, 3.5}, {3.5, 4.0}, {0.2, 0.9}}, 0, 3.0, 1.7},
        {"a cut that ends where a picture stored in whole milliseconds starts", mkv, {{1.0, at31 + 0.0003}, {4.0, 4.5}},
         0, 1.0, at31 + 0.0003 - 1.0 + 0.5},
        {"the whole recording to its end", clip, {}, 0, 8.5, 10.0},
        {"sound whose channels change on the way", changing, {{3.0, 7.0}}, 0, 3.0, 4.0, false},
        {"sound with a gap in its stamps", gap, {{3.0, 6.0}}, 0, 3.0, 3.0, true, Span{4.04, 4.60}},
        {"joins made while the second of sound before them plays", clip, {{1.0, 2.0}, {4.5, 5.5}, {7.0, 8.0}}, 0, 1.0,
         3.0, true, std::nullopt, true},
        {"a clock far ahead of the decoding", clip, {}, 0, 0.0, 10.0, true, std::nullopt, false, 5.0},
        {"a Short with a clock far ahead of the decoding", clip, {{1.0, 2.0}, {4.5, 5.2}, {7.1, 8.0}}, 0, 1.0, 2.6,
         true, std::nullopt, false, 2.2},
        {"data that stops short, with a clock far ahead of the decoding", cutOff, {}, 0, 1.0, NAN, true, std::nullopt,
         false, 9.0, false, true},
        {"a fragmented MP4, its sound a second after its pictures", fragmented, {}, 0, 0.0, 6.04, false, std::nullopt,
         false, std::nullopt, true},
        {"a Short of a fragmented MP4", fragmented, {{0.5, 1.9}, {3.2, 4.1}}, 0, 0.5, 2.3, false, std::nullopt, false,
         std::nullopt, true},
        {"sound stored 1.8 s after its pictures", late, {}, 0, 0.0, 6.04, false, std::nullopt, false, std::nullopt, true},
        {"pictures that outlast the sound", latePicture, {}, 0, 8.5, 10.5, true, Span{10.03, 10.6}, false, std::nullopt,
         true},
    };
    int id = 0;
    std::unique_ptr<Playing> thread;
    QString opened;
    for (const auto& row : table) {
        SCOPED_TRACE(row.name);
        if (row.clip != std::exchange(opened, row.clip))
            thread = std::make_unique<Playing>(row.clip, true, [] {});
        // The number of the last picture that starts before recording time `limit`.
        std::vector<Clips::Shown> pictures = Clips::recordingFrames(row.clip);
        // (Data cut off may lack a picture before its last, whose number then follows its time.)
        if (row.stops)
            for (Clips::Shown& p : pictures)
                p.number = int(std::lround(p.time * 30));
        const auto before = [&](double limit) {
            int n = -1;
            for (const Clips::Shown& p : pictures)
                n = p.time < limit ? p.number : n;
            return n;
        };
        int rate = 0;
        ASSERT_TRUE(waitUntil([&] {
            std::lock_guard guard(thread->lock);
            rate = thread->mail.facts ? thread->mail.facts->soundRate : rate;
            return rate > 0;
        }));
        const ShortLine line{row.spans};
        const double from = row.spans.empty() ? row.from : line.offset(row.span) + row.from - row.spans[row.span].start;
        thread->order(Playing::Order{++id, true, row.spans, row.span, row.from, 0});
        std::vector<Playing::Frame> frames;
        std::vector<Playing::Chunk> sound;
        std::optional<double> end;
        std::optional<QString> stopped;
        ASSERT_TRUE(waitUntil([&] {
            {
                std::lock_guard guard(thread->lock);
                Playing::Mailbox& m = thread->mail;
                if (m.playing != id)
                    return false;
                if (row.clock)
                    m.clock = row.clock;
                end = m.end;
                const double heard = sound.empty() ? from
                                                   : sound.back().line + double(sound.back().samples.size() / 2) / rate;
                for (; !m.frames.empty() && (!row.paced || m.framesDone || m.frames.front().line <= heard);
                     m.frames.pop_front())
                    frames.push_back(std::move(m.frames.front()));
                const double pictured = !m.frames.empty() ? m.frames.back().line
                                        : frames.empty()  ? -HUGE_VAL
                                                          : frames.back().line;
                for (; !m.sound.empty(); m.sound.pop_front()) {
                    const int taken = int(m.sound.front().samples.size() / 2);
                    if (row.holdsSound && !end && m.soundFrames - taken < rate)
                        break;
                    if (row.paced && !m.framesDone && pictured < m.sound.front().line + double(taken) / rate)
                        break;
                    m.soundFrames -= taken;
                    sound.push_back(std::move(m.sound.front()));
                }
                stopped = m.stopped;
            }
            thread->taken();
            return end.has_value();
        }));
        if (!row.stops) {
            EXPECT_NEAR(*end, row.end, 0.03);
        }
        EXPECT_EQ(stopped.has_value(), row.stops);

        // The sound: one stretch without a gap or an overlap, from where it starts to the end.
        ASSERT_FALSE(sound.empty());
        EXPECT_NEAR(sound.front().line, from, 1e-9);
        int64_t samples = 0;
        for (const Playing::Chunk& chunk : sound) {
            EXPECT_NEAR(chunk.line, from + double(samples) / rate, 1.0 / rate) << "at sample " << samples;
            samples += int64_t(chunk.samples.size() / 2);
        }
        EXPECT_NEAR(double(samples), (*end - from) * rate, double(row.spans.size()) + 1);
        // Heard in every tenth of a second (the tone is never replaced by silence), but where
        // its stamps leave a gap.
        std::vector<double> quiet;
        for (double t = from; t + 0.1 <= *end; t += 0.1) {
            const double at = row.spans.empty() ? t : line.at(t)->time;
            if (row.quiet && at + 0.1 > row.quiet->start && at < row.quiet->end)
                continue;
            int most = 0;
            for (const Playing::Chunk& chunk : sound) {
                const double chunkEnd = chunk.line + double(chunk.samples.size() / 2) / rate;
                if (chunkEnd <= t || chunk.line >= t + 0.1)
                    continue;
                const auto first = std::size_t(std::max(0.0, std::ceil((t - chunk.line) * rate))) * 2;
                const auto last = std::min(chunk.samples.size(), std::size_t(std::max(0.0, (t + 0.1 - chunk.line) * rate)) * 2);
                for (std::size_t i = first; i < last; ++i)
                    most = std::max(most, std::abs(int(chunk.samples[i])));
            }
            if (most < 1000)
                quiet.push_back(std::round((t - from) * 10) / 10);
        }
        EXPECT_EQ(quiet, std::vector<double>()) << "tenths silent, from the line's start";
        // Where the stamps leave a gap, silence; the sound after it in its place.
        if (row.quiet) {
            const auto loudest = [&](double fromLine, double toLine) {
                int most = 0;
                for (const Playing::Chunk& chunk : sound)
                    for (std::size_t i = 0; i < chunk.samples.size(); ++i) {
                        const double t = chunk.line + double(i / 2) / rate;
                        if (t >= fromLine && t < toLine)
                            most = std::max(most, std::abs(int(chunk.samples[i])));
                    }
                return most;
            };
            const double lineFrom = row.spans.empty() ? row.quiet->start : row.quiet->start - row.spans[0].start;
            const double lineTo = row.spans.empty() ? row.quiet->end : row.quiet->end - row.spans[0].start;
            EXPECT_EQ(loudest(lineFrom, lineTo), 0);
            if (lineTo + 0.9 < *end) {
                EXPECT_GT(loudest(lineTo + 0.1, lineTo + 0.9), 1000);
            }
        }

        // The pictures: in order, each the one shown at its place on the line. Before a clock
        // far ahead only a few (of 150), and then some. (The sound, whole as ever, reaches
        // only a little past such a clock: decoding may go on skipping.)
        ASSERT_FALSE(frames.empty());
        if (row.clock) {
            // A late picture still shows every tenth of a second or so while decoding catches
            // up, so that the picture does not stand; most are left out.
            const auto late = std::count_if(frames.begin(), frames.end(), [&](const auto& f) { return f.line < *row.clock; });
            EXPECT_LT(late, 30);
            EXPECT_GE(late, 3);
            if (!row.stops) {
                EXPECT_GT(frames.size() - std::size_t(late), 0U);
            }
        }
        // Where the data stops short, its last picture shows last, also where decoding left
        // pictures out to catch up.
        if (row.stops) {
            EXPECT_EQ(Clips::numberOf(frames.back().picture.toImage()), lastOfData(row.clip));
            EXPECT_TRUE(stopped && stopped->contains(QStringLiteral(" ends early"))) << stopped.value_or("").toStdString();
        }
        EXPECT_NEAR(frames.front().line, from, 1e-9);
        for (std::size_t i = 0; i < frames.size(); ++i) {
            const Playing::Frame& f = frames[i];
            if (i > 0) {
                EXPECT_GE(f.line, frames[i - 1].line);
            }
            const double at = row.spans.empty() ? f.line : line.at(f.line)->time;
            if (row.exact) {
                EXPECT_EQ(Clips::numberOf(f.picture.toImage()), before(showingLimit(at)))
                    << "line " << f.line << ", recording " << f.at;
            }
        }
        if (!row.exact)
            continue;
        // Each span's last picture is the last one that starts before its end, not one at it.
        for (int k = row.span; k < std::max(1, int(row.spans.size())); ++k) {
            const double until = row.spans.empty() ? HUGE_VAL : line.offset(k + 1) - 1e-9;
            const double last = row.spans.empty() ? HUGE_VAL : endingLimit(row.spans[k].end);
            const auto it = std::find_if(frames.rbegin(), frames.rend(), [&](const auto& f) { return f.line < until; });
            ASSERT_NE(it, frames.rend());
            EXPECT_EQ(Clips::numberOf(it->picture.toImage()), before(last)) << "span " << k;
        }
    }
}

// Sound that the pictures never catch up with (they stop after 2 s, the sound goes on for
// 60) waits a few seconds ahead at most while the player takes none of it: played from the
// start, and from past the pictures (where a seek walks through all the sound to the end).
TEST(PlayingTest, SoundWaitingForPicturesStaysFewSeconds)
{
    const QString path = sharedClip(QStringLiteral("pictures2-sound60.mkv"), [](const QString& p) {
        return Clips::ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=320x180:rate=30:duration=2", "-f", "lavfi", "-i",
                              "sine=frequency=440:sample_rate=48000:duration=60", "-c:v", "libx264", "-preset",
                              "veryfast", "-pix_fmt", "yuv420p", "-c:a", "aac", p})
                   ? p
                   : QString();
    });
    ASSERT_FALSE(path.isEmpty());
    Playing thread(path, true, [] {});
    int rate = 0;
    ASSERT_TRUE(waitUntil([&] {
        std::lock_guard guard(thread.lock);
        rate = thread.mail.facts ? thread.mail.facts->soundRate : rate;
        return rate > 0;
    }));
    int id = 0;
    for (const double from : {0.0, 30.0}) {
        SCOPED_TRACE(from);
        thread.order(Playing::Order{++id, true, {}, 0, from, 0});
        int most = 0;
        bool ended = false;
        // (Where the sound is held back, no end comes.)
        waitUntil(
            [&] {
                {
                    std::lock_guard guard(thread.lock);
                    Playing::Mailbox& m = thread.mail;
                    if (m.playing == id) {
                        most = std::max(most, m.soundFrames);
                        m.frames.clear();
                        ended = m.end.has_value();
                    }
                }
                thread.taken();
                return ended;
            },
            3000);
        EXPECT_GT(most, rate / 2);
        EXPECT_LE(most, 6 * rate);
    }
}

} // namespace

namespace {

// The first figure ffprobe gives for `path` with these arguments.
double probed(const QString& path, const QStringList& args)
{
    QProcess process;
    process.start(QStringLiteral("ffprobe"), QStringList{"-v", "quiet", "-of", "csv=p=0"} + args + QStringList{path});
    process.waitForFinished(60000);
    return process.readAllStandardOutput().split('\n').value(0).split(',').value(0).trimmed().toDouble();
}

// Where a file's recording time starts, by its stamps (see RecordingTime).
double fileStart(const QString& path)
{
    return probed(path, {"-show_entries", "format=start_time"});
}

// Where the first sound that a file's sound decodes to is heard, in recording time (after
// what its encoder put before it, where the file says to leave that out).
double soundStart(const QString& path)
{
    return probed(path, {"-select_streams", "a:0", "-read_intervals", "%+#1", "-show_entries",
                         "frame=best_effort_timestamp_time"})
           - fileStart(path);
}

// A recording's sound, decoded as ffmpeg decodes it, to tell whether handed sound is its own.
struct OwnSound {
    OwnSound(const QString& path, int rate) : samples(Clips::soundOf(path, rate)), start(soundStart(path)), rate(rate) {}
    // Where it ends, in recording time.
    double end() const { return start + double(samples.size()) / rate; }
    // How alike `n` frames of handed sound (interleaved stereo) are to it at recording time
    // `t`, the best within 3 ms either way (sound is put in its place to 2 ms, and Matroska
    // stamps it in whole milliseconds): 1 the same; noise from another place is alike near 0,
    // and 20 ms moved to its stamp on the way half alike at least. None where the recording's
    // sound is not there whole.
    std::optional<double> alike(const int16_t* stereo, std::size_t n, double t) const
    {
        constexpr std::ptrdiff_t within = 144;
        const auto at = std::ptrdiff_t(std::llround((t - start) * rate));
        if (at - within < 0 || at + within + std::ptrdiff_t(n) > std::ptrdiff_t(samples.size()))
            return std::nullopt;
        double best = 0;
        for (std::ptrdiff_t lag = -within; lag <= within; ++lag) {
            double xy = 0, xx = 0, yy = 0;
            for (std::size_t i = 0; i < n; ++i) {
                const double x = stereo[2 * i], y = samples[std::size_t(at + lag) + i];
                xy += x * y;
                xx += x * x;
                yy += y * y;
            }
            if (xx > 0 && yy > 0)
                best = std::max(best, xy / std::sqrt(xx * yy));
        }
        return best;
    }
    std::vector<float> samples;
    double start;
    int rate;
};

// What the thread hands over for the line of order `id`, taken as a player whose decoding
// keeps up takes it: each picture once the sound before it was taken (as it comes, without
// sound), the sound once the pictures up to its end came. False where the line does not end
// (where the thread waits for what this waits for, it never does).
struct Handed {
    std::vector<Playing::Frame> frames;
    std::vector<Playing::Chunk> sound;
    std::optional<double> end;
    std::vector<int16_t> samples; // the sound, one chunk after the other
};
bool takeLine(Playing& thread, int id, int rate, double from, Handed& handed)
{
    auto& [frames, sound, end, samples] = handed;
    const bool ended = waitUntil(
        [&] {
            {
                std::lock_guard guard(thread.lock);
                Playing::Mailbox& m = thread.mail;
                if (m.playing != id)
                    return false;
                end = m.end;
                const double heard = sound.empty() ? from : sound.back().line + double(sound.back().samples.size() / 2) / rate;
                for (; !m.frames.empty() && (m.framesDone || rate == 0 || m.frames.front().line <= heard);
                     m.frames.pop_front())
                    frames.push_back(std::move(m.frames.front()));
                const double pictured = !m.frames.empty() ? m.frames.back().line
                                        : frames.empty()  ? -HUGE_VAL
                                                          : frames.back().line;
                for (; !m.sound.empty(); m.sound.pop_front()) {
                    const int taken = int(m.sound.front().samples.size() / 2);
                    if (!m.framesDone && pictured < m.sound.front().line + double(taken) / rate)
                        break;
                    m.soundFrames -= taken;
                    sound.push_back(std::move(m.sound.front()));
                }
            }
            thread.taken();
            return end.has_value();
        },
        4 * patience);
    for (const Playing::Chunk& chunk : sound)
        samples.insert(samples.end(), chunk.samples.begin(), chunk.samples.end());
    return ended;
}

// The sound handed from line time `from` on, in pieces of 20 ms.
struct Piece {
    double line;
    const int16_t* samples;
    std::size_t frames;
    bool silent; // all of it
    bool partly; // more than a little of it: where sound comes back after silence
};
std::vector<Piece> piecesOf(const std::vector<int16_t>& samples, double from, int rate)
{
    std::vector<Piece> pieces;
    const std::size_t n = std::size_t(rate) / 50;
    for (std::size_t at = 0; (at + n) * 2 <= samples.size(); at += n) {
        const int16_t* piece = samples.data() + at * 2;
        const auto quiet = std::size_t(std::count_if(piece, piece + n * 2, [](int16_t s) { return std::abs(s) <= 1; }));
        pieces.push_back({from + double(at) / rate, piece, n, quiet == n * 2, quiet > n / 10});
    }
    return pieces;
}

double hundredths(double t)
{
    return std::round(t * 100) / 100;
}

// A copy of the MPEG-TS `from` whose first piece of sound (or picture) stamped `at` seconds or
// more after its first is stamped `back` seconds earlier (negative: later), as a damaged
// recording's stamp may go astray. (The stamps of a PES in MPEG-TS: 33 bits of 90 kHz in five
// bytes each, with marker bits, at the start of the first of its 188-byte packets; a picture's
// may be followed by when it is decoded, moved alike.)
QString strayStamp(const QString& from, const QString& to, double at, double back, bool picture = false)
{
    QByteArray bytes = testfiles::readFile(from);
    std::optional<int64_t> first;
    const auto read = [](const uint8_t* s) {
        return int64_t((s[0] >> 1) & 7) << 30 | int64_t(s[1]) << 22 | int64_t(s[2] >> 1) << 15 | int64_t(s[3]) << 7
               | int64_t(s[4] >> 1);
    };
    const auto move = [&](uint8_t* s) {
        const int64_t stamp = read(s) - int64_t(back * 90000);
        s[0] = uint8_t((s[0] & 0xf0) | ((stamp >> 29) & 0x0e) | 1);
        s[1] = uint8_t(stamp >> 22);
        s[2] = uint8_t(((stamp >> 14) & 0xfe) | 1);
        s[3] = uint8_t(stamp >> 7);
        s[4] = uint8_t(((stamp << 1) & 0xfe) | 1);
    };
    for (qsizetype k = 0; k + 188 <= bytes.size(); k += 188) {
        auto* packet = reinterpret_cast<uint8_t*>(bytes.data() + k);
        const bool starts = packet[1] & 0x40;
        const int fields = (packet[3] >> 4) & 3;
        const qsizetype payload = 4 + ((fields & 2) ? 1 + packet[4] : 0);
        if (packet[0] != 0x47 || !starts || !(fields & 1) || payload + 19 > 188)
            continue;
        uint8_t* pes = packet + payload;
        const bool kind = picture ? (pes[3] & 0xf0) == 0xe0 : (pes[3] & 0xe0) == 0xc0;
        if (pes[0] != 0 || pes[1] != 0 || pes[2] != 1 || !kind || !(pes[7] & 0x80))
            continue; // not the start of a piece of sound (or a picture) with its stamp
        first = first.value_or(read(pes + 9));
        if (read(pes + 9) < *first + int64_t(at * 90000))
            continue;
        move(pes + 9);
        if (pes[7] & 0x40)
            move(pes + 14);
        return testfiles::writeFile(to, bytes) ? to : QString();
    }
    return {};
}

// The number of the picture shown at recording time `t`, of `pictures`.
int numberAt(const std::vector<Clips::Shown>& pictures, double t)
{
    int n = -1;
    for (const Clips::Shown& p : pictures)
        n = p.time < showingLimit(t) ? p.number : n;
    return n;
}

// The pictures a line handed: in order, none standing longer than a couple of frames (or
// `stands` seconds), each the one `expected` says (a few of those that are not, told).
void checkPictures(const std::vector<Playing::Frame>& frames, const std::function<int(const Playing::Frame&)>& expected,
                   double stands = 0.1)
{
    int wrong = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const Playing::Frame& f = frames[i];
        if (i > 0) {
            EXPECT_GE(f.line, frames[i - 1].line);
            EXPECT_LT(f.line - frames[i - 1].line, stands) << "the picture stands at " << frames[i - 1].line;
        }
        const int number = Clips::numberOf(f.picture.toImage());
        if (number != expected(f) && ++wrong <= 5)
            ADD_FAILURE() << "at line " << f.line << " (recording " << f.at << ") picture " << number << ", not "
                          << expected(f);
    }
}

// The sound a line handed is one stretch from line time `from` to `end`.
void checkOneStretch(const std::vector<Playing::Chunk>& sound, std::size_t frames, double from, double end, int rate)
{
    for (std::size_t k = 0, at = 0; k < sound.size(); at += sound[k++].samples.size() / 2) {
        EXPECT_NEAR(sound[k].line, from + double(at) / rate, 1.0 / rate);
    }
    EXPECT_NEAR(double(frames), (end - from) * rate, 2.0);
}

} // namespace

// Sound that a file keeps further behind its pictures than the reader reads on for: each
// moment of the line sounds as the recording does at its place, or, where the reader could
// not reach the sound, is silent; never the sound of another place. The sound comes back
// where the reader reaches it, the pictures play on in their places, and the line plays to
// its end. (The sound is noise: no moment of it sounds like another.)
TEST(PlayingTest, SoundIsHeardInItsPlaceOrNotAtAll)
{
    const QString noisy = noisyClip();
    ASSERT_FALSE(noisy.isEmpty());
    // Its sound stored 15 s after its pictures. The reader reads on for sound up to 12 s of
    // pictures ahead: it reaches it once the pictures' packets end, from 12 s before the end.
    const QString late = sharedClip(QStringLiteral("numbered30-noise-late15.mkv"),
                                    [&](const QString& p) { return Clips::soundStoredLate(noisy, p, 15); });
    ASSERT_FALSE(late.isEmpty());
    // 8 s of 640x360 pictures stored uncoded, 10 MB a second (as 4K at 80 Mbit/s), its sound
    // 7 s after them: past the 64 MB of pictures' packets that the reader holds (6.5 s of
    // them), so that it reaches the sound 6.5 s before the end.
    const QString heavy = sharedClip(QStringLiteral("numbered30-noise-raw-late7.mkv"), [&](const QString& p) {
        const QString raw = p + QStringLiteral(".raw.mkv");
        const QString made = Clips::ffmpeg({"-t", "8", "-i", noisy, "-vf", "scale=640:360:flags=neighbor", "-c:v",
                                            "rawvideo", "-pix_fmt", "yuv420p", "-c:a", "copy", raw})
                                 ? Clips::soundStoredLate(raw, p, 7)
                                 : QString();
        QFile::remove(raw); // (83 MB)
        return made;
    });
    ASSERT_FALSE(heavy.isEmpty());
    // A recording whose sound has a stamp gone astray at 3 s, 2 s back: its sound is still
    // heard in its place, not moved as where two recordings were joined.
    const QString astray = sharedClip(QStringLiteral("numbered30-noise-astray.ts"), [&](const QString& p) {
        const QString ts = p + QStringLiteral(".whole.ts");
        return Clips::ffmpeg({"-t", "6", "-i", noisy, "-c", "copy", ts}) ? strayStamp(ts, p, 3.0, 2.0) : QString();
    });
    ASSERT_FALSE(astray.isEmpty());
    const struct {
        const char* name;
        QString clip;
        std::vector<Span> spans;
        int span;
        double from;
        double end;       // line time
        double heardFrom; // line time from which every moment is heard
        // Line time up to which nothing is heard: the reader held no more of the pictures'
        // packets to reach the sound.
        double quietUntil = 0;
    } table[] = {
        {"sound stored 15 s after its pictures", late, {}, 0, 0.0, 24.0, 12.5},
        {"that recording from within the sound out of reach", late, {}, 0, 5.0, 24.0, 12.5},
        {"that recording from where its sound is reached", late, {}, 0, 14.0, 24.0, 14.0},
        {"a Short of it: a cut whose sound is out of reach, then one whose sound is not", late,
         {{2.0, 4.0}, {15.0, 17.0}}, 0, 2.0, 4.0, 2.0},
        {"sound stored after more than 64 MB of pictures", heavy, {}, 0, 0.0, 8.0, 2.0, 1.0},
        {"sound with a stamp gone astray", astray, {}, 0, 0.0, 6.09, 0.0},
    };
    int id = 0;
    std::unique_ptr<Playing> thread;
    QString opened;
    for (const auto& row : table) {
        SCOPED_TRACE(row.name);
        if (row.clip != std::exchange(opened, row.clip))
            thread = std::make_unique<Playing>(row.clip, true, [] {});
        int rate = 0;
        ASSERT_TRUE(waitUntil([&] {
            std::lock_guard guard(thread->lock);
            rate = thread->mail.facts ? thread->mail.facts->soundRate : rate;
            return rate > 0;
        }));
        const ShortLine line{row.spans};
        const double from = row.spans.empty() ? row.from : line.offset(row.span) + row.from - row.spans[row.span].start;
        const auto recordingTime = [&](double t) { return row.spans.empty() ? t : line.at(t)->time; };
        thread->order(Playing::Order{++id, true, row.spans, row.span, row.from, 0});
        Handed handed;
        ASSERT_TRUE(takeLine(*thread, id, rate, from, handed))
            << "the line never ended: pictures to " << (handed.frames.empty() ? -1 : handed.frames.back().line)
            << ", sound to " << (handed.sound.empty() ? -1 : handed.sound.back().line);
        const auto& [frames, sound, end, samples] = handed;
        EXPECT_NEAR(*end, row.end, 0.05);

        // The sound: one stretch from the start to the end, each 20 ms of it either silent or
        // the recording's own at its place (after its end, silence).
        ASSERT_FALSE(sound.empty());
        checkOneStretch(sound, samples.size() / 2, from, *end, rate);
        const OwnSound own(row.clip, rate);
        std::vector<double> silent, reached, misplaced;
        for (const Piece& piece : piecesOf(samples, from, rate)) {
            if (piece.silent) {
                if (piece.line >= row.heardFrom && recordingTime(piece.line) + 0.02 < own.end())
                    silent.push_back(hundredths(piece.line));
            } else if (piece.line < row.quietUntil) {
                reached.push_back(hundredths(piece.line));
            } else if (!piece.partly && own.alike(piece.samples, piece.frames, recordingTime(piece.line)).value_or(1) < 0.5) {
                misplaced.push_back(hundredths(piece.line));
            }
        }
        EXPECT_EQ(silent, std::vector<double>()) << "silent where the sound is heard";
        EXPECT_EQ(reached, std::vector<double>()) << "heard where the reader held more pictures than it may to reach it";
        EXPECT_EQ(misplaced, std::vector<double>()) << "not the recording's sound at its place";

        // The pictures: in order, each the one shown at its place, none standing longer than
        // a couple of frames, up to the end.
        ASSERT_FALSE(frames.empty());
        const std::vector<Clips::Shown> pictures = Clips::recordingFrames(row.clip);
        // (MPEG-TS has its first picture start after its sound.)
        EXPECT_NEAR(frames.front().line, from, 0.03);
        checkPictures(frames, [&](const Playing::Frame& f) { return numberAt(pictures, recordingTime(f.line)); });
        EXPECT_GT(frames.back().line, *end - 0.1);
    }
}

// Two recordings joined as MPEG-TS files are joined, so that the second's stamps start again
// where the first's did, play as ffmpeg's concat demuxer joins them: each from its own start,
// right after the one before. Played from the start, from within either (on a thread that
// played them before) and as a Short whose cut spans the join, every picture and moment of
// sound is its recording's at its place: the pictures never stand, the line's times never go
// back, and it ends after the second, also where there is no sound to carry it; the Short
// exports the same pictures at the same times, and the same sound; also where the first's
// stamps wrap or start far on. A recording whose one picture is stamped 3 s ahead of its
// neighbours is no join: it plays in step, without it, also in a Short's cut.
TEST(PlayingTest, JoinedRecordingsPlayOnThroughTheJoin)
{
    const QString noisy = noisyClip();
    ASSERT_FALSE(noisy.isEmpty());
    const QString whole = sharedClip(QStringLiteral("numbered30-noise-6.ts"), [&](const QString& p) {
        return Clips::ffmpeg({"-t", "6", "-i", noisy, "-c", "copy", p}) ? p : QString();
    });
    const QString ahead = sharedClip(QStringLiteral("numbered30-noise-ahead.ts"),
                                     [&](const QString& p) { return strayStamp(whole, p, 2.0, -3.0, true); });
    const QString lined = sharedClip(QStringLiteral("numbered30-noise-joined\nline.ts"), [&](const QString& p) {
        const QString from = joinedClip(true);
        const bool made = QFile::copy(from, p);
        return made && QFile::copy(from + ".1.ts", p + ".1.ts") && QFile::copy(from + ".2.ts", p + ".2.ts") ? p : QString();
    });
    const struct {
        const char* name;
        QString clip;
        bool sound = true;
        double from = 0;
        std::vector<Span> spans = {};
        QString recording = {}; // where it is not joined: the recording as it was
        // (ffmpeg's -t ends an input's pictures at the first stamped past it: such a Short's
        // export does not show what plays.)
        bool exported = true;
    } table[] = {
        {"with sound", joinedClip(true)},
        {"from within the first", joinedClip(true), true, 2.5},
        {"from within the second", joinedClip(true), true, 6.5},
        {"a Short whose cut spans the join", joinedClip(true), true, 3.0, {{3.0, 5.5}, {8.0, 9.0}}},
        {"without sound", joinedClip(false), false},
        {"a picture stamped 3 s ahead", ahead, true, 0, {}, whole},
        {"a Short over a picture stamped 3 s ahead", ahead, true, 1.0, {{1.0, 3.0}}, whole, false},
        {"a first recording whose stamps wrap within it", joinedClip(true, 95442)},
        {"from within the second, after stamps that wrap", joinedClip(true, 95442), true, 6.5},
        {"a first recording whose stamps start 60000 s on", joinedClip(true, 60000)},
        {"at a path with a line break in it (named in the list by a link)", lined},
    };
    std::unique_ptr<Playing> thread;
    QString opened;
    int id = 0;
    for (const auto& row : table) {
        SCOPED_TRACE(row.name);
        ASSERT_FALSE(row.clip.isEmpty());
        if (row.clip != std::exchange(opened, row.clip))
            thread = std::make_unique<Playing>(row.clip, true, [] {});
        int rate = 0;
        ASSERT_TRUE(waitUntil([&] {
            std::lock_guard guard(thread->lock);
            rate = thread->mail.facts ? thread->mail.facts->soundRate : -1;
            return rate >= 0;
        }));
        EXPECT_EQ(rate > 0, row.sound);
        const ShortLine line{row.spans};
        const double from = row.spans.empty() ? row.from : row.from - row.spans[0].start;
        const auto recordingTime = [&](double t) { return row.spans.empty() ? t : line.at(t)->time; };
        thread->order(Playing::Order{++id, true, row.spans, 0, row.from, 0});
        Handed handed;
        ASSERT_TRUE(takeLine(*thread, id, rate, from, handed))
            << "the line never ended: pictures to " << (handed.frames.empty() ? -1 : handed.frames.back().line)
            << ", sound to " << (handed.sound.empty() ? -1 : handed.sound.back().line);
        const auto& [frames, sound, end, samples] = handed;

        // Each recording's pictures as ffmpeg decodes them (cut as they were, their numbers do
        // not follow on where a picture was cut off), in its own recording time; the second's
        // time 0 lies where the first ends.
        const auto picturesOf = [](const QString& path) {
            std::vector<Clips::Shown> shown = Clips::shownFrames(path);
            const double origin = fileStart(path);
            for (Clips::Shown& picture : shown)
                picture.time -= origin;
            return shown;
        };
        const bool joined = row.recording.isEmpty();
        const QString first = joined ? row.clip + QStringLiteral(".1.ts") : row.recording;
        const QString second = row.clip + QStringLiteral(".2.ts");
        const std::vector<Clips::Shown> firstPictures = picturesOf(first);
        const std::vector<Clips::Shown> secondPictures = joined ? picturesOf(second) : std::vector<Clips::Shown>{};
        const double join = joined ? Media::probeNow(first).duration : HUGE_VAL;
        const double length = joined ? join + Media::probeNow(second).duration : Media::probeNow(first).duration;
        // Of recording time `t`: whether it lies in the second, and its time there.
        const auto place = [&](double t) { return std::pair{t >= join, t >= join ? t - join : t}; };

        // The pictures: each its recording's at its place, in order and none standing (but
        // where the first's sound outlasts its pictures and the second's comes before them).
        ASSERT_FALSE(frames.empty());
        EXPECT_NEAR(frames.front().line, from, 0.03);
        checkPictures(
            frames,
            [&](const Playing::Frame& f) {
                const auto [inSecond, at] = place(recordingTime(f.line));
                return numberAt(inSecond ? secondPictures : firstPictures, at);
            },
            0.15);
        EXPECT_NEAR(*end, row.spans.empty() ? length : line.total(), 0.05);
        if (row.spans.empty()) {
            EXPECT_EQ(Clips::numberOf(frames.back().picture.toImage()),
                      (joined ? secondPictures : firstPictures).back().number);
        }
        if (!row.sound)
            continue;

        // The sound: one stretch from the start to the end, each 20 ms its recording's at its
        // place; silence only before or after a recording's own sound.
        checkOneStretch(sound, samples.size() / 2, from, *end, rate);
        const OwnSound own1(first, rate);
        const std::optional<OwnSound> own2 = joined ? std::optional<OwnSound>(std::in_place, second, rate) : std::nullopt;
        std::vector<double> silent, misplaced;
        for (const Piece& piece : piecesOf(samples, from, rate)) {
            const auto [inSecond, at] = place(recordingTime(piece.line));
            const OwnSound& own = inSecond ? *own2 : own1;
            if (piece.silent && at > own.start + 0.02 && at + 0.04 < own.end())
                silent.push_back(hundredths(piece.line));
            else if (!piece.silent && !piece.partly && own.alike(piece.samples, piece.frames, at).value_or(1) < 0.5)
                misplaced.push_back(hundredths(piece.line));
        }
        EXPECT_EQ(silent, std::vector<double>()) << "silent where the sound is heard";
        EXPECT_EQ(misplaced, std::vector<double>()) << "not the recording's sound at its place";
        if (row.spans.empty() || !row.exported)
            continue;

        // Exported: each picture at the Short time it plays at, and the sound that plays.
        std::vector<Cut> cuts;
        for (const Span& s : row.spans)
            cuts.push_back(cut(s.start, s.end));
        const QTemporaryDir folder;
        const QString mp4 = folder.path() + QStringLiteral("/short.mp4");
        await(render(*Composition::of(cuts, Media::probeNow(row.clip)), mp4, {}, Cancel()));
        const std::vector<Clips::Shown> exported = Clips::shownFrames(mp4);
        ASSERT_EQ(exported.size(), frames.size());
        for (std::size_t k = 0; k < frames.size(); ++k) {
            EXPECT_EQ(exported[k].number, Clips::numberOf(frames[k].picture.toImage())) << "picture " << k;
            EXPECT_NEAR(exported[k].time, std::max(0.0, frames[k].line), 0.002) << "picture " << k;
        }
        const OwnSound heard(mp4, rate);
        std::vector<double> unlike;
        for (const Piece& piece : piecesOf(samples, from, rate))
            if (!piece.silent && !piece.partly && heard.alike(piece.samples, piece.frames, piece.line).value_or(1) < 0.5)
                unlike.push_back(hundredths(piece.line));
        EXPECT_EQ(unlike, std::vector<double>()) << "the export's sound is not what plays";
    }
}
