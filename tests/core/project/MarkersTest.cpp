#include "ModelTesting.h"

#include "core/project/Markers.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "support/Segments.h"

using namespace testing_model;

namespace {

class MarkersFind : public ::testing::Test {
protected:
    QTemporaryDir scratch;
    int folders = 0;

    // A fresh folder holding empty files of these names; returns the folder.
    QString folderWith(const QStringList& names)
    {
        const QString folder = scratch.path() + QStringLiteral("/f%1").arg(++folders);
        QDir().mkpath(folder);
        for (const QString& name : names)
            writeFile(folder + u'/' + name, "0:10\n");
        return folder;
    }

    std::optional<QString> found(const QString& recording, const QStringList& names)
    {
        const QString folder = folderWith(names);
        const auto csv = Markers::find(folder + u'/' + recording);
        if (!csv)
            return std::nullopt;
        EXPECT_TRUE(csv->startsWith(folder + u'/')) << csv->toStdString();
        return QFileInfo(*csv).fileName();
    }
};

} // namespace

TEST_F(MarkersFind, PrefersTheLongestPrefixThenTheFirstTenCharacters)
{
    ASSERT_TRUE(scratch.isValid());
    EXPECT_EQ(found("stream.mp4", {"str.csv", "stream.csv", "s.txt", "streamer.csv"}), "stream.csv");
    EXPECT_EQ(found("stream.mp4", {"str.CSV", "stream.txt"}), "str.CSV");
    EXPECT_EQ(found("stream 2.mp4", {"stream.Csv"}), "stream.Csv");
    EXPECT_EQ(found("2024-05-01 night stream.mov", {"2024-05-01 markers.CSV"}), "2024-05-01 markers.CSV");
    EXPECT_EQ(found("2024-05-01.mov", {"2024-05-01 night.csv"}), "2024-05-01 night.csv"); // exactly ten
    EXPECT_EQ(found("2024-05-1.mov", {"2024-05-1 night.csv"}), std::nullopt);               // nine
    EXPECT_EQ(found("clip.mp4", {"clip markers.csv"}), std::nullopt);
    EXPECT_EQ(found("stream.mp4", {"stream.csv.bak", ".csv", "other.csv"}), std::nullopt);
    EXPECT_EQ(found("stream.mp4", {}), std::nullopt);
    EXPECT_EQ(Markers::find(scratch.path() + "/missing/stream.mp4"), std::nullopt);
}

TEST_F(MarkersFind, CountsTenCharactersAsTheUserSeesThem)
{
    ASSERT_TRUE(scratch.isValid());
    // "กี" is one character of two code units: the first ten characters end with X.
    EXPECT_EQ(found("กี12345678X stream.mp4", {"กี12345678Y markers.csv"}), std::nullopt);
    EXPECT_EQ(found("กี12345678X stream.mp4", {"กี12345678X markers.csv"}), "กี12345678X markers.csv");
    // Nine characters in ten code units: too short for the fallback.
    EXPECT_EQ(found("กี12345678.mp4", {"กี12345678 markers.csv"}), std::nullopt);
    // An emoji with a skin tone is one character of four code units.
    EXPECT_EQ(found("👍🏽 night 2024.mkv", {"👍🏽 nightly.csv"}), std::nullopt);
    EXPECT_EQ(found("👍🏽 night 2024.mkv", {"👍🏽 night 20 notes.csv"}), "👍🏽 night 20 notes.csv");
    EXPECT_EQ(found("👍🏽 stream.mkv", {"👍🏽 streamer.csv"}), std::nullopt);
}

TEST(MarkersTest, ParseSplitsAtEveryLineBreak)
{
    const QString text = QString::fromUtf8("10\n20\v30\f40\r50\r\n60\u008570\u202880\u202990\n\n\r\n");
    EXPECT_EQ(Markers::parse(text), (std::vector<double>{10, 20, 30, 40, 50, 60, 70, 80, 90}));
    EXPECT_EQ(Markers::parse(u"30\n10\n30"), (std::vector<double>{30, 10, 30})); // row order, duplicates kept
    EXPECT_TRUE(Markers::parse(u"").empty());
}

TEST(MarkersTest, ParseReadsTheFirstFieldAsAClockTime)
{
    const std::pair<const char*, std::optional<double>> rows[] = {
        {"Marker,Time", std::nullopt},
        {",12", std::nullopt},
        {"0:10,x", 10},
        {"1 : 2 : 3", 3723},
        {"\t1\t:\t02:03 ,note", 3723},
        {"1:2:3:4", std::nullopt},
        {"1::30", 90},
        {":30:", 30},
        {"12:30", 750},
        {"1:02.5", 62.5},
        {"45.5", 45.5},
        {"1e2", 100},
        {"1.5E1:0", 900},
        {"-5", -5},
        {"\"12\",x", std::nullopt},
        {"\"0:10\"", std::nullopt},
        {"12 s", std::nullopt},
        {"0x10", std::nullopt},
        {"inf", std::nullopt},
        {"nan:1", std::nullopt},
        {"1e999", std::nullopt},
        {"1e308:0:0", std::nullopt}, // overflows while folding
        {":::", std::nullopt},
        {"   ", std::nullopt},
    };
    for (const auto& [row, time] : rows) {
        const auto times = Markers::parse(QString::fromUtf8(row));
        if (time)
            EXPECT_EQ(times, std::vector<double>{*time}) << row;
        else
            EXPECT_TRUE(times.empty()) << row;
    }
}

TEST(MarkersTest, SegmentsMergeOverlappingAndTouchingWindows)
{
    auto made = Markers::segments({500, 100, 400}, 150, 60, 3600);
    ASSERT_EQ(made.size(), 2u);
    EXPECT_EQ(made[0], segment("01", 0, 160, {100}));
    EXPECT_EQ(made[1], segment("02", 250, 560, {400, 500}));
    EXPECT_EQ(made[0].lines, std::nullopt);
    EXPECT_EQ(made[0].peaks, std::nullopt);
    EXPECT_EQ(made[0].manual, std::nullopt);

    EXPECT_EQ(Markers::segments({100, 300}, 150, 60, 3600), std::vector<Segment>{segment("01", 0, 360, {100, 300})});
    EXPECT_EQ(Markers::segments({100, 100}, 150, 60, 3600), std::vector<Segment>{segment("01", 0, 160, {100, 100})});
    EXPECT_EQ(Markers::segments({40, 20}, 10, 10, 3600), std::vector<Segment>{segment("01", 10, 50, {20, 40})});
    EXPECT_EQ(Markers::segments({20, 40.5}, 10, 10, 3600).size(), 2u);

    std::vector<double> many;
    for (int i = 0; i < 100; ++i)
        many.push_back(i * 1000.0);
    const auto hundred = Markers::segments(many, 10, 10, 1e6);
    ASSERT_EQ(hundred.size(), 100u);
    EXPECT_EQ(hundred[8].id, "09");
    EXPECT_EQ(hundred[99].id, "100");
}

TEST(MarkersTest, SegmentsStayInsideTheRecording)
{
    EXPECT_EQ(Markers::segments({4000, 3590}, 150, 60, 3600), std::vector<Segment>{segment("01", 3440, 3600, {3590})});
    EXPECT_TRUE(Markers::segments({3750}, 150, 60, 3600).empty()); // window 3600–3600 is empty
    // A dropped marker neither makes a segment nor takes a number.
    EXPECT_EQ(Markers::segments({-100, 500}, 10, 10, 3600), std::vector<Segment>{segment("01", 490, 510, {500})});
    EXPECT_TRUE(Markers::segments({}, 150, 60, 3600).empty());
    EXPECT_TRUE(Markers::segments({100}, 150, 60, 0).empty());
    EXPECT_TRUE(Markers::segments({100}, 150, 60, -5).empty());
}

TEST(MarkersTest, NextIdTakesTheDigitsOfTheSegmentBefore)
{
    std::vector<Segment> among = {segment("05", 100, 200), segment("06", 400, 500)};
    EXPECT_EQ(Markers::nextID(450, among), "06a");
    EXPECT_EQ(Markers::nextID(400, among), "06a");
    EXPECT_EQ(Markers::nextID(399, among), "05a");
    EXPECT_EQ(Markers::nextID(50, among), "00a");
    EXPECT_EQ(Markers::nextID(50, {}), "00a");
    among.push_back(segment("06a", 450, 480));
    EXPECT_EQ(Markers::nextID(460, among), "06b"); // 06a starts last, its digits are 06

    // Equal starts: the first in list order gives the digits; a letter-first id gives none.
    EXPECT_EQ(Markers::nextID(20, {segment("12", 10, 20), segment("07", 10, 30)}), "12a");
    EXPECT_EQ(Markers::nextID(20, {segment("x1", 10, 30)}), "a");
    EXPECT_EQ(Markers::nextID(20, {segment("101", 10, 30), segment("101a", 20, 30)}), "101b");
}

TEST(MarkersTest, NextIdCountsOnPastTheAlphabet)
{
    std::vector<Segment> among = {segment("05", 100, 200), segment("06", 400, 500)};
    for (char16_t c = u'a'; c <= u'z'; ++c) {
        among.push_back(segment("", 410, 420));
        among.back().id = QStringLiteral("06") + QChar(c);
    }
    EXPECT_EQ(Markers::nextID(450, among), "06z28"); // 28 distinct ids
    among.push_back(among.back());                      // a duplicate id is not counted again
    EXPECT_EQ(Markers::nextID(450, among), "06z28");

    among.push_back(segment("06z29", 430, 440)); // now 29 distinct, and that name is taken
    EXPECT_EQ(Markers::nextID(450, among), "06z30");
    among.push_back(segment("06z30", 440, 445));
    among.push_back(segment("06z31", 445, 446));
    EXPECT_EQ(Markers::nextID(450, among), "06z32");
}

TEST(MarkersTest, SplitDividesLinesPeaksAndMarkers)
{
    Segment s = segment("06", 200, 410, {250, 300, 400});
    s.lines = std::vector<Line>{{290, 295, "a"}, {295, 306, "b"}, {306, 310, "c"}};
    s.peaks = QByteArray(4200, '\x07');
    s.title = "Title";
    s.summary = "Summary";
    s.energy = "calm";
    s.kind = "win";
    s.unsure = "?";
    s.keyLine = 2;
    s.error = "timeout";
    s.rating = -1;
    s.waiting = true;
    const std::vector<Segment> among = {segment("05", 0, 200), s, segment("07", 500, 600)};

    const auto [first, second] = Markers::split(s, 300, among);
    Segment expectFirst = segment("06", 200, 300, {250});
    expectFirst.lines = std::vector<Line>{{290, 295, "a"}};
    expectFirst.peaks = QByteArray(2000, '\x07');
    expectFirst.error = "timeout";
    expectFirst.rating = -1;
    expectFirst.waiting = true;
    Segment expectSecond = expectFirst;
    expectSecond.id = "06a";
    expectSecond.start = 300;
    expectSecond.end = 410;
    expectSecond.markers = {300, 400};
    expectSecond.lines = std::vector<Line>{{295, 306, "b"}, {306, 310, "c"}};
    expectSecond.peaks = QByteArray(2200, '\x07');
    expectSecond.manual = true;
    EXPECT_EQ(first, expectFirst);
    EXPECT_EQ(second, expectSecond);

    // Peaks shorter than the cut point: all stay in the first half. No lines or peaks: none in either.
    Segment bare = segment("06", 200, 410);
    bare.peaks = QByteArray(100, '\x01');
    bare.manual = false;
    const auto [a, b] = Markers::split(bare, 300, {bare, segment("06a", 300, 310)});
    EXPECT_EQ(a.peaks->size(), 100);
    EXPECT_EQ(b.peaks, std::optional<QByteArray>(QByteArray()));
    EXPECT_EQ(a.lines, std::nullopt);
    EXPECT_EQ(b.lines, std::nullopt);
    EXPECT_EQ(a.manual, std::optional<bool>(false));
    EXPECT_EQ(b.id, "06b");
    // The cut point in bytes is truncated: 2.79 s in is 55.8 bytes, so 55.
    EXPECT_EQ(Markers::split(bare, 202.79, {bare}).first.peaks->size(), 55);
}

TEST(MarkersTest, JoinCombinesTwoSegments)
{
    Segment a = segment("03", 100, 200, {190, 110});
    a.lines = std::vector<Line>{{100, 101, "a"}};
    a.peaks = QByteArray("ab");
    a.title = "A";
    a.keyLine = 0;
    a.error = "timeout";
    a.rating = 1;
    Segment b = segment("04", 200, 300, {150});
    b.lines = std::vector<Line>{{250, 251, "b"}};
    b.peaks = QByteArray("cd");
    b.summary = "B";
    b.rating = 1;
    b.manual = true;

    Segment expected = segment("03", 100, 300, {190, 110, 150});
    expected.lines = std::vector<Line>{{100, 101, "a"}, {250, 251, "b"}};
    expected.peaks = QByteArray("abcd");
    expected.rating = 1;
    EXPECT_EQ(Markers::join(a, b), expected);

    b.rating.reset();
    EXPECT_EQ(Markers::join(a, b).rating, std::nullopt);
    b.rating = -1;
    EXPECT_EQ(Markers::join(a, b).rating, std::nullopt);
    b.waiting = true;
    EXPECT_EQ(Markers::join(a, b).waiting, std::optional<bool>(true));
    EXPECT_EQ(Markers::join(b, a).waiting, std::optional<bool>(true));
    a.waiting = b.waiting = false;
    EXPECT_EQ(Markers::join(a, b).waiting, std::nullopt); // false on both sides reads as absent
}

TEST(MarkersTest, JoinKeepsNoHalfTranscriptOrHalfPeaks)
{
    Segment a = segment("03", 100, 200);
    Segment b = segment("04", 200, 300);
    EXPECT_EQ(Markers::join(a, b).lines, std::nullopt);
    EXPECT_EQ(Markers::join(a, b).peaks, std::nullopt);

    a.lines = std::vector<Line>{{100, 101, "a"}};
    a.peaks = QByteArray("ab");
    EXPECT_EQ(Markers::join(a, b).lines, std::nullopt);
    EXPECT_EQ(Markers::join(a, b).peaks, std::nullopt);
    EXPECT_EQ(Markers::join(b, a).lines, std::nullopt);
    EXPECT_EQ(Markers::join(b, a).peaks, std::nullopt);

    b.lines = std::vector<Line>{};
    b.peaks = QByteArray();
    EXPECT_EQ(Markers::join(a, b).lines, a.lines); // an empty transcript is still a transcript
    EXPECT_EQ(Markers::join(b, a).peaks, a.peaks);
}
