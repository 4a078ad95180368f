#include "views/editor/Timeline.h"

#include "model/lifecycle/AppModel.h"
#include "platform/Prefs.h"
#include "views/editor/TimelineDerive.h"
#include "views/editor/TimelineHeader.h"
#include "views/editor/TimelineTrack.h"
#include "views/kit/Dialogs.h"
#include "views/kit/Paint.h"
#include "views/kit/Style.h"

#include <QNativeGestureEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <cmath>

using namespace timeline;

void EmptyTrack::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPalette& pal = palette();
    const QRectF box = QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75);
    const QPainterPath outline = rounded(box, 9);
    QPen dashed(Style::quaternary(pal), 1.5);
    dashed.setDashPattern({6 / 1.5, 5 / 1.5});
    p.strokePath(outline, dashed);

    const QFont heading = Style::font(Style::Text::body, QFont::DemiBold);
    const QFont body = Style::font(Style::Text::body);
    const QString hint = QStringLiteral("Open a Short idea, ask AI for one, or mark lines in a transcript and press A.");
    const QRectF inside = box.adjusted(12, 4, -12, -4);
    const QRectF hintBox = QFontMetricsF(body).boundingRect(inside, Qt::AlignHCenter | Qt::TextWordWrap, hint);
    const double headingHeight = QFontMetricsF(heading).height();
    const double top = box.center().y() - (headingHeight + 4 + hintBox.height()) / 2;
    p.setFont(heading);
    p.setPen(Style::primary(pal));
    p.drawText(QRectF(inside.left(), top, inside.width(), headingHeight), Qt::AlignCenter, QStringLiteral("No cuts yet"));
    p.setFont(body);
    p.setPen(Style::secondary(pal));
    p.drawText(QRectF(inside.left(), top + headingHeight + 4, inside.width(), hintBox.height()),
               Qt::AlignHCenter | Qt::TextWordWrap, hint);
}

TimelineView::TimelineView(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , model(model)
    , later(this, [this] { refresh(); })
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    header = new TimelineHeader(model, this);
    header->rename = [this](const QUuid& id) { startRename(id); };
    column->addWidget(header);

    area = new QWidget(this);
    auto* inside = new QVBoxLayout(area);
    inside->setContentsMargins(14, 0, 14, 8);
    inside->setSpacing(0);
    empty = new EmptyTrack(area);
    scroll = new QScrollArea(area);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // A thin bar that fits in the room left under the blocks.
    scroll->horizontalScrollBar()->setStyleSheet(
        QStringLiteral("QScrollBar:horizontal { height: 8px; background: transparent; margin: 0; border: none; }"
                       "QScrollBar::handle:horizontal { background: %1; border-radius: 3px; min-width: 24px;"
                       " margin: 1px 0; }"
                       "QScrollBar::add-line, QScrollBar::sub-line { width: 0; height: 0; border: none; }"
                       "QScrollBar::add-page, QScrollBar::sub-page { background: none; }")
            .arg(Style::css(Style::tertiary(palette()))));
    scroll->setWidgetResizable(false);
    scroll->viewport()->setAutoFillBackground(false);
    track = new TimelineTrack(model, scroll->viewport());
    scroll->setWidget(track);
    inside->addWidget(empty);
    inside->addWidget(scroll);
    column->addWidget(area);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

    for (QObject* watched : {static_cast<QObject*>(area), static_cast<QObject*>(scroll->viewport()),
                             static_cast<QObject*>(track)})
        watched->installEventFilter(this);
    track->setAttribute(Qt::WA_AcceptTouchEvents);

    connect(&model, &AppModel::projectChanged, this, [this] { later.ask(); });
    connect(&model, &AppModel::activeShortChanged, this, [this] { later.ask(); });
    connect(&model, &AppModel::modeChanged, this, [this] { later.ask(); });
    connect(&model, &AppModel::selectedCutChanged, track, qOverload<>(&QWidget::update));
    connect(&model.clock(), &Clock::timeChanged, this, &TimelineView::tick);
    connect(&Prefs::shared(), &Prefs::changed, this, [this](const QString& key) {
        static const QStringList shown = {QStringLiteral("timelineZoom"), QStringLiteral("clipNames"),
                                          QStringLiteral("clipFilmstrip"), QStringLiteral("clipWaveform"),
                                          QStringLiteral("clipFilmstripHeight"), QStringLiteral("clipWaveformHeight")};
        if (shown.contains(key))
            later.ask();
    });
    half = long(std::trunc(model.clock().time() * 2));
    refresh();
}

void TimelineView::refresh()
{
    header->refresh();
    const ClipLook clipLook = look(Prefs::shared());
    const int H = int(trackHeight(clipLook));
    area->setFixedHeight(H + 8);
    setFixedHeight(header->height() + H + 8);
    const bool none = model.cuts().empty();
    empty->setVisible(none);
    scroll->setVisible(!none);
    layOut();
    // Another Short opens at its start, where its playhead is, not where the last one was.
    if (model.activeShort() != shownShort) {
        shownShort = model.activeShort();
        if (slide)
            slide->stop();
        scroll->horizontalScrollBar()->setValue(0);
    }
}

void TimelineView::layOut()
{
    // Until it is shown the area has no width of its own: the scale stays 0 and the track
    // takes no pointer input.
    const double width = isVisible() ? area->width() - 28 : 0;
    track->layOut(width, storedZoom(Prefs::shared()), look(Prefs::shared()));
}

void TimelineView::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    layOut();
}

void TimelineView::showEvent(QShowEvent* e)
{
    QWidget::showEvent(e);
    layOut();
}

void TimelineView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), Style::secondaryBackground(palette()));
}

void TimelineView::tick()
{
    track->follow();
    const long now = long(std::trunc(model.clock().time() * 2));
    if (now == half)
        return;
    half = now;
    if (storedZoom(Prefs::shared()) > 1 && model.clock().playing() && model.mode() == Mode::shortClip)
        reveal();
}

void TimelineView::reveal()
{
    const std::optional<double> x = track->playheadX();
    if (!x)
        return;
    QScrollBar* bar = scroll->horizontalScrollBar();
    // The playhead moves on while the track slides, and the follower looks again only at
    // the next half second: the view takes in where it will be by then, so that it never
    // runs past the edge.
    const std::optional<double> to = followScroll(bar->value(), scroll->viewport()->width(), *x,
                                                  *x + followAhead * track->scale(), bar->maximum());
    if (!to)
        return;
    const int target = std::clamp(int(std::ceil(*to)), bar->minimum(), bar->maximum());
    if (target == bar->value())
        return;
    if (slide)
        slide->stop();
    slide = new QPropertyAnimation(bar, "value", bar);
    slide->setDuration(300);
    slide->setEasingCurve(QEasingCurve::Linear);
    slide->setEndValue(target);
    slide->start(QAbstractAnimation::DeleteWhenStopped);
}

bool TimelineView::wheel(QWheelEvent* e)
{
    if (model.cuts().empty())
        return false;
    if (e->modifiers() & Qt::ControlModifier) {
        // Pinching needs a touchpad under Wayland; Ctrl and the wheel zoom everywhere.
        const double degrees = e->angleDelta().y() / 8.0;
        if (degrees != 0)
            Prefs::shared().set(QStringLiteral("timelineZoom"), wheelZoom(storedZoom(Prefs::shared()), degrees));
        return true;
    }
    const QPoint angle = e->angleDelta();
    const QPoint pixels = e->pixelDelta();
    if (!(std::abs(angle.x()) < std::abs(angle.y())))
        return false;
    // The track only scrolls sideways: a vertical turn becomes a horizontal one.
    QWheelEvent sideways(e->position(), e->globalPosition(), QPoint(pixels.y(), 0), QPoint(angle.y(), 0), e->buttons(),
                         e->modifiers(), e->phase(), e->inverted(), e->source());
    QCoreApplication::sendEvent(scroll->horizontalScrollBar(), &sideways);
    return true;
}

bool TimelineView::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Wheel)
        return wheel(static_cast<QWheelEvent*>(event));
    if (event->type() == QEvent::NativeGesture && watched != area && !model.cuts().empty()) {
        auto* gesture = static_cast<QNativeGestureEvent*>(event);
        switch (gesture->gestureType()) {
        case Qt::BeginNativeGesture:
            pinchFrom = storedZoom(Prefs::shared());
            magnification = 1;
            return true;
        case Qt::ZoomNativeGesture:
            if (!pinchFrom) {
                pinchFrom = storedZoom(Prefs::shared());
                magnification = 1;
            }
            magnification *= 1 + gesture->value();
            Prefs::shared().set(QStringLiteral("timelineZoom"), pinchZoom(*pinchFrom, magnification));
            return true;
        case Qt::EndNativeGesture:
            pinchFrom.reset();
            return true;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TimelineView::startRename(const QUuid& id)
{
    model.activate(id);
    QString title;
    for (const Short& s : model.project().shorts)
        if (s.id == id)
            title = s.title;
    if (alert)
        alert->reject();
    // The Short whose tab was used, not whichever is active when the user answers: an Ask
    // AI request that ends meanwhile makes its own Short the active one.
    AppModel* m = &model;
    alert = openRenameShort(this, title, [m, id](const QString& name) { m->rename(id, name); });
}
