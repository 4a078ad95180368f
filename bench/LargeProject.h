#pragma once

// A project as a long stream gives it: 300 transcribed segments of 200 lines with peaks
// and summaries, shared by the benchmarks.

#include "core/project/Records.h"

inline Project largeProject()
{
    Project p;
    p.video = QStringLiteral("/streams/a long night of streaming.mp4");
    p.markersName = QStringLiteral("a long night of streaming.csv");
    p.duration = 36000;
    for (int s = 0; s < 300; ++s) {
        Segment seg;
        seg.id = QString::asprintf("%02d", s + 1);
        seg.start = s * 120.0;
        seg.end = seg.start + 210.5;
        seg.markers = {seg.start + 150.25};
        std::vector<Line> lines;
        for (int l = 0; l < 200; ++l)
            lines.push_back({seg.start + l * 1.05, seg.start + l * 1.05 + 0.95,
                             QStringLiteral("line %1 of the transcript, with a few more words in it").arg(l)});
        seg.lines = std::move(lines);
        seg.peaks = QByteArray(4210, '\x20');
        seg.title = QStringLiteral("A title");
        seg.summary = QStringLiteral("Two or three sentences about what happens in this part of the stream.");
        p.segments.push_back(std::move(seg));
    }
    return p;
}
