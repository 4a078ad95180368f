// The real player's picture in a surface of the viewer's size: a phone's portrait recording,
// stored 640x360 and turned a quarter by its display matrix, shows upright, as the export
// turns it, drawn at the surface's size by the player itself.

#include "platform/media/Player.h"
#include "screenshots/Shots.h"
#include "support/Clips.h"
#include "support/EventLoop.h"
#include "views/kit/VideoSurface.h"

#include <QTemporaryDir>
#include <QWidget>
#include <cstdio>
#include <memory>

namespace {

void shots()
{
    QTemporaryDir folder;
    const QString plain = folder.filePath(QStringLiteral("plain.mp4"));
    const QString turned = folder.filePath(QStringLiteral("Portrait.mp4"));
    if (!Clips::ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=640x360:rate=30:duration=2", "-c:v", "libx264", "-pix_fmt",
                        "yuv420p", plain})
        || !Clips::ffmpeg({"-i", plain, "-c", "copy", "-metadata:s:v", "rotate=90", turned})) {
        std::printf("viewer-turned: ffmpeg could not make the recording\n");
        return;
    }
    std::unique_ptr<Player> player = Player::makeDefault();
    QWidget window;
    window.resize(505, 284);
    auto* surface = new VideoSurface(&window);
    surface->radius = 12;
    surface->setGeometry(0, 0, 505, 284);
    surface->setPlayer(player.get());
    window.show();
    bool landed = false;
    QObject::connect(player.get(), &Player::landed, &window, [&] { landed = true; });
    player->setSource(turned);
    player->seek(1.0);
    events::until([&] { return landed; }, 20000);
    Shots::save(&window, QStringLiteral("viewer-turned"));
    surface->setPlayer(nullptr);
}

const int registered = Shots::add(shots);

} // namespace
