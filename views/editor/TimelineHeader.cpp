#include "views/editor/TimelineHeader.h"

#include "model/lifecycle/AppModel.h"
#include "platform/Prefs.h"
#include "views/editor/TimelineDerive.h"
#include "views/kit/Format.h"
#include "views/kit/Paint.h"
#include "views/kit/RoundButton.h"
#include "views/kit/Style.h"

#include <QCheckBox>
#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QSlider>
#include <QTextDocument>
#include <QToolButton>
#include <QVBoxLayout>
#include <cmath>

namespace {

// The zoom slider runs in hundredths.
constexpr int zoomSteps = 100;

QToolButton* plainButton(QWidget* parent, const QString& icon, const QString& help)
{
    auto* b = new QToolButton(parent);
    b->setAutoRaise(true);
    b->setFocusPolicy(Qt::NoFocus);
    b->setIcon(Style::symbolIcon(icon, Style::primary(parent->palette()), 16));
    b->setToolTip(help);
    return b;
}

// A tab's title: at most 190 points, cut short at the tail, and able to shrink further
// when the tabs do not all fit.
class TabTitle : public QLabel {
public:
    TabTitle(const QString& title, QWidget* parent)
        : QLabel(parent)
        , full(timeline::oneLine(title))
    {
        // A title is the user's or the model's words, never markup.
        setTextFormat(Qt::PlainText);
        setToolTip(Qt::convertFromPlainText(title));
    }
    QSize sizeHint() const override
    {
        const QFontMetrics m(font());
        return {std::min(m.horizontalAdvance(full) + 1, 190), m.height()};
    }
    QSize minimumSizeHint() const override { return {std::min(sizeHint().width(), 40), fontMetrics().height()}; }

protected:
    void resizeEvent(QResizeEvent* e) override
    {
        QLabel::resizeEvent(e);
        setText(fontMetrics().elidedText(full, Qt::ElideRight, width()));
    }

private:
    QString full;
};

constexpr int tabSpacing = 6;

} // namespace

// The tabs side by side. When they do not all fit, the longest titles give way first, so
// that a short title stays whole while a long one is cut.
class TabRow : public QWidget {
public:
    using QWidget::QWidget;
    std::vector<ShortTab*> tabs;

    QSize sizeHint() const override { return measure([](const QWidget* w) { return w->sizeHint().width(); }); }
    QSize minimumSizeHint() const override
    {
        return measure([](const QWidget* w) { return w->minimumSizeHint().width(); });
    }
    void place()
    {
        std::vector<double> wanted;
        double chrome = tabSpacing * std::max(int(tabs.size()) - 1, 0);
        for (const ShortTab* tab : tabs) {
            wanted.push_back(tab->title->sizeHint().width());
            chrome += tab->sizeHint().width() - wanted.back();
        }
        const std::vector<double> widths = timeline::fitTitles(wanted, width() - chrome, 40);
        int x = 0;
        for (size_t i = 0; i < tabs.size(); ++i) {
            const int w = tabs[i]->sizeHint().width() - int(wanted[i]) + int(widths[i]);
            tabs[i]->setGeometry(x, (height() - tabs[i]->height()) / 2, w, tabs[i]->height());
            x += w + tabSpacing;
        }
    }

protected:
    void resizeEvent(QResizeEvent*) override { place(); }

private:
    template <typename Width> QSize measure(Width width) const
    {
        int sum = tabSpacing * std::max(int(tabs.size()) - 1, 0);
        for (const ShortTab* tab : tabs)
            sum += width(tab);
        return {sum, 28};
    }
};

namespace {

void setZoom(double zoom) { Prefs::shared().set(QStringLiteral("timelineZoom"), zoom); }

} // namespace

// ---- a tab ----

ShortTab::ShortTab(AppModel& model, const QUuid& id, const QString& text, bool active, QWidget* parent)
    : QWidget(parent)
    , id(id)
    , active(active)
    , model(model)
{
    setFixedHeight(28);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(13, 0, 5, 0);
    row->setSpacing(4);
    title = new TabTitle(text, this);
    title->setFont(Style::font(Style::Text::body, QFont::Medium));
    const QColor colour = active ? Style::primary(palette()) : Style::secondary(palette());
    QPalette pal = title->palette();
    pal.setColor(QPalette::WindowText, colour);
    title->setPalette(pal);
    title->setText(text);
    close = new RoundButton(this);
    close->setAutoRaise(true);
    close->setFocusPolicy(Qt::NoFocus);
    close->setFixedSize(18, 18);
    close->setIconSize(QSize(9, 9));
    close->setStyleSheet(QStringLiteral("QToolButton { border: none; background: transparent; }"));
    close->setToolTip(QStringLiteral("Close this tab. The Short stays in the sidebar under Shorts."));
    if (active) {
        close->setIcon(Style::symbolIcon(QStringLiteral("xmark"), Style::secondary(palette()), 9));
        connect(close, &QToolButton::clicked, this, [this] { this->model.closeTab(this->id); });
    } else {
        // Invisible and deaf, but it keeps its place.
        close->setAttribute(Qt::WA_TransparentForMouseEvents);
        close->setToolTip({});
    }
    row->addWidget(title);
    row->addWidget(close);
}

void ShortTab::paintEvent(QPaintEvent*)
{
    if (!active)
        return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(0.25, 0.25, -0.25, -0.25);
    const QPainterPath path = rounded(r, r.height() / 2);
    p.fillPath(path, palette().color(QPalette::Window));
    p.strokePath(path, QPen(Style::quaternary(palette()), 0.5));
}

void ShortTab::mousePressEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton)
        model.activate(id);
}

void ShortTab::mouseDoubleClickEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton && rename)
        rename(id);
}

void ShortTab::contextMenuEvent(QContextMenuEvent* e)
{
    // The menu and its actions may outlive the tab: choosing one can rebuild the tabs.
    auto* menu = new QMenu(parentWidget());
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const QUuid short_ = id;
    AppModel* m = &model;
    menu->addAction(QStringLiteral("Rename…"), m, [renameIt = rename, short_] {
        if (renameIt)
            renameIt(short_);
    });
    menu->addAction(QStringLiteral("Duplicate"), m, [m, short_] { m->duplicateShort(short_); });
    menu->addAction(QStringLiteral("Close Tab"), m, [m, short_] { m->closeTab(short_); });
    menu->addSeparator();
    Style::markDestructive(menu->addAction(QStringLiteral("Delete Short"), m, [m, short_] { m->deleteShort(short_); }));
    menu->popup(e->globalPos());
}

// ---- the display options ----

TimelineOptions::TimelineOptions(QWidget* parent)
    : QFrame(parent, Qt::Popup)
{
    setFrameShape(QFrame::StyledPanel);
    setFixedWidth(280);
    auto* form = new QVBoxLayout(this);
    form->setContentsMargins(16, 16, 16, 16);
    form->setSpacing(8);
    Prefs& prefs = Prefs::shared();
    auto toggle = [&](const QString& text, const QString& key) {
        auto* box = new QCheckBox(text, this);
        connect(box, &QCheckBox::toggled, this, [key](bool on) { Prefs::shared().set(key, on); });
        form->addWidget(box);
        return box;
    };
    auto heightRow = [&](QSlider*& slider, int least, int most, const QString& key) {
        auto* row = new QWidget(this);
        auto* line = new QHBoxLayout(row);
        line->setContentsMargins(0, 0, 0, 0);
        line->addWidget(new QLabel(QStringLiteral("Height"), row));
        slider = new QSlider(Qt::Horizontal, row);
        slider->setRange(least, most);
        connect(slider, &QSlider::valueChanged, this, [key](int v) { Prefs::shared().set(key, double(v)); });
        line->addWidget(slider, 1);
        form->addWidget(row);
        return row;
    };
    names = toggle(QStringLiteral("Names"), QStringLiteral("clipNames"));
    filmstrip = toggle(QStringLiteral("Filmstrip"), QStringLiteral("clipFilmstrip"));
    filmstripRow = heightRow(filmstripHeight, 28, 140, QStringLiteral("clipFilmstripHeight"));
    waveform = toggle(QStringLiteral("Waveform"), QStringLiteral("clipWaveform"));
    waveformRow = heightRow(waveformHeight, 12, 90, QStringLiteral("clipWaveformHeight"));
    snap = toggle(QStringLiteral("Snap trims to speech"), QStringLiteral("snapToSpeech"));
    help = new QLabel(QStringLiteral("Drag a cut to reorder. Drag its edges to trim; hold Alt or Shift to trim freely "
                                     "when snapping is on. Click the ruler to move the playhead. Every key is listed in "
                                     "the Segment and Short menus."),
                      this);
    help->setWordWrap(true);
    Style::setText(help, Style::Text::caption, Style::secondary(palette()));
    form->addWidget(help);
    connect(&prefs, &Prefs::changed, this, [this] { refresh(); });
    refresh();
}

void TimelineOptions::refresh()
{
    const Prefs& prefs = Prefs::shared();
    const QSignalBlocker a(names), b(filmstrip), c(filmstripHeight), d(waveform), e(waveformHeight), f(snap);
    names->setChecked(prefs.clipNames());
    filmstrip->setChecked(prefs.clipFilmstrip());
    filmstripHeight->setValue(int(std::lround(prefs.clipFilmstripHeight())));
    waveform->setChecked(prefs.clipWaveform());
    waveformHeight->setValue(int(std::lround(prefs.clipWaveformHeight())));
    snap->setChecked(prefs.snapToSpeech());
    filmstripRow->setVisible(prefs.clipFilmstrip());
    waveformRow->setVisible(prefs.clipWaveform());
    adjustSize();
}

// ---- the bar ----

TimelineHeader::TimelineHeader(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , model(model)
{
    setFixedHeight(40);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(12, 0, 12, 0);
    row->setSpacing(6);
    tabRow = new TabRow(this);
    row->addWidget(tabRow, 0, Qt::AlignVCenter);

    newShort = plainButton(this, QStringLiteral("plus"), QStringLiteral("New empty Short"));
    newShort->setText(QStringLiteral("New Short"));
    connect(newShort, &QToolButton::clicked, this, [this] { this->model.newShort(); });
    row->addWidget(newShort);
    askAI = plainButton(this, QStringLiteral("sparkles"), QStringLiteral("Describe a Short and let AI cut it from the transcript"));
    askAI->setText(QStringLiteral("Ask AI"));
    askAI->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    connect(askAI, &QToolButton::clicked, this, [this] { this->model.setAskingAI(true); });
    row->addWidget(askAI);
    row->addStretch(1);
    options = plainButton(this, QStringLiteral("rectangle.split.1x2"), QStringLiteral("What each cut shows, and how tall"));
    connect(options, &QToolButton::clicked, this, &TimelineHeader::showOptions);
    row->addWidget(options);
    row->addSpacing(8); // the row's spacing comes on top

    zoomControls = new QWidget(this);
    auto* zoomLine = new QHBoxLayout(zoomControls);
    zoomLine->setContentsMargins(0, 0, 0, 0);
    zoomLine->setSpacing(6);
    zoomOut = plainButton(zoomControls, QStringLiteral("minus.magnifyingglass"), QStringLiteral("Zoom out"));
    connect(zoomOut, &QToolButton::clicked, this, [] { setZoom(timeline::zoomOut(timeline::storedZoom(Prefs::shared()))); });
    zoom = new QSlider(Qt::Horizontal, zoomControls);
    zoom->setRange(int(timeline::minZoom * zoomSteps), int(timeline::maxZoom * zoomSteps));
    zoom->setFixedWidth(80);
    zoom->setFocusPolicy(Qt::NoFocus);
    connect(zoom, &QSlider::valueChanged, this, [](int v) { setZoom(double(v) / zoomSteps); });
    zoomIn = plainButton(zoomControls, QStringLiteral("plus.magnifyingglass"),
                         QStringLiteral("Zoom in. You can also pinch the timeline, or hold Ctrl and turn the wheel over it."));
    connect(zoomIn, &QToolButton::clicked, this, [] { setZoom(timeline::zoomIn(timeline::storedZoom(Prefs::shared()))); });
    length = new QLabel(zoomControls);
    length->setFont(Style::digits(Style::font(Style::Text::body)));
    ofMinute = new QLabel(QStringLiteral("/ 1:00"), zoomControls);
    Style::setText(ofMinute, Style::Text::body, Style::tertiary(palette()));
    ofMinute->setFont(Style::digits(Style::font(Style::Text::body)));
    zoomLine->addWidget(zoomOut);
    zoomLine->addWidget(zoom);
    zoomLine->addWidget(zoomIn);
    zoomLine->addSpacing(10);
    zoomLine->addWidget(length);
    zoomLine->addWidget(ofMinute);
    row->addWidget(zoomControls);
    refresh();
}

void TimelineHeader::refresh()
{
    const std::vector<Short> open = model.openShorts();
    std::vector<Shown> next;
    for (const Short& s : open)
        next.push_back({s.id, s.title, model.activeShort() == s.id});
    if (next != shown) {
        shown = next;
        for (ShortTab* tab : tabList) {
            tab->hide();
            tab->deleteLater();
        }
        tabList.clear();
        for (const Shown& s : shown) {
            auto* tab = new ShortTab(model, s.id, s.title, s.active, tabRow);
            tab->rename = [this](const QUuid& id) {
                if (rename)
                    rename(id);
            };
            tab->show();
            tabList.push_back(tab);
        }
        tabRow->tabs = tabList;
        tabRow->updateGeometry();
        layout()->activate(); // the row's new width at once, so no title is cut for a moment
        tabRow->place();
    }
    newShort->setToolButtonStyle(open.empty() ? Qt::ToolButtonTextBesideIcon : Qt::ToolButtonIconOnly);

    const double total = timeline::shortLength(model.project(), model.activeShort());
    zoomControls->setVisible(!model.cuts().empty());
    {
        const QSignalBlocker quiet(zoom);
        zoom->setValue(int(std::lround(timeline::storedZoom(Prefs::shared()) * zoomSteps)));
    }
    length->setText(span(total));
    QPalette pal = length->palette();
    pal.setColor(QPalette::WindowText, timeline::isLong(total) ? Style::red() : Style::primary(palette()));
    length->setPalette(pal);
}

void TimelineHeader::showOptions()
{
    if (!popover)
        popover = new TimelineOptions(this);
    popover->adjustSize();
    QPoint below = options->mapToGlobal(QPoint(options->width() / 2 - popover->width() / 2, options->height() + 4));
    // Near the screen's edge (the button sits at the window's right) it stays on screen.
    if (const QScreen* screen = options->screen()) {
        const QRect room = screen->availableGeometry();
        below.setX(std::max(std::min(below.x(), room.right() + 1 - popover->width()), room.left()));
    }
    popover->move(below);
    popover->show();
}
