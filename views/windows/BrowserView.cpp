#include "views/windows/BrowserView.h"

#include "model/lifecycle/AppModel.h"
#include "platform/Prefs.h"
#include "views/kit/Paint.h"
#include "views/kit/RoundButton.h"
#include "views/kit/Scrub.h"
#include "views/kit/Style.h"
#include "views/kit/Toast.h"
#include "views/kit/VideoSurface.h"
#include "views/windows/StreamRules.h"
#include "views/windows/StreamTimeline.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSlider>
#include <QTextLayout>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <cmath>

using namespace stream;

namespace {

// A wheel notch of a mouse counts as this many points; trackpads give points themselves.
constexpr double notch = 20;
// The notice's capsule stands this far above the picture's bottom edge, clear of the caption.
constexpr int noticeLift = 64;

} // namespace

// ---- OverviewStrip ----

OverviewStrip::OverviewStrip(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , model(model)
    , browser(model.browser())
{
    setFixedHeight(20);
}

void OverviewStrip::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPalette& pal = palette();
    const QRectF all(rect());
    const QPainterPath track = rounded(all, 5);
    p.setClipPath(track);
    p.fillPath(track, Style::quaternary(pal));
    const Overview o = overviewLayout(model.project(), browser.range(), browser.viewStart(), browser.viewSpan(),
                                      browser.time(), width(), browser.duration());
    const double h = height();
    QPainterPath blocks;
    for (const Block& b : o.segments)
        blocks.addRoundedRect(QRectF(b.x, 0, b.width, h), 1.5, 1.5);
    p.fillPath(blocks, Style::secondary(pal));
    if (o.range)
        p.fillRect(QRectF(o.range->x, 0, o.range->width, h), Style::yellow());
    p.setPen(QPen(Style::faded(Style::primary(pal), 0.7), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(o.view.x, 0, o.view.width, h).adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
    p.fillRect(QRectF(o.playhead, 0, 1.5, h), Style::red());
}

void OverviewStrip::scrubTo(double x)
{
    const auto t = overviewTime(x, width(), browser.duration());
    if (!t)
        return;
    Scrub::begin(Scrub::of(browser));
    browser.scroll(*t - browser.viewSpan() / 2);
    browser.seek(*t);
}

void OverviewStrip::mousePressEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton)
        return;
    pressed = true;
    scrubTo(e->position().x());
}

void OverviewStrip::mouseMoveEvent(QMouseEvent* e)
{
    if (pressed)
        scrubTo(e->position().x());
}

void OverviewStrip::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton || !pressed)
        return;
    pressed = false;
    Scrub::end(Scrub::of(browser));
}

void OverviewStrip::hideEvent(QHideEvent* e)
{
    QWidget::hideEvent(e);
    // As the timeline does: a scrub cut short by closing the window ends without playing.
    if (e->spontaneous() || !pressed)
        return;
    pressed = false;
    Scrub::drop(Scrub::of(browser));
}

// ---- BrowserView ----

BrowserView::BrowserView(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , model(model)
    , browser(model.browser())
    , later(this, [this] { refresh(); })
{
    setWindowTitle(QStringLiteral("Stream"));
    setMinimumSize(780, 560);
    const QPalette& pal = palette();
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(14, 14, 14, 14);
    column->setSpacing(10);

    picture = new VideoSurface(this);
    picture->radius = 12;
    picture->setMinimumSize(160, 90);
    picture->setPlayer(&browser.player());
    picture->overlay = [this](QPainter& p, const QRectF&) { paintCaption(p); };
    // The model's passing notice shows over this picture too: what this window's player says
    // (a time past where a recording's data stops) is read where the user looks, not in the
    // main window behind. It goes when the main window clears it.
    notice = new Toast(picture);
    notice->place(noticeLift);
    connect(&model, &AppModel::toastChanged, this, [this] { notice->present(this->model.toast()); });
    timeline = new StreamTimeline(model, this);
    overview = new OverviewStrip(model, this);
    column->addWidget(picture, 1);
    column->addWidget(timeline);
    column->addWidget(overview);

    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    play = new RoundButton(this);
    play->setAutoRaise(true);
    play->setFixedSize(30, 30);
    play->setIconSize(QSize(20, 20));
    play->setFocusPolicy(Qt::NoFocus);
    play->setToolTip(QStringLiteral("Play or pause (Space)"));
    time = new QLabel(this);
    time->setFont(Style::digits(Style::font(Style::Text::body)));
    length = new QLabel(this);
    Style::setText(length, Style::Text::body, Style::tertiary(pal));
    length->setFont(Style::digits(Style::font(Style::Text::body)));
    const auto tool = [this](const QString& symbol, const QString& help, int size) {
        auto* b = new QToolButton(this);
        b->setAutoRaise(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setIcon(Style::symbolIcon(symbol, Style::primary(palette()), size));
        b->setIconSize(QSize(size, size));
        b->setToolTip(help);
        return b;
    };
    zoomOut = tool(QStringLiteral("minus.magnifyingglass"), QStringLiteral("Zoom out"), 16);
    zoomSlider = new QSlider(Qt::Horizontal, this);
    zoomSlider->setRange(0, sliderSteps);
    zoomSlider->setFixedWidth(110);
    zoomSlider->setFocusPolicy(Qt::NoFocus);
    zoomIn = tool(QStringLiteral("plus.magnifyingglass"),
                  QStringLiteral("Zoom in. You can also pinch, or hold Alt or Ctrl and scroll."), 16);
    snapToggle = tool(QStringLiteral("dot.squareshape.split.2x2"),
                      QStringLiteral("Snap a selection to speech, markers and segment edges. Hold Alt or Shift to go "
                                     "without for one drag."),
                      14);
    snapToggle->setCheckable(true);
    rangeLabel = new QLabel(this);
    Style::setText(rangeLabel, Style::Text::body, Style::secondary(pal));
    rangeLabel->setFont(Style::digits(Style::font(Style::Text::body)));
    clear = new QPushButton(QStringLiteral("Clear"), this);
    clear->setFlat(true);
    clear->setFocusPolicy(Qt::NoFocus);
    add = new QPushButton(QStringLiteral("Add Segment"), this);
    add->setStyleSheet(Style::prominentButton(pal));
    add->setFocusPolicy(Qt::NoFocus);
    row->addWidget(play);
    row->addWidget(time);
    row->addWidget(length);
    row->addSpacing(10);
    row->addWidget(zoomOut);
    row->addWidget(zoomSlider);
    row->addWidget(zoomIn);
    row->addSpacing(6);
    row->addWidget(snapToggle);
    row->addStretch(1);
    row->addWidget(rangeLabel);
    row->addWidget(clear);
    row->addWidget(add);
    column->addLayout(row);

    connect(play, &QToolButton::clicked, this, &BrowserView::togglePlay);
    connect(zoomOut, &QToolButton::clicked, this,
            [this] { browser.zoom(browser.viewSpan() * zoomStep, browser.time()); });
    connect(zoomIn, &QToolButton::clicked, this,
            [this] { browser.zoom(browser.viewSpan() / zoomStep, browser.time()); });
    connect(zoomSlider, &QSlider::valueChanged, this, [this](int v) {
        // Only the user's moves arrive here: the model's changes are shown with signals blocked.
        if (const auto to = sliderSpan(browser.duration(), double(v) / sliderSteps))
            browser.zoom(*to, browser.time());
        else
            refresh();
    });
    connect(snapToggle, &QToolButton::toggled, this,
            [](bool on) { Prefs::shared().set(QStringLiteral("snapToSpeech"), on); });
    connect(clear, &QPushButton::clicked, this, [this] { browser.setRange(std::nullopt); });
    connect(add, &QPushButton::clicked, this, [this] {
        if (const auto range = browser.range()) {
            this->model.addSegment(*range);
            browser.setRange(std::nullopt);
        }
    });

    const auto again = [this] { later.ask(); };
    for (auto signal : {&StreamBrowser::playingChanged, &StreamBrowser::rangeChanged, &StreamBrowser::durationChanged,
                        &StreamBrowser::viewStartChanged, &StreamBrowser::viewSpanChanged})
        connect(&browser, signal, this, again);
    connect(&model, &AppModel::projectChanged, this, again);
    connect(&Prefs::shared(), &Prefs::changed, this, [this](const QString& key) {
        if (key == u"snapToSpeech")
            later.ask();
    });
    connect(&browser, &StreamBrowser::timeChanged, this, &BrowserView::tick);
    refresh();
}

BrowserView::~BrowserView()
{
    listen(false);
    picture->setPlayer(nullptr);
}

void BrowserView::togglePlay()
{
    Player& player = browser.player();
    if (player.rate() != 0)
        player.pause();
    else
        player.play();
}

void BrowserView::tick()
{
    time->setText(clock(browser.time()));
    overview->update();
    // The picture is painted again only when the caption over it changes.
    auto now = caption(model.project(), browser.time());
    if (now != shownCaption) {
        shownCaption = std::move(now);
        picture->update();
    }
}

void BrowserView::refresh()
{
    const QPalette& pal = palette();
    play->setIcon(Style::symbolIcon(browser.playing() ? QStringLiteral("pause.fill") : QStringLiteral("play.fill"),
                                    Style::primary(pal), 20));
    length->setText(QStringLiteral("of ") + clock(browser.duration()));
    {
        const QSignalBlocker quiet(zoomSlider);
        zoomSlider->setValue(int(std::lround(sliderPosition(browser.duration(), browser.viewSpan()) * sliderSteps)));
    }
    {
        const QSignalBlocker quiet(snapToggle);
        snapToggle->setChecked(Prefs::shared().snapToSpeech());
    }
    const auto& range = browser.range();
    rangeLabel->setVisible(range.has_value());
    clear->setVisible(range.has_value());
    if (range)
        rangeLabel->setText(rangeText(*range));
    add->setEnabled(canAddSegment(range));
    // tick() repaints the overview.
    shownCaption.reset();
    picture->update();
    tick();
}

void BrowserView::paintCaption(QPainter& p)
{
    const auto& text = shownCaption;
    if (!text)
        return;
    // White on a dark rounded plate, 12 points above the picture's bottom edge; long
    // lines wrap within the picture's width.
    const QRectF area(picture->rect());
    const QFont font = Style::font(Style::Text::body);
    const QFontMetricsF metrics(font);
    const double widest = std::max(area.width() - 2 * 12 - 2 * 12, 40.0);
    const QRectF bounds = metrics.boundingRect(QRectF(0, 0, widest, 1e6), Qt::TextWordWrap | Qt::AlignHCenter, *text);
    const QSizeF plate(bounds.width() + 24, bounds.height() + 12);
    const QRectF box(area.center().x() - plate.width() / 2, area.bottom() - 12 - plate.height(), plate.width(),
                     plate.height());
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.fillPath(rounded(box, 8), QColor(0, 0, 0, int(255 * 0.6)));
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(box.adjusted(12, 6, -12, -6), Qt::TextWordWrap | Qt::AlignHCenter | Qt::AlignVCenter, *text);
    p.restore();
}

bool BrowserView::key(const QKeyEvent& event)
{
    const Key action = decideKey(event.key(), event.modifiers(), browser.isKey());
    switch (action) {
    case Key::pass:
        return false;
    case Key::back:
    case Key::forward:
    case Key::bigBack:
    case Key::bigForward:
        browser.player().pause();
        browser.seek(arrowTarget(browser.time(), action));
        if (const auto to = recentre(browser.time(), browser.viewStart(), browser.viewSpan()))
            browser.scroll(*to);
        return true;
    case Key::clear:
        browser.setRange(std::nullopt);
        return true;
    case Key::togglePlay:
        togglePlay();
        return true;
    case Key::markStart:
        browser.mark(Edge::start);
        return true;
    case Key::markEnd:
        browser.mark(Edge::end);
        return true;
    }
    return false;
}

bool BrowserView::wheel(const QWheelEvent& event)
{
    const QPointF d = event.pixelDelta().isNull() ? QPointF(event.angleDelta()) / 120.0 * notch
                                                  : QPointF(event.pixelDelta());
    const Qt::KeyboardModifiers mods = event.modifiers();
    // Alt with the wheel is often the window manager's; Ctrl zooms as well.
    const bool zoom = mods.testFlag(Qt::AltModifier) || mods.testFlag(Qt::ControlModifier);
    const Wheel w = decideWheel(wheelDelta(d.x(), d.y()), zoom, timeline->over(), browser.isKey(), timeline->map());
    switch (w.act) {
    case Wheel::Act::pass:
        return false;
    case Wheel::Act::none:
        return true;
    case Wheel::Act::zoom:
        browser.zoom(w.value, browser.time());
        return true;
    case Wheel::Act::scroll:
        browser.scroll(w.value);
        return true;
    }
    return false;
}

bool BrowserView::eventFilter(QObject* watched, QEvent* event)
{
    // Each event reaches the filter once for each object it is offered to; taking it at
    // its first stop means it never comes back, and one that passes passes at every stop.
    if (event->type() == QEvent::KeyPress)
        return key(*static_cast<QKeyEvent*>(event));
    if (event->type() == QEvent::Wheel)
        return wheel(*static_cast<QWheelEvent*>(event));
    return QWidget::eventFilter(watched, event);
}

void BrowserView::listen(bool on)
{
    if (on == listening)
        return;
    listening = on;
    if (on)
        qApp->installEventFilter(this);
    else
        qApp->removeEventFilter(this);
}

void BrowserView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    listen(true);
    browser.setIsKey(isActiveWindow());
    refresh();
}

void BrowserView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    // Minimized, the window is still there; it lets go of the keys by losing activation.
    if (event->spontaneous())
        return;
    browser.player().pause();
    browser.setIsKey(false);
    listen(false);
}

void BrowserView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    notice->place(noticeLift);
}

void BrowserView::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange)
        browser.setIsKey(isVisible() && isActiveWindow());
}
