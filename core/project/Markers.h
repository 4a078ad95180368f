#pragma once

#include "core/project/Records.h"

#include <QString>
#include <optional>
#include <utility>
#include <vector>

// The marker file beside a recording, and the segments made from it.
namespace Markers {

// The marker CSV beside the recording: the longest file stem that begins the
// recording's stem, else one sharing its first 10 characters; none otherwise.
std::optional<QString> find(const QString& video);

// Marker times in row order; unreadable rows are skipped.
std::vector<double> parse(QStringView text);

// Windows of [m - before, m + after] clipped to the recording, merged where they
// overlap or touch, numbered "01", "02", … in time order.
std::vector<Segment> segments(std::vector<double> marks, double before, double after, double duration);

// The id for a segment added at t: the digits of the segment starting last at or
// before t plus the first free letter ("06a").
QString nextID(double t, const std::vector<Segment>& among);

std::pair<Segment, Segment> split(const Segment& segment, double t, const std::vector<Segment>& among);

Segment join(const Segment& a, const Segment& b);

} // namespace Markers
