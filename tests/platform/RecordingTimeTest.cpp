// How the player's back end counts against recording time, and which of its pictures it
// passes on: the rules that make the preview show what an export takes.

#include "platform/media/Media.h"
#include "platform/media/RecordingTime.h"
#include "platform/media/ShortLine.h"

#include <gtest/gtest.h>

namespace {

RecordingTime::PlayerClock clockOf(qint64 firstStamp, qint64 zeroStamp, double firstPicture)
{
    RecordingTime::PlayerClock c;
    c.known = true;
    c.firstStamp = firstStamp;
    c.zeroStamp = zeroStamp;
    c.firstPicture = firstPicture;
    return c;
}

// When a Short ends (or a cut jumps to the next), the player seeks to the last picture
// before the end; pictures decoded past the end are still on their way. The one that the
// seek lands on is shown, the next one is not, even 1 ms on, as in whole milliseconds.
TEST(RecordingTimeTest, APictureAfterAShortsEndIsNeverShown)
{
    const RecordingTime::PlayerClock clock = clockOf(0, 0, 0);
    const ShortLine line{{{1000.0, 1003.3333333}, {3.3, 4.0}}};
    struct Row {
        int span;
        qint64 from, to; // µs
        bool shown;
    };
    // Span 0 ends off the grid (frame 30100 starts at its end), span 1 on it (frame 120).
    const qint64 end0 = clock.seekBefore(line.spans[0].end), end1 = clock.seekBefore(line.spans[1].end);
    EXPECT_EQ(end0, 1003332);
    EXPECT_EQ(end1, 3998);
    const Row table[] = {
        {0, end0 * 1000, 1003333333, true},      // the landing: its stamp cut to the place sought
        {0, 1003300000, 1003333333, true},       // the last frame of the span as it plays
        {0, 1003333333, 1003366667, false},      // the frame after the end
        {0, 1003333000, 1003366000, false},      // the same in whole milliseconds
        {1, end1 * 1000, 4000000, true},
        {1, 4000000, 4033333, false},
        {1, 999966667, 1000000000, false},       // the span before, still on its way
    };
    for (const Row& r : table) {
        const qint64 sought = r.span == 0 ? end0 : end1;
        const bool asked = clock.landsOn(r.from, sought);
        EXPECT_EQ(line.passes(r.span, clock.fromStamp(r.from), clock.fromStamp(r.to), asked), r.shown)
            << "span " << r.span << ", picture from " << r.from;
    }
}

// An export takes for a time the picture that the player's seek lands on, at a cut's start
// and at its end.
TEST(RecordingTimeTest, TheExportTakesThePictureTheSeekLandsOn)
{
    const RecordingTime::PlayerClock clock = clockOf(0, 0, 0);
    // Frames of 30 a second, exact (MP4) and in whole milliseconds (Matroska).
    for (const bool whole : {false, true}) {
        std::vector<double> starts;
        for (int k = 0; k < 120; ++k)
            starts.push_back(whole ? std::round(k * 1000.0 / 30.0) / 1000.0 : k / 30.0);
        for (double t = 0.01; t < 3.9; t += 0.0001) {
            const double landing = clock.seekTo(t) / 1000.0, last = clock.seekBefore(t) / 1000.0;
            int seek = -1, exported = -1, lastSeek = -1, lastExported = -1;
            for (int k = 0; k < int(starts.size()); ++k) {
                seek = starts[k] <= landing + 1e-9 ? k : seek;
                exported = starts[k] < showingLimit(t) ? k : exported;
                lastSeek = starts[k] <= last + 1e-9 ? k : lastSeek;
                lastExported = starts[k] < endingLimit(t) ? k : lastExported;
            }
            ASSERT_EQ(exported, seek) << "from " << t << (whole ? " in whole milliseconds" : "");
            ASSERT_EQ(lastExported, lastSeek) << "to " << t << (whole ? " in whole milliseconds" : "");
        }
    }
}

} // namespace
