#include "views/editor/TimelineTrack.h"

#include "model/lifecycle/AppModel.h"
#include "platform/Prefs.h"
#include "views/kit/FilmGrid.h"
#include "views/kit/Paint.h"
#include "views/kit/Scrub.h"
#include "views/kit/Style.h"
#include "views/kit/Wave.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

using namespace timeline;

namespace {

// A reorder begins once the pointer has travelled this far; a shorter press is a click.
constexpr double reorderAfter = 5;
constexpr double playheadWidth = 9;

QPainterPath capsule(const QRectF& r) { return rounded(r, std::min(r.width(), r.height()) / 2); }

int indexOf(const std::vector<Cut>& cuts, const QUuid& id)
{
    const auto at = std::find_if(cuts.begin(), cuts.end(), [&id](const Cut& c) { return c.id == id; });
    return at == cuts.end() ? -1 : int(at - cuts.begin());
}

} // namespace

TimelineTrack::TimelineTrack(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , model(model)
    , loader(new FilmLoader(model.frames(), this))
{
    setMouseTracking(true);
    connect(&model.frames(), &Frames::imagesChanged, this, qOverload<>(&QWidget::update));
    connect(&model.frames(), &Frames::aspectChanged, this, qOverload<>(&QWidget::update));
}

bool TimelineTrack::layOut(double width, double zoom, const ClipLook& clipLook)
{
    cuts_ = model.cuts();
    look = clipLook;
    laidWidth = width;
    laidZoom = zoom;
    if (gesture == Gesture::press || gesture == Gesture::reorder || gesture == Gesture::trim) {
        // The list changed under the drag (an undo, another tab, a closed project): it
        // follows its cut, or ends when the cut is gone.
        pressed = indexOf(cuts_, pressedCut);
        if (pressed < 0)
            cancel();
    }
    const double total = shortLength(model.project(), model.activeShort());
    const double before = scale_;
    scale_ = timelineScale(width, total, zoom, frozen);
    spans = blockSpans(cuts_, usableScale(scale_) ? scale_ : 0);
    ticks = rulerTicks(total, scale_);
    // Blocks are at least 4 points wide, so many short cuts may reach past the Short's
    // length at this scale: the track scrolls to the last of them.
    const double blocksEnd = spans.empty() ? 0 : spans.back().x + spans.back().width;
    const double content = usableScale(scale_) ? std::max({width, total * scale_, blocksEnd}) : width;
    // Fitted to the width, the product may land a hair above it: no scroll bar for that.
    setFixedSize(int(std::ceil(std::max(content - 1e-6, 0.0))), int(trackHeight(look)));
    // Every second the blocks' strips show, asked for once the list changes.
    std::vector<int> seconds;
    if (look.filmstrip > 0) {
        for (size_t i = 0; i < cuts_.size(); ++i) {
            const FilmGridLayout grid = filmGridLayout(cuts_[i].start, cuts_[i].end, spans[i].width, look.filmstrip,
                                                       model.frames().aspect());
            const std::vector<int> more = grid.seconds();
            seconds.insert(seconds.end(), more.begin(), more.end());
        }
    }
    loader->want(std::move(seconds));
    shownAt = playheadX().value_or(-100);
    update();
    return before != scale_;
}

std::optional<double> TimelineTrack::playheadTime() const
{
    std::optional<double> shortTime;
    if (model.mode() != Mode::shortClip)
        shortTime = model.shortTime(model.clock().time());
    return timeline::playheadTime(model.mode(), model.clock().time(), shortTime);
}

std::optional<double> TimelineTrack::playheadX() const
{
    const std::optional<double> t = playheadTime();
    if (!t || !usableScale(scale_) || cuts_.empty())
        return std::nullopt;
    const double x = *t * scale_;
    if (!std::isfinite(x))
        return std::nullopt;
    return std::clamp(x, -100.0, width() + 100.0);
}

void TimelineTrack::follow()
{
    moveColumn(*this, shownAt, playheadX().value_or(-100), playheadWidth);
}

// ---- painting ----

void TimelineTrack::paintEvent(QPaintEvent* e)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    paintRuler(p, e->rect());
    const double left = e->rect().left() - 1;
    const double right = e->rect().right() + 1;
    int moving = -1;
    for (size_t i = 0; i < cuts_.size(); ++i) {
        if (movingID && cuts_[i].id == *movingID) {
            moving = int(i);
            continue;
        }
        if (spans[i].x + spans[i].width >= left && spans[i].x <= right)
            paintBlock(p, int(i), spans[i]);
    }
    if (moving >= 0) {
        // The moved block follows the pointer above the others, the marker shows where it lands.
        p.save();
        p.setOpacity(0.8);
        BlockPlace shifted = spans[size_t(moving)];
        shifted.x += movingBy;
        paintBlock(p, moving, shifted);
        p.restore();
        const double h = blockHeight(look);
        p.fillPath(capsule(QRectF(insertionX(cuts_, movingTo, scale_), rulerHeight, 3, h)), Style::accent(palette()));
    }
    paintPlayhead(p);
}

void TimelineTrack::paintRuler(QPainter& p, const QRect& exposed)
{
    if (exposed.top() > rulerHeight)
        return;
    const QPalette& pal = palette();
    const QFont font = Style::digits(Style::font(Style::Text::caption));
    p.setFont(font);
    const QFontMetricsF metrics(font);
    const double labelHeight = metrics.height();
    p.setPen(Style::tertiary(pal));
    for (const Tick& tick : ticks) {
        if (tick.x < exposed.left() - 60 || tick.x > exposed.right() + 1)
            continue;
        p.fillRect(QRectF(tick.x, 0, 0.5, labelHeight), Style::quaternary(pal));
        // A label the track's end would cut ("1" of "15s") would read as another time.
        if (tick.x + 3 + metrics.horizontalAdvance(tick.label) > width())
            continue;
        p.drawText(QRectF(tick.x + 3, 0, 60, labelHeight), Qt::AlignLeft | Qt::AlignVCenter, tick.label);
    }
}

void TimelineTrack::paintBlock(QPainter& p, int index, const BlockPlace& span)
{
    const Cut& cut = cuts_[size_t(index)];
    const Segment* segment = model.project().segment(cut.start + 0.01);
    const bool selected = model.selectedCut() == cut.id;
    const QPalette& pal = palette();
    const QColor accent = Style::accent(pal);
    const double h = blockHeight(look);
    const bool bare = allRowsOff(look);
    const QRectF box(span.x, rulerHeight, span.width, h);
    const double radius = bare ? 5 : 8;
    const QPainterPath outline = rounded(box, radius);

    p.save();
    p.setClipPath(outline);
    p.fillRect(box, Style::faded(accent, 0.18));
    double y = box.top();
    if (look.names) {
        const QRectF row(box.left() + 12, y, box.width() - 24, 22);
        const QFont detailFont = Style::digits(Style::font(Style::Text::caption));
        const QString detail = blockDetail(cut, span.width);
        const double detailWidth = std::min(QFontMetricsF(detailFont).horizontalAdvance(detail), row.width());
        p.setFont(detailFont);
        p.setPen(Style::secondary(pal));
        p.drawText(QRectF(row.right() - detailWidth, y, detailWidth, 22), Qt::AlignRight | Qt::AlignVCenter,
                   QFontMetricsF(detailFont).elidedText(detail, Qt::ElideRight, detailWidth + 0.5));
        const QFont nameFont = Style::font(Style::Text::callout, QFont::Medium);
        const double nameWidth = std::max(row.width() - detailWidth - 6, 0.0);
        p.setFont(nameFont);
        p.setPen(Style::primary(pal));
        p.drawText(QRectF(row.left(), y, nameWidth, 22), Qt::AlignLeft | Qt::AlignVCenter,
                   QFontMetricsF(nameFont).elidedText(blockName(segment, cut), Qt::ElideRight, nameWidth));
        y += 22;
    }
    if (look.filmstrip > 0) {
        drawFilmGrid(p, QRectF(box.left(), y, box.width(), look.filmstrip), cut.start, cut.end, model.frames(),
                     Style::primary(pal));
        y += look.filmstrip;
    }
    if (look.waveform > 0) {
        if (segment)
            drawWave(p, segment->peaks, cut.start - segment->start, cut.end - segment->start,
                     QRectF(box.left(), y + 2, box.width(), look.waveform - 4), Style::primary(pal));
        y += look.waveform;
    }
    if (showsBadge(look, span.width)) {
        const QFont font = Style::digits(Style::font(Style::Text::caption, QFont::DemiBold));
        const QFontMetricsF metrics(font);
        const QString text = badge(segment);
        const QSizeF size(metrics.horizontalAdvance(text) + 10, metrics.height() + 2);
        const double top = bare ? box.center().y() - size.height() / 2 : box.top() + 4;
        const QRectF pill(QPointF(box.left() + 12, top), size);
        p.fillPath(capsule(pill), QColor(0, 0, 0, 140));
        p.setFont(font);
        p.setPen(Qt::white);
        p.drawText(pill, Qt::AlignCenter, text);
    }
    p.restore();

    // The border lies inside the edge.
    const double line = selected ? 2 : 1;
    const QRectF inner = box.adjusted(line / 2, line / 2, -line / 2, -line / 2);
    p.strokePath(rounded(inner, radius - line / 2), QPen(selected ? accent : Style::secondaryBackground(pal), line));

    // The trim handles, centred in the 12-point strips inside either edge.
    const double handle = handleHeight(h, selected);
    for (double centre : {box.left() + handleWidth / 2, box.right() - handleWidth / 2}) {
        const QRectF bar(centre - 1.5, box.center().y() - handle / 2, 3, handle);
        p.fillPath(capsule(bar.adjusted(-1, -1, 1, 1)), QColor(0, 0, 0, 84));
        p.fillPath(capsule(bar), selected ? accent : QColor(255, 255, 255, 178));
    }
}

void TimelineTrack::paintPlayhead(QPainter& p)
{
    const std::optional<double> x = playheadX();
    if (!x)
        return;
    const bool shortMode = model.mode() == Mode::shortClip;
    const QColor colour = shortMode ? Style::red() : Style::faded(Style::orange(), 0.6);
    QPainterPath head;
    head.moveTo(*x - 4.5, 0);
    head.lineTo(*x + 4.5, 0);
    head.lineTo(*x, 8);
    head.closeSubpath();
    head.addRect(QRectF(*x - 0.75, 7, 1.5, height() - 7));
    head.setFillRule(Qt::WindingFill);
    p.fillPath(head, colour);
}

// ---- the pointer ----

bool TimelineTrack::onPlayhead(const QPointF& at) const
{
    // Outside Short mode the head is only a marker.
    const std::optional<double> head = playheadX();
    return model.mode() == Mode::shortClip && head && std::abs(at.x() - *head) <= playheadWidth / 2;
}

void TimelineTrack::scrubTo(double x)
{
    Scrub::begin(model);
    model.scrubShort(x / scale_);
}

void TimelineTrack::hideEvent(QHideEvent* e)
{
    QWidget::hideEvent(e);
    cancel();
}

void TimelineTrack::cancel()
{
    const Gesture ended = gesture;
    gesture = Gesture::none;
    switch (ended) {
    case Gesture::none:
    case Gesture::press:
        return;
    case Gesture::scrub:
        Scrub::end(model);
        return;
    case Gesture::reorder:
        movingID.reset();
        update();
        return;
    case Gesture::trim:
        if (origin) {
            origin.reset();
            frozen.reset();
            model.endTrim(pressedCut, trimEnd ? Edge::end : Edge::start);
        }
        return;
    }
}

void TimelineTrack::mousePressEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton)
        return;
    // A drag whose release never came (the window lost the pointer) ends here.
    cancel();
    // Before the first layout there is no scale to turn points into seconds.
    if (!usableScale(scale_) || cuts_.empty())
        return;
    const QPointF at = e->position();
    pressAt = at;
    if (onPlayhead(at) || at.y() < rulerHeight) {
        gesture = Gesture::scrub;
        scrubTo(at.x());
        return;
    }
    if (at.y() > rulerHeight + blockHeight(look))
        return;
    const Hit hit = blockHit(spans, at.x());
    if (hit.part == Part::none)
        return;
    pressed = hit.index;
    pressedCut = cuts_[size_t(hit.index)].id;
    gesture = hit.part == Part::body ? Gesture::press : Gesture::trim;
    trimEnd = hit.part == Part::end;
}

void TimelineTrack::mouseMoveEvent(QMouseEvent* e)
{
    const QPointF at = e->position();
    if (gesture == Gesture::none) {
        // Over the track with no button down: the pointer tells what a press would do.
        Qt::CursorShape shape = Qt::ArrowCursor;
        if (!cuts_.empty() && usableScale(scale_)) {
            if (at.y() < rulerHeight || onPlayhead(at))
                shape = Qt::OpenHandCursor;
            else if (at.y() <= rulerHeight + blockHeight(look)) {
                const Part part = blockHit(spans, at.x()).part;
                if (part == Part::start || part == Part::end)
                    shape = Qt::SplitHCursor;
            }
        }
        setCursor(shape);
        return;
    }
    if (!(e->buttons() & Qt::LeftButton)) {
        // The button went up where this widget could not see it: that was the release.
        finish();
        return;
    }
    pointTo(at);
    if (gesture == Gesture::trim)
        model.trim(pressedCut, trimEnd ? Edge::end : Edge::start, *origin + (at.x() - pressAt.x()) / *frozen,
                   snapWithin(*frozen, Prefs::shared().snapToSpeech(),
                              e->modifiers() & (Qt::AltModifier | Qt::ShiftModifier)));
}

// The state changes of a drag's move; the trim call itself needs the event's modifiers.
void TimelineTrack::pointTo(const QPointF& at)
{
    switch (gesture) {
    case Gesture::none:
        return;
    case Gesture::scrub:
        scrubTo(at.x());
        return;
    case Gesture::press: {
        const QPointF moved = at - pressAt;
        if (std::hypot(moved.x(), moved.y()) < reorderAfter)
            return;
        gesture = Gesture::reorder;
        [[fallthrough]];
    }
    case Gesture::reorder:
        movingID = pressedCut;
        movingBy = at.x() - pressAt.x();
        movingTo = dropIndex(cuts_, at.x(), scale_);
        model.setSelectedCut(pressedCut);
        update();
        return;
    case Gesture::trim:
        if (!origin) {
            if (!usableScale(scale_)) {
                gesture = Gesture::none;
                return;
            }
            const Cut& cut = cuts_[size_t(pressed)];
            origin = trimEnd ? cut.end : cut.start;
            frozen = scale_;
            model.setSelectedCut(pressedCut);
        }
        return;
    }
}

void TimelineTrack::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton)
        return;
    finish();
}

void TimelineTrack::finish()
{
    const Gesture ended = gesture;
    if (ended == Gesture::press) {
        // A click: select the cut and play from the clicked moment on.
        gesture = Gesture::none;
        const std::vector<Cut> now = cuts_;
        const double local = pressAt.x() - spans[size_t(pressed)].x;
        model.setSelectedCut(pressedCut);
        Scrub::once(model, [&] { model.scrubShort(clickTime(now, pressed, local, scale_, model.project().duration)); });
        return;
    }
    const bool moving = bool(movingID);
    const bool trimming = bool(origin);
    // A scrub ends, a trim closes its undo step, a move's marker goes away; then the drop.
    cancel();
    if (ended == Gesture::reorder && moving) {
        // Where the cut is now: the list may have changed since the track was laid out.
        const int from = indexOf(model.cuts(), pressedCut);
        if (from >= 0)
            model.moveCut(from, movingTo);
    } else if (ended == Gesture::trim && trimming) {
        // Unfrozen, the track fits the Short at its new length.
        layOut(laidWidth, laidZoom, look);
    }
}
