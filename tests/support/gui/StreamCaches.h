#pragma once

// Fills the model's waveform and still caches for a long made-up recording, as a stream
// that has been browsed before finds them: the chunks and stills are files in the
// package's cache folders, read back through the model as usual.

#include "model/lifecycle/AppModel.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <cmath>
#include <vector>

namespace streamcaches {

// Peaks that rise and fall like speech over a minute.
inline QByteArray minute(int m)
{
    QByteArray bytes(1200, 0);
    for (int i = 0; i < bytes.size(); ++i) {
        const double v = std::fabs(std::sin((i + m * 7) / 13.0) * std::sin(i / 97.0 + m)) * 220 + 10;
        bytes[i] = char(int(v) & 0xff);
    }
    return bytes;
}

// A still of its own colour per second, so that neighbours can be told apart.
inline QImage still(int second)
{
    QImage image(160, 90, QImage::Format_RGB32);
    image.fill(QColor::fromHsv((second * 37) % 360, 90, 150));
    QPainter p(&image);
    p.fillRect(QRect(0, 60, 160, 30), QColor::fromHsv((second * 37 + 120) % 360, 60, 90));
    p.fillRect(QRect(20 + second % 100, 20, 30, 40), QColor(235, 230, 220));
    return image;
}

// Writes chunks 0 … minutes − 1 and the stills of `seconds` under `folder`, points the
// model's caches there for `video` and asks for all of them; returns once they are in.
inline bool fill(AppModel& model, const QString& folder, const QString& video, int minutes,
                 const std::vector<int>& seconds)
{
    const QString waves = folder + QStringLiteral("/waves");
    const QString frames = folder + QStringLiteral("/frames");
    QDir().mkpath(waves);
    QDir().mkpath(frames);
    std::vector<int> chunks;
    for (int m = 0; m < minutes; ++m) {
        QFile f(Waves::file(waves, m));
        if (!f.open(QIODevice::WriteOnly))
            return false;
        f.write(minute(m));
        chunks.push_back(m);
    }
    for (int s : seconds)
        if (!still(s).save(Frames::file(frames, s), "JPEG", 60))
            return false;
    model.waves().reset(video, waves);
    model.waves().load(chunks);
    MediaInfo info;
    info.path = video;
    model.frames().use(info, 16.0 / 9.0, frames);
    for (int s : seconds)
        model.frames().load(s);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 20000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (model.waves().peaks().size() == minutes && model.frames().images().size() >= qsizetype(seconds.size()))
            return true;
    }
    return false;
}

} // namespace streamcaches
