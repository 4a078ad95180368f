#include "ModelTesting.h"

#include "core/project/Subtitles.h"

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
