#pragma once

// Shared by the playback and export tests: a package with Shorts opened in a model with a
// fake player, and a clip whose frames show their own index.

#include "model/lifecycle/LifecycleTesting.h"
#include "platform/media/Media.h"

#include <QImage>
#include <cmath>

namespace shorts {

using namespace lifecycle;

inline Cut cut(double start, double end)
{
    Cut c;
    c.id = QUuid::createUuid();
    c.start = start;
    c.end = end;
    return c;
}

inline Short shortOf(const QString& title, std::vector<Cut> cuts)
{
    Short s;
    s.id = QUuid::createUuid();
    s.title = title;
    s.cuts = std::move(cuts);
    return s;
}

// 6 s at 10 frames a second, frame n drawn at brightness 16 + 3n (studio range), with a tone.
inline QString countedClip()
{
    return sharedClip(QStringLiteral("counted.mp4"), [](const QString& p) {
        return Clips::ffmpeg({"-f", "lavfi", "-i", "color=c=black:s=160x96:r=10:d=6", "-f", "lavfi", "-i",
                              "sine=frequency=440:sample_rate=16000:duration=6", "-vf",
                              "geq=lum=16+3*N:cb=128:cr=128", "-c:v", "libx264", "-crf", "8", "-g", "10",
                              "-pix_fmt", "yuv420p", "-c:a", "aac", "-shortest", p})
            ? p
            : QString();
    });
}

// The index a counted frame shows.
inline int frameIndex(const QImage& image)
{
    const QRgb middle = image.pixel(image.width() / 2, image.height() / 2);
    return int(std::lround(qGray(middle) / (3.0 * 255.0 / 219.0)));
}

class ShortTest : public LifecycleTest {
protected:
    std::unique_ptr<AppModel> model = makeModel();
    FakePlayer& player() { return playerOf(*model); }

    // Opens a package of its own copy of `clip` holding these segments and Shorts; the
    // first Short is the active one. `madeFrom`: the recording's length when the project
    // was made, where it differs from the file's now (a copy cut off).
    QString openWith(const QString& clip, std::vector<Short> shorts,
                     std::vector<Segment> segments = {segment("01", 0, 2.5, {1}), segment("02", 3, 5.5, {4})},
                     std::optional<double> madeFrom = std::nullopt)
    {
        // The container is kept with its name: the player picks its way of playing by it.
        const QString recording = copy(clip, root + QStringLiteral("/Stream.") + QFileInfo(clip).suffix());
        Project p = projectOf(recording, std::move(segments));
        p.duration = madeFrom.value_or(p.duration);
        p.shorts = std::move(shorts);
        const QString package = writePackage(root + QStringLiteral("/Stream.vtrl"), p);
        QCoro::waitFor(model->openProject(package));
        return package;
    }
};

} // namespace shorts
