#pragma once

#include "core/project/Records.h"

#include <QString>

// The SRT text of a Short, with times counted from the start of its first cut.
namespace Subtitles {
QString srt(const Short& s, const Project& project);
QString stamp(double seconds); // "HH:MM:SS,mmm"
} // namespace Subtitles
