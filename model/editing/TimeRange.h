#pragma once

// Which end of a range or cut an operation moves.
enum class Edge { start, end };

// A closed range of seconds of the recording.
struct TimeRange {
    double lower = 0;
    double upper = 0;
    bool operator==(const TimeRange&) const = default;
};
