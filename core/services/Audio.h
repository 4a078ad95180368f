#pragma once

// Cutting a recording's sound to a WAV file, and reducing such a file to waveform peaks.

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QString>

namespace Audio {

// Peak bytes: one per window of this many 16 kHz samples (1/20 s).
inline constexpr int samplesPerPeak = 800;

// The shortest stretch that can be cut. ffmpeg reads a length of 0, and any length that
// rounds to no sample of the source, as "to the end of the recording".
inline constexpr double shortestCut = 0.001;

// Cuts `duration` seconds from `start` of the recording at path `video` into a new
// 16 kHz mono 16-bit WAV file ("vt-<UUID>.wav" in the temporary folder) and returns its
// path; the caller owns that file and removes it (`RemoveWhenDone`, `TempFiles::remove`),
// or the program's end does. Throws the `Fail` of `Tool::run`, after removing whatever
// ffmpeg may have left at the WAV's path, and a `Fail` without running ffmpeg when
// `duration` is not a finite length of at least `shortestCut`.
QCoro::Task<QString> extract(QString video, double start, double duration);

// The waveform peaks of a WAV file as ffmpeg writes it: byte k is min(255, m >> 7) for the
// largest magnitude m among samples 800·k to 800·k + 799. A window gets a byte only when
// more samples follow it, so the last 1 to 800 samples get none (60 s give 1199 bytes).
// Never fails: an unreadable file, or one without a "data" tag, gives an empty result.
QByteArray peaks(const QString& wav);

} // namespace Audio
