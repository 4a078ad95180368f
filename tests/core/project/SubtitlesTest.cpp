#include "ModelTesting.h"

#include "core/project/Subtitles.h"
#include "support/Segments.h"

#include <gtest/gtest.h>
#include <cmath>

using namespace testing_model;

namespace {

Segment transcribed(const char* id, std::vector<Line> lines)
{
    Segment s;
    s.id = id;
    s.lines = std::move(lines);
    return s;
}

Short withCuts(std::vector<std::pair<double, double>> spans)
{
    Short s;
    s.id = uuid(1);
    int n = 10;
    for (const auto& [start, end] : spans)
        s.cuts.push_back(Cut{uuid(++n), start, end, "setup"});
    return s;
}

} // namespace

TEST(SubtitlesTest, WritesOneEntryPerLineInShortTime)
{
    Project p;
    p.segments = {transcribed("01", {{98, 103, "Hello"}, {104, 109.96, "[music]"}}),
                  transcribed("02", {}),
                  Segment{},
                  transcribed("03", {{200.04, 202, "again"}})};
    const QString srt = Subtitles::srt(withCuts({{100, 110}, {200, 205}}), p);
    EXPECT_EQ(srt, "1\n00:00:00,000 --> 00:00:03,000\nHello\n\n"
                   "2\n00:00:10,040 --> 00:00:12,000\nagain\n\n");
}

TEST(SubtitlesTest, TakesOnlyLinesThatReallyOverlapACut)
{
    Project p;
    p.segments = {transcribed("01", {{90, 100.05, "ends at the margin"},
                                     {109.95, 120, "starts at the margin"},
                                     {90, 100.06, "just in"},
                                     {50, 60, "elsewhere"}})};
    EXPECT_EQ(Subtitles::srt(withCuts({{100, 110}}), p), "1\n00:00:00,000 --> 00:00:00,060\njust in\n\n");
    EXPECT_EQ(Subtitles::srt(withCuts({}), p), "");
    EXPECT_EQ(Subtitles::srt(withCuts({{300, 310}}), p), "");
    EXPECT_EQ(Subtitles::srt(withCuts({{100, 110}}), Project{}), "");
}

TEST(SubtitlesTest, CleansTextAndRepeatsLinesAcrossCuts)
{
    Project p;
    p.segments = {transcribed("01", {{10, 30, "\t well [laughs] okay  "}, {31, 32, " [a] [b]\t"}, {33, 34, "a ] b [c"}})};
    // Cuts in reverse order of the recording, each clipping the long line.
    const QString srt = Subtitles::srt(withCuts({{20, 25}, {12, 14}}), p);
    EXPECT_EQ(srt, "1\n00:00:00,000 --> 00:00:05,000\nwell   okay\n\n"
                   "2\n00:00:05,000 --> 00:00:07,000\nwell   okay\n\n");
    EXPECT_EQ(Subtitles::srt(withCuts({{33, 34}}), p), "1\n00:00:00,000 --> 00:00:01,000\na ] b [c\n\n");
    EXPECT_EQ(Subtitles::srt(withCuts({{31, 32}}), p), "");
}

TEST(SubtitlesTest, StampsRoundToWholeMilliseconds)
{
    EXPECT_EQ(Subtitles::stamp(3661.2345), "01:01:01,235");
    EXPECT_EQ(Subtitles::stamp(0.0005), "00:00:00,001");
    EXPECT_EQ(Subtitles::stamp(0.0004), "00:00:00,000");
    EXPECT_EQ(Subtitles::stamp(59.9999), "00:01:00,000");
    EXPECT_EQ(Subtitles::stamp(-2.5), "00:00:00,000");
    EXPECT_EQ(Subtitles::stamp(-0.0004), "00:00:00,000");
    EXPECT_EQ(Subtitles::stamp(std::nan("")), "00:00:00,000");
    EXPECT_EQ(Subtitles::stamp(360000), "100:00:00,000");
}

namespace {

Segment spanning(const char* id, double start, double end, std::optional<std::vector<Line>> lines)
{
    Segment s = segment(id, start, end);
    s.lines = std::move(lines);
    return s;
}

} // namespace

// Added segments may overlap others and be transcribed again over the same speech. Where
// segments overlap, the first in the project's order with lines speaks; a later one's
// line is taken only where no earlier overlapping segment has lines.
TEST(SubtitlesTest, OverlappingSegmentsSpeakOnce)
{
    // The same three lines as three transcriptions heard them, each a little apart.
    auto heard = [](double shift, std::vector<Line> more = {}) {
        std::vector<Line> lines = {{165 + shift, 167 + shift, "one"},
                                   {168 + shift, 171 + shift, "two"},
                                   {172 + shift, 175 + shift, "three"}};
        lines.insert(lines.end(), more.begin(), more.end());
        return lines;
    };
    struct Row {
        const char* name;
        std::vector<Segment> segments;
        std::vector<std::pair<double, double>> cuts;
        QString srt;
    };
    const QString once = "1\n00:00:01,000 --> 00:00:03,000\none\n\n"
                         "2\n00:00:04,000 --> 00:00:07,000\ntwo\n\n"
                         "3\n00:00:08,000 --> 00:00:11,000\nthree\n\n";
    const Row rows[] = {
        {"02 and 03 hold the stretch, and 02a added over both heard it a third time",
         {spanning("02", 100, 180, heard(0, {{177, 180, "four"}})),
          spanning("02a", 150, 250, heard(0.2, {{178.5, 183, "four five"}, {184, 186, "six"}})),
          spanning("03", 160, 260, heard(-0.1, {{184.1, 186, "six"}, {250.5, 252, "seven"}}))},
         {{164, 176}, {176, 187}, {249, 253}},
         once + "4\n00:00:13,000 --> 00:00:16,000\nfour\n\n"    // 02's; 02a's "four five" reaches into 02
             + "5\n00:00:20,000 --> 00:00:22,000\nsix\n\n"      // 02a's; 03's lies inside 02a
             + "6\n00:00:24,500 --> 00:00:26,000\nseven\n\n"},  // beyond 02a: 03 speaks
        {"an earlier overlapping segment without a transcript hides nothing",
         {spanning("02", 100, 180, std::nullopt), spanning("02a", 150, 250, heard(0))},
         {{164, 176}},
         once},
        {"nor does one whose transcript holds no line",
         {spanning("02", 100, 180, std::vector<Line>{}), spanning("02a", 150, 250, heard(0))},
         {{164, 176}},
         once},
        {"the halves of a split only touch: a line across the split stays",
         {spanning("02", 100, 169, std::vector<Line>{{165, 167, "one"}}),
          spanning("02a", 169, 250, std::vector<Line>{{168, 171, "two"}, {172, 175, "three"}})},
         {{164, 176}},
         once},
        {"a line reaching into a segment that its own does not overlap stays",
         {spanning("02", 100, 166, std::vector<Line>{{165, 167, "one"}}),
          spanning("03", 166.5, 250, std::vector<Line>{{165.5, 168, "late"}})},
         {{164, 176}},
         "1\n00:00:01,000 --> 00:00:03,000\none\n\n2\n00:00:01,500 --> 00:00:04,000\nlate\n\n"},
    };
    for (const Row& row : rows) {
        Project p;
        p.segments = row.segments;
        EXPECT_EQ(Subtitles::srt(withCuts(row.cuts), p), row.srt) << row.name;
    }
}
