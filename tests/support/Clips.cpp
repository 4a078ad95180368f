#include "support/Clips.h"

#include <QFile>
#include <QProcess>

namespace Clips {

bool ffmpeg(const QStringList& arguments)
{
    QProcess process;
    process.setProgram(QStringLiteral("ffmpeg"));
    process.setArguments(QStringList{"-nostdin", "-v", "error", "-y"} + arguments);
    process.start();
    return process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QString video(const QString& path, double seconds, bool withAudio)
{
    const QString length = QString::number(seconds);
    QStringList args{"-f", "lavfi", "-i", "testsrc=size=320x180:rate=10:duration=" + length};
    if (withAudio)
        args << QStringList{"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=16000:duration=" + length};
    args << QStringList{"-c:v", "mpeg4", "-q:v", "5"};
    if (withAudio)
        args << QStringList{"-c:a", "aac", "-shortest"};
    args << path;
    return ffmpeg(args) ? path : QString();
}

QString rotatedVideo(const QString& path, double seconds, int degrees)
{
    const QString plain = path + QStringLiteral(".plain.mp4");
    if (video(plain, seconds, false).isEmpty())
        return {};
    const bool ok = ffmpeg({"-i", plain, "-c", "copy", "-metadata:s:v:0", "rotate=" + QString::number(degrees), path});
    QFile::remove(plain);
    return ok ? path : QString();
}

QString audioOnly(const QString& path, double seconds)
{
    return ffmpeg({"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=16000:duration=" + QString::number(seconds),
                   "-c:a", "aac", path})
        ? path
        : QString();
}

QString numbered(const QString& path, double seconds, int fps, int keyEvery)
{
    const QString length = QString::number(seconds);
    return ffmpeg({"-f", "lavfi", "-i", QStringLiteral("color=c=black:s=320x180:r=%1:d=%2").arg(fps).arg(length), "-f",
                   "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=" + length, "-vf",
                   "geq=lum='if(mod(trunc(N/pow(2,trunc(X*10/W))),2),235,16)':cb=128:cr=128", "-c:v", "libx264",
                   "-crf", "12", "-g", QString::number(keyEvery), "-keyint_min", QString::number(keyEvery),
                   "-sc_threshold", "0", "-pix_fmt", "yuv420p", "-c:a", "aac", "-ac", "2", "-shortest", path})
        ? path
        : QString();
}

int numberOf(const QImage& image)
{
    if (image.isNull())
        return -1;
    int n = 0;
    for (int bit = 0; bit < 10; ++bit) {
        const int x = (2 * bit + 1) * image.width() / 20;
        const int grey = qGray(image.pixel(x, image.height() / 2));
        // Between the two levels is neither: a blend of two frames, or no numbered frame.
        if (grey > 80 && grey < 175)
            return -1;
        if (grey >= 175)
            n |= 1 << bit;
    }
    return n;
}

} // namespace Clips
