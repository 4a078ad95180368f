#pragma once

#include <QString>
#include <vector>

namespace Media {

// The recording times of the key frames of the recording's video, in order, as its index
// lists them (MP4, Matroska with cues, AVI, FLV that lists them); empty where it keeps none.
// Nothing is decoded. Throws Fail when the file cannot be read.
std::vector<double> keyFramesNow(const QString& path);

// The key frame that a decode of the picture at `seconds` starts from: the last of
// `keyFrames` at or before it (within a frame's rounding); 0, the start, where none is known.
double keyFrameBefore(const std::vector<double>& keyFrames, double seconds);

} // namespace Media
