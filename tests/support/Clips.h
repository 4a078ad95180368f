#pragma once

#include <QImage>
#include <QString>
#include <QStringList>
#include <vector>

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
// The same with more choices.
struct Numbering {
    QString rate = QStringLiteral("30"); // frames a second, as ffmpeg reads it ("30000/1001")
    int keyEvery = 30;
    int bits = 10;       // bars, so numbers up to 2^bits - 1
    bool clicks = false; // in place of the tone, a 2 ms click every 0.1 s, starting at 0
    // In place of the tone, white noise: no moment of it sounds like another, so sound played
    // from another place than its own is told apart.
    bool noise = false;
    bool openGop = false; // key frames decoded before the frames shown just before them
};
QString numbered(const QString& path, double seconds, const Numbering& how);
// A clip in the container that the suffix of `to` names, its streams copied; WebM, which
// holds no H.264, gets them coded again as VP9 (a key frame every `keyEvery` frames) and Opus.
QString inContainer(const QString& from, const QString& to, int keyEvery = 30);
// The streams of `from` copied into `to` (its suffix names the container), the sound stored
// `seconds` after the pictures shown with it: each packet of sound comes after the pictures
// up to `seconds` past its time, as some recorders write their files.
QString soundStoredLate(const QString& from, const QString& to, double seconds);
// The number a numbered frame shows, at any size; -1 for a picture that shows none.
int numberOf(const QImage& image, int bits = 10);

// Every frame of a file's video in order: the number it shows and the time it is shown at.
struct Shown {
    int number = -1;
    double time = 0;
};
std::vector<Shown> shownFrames(const QString& path, int bits = 10);
// When each picture of a numbered clip is shown (picture n shows n), in recording time:
// counted from the file's start as ffmpeg's -ss counts it (from the earliest stamp of any
// stream), read from the packets' stamps (their decoding stamps where a container keeps no
// others, as AVI).
std::vector<Shown> recordingFrames(const QString& path);
// The file's sound decoded to one channel of `rate` samples a second; empty without sound.
std::vector<float> soundOf(const QString& path, int rate = 48000);
// Where the clicks of such a sound start, in seconds.
std::vector<double> clicksIn(const std::vector<float>& sound, int rate = 48000);

} // namespace Clips
