#pragma once

#include <algorithm>
#include <optional>
#include <vector>

// One stretch of the recording, in seconds.
struct Span {
    double start = 0;
    double end = 0;
    double length() const { return end - start; }
    bool operator==(const Span&) const = default;
};

// Stretches of the recording laid back to back from 0: the time line of a Short.
struct ShortLine {
    std::vector<Span> spans;

    double total() const
    {
        double sum = 0;
        for (const Span& s : spans)
            sum += s.length();
        return sum;
    }
    // Where the stretches before span `k` end on the Short's time line.
    double offset(int k) const
    {
        double sum = 0;
        for (int i = 0; i < k && i < int(spans.size()); ++i)
            sum += spans[i].length();
        return sum;
    }

    struct Place {
        int span = 0;
        double time = 0; // of the recording
    };
    // The span and recording time under Short time t. A time on the boundary of two spans
    // belongs to the later one; times before 0 or past the end stay at the first start or
    // the last end. None without spans. Sums of lengths carry rounding (5.2 - 4.5 is a hair
    // over 0.7), so a time within a nanosecond of a boundary counts as on it: otherwise the
    // boundary a user reads as 1.7 would show the last frame of the cut before it.
    std::optional<Place> at(double t) const
    {
        constexpr double onBoundary = 1e-9;
        double acc = 0;
        for (int k = 0; k < int(spans.size()); ++k) {
            const Span& s = spans[k];
            if (t < acc + s.length() - onBoundary || k + 1 == int(spans.size()))
                return Place{k, std::min(s.start + std::max(0.0, t - acc), s.end)};
            acc += s.length();
        }
        return std::nullopt;
    }
    // The Short time of recording time r in the first span that holds it (ends included).
    std::optional<double> find(double r) const
    {
        double acc = 0;
        for (const Span& s : spans) {
            if (s.start <= r && r <= s.end)
                return r + acc - s.start;
            acc += s.length();
        }
        return std::nullopt;
    }
    // The Short time of recording time r while span k plays (held inside the span).
    double within(int k, double r) const
    {
        const Span& s = spans[k];
        return offset(k) + std::clamp(r, s.start, s.end) - s.start;
    }
};
