#pragma once

#include <QImage>
#include <QString>
#include <QStringList>

// Small media files made with the real ffmpeg for the tests.
namespace Clips {

// Runs ffmpeg with these arguments (after "-nostdin -v error -y"); false when it failed.
bool ffmpeg(const QStringList& arguments);

// A video of `seconds` (320x180 test picture) with a sine tone, or without sound.
QString video(const QString& path, double seconds, bool withAudio = true);
// A clip whose stream says it is shown turned by `degrees` (90: a phone held upright).
QString rotatedVideo(const QString& path, double seconds, int degrees);
// Sound only.
QString audioOnly(const QString& path, double seconds);

// A 320x180 H.264 video at `fps` frames a second with a 48 kHz stereo tone, whose frame n
// shows n in binary: ten upright bars, bar k (from the left) white when bit k is set.
// Key frames every `keyEvery` frames; the encoder's own choice of B-frames is kept.
QString numbered(const QString& path, double seconds, int fps = 30, int keyEvery = 30);
// The number a numbered frame shows, at any size; -1 for a picture that shows none.
int numberOf(const QImage& image);

} // namespace Clips
