// The stream window: a marked stretch with its handles under a spoken line, a selection just
// dragged with the pointer, the whole of a long stream, and a view of a few seconds.

#include "model/lifecycle/AppModel.h"
#include "screenshots/Shots.h"
#include "support/FakePlayer.h"
#include "support/gui/StreamCaches.h"
#include "views/kit/FilmGrid.h"
#include "views/kit/VideoSurface.h"
#include "views/windows/StreamRules.h"
#include "views/windows/BrowserView.h"
#include "views/windows/StreamTimeline.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTemporaryDir>

namespace {

void mouse(QWidget* w, QEvent::Type type, double x, double y)
{
    const QPointF at(x, y);
    QMouseEvent e(type, at, w->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                  type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

// Nine hours with a segment every twenty minutes, each with a transcript and markers.
Project longStream()
{
    Project p;
    p.video = QStringLiteral("/streams/Saturday marathon.mp4");
    p.duration = 9 * 3600;
    const char* said[] = {"okay chat, one more run and then we eat", "wait wait wait, listen",
                          "that is not where the door was last time", "I am so sorry to whoever that was",
                          "we take those, we absolutely take those"};
    for (int s = 0; s < 27; ++s) {
        Segment seg;
        seg.id = QString::asprintf("%02d", s + 1);
        seg.start = 300 + s * 1200.0;
        seg.end = seg.start + 210;
        seg.markers = {seg.start + 150};
        std::vector<Line> lines;
        for (int l = 0; l < 40; ++l) {
            const double t = seg.start + 3 + l * 5.2;
            lines.push_back({t, t + 4.4, QString::fromUtf8(said[(l + s) % 5])});
        }
        seg.lines = lines;
        p.segments.push_back(seg);
    }
    return p;
}

void shots()
{
    AppModel model(std::make_unique<FakePlayer>(), std::make_unique<FakePlayer>());
    const Project project = longStream();
    model.setProject(project);
    StreamBrowser& browser = model.browser();
    browser.load(project.video, project.duration);
    QTemporaryDir caches;
    // The stills of the three views below (the timeline is 972 points wide).
    std::vector<int> seconds;
    for (const auto& [from, to] : {std::pair{1487.0, 1636.0}, {0.0, project.duration}, {1537.0, 1547.0}})
        for (int s : filmGridLayout(from, to, 972, stream::stripHeight, 16.0 / 9.0).seconds())
            seconds.push_back(s);
    streamcaches::fill(model, caches.path(), project.video, int(project.duration / 60) + 1, seconds);

    BrowserView window(model);
    window.resize(1000, 720);
    window.picture->showImage(Shots::frame());
    window.show();

    // A stretch of the second segment marked, the playhead on one of its lines.
    browser.show(1560, TimeRange{1530, 1580.4});
    browser.seek(1561);
    Shots::save(&window, QStringLiteral("stream-selection"));

    // A selection dragged from right to left across a segment's start, just released.
    browser.show(1520, std::nullopt);
    QWidget* timeline = window.timeline;
    mouse(timeline, QEvent::MouseButtonPress, 640, 70);
    for (double x = 630; x >= 330; x -= 15)
        mouse(timeline, QEvent::MouseMove, x, 70);
    mouse(timeline, QEvent::MouseButtonRelease, 330, 70);
    Shots::save(&window, QStringLiteral("stream-selection-released"));

    browser.setRange(std::nullopt);
    browser.zoom(project.duration, browser.time());
    browser.seek(4 * 3600 + 600);
    Shots::save(&window, QStringLiteral("stream-whole"));

    browser.zoom(10, 1542);
    browser.scroll(1537);
    browser.seek(1542);
    Shots::save(&window, QStringLiteral("stream-seconds"));

    // A seek far from a key frame on its way: the picture says what it waits for.
    auto& player = static_cast<FakePlayer&>(browser.player());
    player.setWaiting(QStringLiteral("Finding the picture…"));
    Shots::save(&window, QStringLiteral("stream-finding"));
    player.setWaiting(std::nullopt);
}

const int registered = Shots::add(shots);

} // namespace
