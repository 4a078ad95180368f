#pragma once

#include "core/project/Records.h"

#include <vector>

// A bare segment, as the marker file makes them.
inline Segment segment(const QString& id, double start, double end, std::vector<double> markers = {})
{
    Segment s;
    s.id = id;
    s.start = start;
    s.end = end;
    s.markers = std::move(markers);
    return s;
}
