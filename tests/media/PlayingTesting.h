#pragma once

// What the real player shows and says, on a 30 fps clip whose frames show their number.

#include "model/editing/ShortTesting.h"

#include <QVideoFrame>
#include <QVideoSink>
#include <cmath>

namespace playing {

using namespace shorts;

// 10 s at 30 frames a second with sound, key frames every second.
inline QString numberedClip()
{
    return sharedClip(QStringLiteral("numbered30.mp4"), [](const QString& p) { return Clips::numbered(p, 10); });
}

// The frame shown at recording time `seconds`.
inline int frameAt(double seconds)
{
    return int(std::floor(seconds * 30.0 + 1e-6));
}

// The numbers of the frames a player shows, and the times it reports.
class Watch {
public:
    explicit Watch(Player& player)
    {
        QObject::connect(player.videoSink(), &QVideoSink::videoFrameChanged, &context, [this](const QVideoFrame& f) {
            if (f.isValid())
                shown.push_back(Clips::numberOf(f.toImage()));
        });
        QObject::connect(&player, &Player::ticked, &context, [this](double t) { reported.push_back(t); });
    }
    int last() const { return shown.empty() ? -1 : shown.back(); }
    // Waits until the picture shows frame `n`.
    bool shows(int n, int ms = 4000)
    {
        return waitUntil([&] { return last() == n; }, ms);
    }
    void clear()
    {
        shown.clear();
        reported.clear();
    }

    std::vector<int> shown;
    std::vector<double> reported;

private:
    QObject context;
};

} // namespace playing
