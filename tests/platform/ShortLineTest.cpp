#include "platform/media/ShortLine.h"

#include <gtest/gtest.h>

// Short time 1.7 is where the second cut starts, though 1.0 + (5.2 - 4.5) sums to a hair more.
TEST(ShortLineTest, ABoundaryBelongsToTheLaterSpanDespiteRounding)
{
    const ShortLine line{{{1.0, 2.0}, {4.5, 5.2}, {7.1, 8.0}}};
    struct Row {
        double t;
        int span;
        double time;
    };
    for (const Row& row : {Row{0.0, 0, 1.0}, Row{0.999, 0, 1.999}, Row{1.0, 1, 4.5}, Row{1.7, 2, 7.1},
                           Row{1.7 - 1e-6, 1, 5.2 - 1e-6}, Row{2.6, 2, 8.0}, Row{9.0, 2, 8.0}, Row{-1.0, 0, 1.0}}) {
        const auto place = line.at(row.t);
        ASSERT_TRUE(place) << row.t;
        EXPECT_EQ(place->span, row.span) << row.t;
        EXPECT_NEAR(place->time, row.time, 1e-9) << row.t;
    }
    EXPECT_FALSE(ShortLine{}.at(0.0));
}
