#include "views/kit/Format.h"

#include <cmath>
#include <cstdio>
#include <cstdint>

QString span(double seconds)
{
    // Minutes must fit the int that "%d" prints; anything beyond that (or not a
    // number at all) has no sensible reading and must not reach a conversion.
    constexpr double limit = 60.0 * 2147483647.0;
    if (!std::isfinite(seconds) || std::fabs(seconds) >= limit)
        return QStringLiteral("–:––.–");
    const auto minutes = static_cast<int>(static_cast<std::int64_t>(std::trunc(seconds)) / 60);
    // The C library's rounding (half to even on the exact binary value: 15.25 → "15.2"),
    // which Qt's own formatter does not share; LC_NUMERIC is "C" in this program.
    char text[32];
    std::snprintf(text, sizeof text, "%d:%04.1f", minutes, std::fmod(seconds, 60.0));
    return QString::fromLatin1(text);
}
