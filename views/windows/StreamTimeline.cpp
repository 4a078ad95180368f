#include "views/windows/StreamTimeline.h"

#include "model/lifecycle/AppModel.h"
#include "platform/Prefs.h"
#include "views/kit/FilmGrid.h"
#include "views/kit/Paint.h"
#include "views/kit/Scrub.h"
#include "views/kit/Style.h"
#include "views/kit/Wave.h"

#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScopeGuard>
#include <algorithm>
#include <cmath>

using namespace stream;

namespace {

// A handle's tab: square on the selection's side, rounded on the outer one.
QPainterPath tab(const QRectF& r, bool left)
{
    const qreal radius = 4;
    QPainterPath path;
    path.addRoundedRect(r, radius, radius);
    QPainterPath square;
    square.addRect(left ? r.adjusted(r.width() / 2, 0, 0, 0) : r.adjusted(0, 0, -r.width() / 2, 0));
    return path.united(square);
}

QRectF handleRect(double x, Edge edge)
{
    return QRectF(edge == Edge::start ? x - 8 : x, rulerHeight, 8, stripHeight + waveHeight);
}

} // namespace

StreamTimeline::StreamTimeline(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , model(model)
    , browser(model.browser())
    , loader(new FilmLoader(model.frames(), this))
    , later(this, [this] {
        request();
        redraw();
    })
{
    setFixedHeight(int(timelineHeight));
    setMouseTracking(true);
    setAttribute(Qt::WA_AcceptTouchEvents, false);
    const auto again = [this] { later.ask(); };
    for (auto signal : {&StreamBrowser::rangeChanged, &StreamBrowser::viewStartChanged, &StreamBrowser::viewSpanChanged,
                        &StreamBrowser::durationChanged})
        connect(&browser, signal, this, again);
    connect(&model, &AppModel::projectChanged, this, again);
    connect(&model.waves(), &Waves::peaksChanged, this, again);
    connect(&model.frames(), &Frames::imagesChanged, this, again);
    connect(&model.frames(), &Frames::aspectChanged, this, again);
    connect(&browser, &StreamBrowser::timeChanged, this, &StreamTimeline::movePlayhead);
}

Map StreamTimeline::map() const
{
    return {browser.viewStart(), browser.viewSpan(), browser.duration(), double(width())};
}

void StreamTimeline::redraw()
{
    stale = true;
    playhead = playheadAt();
    update();
}

void StreamTimeline::request()
{
    const double start = browser.viewStart();
    const double span = browser.viewSpan();
    loader->want(filmGridLayout(start, start + span, width(), stripHeight, model.frames().aspect()).seconds());
    // The chunks are asked for again whenever the visible minutes change or the waves
    // forgot what they had (another recording, a freed cache), and only for views of half
    // an hour or less: a wider view shows what is already loaded.
    auto wanted = std::pair(model.waves().generation(), visibleMinutes(start, span, browser.duration()));
    if (span > wavesUpTo || asked == wanted)
        return;
    model.waves().load(wanted.second);
    asked = std::move(wanted);
}

double StreamTimeline::playheadAt() const
{
    // Off the band it is clipped away anyway; kept near it, it stays a column to repaint.
    const Map m = map();
    return m.valid() ? std::clamp(m.x(browser.time()), -10.0, m.width + 10) : -10;
}

void StreamTimeline::movePlayhead()
{
    moveColumn(*this, playhead, playheadAt());
}

void StreamTimeline::paintBand(QPainter& p, const QSizeF& size) const
{
    const Map m{browser.viewStart(), browser.viewSpan(), browser.duration(), size.width()};
    const QPalette& pal = palette();
    const QRectF all(QPointF(0, 0), size);
    p.setRenderHint(QPainter::Antialiasing);
    p.setClipRect(all);
    // The rounded corners are cut out once at the end: clipping every fill to a rounded
    // path would cost more than all the drawing.
    const auto corners = qScopeGuard([&] {
        QPainterPath outside;
        outside.addRect(all);
        outside.addPath(rounded(all, 7));
        outside.setFillRule(Qt::OddEvenFill);
        p.setClipping(false);
        p.setCompositionMode(QPainter::CompositionMode_Clear);
        p.fillPath(outside, Qt::black);
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    });
    p.fillRect(all, Style::faded(Style::quaternary(pal), 0.5));
    if (!m.valid())
        return;
    const double W = size.width();
    const double viewEnd = m.start + m.span;
    const QRectF wave(0, rulerHeight + stripHeight, W, waveHeight);
    const Project& project = model.project();

    drawFilmGrid(p, QRectF(0, rulerHeight, W, stripHeight), m.start, viewEnd, model.frames(), Style::primary(pal));

    // Segment blocks, at least a pixel wide so that a short one in a long view still shows.
    // Where segments overlap, the stretch they cover is tinted once.
    std::vector<const Segment*> shown;
    std::vector<std::pair<double, double>> spans;
    for (const Segment& s : project.segments) {
        if (!(m.start < s.end && s.start < viewEnd))
            continue;
        shown.push_back(&s);
        const double x = m.x(s.start);
        spans.emplace_back(x, x + std::max(W * (s.end - s.start) / m.span, 1.0));
    }
    std::sort(spans.begin(), spans.end());
    const QColor tint = Style::faded(Style::accent(pal), 0.2);
    for (size_t i = 0; i < spans.size();) {
        double right = spans[i].second;
        size_t j = i + 1;
        for (; j < spans.size() && spans[j].first <= right; ++j)
            right = std::max(right, spans[j].second);
        p.fillRect(QRectF(spans[i].first, wave.top(), right - spans[i].first, wave.height()), tint);
        i = j;
    }

    // Waveform, one visible minute at a time from its own chunk, filled together.
    const QMap<int, QByteArray>& peaks = model.waves().peaks();
    std::vector<QRectF> bars;
    for (int minute : visibleMinutes(m.start, m.span, m.duration)) {
        const auto chunk = peaks.constFind(minute);
        if (chunk == peaks.constEnd())
            continue;
        const double from = std::max(m.start, 60.0 * minute);
        const double to = std::min(60.0 * (minute + 1), viewEnd);
        const std::vector<QRectF> more = waveBars(*chunk, from - 60.0 * minute, to - 60.0 * minute,
                                                  QRectF(m.x(from), wave.top() + 3, W * (to - from) / m.span, wave.height() - 6));
        bars.insert(bars.end(), more.begin(), more.end());
    }
    drawWaveBars(p, bars, Style::primary(pal));

    // Ids and marker ticks. In a long view many segments share a few points: an id is
    // left out where it would run into the one before, and a tick where one already stands.
    const QFont idFont = Style::digits(Style::font(Style::Text::caption, QFont::DemiBold));
    p.setFont(idFont);
    p.setPen(Style::secondary(pal));
    const QFontMetricsF idMetrics(idFont);
    double free = -1e9;
    QPainterPath ticks;
    double lastTick = -1e9;
    for (const Segment* s : shown) {
        const double x = std::max(m.x(s->start), 0.0) + 4;
        if (x >= free) {
            p.drawText(QPointF(x, wave.top() + 2 + idMetrics.ascent()), s->id);
            free = x + idMetrics.horizontalAdvance(s->id) + 4;
        }
        for (double marker : s->markers) {
            const double tx = m.x(marker);
            if (std::floor(tx) == std::floor(lastTick))
                continue;
            ticks.addRect(QRectF(tx, wave.top(), 2, wave.height()));
            lastTick = tx;
        }
    }
    p.fillPath(ticks, Style::orange());

    // Ruler.
    const QFont rulerFont = Style::digits(Style::font(Style::Text::caption));
    p.setFont(rulerFont);
    const QFontMetricsF rulerMetrics(rulerFont);
    QPainterPath rulerTicks;
    for (double t : stream::rulerTicks(m)) {
        const double x = m.x(t);
        rulerTicks.addRect(QRectF(x, 0, 0.5, rulerHeight - 4));
        p.drawText(QPointF(x + 3, rulerMetrics.ascent()), tickLabel(t));
    }
    p.fillPath(rulerTicks, Style::faded(Style::secondary(pal), 0.6));

    // Selection and its handles.
    if (const auto& range = browser.range()) {
        const double lo = m.x(range->lower);
        const double hi = m.x(range->upper);
        const QRectF r(lo, rulerHeight, W * (range->upper - range->lower) / m.span, size.height() - rulerHeight);
        p.fillRect(r, Style::faded(Style::yellow(), 0.22));
        p.setPen(QPen(Style::yellow(), 2));
        p.setBrush(Qt::NoBrush);
        p.drawRect(r.adjusted(0, 1, 0, -1));
        for (const Edge edge : {Edge::start, Edge::end}) {
            const QRectF h = handleRect(edge == Edge::start ? lo : hi, edge);
            p.fillPath(tab(h, edge == Edge::start), Style::yellow());
            const QRectF grip(h.center().x() - 1, h.center().y() - 8, 2, 16);
            p.fillPath(rounded(grip, 1), QColor(0, 0, 0, int(255 * 0.45)));
        }
    }
}

void StreamTimeline::paintEvent(QPaintEvent*)
{
    const qreal dpr = devicePixelRatioF();
    if (stale || canvas.size() != (QSizeF(size()) * dpr).toSize()) {
        canvas = QPixmap((QSizeF(size()) * dpr).toSize());
        canvas.setDevicePixelRatio(dpr);
        canvas.fill(Qt::transparent);
        if (!size().isEmpty()) {
            QPainter p(&canvas);
            paintBand(p, QSizeF(size()));
        }
        stale = false;
    }
    QPainter p(this);
    p.drawPixmap(0, 0, canvas);
    p.setClipPath(rounded(QRectF(rect()), 7));
    p.fillRect(QRectF(playhead - 0.75, 0, 1.5, height()), Style::red());
}

void StreamTimeline::resizeEvent(QResizeEvent*)
{
    browser.viewWidth = width();
    request();
    redraw();
}

StreamTimeline::Drag StreamTimeline::hit(const QPointF& at) const
{
    // The handles lie over everything, then the ruler, then the selection area.
    if (const auto& range = browser.range()) {
        const Map m = map();
        if (m.valid()) {
            if (handleRect(m.x(range->lower), Edge::start).contains(at))
                return Drag::startEdge;
            if (handleRect(m.x(range->upper), Edge::end).contains(at))
                return Drag::endEdge;
        }
    }
    return at.y() < rulerHeight ? Drag::scrub : Drag::select;
}

double StreamTimeline::snap(double t, double pps, Qt::KeyboardModifiers modifiers) const
{
    // Many window managers keep Alt with a drag for themselves: Shift frees a drag as well.
    return snapped(model.project(), t, pps, Prefs::shared().snapToSpeech(),
                   bool(modifiers & (Qt::AltModifier | Qt::ShiftModifier)));
}

void StreamTimeline::change(double x, Qt::KeyboardModifiers modifiers)
{
    const Map m = map();
    switch (drag) {
    case Drag::none:
        return;
    case Drag::scrub: {
        const auto t = m.t(x);
        if (!t)
            return;
        Scrub::begin(Scrub::of(browser));
        browser.seek(*t);
        return;
    }
    case Drag::select: {
        const auto step = selectionChange(anchor, pressX, x, m, [&](double t) { return snap(t, m.pps(), modifiers); });
        if (step.ignored)
            return;
        if (step.began) {
            anchor = step.anchor;
            browser.dragging = true;
            browser.player().pause();
        }
        if (const auto to = follow(x, m.width, m.start, m.span))
            browser.scroll(*to);
        browser.setRange(step.range);
        browser.seek(step.seek);
        return;
    }
    case Drag::startEdge:
    case Drag::endEdge: {
        const Edge edge = drag == Drag::startEdge ? Edge::start : Edge::end;
        const auto t = m.t(x);
        if (!browser.range() || !t)
            return;
        browser.dragging = true;
        browser.player().pause();
        if (const auto to = follow(x, browser.viewWidth, m.start, m.span))
            browser.scroll(*to);
        const double pps = browser.viewWidth > 0 ? browser.viewWidth / m.span : 0;
        const auto moved = moveEdge(edge, browser.range(), snap(*t, pps, modifiers));
        browser.setRange(moved->range);
        browser.seek(moved->seek);
        return;
    }
    }
}

void StreamTimeline::finish(double x)
{
    switch (drag) {
    case Drag::none:
        return;
    case Drag::scrub:
        Scrub::end(Scrub::of(browser));
        break;
    case Drag::select:
        if (const auto t = selectionEnd(anchor, x, map()))
            browser.seek(*t);
        anchor.reset();
        browser.dragging = false;
        break;
    case Drag::startEdge:
    case Drag::endEdge:
        browser.dragging = false;
        break;
    }
    drag = Drag::none;
}

void StreamTimeline::mousePressEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton || drag != Drag::none)
        return;
    drag = hit(e->position());
    pressX = e->position().x();
    change(pressX, e->modifiers());
}

void StreamTimeline::mouseMoveEvent(QMouseEvent* e)
{
    if (drag != Drag::none)
        change(e->position().x(), e->modifiers());
    else
        pointer(e->position());
}

void StreamTimeline::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton)
        return;
    finish(e->position().x());
    pointer(e->position());
}

void StreamTimeline::pointer(const QPointF& at)
{
    switch (hit(at)) {
    case Drag::scrub:
        setCursor(Qt::OpenHandCursor);
        break;
    case Drag::startEdge:
    case Drag::endEdge:
        setCursor(Qt::SplitHCursor);
        break;
    default:
        unsetCursor();
    }
}

void StreamTimeline::hideEvent(QHideEvent* e)
{
    QWidget::hideEvent(e);
    // A window closed in the middle of a drag never sees its release: the drag is dropped
    // without playing again, so that the window opens again at rest.
    if (e->spontaneous() || drag == Drag::none)
        return;
    drag = Drag::none;
    anchor.reset();
    Scrub::drop(Scrub::of(browser));
}

void StreamTimeline::enterEvent(QEnterEvent* e)
{
    hovered = true;
    pointer(e->position());
}

void StreamTimeline::leaveEvent(QEvent*)
{
    hovered = false;
}

bool StreamTimeline::event(QEvent* e)
{
    if (e->type() != QEvent::NativeGesture)
        return QWidget::event(e);
    const auto* g = static_cast<QNativeGestureEvent*>(e);
    switch (g->gestureType()) {
    case Qt::BeginNativeGesture:
        break;
    case Qt::ZoomNativeGesture:
        if (!pinchFrom) {
            pinchFrom = browser.viewSpan();
            magnification = 1;
        }
        // Each event brings the change of scale since the one before.
        magnification *= 1 + g->value();
        browser.zoom(pinchSpan(*pinchFrom, magnification), browser.time());
        break;
    case Qt::EndNativeGesture:
        pinchFrom.reset();
        break;
    default:
        return QWidget::event(e);
    }
    e->accept();
    return true;
}
