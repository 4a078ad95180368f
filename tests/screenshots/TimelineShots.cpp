// The Shorts timeline: empty, with its display options in their states, a cut being moved,
// zoomed in, and the popover and the rename alert.

#include "Shots.h"

#include "model/lifecycle/AppModel.h"
#include "platform/Prefs.h"
#include "support/FakePlayer.h"
#include "views/editor/Timeline.h"
#include "views/editor/TimelineHeader.h"
#include "views/editor/TimelineTrack.h"

#include <QApplication>
#include <QImageWriter>
#include <QInputDialog>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>

using namespace Shots;

namespace {

// Stills for every second the blocks show, as the still cache holds them.
void cacheStills(AppModel& model, const QString& folder)
{
    const QImage picture = frame().scaled(240, 135);
    for (int second = 2990; second < 3700; ++second) {
        QImage still = picture.copy();
        QPainter p(&still);
        p.fillRect(QRect((second * 37) % 200, 60, 40, 75), QColor::fromHsv((second * 23) % 360, 120, 160));
        p.end();
        QImageWriter(folder + u'/' + QString::number(second) + QStringLiteral(".jpg"), "jpg").write(still);
    }
    MediaInfo recording;
    recording.path = QStringLiteral("/nowhere/stream.mp4");
    model.frames().use(recording, 16.0 / 9, folder);
}

void mouse(QWidget* w, QEvent::Type type, QPointF at, Qt::MouseButtons held)
{
    QMouseEvent e(type, at, w->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, held,
                  Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

void setLook(bool names, bool filmstrip, bool waveform)
{
    Prefs& prefs = Prefs::shared();
    prefs.set(QStringLiteral("clipNames"), names);
    prefs.set(QStringLiteral("clipFilmstrip"), filmstrip);
    prefs.set(QStringLiteral("clipWaveform"), waveform);
}

void timelineShots()
{
    QTemporaryDir stills;
    AppModel model(std::make_unique<FakePlayer>(), std::make_unique<FakePlayer>());
    cacheStills(model, stills.path());
    Project p = editorProject();
    p.shorts[0].cuts[0].role = QStringLiteral("hook");
    Short second;
    second.id = QUuid::createUuid();
    second.title = QStringLiteral("Chat said left");
    Short third;
    third.id = QUuid::createUuid();
    third.title = QStringLiteral("Cleanest play of the stream,\nand then the zone closes on everyone");
    third.cuts = {p.shorts[0].cuts[1]};
    p.shorts.push_back(second);
    p.shorts.push_back(third);
    model.setProject(p);
    model.activate(second.id);

    TimelineView view(model);
    view.resize(900, 200);
    view.show();
    save(&view, QStringLiteral("timeline-empty"));

    model.activate(p.shorts[0].id);
    model.clock().setTime(12.4);
    setLook(false, true, true);
    save(&view, QStringLiteral("timeline-default"));
    setLook(false, false, false);
    save(&view, QStringLiteral("timeline-rows-off"));
    setLook(true, true, true);
    model.setSelectedCut(p.shorts[0].cuts[1].id);
    save(&view, QStringLiteral("timeline-names"));

    // The first cut on its way to the end, the marker at the gap it would land in.
    TimelineTrack* track = view.track;
    const QPointF from(60, 60);
    const QPointF to(track->width() * 0.5, 60);
    mouse(track, QEvent::MouseButtonPress, from, Qt::LeftButton);
    mouse(track, QEvent::MouseMove, to, Qt::LeftButton);
    save(&view, QStringLiteral("timeline-reordering"));
    track->movingID.reset(); // let go without moving it
    mouse(track, QEvent::MouseButtonRelease, to, Qt::NoButton);

    setLook(false, true, true);
    Prefs::shared().set(QStringLiteral("timelineZoom"), 6.0);
    settle();
    // Scrolled to the playhead, as following it leaves the track, so the zoomed picture
    // shows where the playhead stands and not only the Short's first seconds.
    if (const auto x = view.track->playheadX())
        view.scroll->horizontalScrollBar()->setValue(int(*x) - view.scroll->viewport()->width() * 3 / 5);
    save(&view, QStringLiteral("timeline-zoomed"));
    view.scroll->horizontalScrollBar()->setValue(0);
    Prefs::shared().set(QStringLiteral("timelineZoom"), 1.0);

    view.header->showOptions();
    settle();
    save(view.header->popover, QStringLiteral("timeline-options"));
    view.header->popover->hide();

    view.startRename(third.id);
    settle();
    save(view.renameAlert(), QStringLiteral("timeline-rename"));
    view.renameAlert()->reject();
    settle();
}

const int registered = Shots::add(timelineShots);

} // namespace
