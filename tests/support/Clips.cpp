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

} // namespace Clips
