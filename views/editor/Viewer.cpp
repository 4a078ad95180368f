#include "views/editor/Viewer.h"

#include "model/lifecycle/AppModel.h"
#include "views/kit/Format.h"
#include "views/kit/Paint.h"
#include "views/kit/RoundButton.h"
#include "views/kit/Scrub.h"
#include "views/kit/Style.h"
#include "views/kit/VideoSurface.h"
#include "views/kit/Wave.h"

#include <QButtonGroup>
#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace viewer {

QString caption(const AppModel& model)
{
    if (model.mode() == Mode::shortClip) {
        QString title;
        for (const Short& s : model.project().shorts)
            if (model.activeShort() == s.id) {
                title = s.title;
                break;
            }
        return QStringLiteral("Short · ") + title;
    }
    return QStringLiteral("Segment ") + model.selection().value_or(QString());
}

std::optional<double> stripX(double t, double start, double length, double width)
{
    if (!(length > 0) || !(width > 0) || !std::isfinite(length) || !std::isfinite(width))
        return std::nullopt;
    return width * (t - start) / length;
}

double shortScale(const std::vector<Cut>& cuts)
{
    double total = 0;
    for (const Cut& c : cuts)
        total += c.end - c.start;
    return total > 0.1 ? total : 0.1;
}

std::vector<Piece> shortLayout(const Project& project, const std::vector<Cut>& cuts, double width)
{
    std::vector<Piece> pieces;
    if (!(width > 0))
        return pieces;
    const double scale = shortScale(cuts);
    double a = 0;
    for (const Cut& c : cuts) {
        const double next = a + (c.end - c.start);
        Piece p;
        p.x0 = width * a / scale;
        p.x1 = width * next / scale;
        p.segment = project.segment(c.start + 0.01);
        if (p.segment) {
            p.from = c.start - p.segment->start;
            p.to = c.end - p.segment->start;
        }
        p.join = a > 0;
        pieces.push_back(p);
        a = next;
    }
    return pieces;
}

} // namespace viewer

namespace {

const Segment* segmentWith(const Project& project, const std::optional<QString>& id)
{
    if (!id)
        return nullptr;
    for (const Segment& s : project.segments)
        if (s.id == *id)
            return &s;
    return nullptr;
}

} // namespace

Strip::Strip(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , model(model)
{
    setFixedHeight(38);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void Strip::present(const std::optional<QString>& id)
{
    segment = id;
    paintCanvas();
    playhead = playheadAt();
    update();
}

void Strip::resizeEvent(QResizeEvent*)
{
    paintCanvas();
    playhead = playheadAt();
}

double Strip::playheadAt() const
{
    const double width = this->width();
    double x = -10;
    if (segment) {
        if (const Segment* s = segmentWith(model.project(), segment))
            x = viewer::stripX(model.recordingTime(), s->start, s->end - s->start, width).value_or(-10);
    } else {
        x = width * model.clock().time() / viewer::shortScale(model.cuts());
    }
    // Off the strip it is clipped away anyway; kept near it, it stays a sound pixel column
    // to repaint (a time that is not a number, or far off, would not be).
    return std::isnan(x) ? -10 : std::clamp(x, -10.0, width + 10);
}

void Strip::follow()
{
    moveColumn(*this, playhead, playheadAt());
}

void Strip::paintCanvas()
{
    const qreal dpr = devicePixelRatioF();
    const QSizeF size = this->size();
    canvas = QPixmap((size * dpr).toSize());
    canvas.setDevicePixelRatio(dpr);
    canvas.fill(Qt::transparent);
    if (size.isEmpty())
        return;
    QPainter p(&canvas);
    p.setRenderHint(QPainter::Antialiasing);
    const QPalette& pal = palette();
    const QRectF all(QPointF(0, 0), size);
    p.setClipPath(rounded(all, 7));
    const double W = size.width();
    const double H = size.height();
    const QColor accent = Style::accent(pal);
    if (segment) {
        p.fillPath(rounded(all, 7), Style::faded(Style::quaternary(pal), 0.6));
        const Segment* s = segmentWith(model.project(), segment);
        if (!s)
            return;
        const double start = s->start;
        const double length = s->end - s->start;
        if (!viewer::stripX(start, start, length, W))
            return; // a segment without length has nothing to lay out
        const auto x = [&](double t) { return *viewer::stripX(t, start, length, W); };
        for (const Cut& c : model.cuts())
            if (c.start < s->end && s->start < c.end)
                p.fillRect(QRectF(x(c.start), 0, x(c.end) - x(c.start), H), Style::faded(accent, 0.16));
        if (const auto& r = model.range())
            p.fillRect(QRectF(x(r->lower), 0, x(r->upper) - x(r->lower), H), Style::faded(accent, 0.35));
        drawWave(p, s->peaks, 0, length, QRectF(0, 3, W, H - 6), Style::primary(pal));
        QPainterPath flags;
        for (double m : s->markers) {
            const double mx = x(m);
            flags.addRect(QRectF(mx, 0, 2, H));
            QPolygonF flag;
            flag << QPointF(mx, 0) << QPointF(mx + 8, 4) << QPointF(mx, 8);
            flags.addPolygon(flag);
            flags.closeSubpath();
        }
        flags.setFillRule(Qt::WindingFill);
        p.fillPath(flags, Style::orange());
        return;
    }
    p.fillPath(rounded(all, 7), Style::faded(accent, 0.14));
    QPainterPath joins;
    for (const viewer::Piece& piece : viewer::shortLayout(model.project(), model.cuts(), W)) {
        if (piece.segment)
            drawWave(p, piece.segment->peaks, piece.from, piece.to, QRectF(piece.x0, 3, piece.x1 - piece.x0, H - 6),
                     Style::primary(pal));
        if (piece.join)
            joins.addRect(QRectF(piece.x0 - 0.75, 0, 1.5, H));
    }
    p.fillPath(joins, accent);
}

void Strip::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.drawPixmap(0, 0, canvas);
    p.setClipPath(rounded(QRectF(rect()), 7));
    p.fillRect(QRectF(playhead, 0, 1.5, height()), Style::red());
}

void Strip::scrubTo(double px)
{
    const double W = width();
    if (segment) {
        const Segment* s = segmentWith(model.project(), segment);
        if (!s || !(s->end - s->start > 0))
            return;
        const auto f = Scrub::fraction(px, W);
        if (!f)
            return;
        const double start = s->start;
        const double length = s->end - s->start;
        Scrub::begin(model);
        if (model.mode() == Mode::shortClip)
            model.setMode(Mode::segment);
        model.seek(start + length * *f);
        return;
    }
    const auto f = Scrub::fraction(px, W);
    if (!f)
        return;
    Scrub::begin(model);
    model.seek(viewer::shortScale(model.cuts()) * *f);
}

void Strip::mousePressEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton)
        return;
    dragging = true;
    scrubTo(e->position().x());
}

void Strip::mouseMoveEvent(QMouseEvent* e)
{
    if (dragging)
        scrubTo(e->position().x());
}

void Strip::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton || !dragging)
        return;
    dragging = false;
    Scrub::end(model);
}

void Strip::contextMenuEvent(QContextMenuEvent* e)
{
    if (!segment)
        return;
    const QString id = *segment;
    QMenu menu(this);
    menu.addAction(QStringLiteral("Split at Playhead…"), this, [this] {
        model.player().pause();
        model.setSplitting(true);
    });
    if (model.touchesNext(id))
        menu.addAction(QStringLiteral("Join With the Next Segment"), this, [this, id] { model.joinWithNext(id); });
    menu.exec(e->globalPos());
}

Transport::Transport(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , model(model)
{
    setFixedHeight(30);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    play = new RoundButton(this);
    play->setAutoRaise(true);
    play->setFixedSize(30, 30);
    play->setIconSize(QSize(18, 18));
    play->setToolTip(QStringLiteral("Play or pause (Space)"));
    time = new QLabel(this);
    time->setFont(Style::digits(Style::font(Style::Text::body)));
    of = new QLabel(this);
    Style::setText(of, Style::Text::body, Style::tertiary(palette()));
    of->setFont(Style::digits(Style::font(Style::Text::body)));
    speaker = new QToolButton(this);
    speaker->setAutoRaise(true);
    speaker->setFixedWidth(20);
    speaker->setIconSize(QSize(16, 16));
    volume = new QSlider(Qt::Horizontal, this);
    volume->setRange(0, 1000);
    volume->setFixedWidth(76);
    segmentMode = new QPushButton(QStringLiteral("Segment"), this);
    shortMode = new QPushButton(QStringLiteral("Short"), this);
    auto* modes = new QButtonGroup(this);
    auto* picker = new QWidget(this);
    auto* pickerRow = new QHBoxLayout(picker);
    pickerRow->setContentsMargins(0, 0, 0, 0);
    pickerRow->setSpacing(0);
    for (QPushButton* b : {segmentMode, shortMode}) {
        b->setCheckable(true);
        b->setFocusPolicy(Qt::NoFocus);
        modes->addButton(b);
        pickerRow->addWidget(b, 1);
    }
    picker->setFixedWidth(190);
    // A segmented control: the chosen side filled with the accent.
    const QPalette& pal = palette();
    picker->setStyleSheet(
        QStringLiteral("QPushButton { background: %1; color: %2; border: 1px solid %3; padding: 3px 0; }"
                       "QPushButton:checked { background: %4; color: white; border-color: %4; }"
                       "QPushButton:disabled { color: %5; }"
                       "QPushButton:checked:disabled { background: %6; border-color: %3; color: %2; }")
            .arg(Style::css(Style::faded(Style::primary(pal), 0.08)), Style::css(Style::primary(pal)),
                 Style::css(Style::quaternary(pal)), Style::css(Style::accent(pal)), Style::css(Style::tertiary(pal)),
                 Style::css(Style::quaternary(pal))));
    segmentMode->setStyleSheet(QStringLiteral("QPushButton { border-top-left-radius: 5px; border-bottom-left-radius: 5px; }"));
    shortMode->setStyleSheet(QStringLiteral("QPushButton { border-top-right-radius: 5px; border-bottom-right-radius: 5px; border-left: none; }"));
    row->addWidget(play);
    row->addWidget(time);
    row->addWidget(of);
    row->addStretch(1);
    row->addWidget(speaker);
    row->addWidget(volume);
    row->addSpacing(8 - row->spacing());
    row->addWidget(picker);

    connect(play, &QToolButton::clicked, this, [this] { this->model.togglePlay(); });
    connect(speaker, &QToolButton::clicked, this,
            [this] { this->model.setVolume(this->model.volume() == 0 ? 1.0f : 0.0f); });
    connect(volume, &QSlider::valueChanged, this, [this](int v) { this->model.setVolume(float(v / 1000.0)); });
    connect(segmentMode, &QPushButton::clicked, this, [this] { this->model.setMode(Mode::segment); });
    connect(shortMode, &QPushButton::clicked, this, [this] { this->model.setMode(Mode::shortClip); });
    connect(&model.clock(), &Clock::playingChanged, this, &Transport::refresh);
    connect(&model, &AppModel::volumeChanged, this, &Transport::refresh);
    refresh();
}

void Transport::tick()
{
    const double t = model.clock().time();
    time->setText(model.mode() == Mode::shortClip ? span(t) : clock(t));
}

void Transport::refresh()
{
    const QPalette& pal = palette();
    play->setIcon(Style::symbolIcon(model.clock().playing() ? QStringLiteral("pause.fill") : QStringLiteral("play.fill"),
                                    Style::primary(pal), 18));
    const bool muted = model.volume() == 0;
    speaker->setIcon(Style::symbolIcon(muted ? QStringLiteral("speaker.slash.fill") : QStringLiteral("speaker.wave.2.fill"),
                                       Style::secondary(pal), 16));
    speaker->setToolTip(muted ? QStringLiteral("Turn the sound on") : QStringLiteral("Mute"));
    {
        const QSignalBlocker quiet(volume);
        volume->setValue(int(std::lround(model.volume() * 1000.0)));
    }
    const bool inShort = model.mode() == Mode::shortClip;
    if (inShort) {
        double length = 0;
        for (const Short& s : model.project().shorts)
            if (model.activeShort() == s.id) {
                length = s.duration();
                break;
            }
        of->setText(QStringLiteral("of ") + span(length));
    } else {
        of->setText(QStringLiteral("stream time"));
    }
    (inShort ? shortMode : segmentMode)->setChecked(true);
    const bool enabled = !model.cuts().empty();
    segmentMode->setEnabled(enabled);
    shortMode->setEnabled(enabled);
    tick();
}

ViewerView::ViewerView(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , model(model)
    , later(this, [this] { refresh(); })
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(12, 12, 12, 6);
    column->setSpacing(8);
    picture = new VideoSurface(this);
    picture->radius = 12;
    picture->setMinimumSize(160, 90);
    picture->setPlayer(&model.player());
    picture->overlay = [this](QPainter& p, const QRectF&) {
        const QString text = viewer::caption(this->model);
        const QFont font = Style::font(Style::Text::caption);
        p.setFont(font);
        const QFontMetricsF metrics(font);
        const QRectF capsule(10, 10, metrics.horizontalAdvance(text) + 18, metrics.height() + 6);
        Style::fillMaterial(p, capsule, capsule.height() / 2, palette());
        p.setPen(Style::primary(palette()));
        p.drawText(capsule.adjusted(9, 3, -9, -3), Qt::AlignLeft | Qt::AlignVCenter, text);
    };
    strip = new Strip(model, this);
    transport = new Transport(model, this);
    column->addWidget(picture, 1);
    column->addWidget(strip);
    column->addWidget(transport);

    for (auto signal : {&AppModel::projectChanged, &AppModel::selectionChanged, &AppModel::modeChanged,
                        &AppModel::activeShortChanged, &AppModel::rangeChanged})
        connect(&model, signal, this, [this] { later.ask(); });
    connect(&model.clock(), &Clock::timeChanged, this, [this] {
        strip->follow();
        transport->tick();
    });
    refresh();
}

ViewerView::~ViewerView()
{
    picture->setPlayer(nullptr);
}

void ViewerView::refresh()
{
    if (model.mode() == Mode::shortClip) {
        strip->setVisible(true);
        strip->present(std::nullopt);
    } else if (segmentWith(model.project(), model.selection())) {
        strip->setVisible(true);
        strip->present(model.selection());
    } else {
        strip->setVisible(false);
    }
    transport->refresh();
    picture->update();
}
