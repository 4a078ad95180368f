// The three small helpers every part of the program leans on.

#include "ModelTesting.h"
#include "support/Segments.h"

#include <gtest/gtest.h>
#include <tuple>

namespace {

TEST(RecordsTest, ClockShowsWholeSecondsAsHoursMinutesSeconds)
{
    const std::pair<double, const char*> table[] = {
        {3725.9, "1:02:05"}, {59.99, "0:00:59"}, {-3, "0:00:00"}, {-0.5, "0:00:00"}, {0, "0:00:00"},
        {360000, "100:00:00"}, {3599.999, "0:59:59"},
    };
    for (const auto& [seconds, text] : table)
        EXPECT_EQ(clock(seconds), text) << seconds;
}

TEST(RecordsTest, AShortLastsAsLongAsItsCutsTogether)
{
    auto shortOf = [](std::vector<std::pair<double, double>> spans) {
        Short s;
        for (const auto& [start, end] : spans)
            s.cuts.push_back(Cut{QUuid::createUuid(), start, end, "setup"});
        return s;
    };
    EXPECT_DOUBLE_EQ(shortOf({{10, 14}, {30, 31.5}}).duration(), 5.5);
    EXPECT_DOUBLE_EQ(shortOf({}).duration(), 0);
    EXPECT_DOUBLE_EQ(shortOf({{20, 18}, {0, 5}}).duration(), 3) << "nothing is clamped";
}

TEST(RecordsTest, TheSegmentUnderATimeAllowsAMillisecond)
{
    Project touching;
    touching.segments = {segment("01", 0, 210), segment("02", 210, 400)};
    Project apart;
    apart.segments = {segment("01", 0, 100), segment("02", 200, 300)};
    // "" for no segment.
    const std::tuple<const Project*, double, const char*> table[] = {
        {&touching, 210, "01"},      {&touching, 400.0005, "02"}, {&touching, 400.002, ""},
        {&touching, 209.9995, "01"}, {&apart, 150, ""},           {&apart, -0.0005, "01"},
        {&apart, -0.002, ""},        {&apart, 199.9995, "02"},    {&apart, 100.0015, ""},
    };
    for (const auto& [project, t, id] : table) {
        const Segment* found = project->segment(t);
        EXPECT_EQ(found ? found->id : QString(), id) << t;
    }
}

} // namespace
