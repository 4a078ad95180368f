#pragma once

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

} // namespace Clips
