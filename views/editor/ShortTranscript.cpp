#include "views/editor/ShortTranscript.h"

#include "model/editing/Composition.h"
#include "model/lifecycle/AppModel.h"
#include "views/kit/Format.h"
#include "views/kit/Scrub.h"
#include "views/kit/Style.h"
#include "views/kit/Windows.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <functional>

namespace shortscript {

std::vector<int> linesWithin(const std::vector<Line>& lines, const Cut& cut)
{
    std::vector<int> within;
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].t1 > cut.start + 0.05 && lines[i].t0 < cut.end - 0.05)
            within.push_back(int(i));
    return within;
}

std::optional<int> ghostBefore(const std::vector<Line>& lines, const Cut& cut)
{
    for (size_t i = lines.size(); i-- > 0;)
        if (lines[i].t1 <= cut.start + 0.05)
            return int(i);
    return std::nullopt;
}

std::optional<int> ghostAfter(const std::vector<Line>& lines, const Cut& cut)
{
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].t0 >= cut.end - 0.05)
            return int(i);
    return std::nullopt;
}

QString caption(int cuts, double length)
{
    return QStringLiteral("Short · %1 cut%2 · ").arg(cuts).arg(cuts == 1 ? QString() : QStringLiteral("s")) +
           span(length);
}

std::pair<double, double> lineSpan(const Line& line, const Cut& cut, double offset)
{
    const double from = std::max(line.t0, cut.start);
    const double to = std::min(line.t1, cut.end);
    return {offset + (from - cut.start), offset + (to - cut.start)};
}

} // namespace shortscript

namespace {

// A row that answers a click anywhere in its rectangle.
class Clickable : public QWidget {
public:
    std::function<void()> onClick;
    using QWidget::QWidget;

protected:
    void mousePressEvent(QMouseEvent* e) override
    {
        if (e->button() == Qt::LeftButton && onClick) {
            const auto act = onClick; // the click may rebuild the list and delete this row
            act();
        }
    }
};

// One line of text that ends in an ellipsis where the row is too narrow for it.
class Elided : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setPen(palette().color(QPalette::WindowText));
        p.setFont(font());
        const QRect area = contentsRect();
        p.drawText(area, Qt::AlignLeft | Qt::AlignVCenter, fontMetrics().elidedText(text(), Qt::ElideRight, area.width()));
    }
};

template <class Kind = QLabel>
Kind* label(const QString& text, QWidget* parent, const QFont& font, const QColor& colour, bool wrap)
{
    auto* l = new Kind(text, parent);
    l->setFont(font);
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, colour);
    l->setPalette(p);
    l->setWordWrap(wrap);
    l->setTextFormat(Qt::PlainText);
    l->setAttribute(Qt::WA_TransparentForMouseEvents);
    return l;
}

const Short* activeOf(const AppModel& model)
{
    for (const Short& s : model.project().shorts)
        if (model.activeShort() == s.id)
            return &s;
    return nullptr;
}

} // namespace

ShortTranscript::ShortTranscript(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , model(model)
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto* top = new QWidget(this);
    auto* topColumn = new QVBoxLayout(top);
    topColumn->setContentsMargins(16, 14, 16, 14);
    topColumn->setSpacing(5);
    const QPalette& pal = palette();
    header = label({}, top, Style::digits(Style::font(Style::Text::caption)), Style::tertiary(pal), false);
    title = label({}, top, Style::font(Style::Text::title3), Style::primary(pal), true);
    topColumn->addWidget(header);
    topColumn->addWidget(title);
    column->addWidget(top);
    column->addWidget(Style::divider(this));
    scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* content = new QWidget;
    content->setAutoFillBackground(false);
    list = new QVBoxLayout(content);
    list->setContentsMargins(8, 6, 8, 6);
    list->setSpacing(0);
    list->addStretch(1);
    scroll->setWidget(content);
    scroll->viewport()->setAutoFillBackground(false);
    column->addWidget(scroll, 1);
    rebuild();
}

void ShortTranscript::rebuild()
{
    const std::vector<Cut> cuts = model.cuts();
    const Short* active = activeOf(model);
    Source source;
    if (active)
        source.shortClip = *active;
    for (const Cut& c : cuts) {
        const Segment* under = model.project().segment(c.start + 0.01);
        source.segments.push_back(under ? std::optional<Segment>(*under) : std::nullopt);
    }
    if (built == source) {
        tick();
        return;
    }
    built = std::move(source);
    header->setText(shortscript::caption(int(cuts.size()), active ? active->duration() : 0));
    title->setText(active ? active->title : QString());

    for (QWidget* g : groupWidgets)
        delete g;
    groupWidgets.clear();
    shown.clear();
    lit.reset();
    // Each group starts where its cut starts as it plays, so a click on its first line seeks
    // into that cut even when the cuts' edges lie off the player's grid.
    const ShortLine played = Composition::line(cuts, model.project().duration);
    for (size_t i = 0; i < cuts.size(); ++i) {
        QWidget* g = group(int(i), cuts[i], played.offset(int(i)));
        list->insertWidget(list->count() - 1, g);
        // Shown now rather than on a later turn of the event loop: a paint in between (the
        // player is often busy right after an edit) would show an empty list for a moment.
        g->show();
        groupWidgets.push_back(g);
    }
    list->activate(); // the groups' places at once, for the scroll to the playing cut
    // A new list is not a move of the playhead: it scrolls only on the next change.
    const auto place = model.locate(model.clock().time());
    cutUnder = place ? std::optional<int>(place->cut) : std::nullopt;
    tick();
}

QWidget* ShortTranscript::group(int index, const Cut& cut, double offset)
{
    const QPalette& pal = palette();
    const QColor accent = Style::accent(pal);
    auto* g = new QWidget;
    auto* column = new QVBoxLayout(g);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    const Segment* source = model.project().segment(cut.start + 0.01);
    auto* head = new QWidget(g);
    auto* headRow = new QHBoxLayout(head);
    headRow->setContentsMargins(8, index == 0 ? 4 : 14, 8, 4);
    headRow->setSpacing(6);
    auto* number = label(QString::number(index + 1), head, Style::digits(Style::font(Style::Text::caption, QFont::DemiBold)),
                         Qt::white, false);
    number->setAlignment(Qt::AlignCenter);
    number->setMinimumSize(18, 18);
    number->setStyleSheet(QStringLiteral("QLabel { background: %1; border-radius: 9px; padding: 0 4px; }")
                              .arg(Style::css(accent)));
    headRow->addWidget(number);
    const QString from = source ? source->id + u' ' + source->title : u' ' + clock(cut.start);
    auto* where = label<Elided>(from, head, Style::font(Style::Text::callout, QFont::Medium), Style::primary(pal), false);
    where->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    headRow->addWidget(where, 1);
    headRow->addSpacing(4);
    auto* stream = new QToolButton(head);
    stream->setText(QStringLiteral("In stream"));
    stream->setIcon(Style::symbolIcon(QStringLiteral("arrow.up.backward.square"), accent, 14));
    stream->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    stream->setAutoRaise(true);
    stream->setFont(Style::font(Style::Text::callout));
    stream->setToolTip(QStringLiteral("Open the stream at this cut in its own window, to see what surrounds it"));
    QPalette streamPalette = stream->palette();
    streamPalette.setColor(QPalette::ButtonText, accent);
    stream->setPalette(streamPalette);
    connect(stream, &QToolButton::clicked, this, [this, cut] {
        model.player().pause();
        model.browser().show(cut.start, TimeRange{cut.start, cut.end});
        Windows::open(QStringLiteral("stream"));
    });
    headRow->addWidget(stream);
    column->addWidget(head);

    static const std::vector<Line> none;
    const std::vector<Line>& lines = source && source->lines ? *source->lines : none;
    const QUuid id = cut.id;
    const auto ghost = [&](const Line& line, Edge edge) {
        auto* row = new Clickable(g);
        row->setToolTip(QStringLiteral("Add this line to the cut"));
        auto* r = new QHBoxLayout(row);
        r->setContentsMargins(8, 3, 8, 3);
        r->setSpacing(10);
        auto* plus = new QLabel(row);
        plus->setPixmap(Style::symbol(QStringLiteral("plus"), Style::tertiary(pal), 10, devicePixelRatioF()));
        plus->setFixedWidth(38);
        plus->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        plus->setAttribute(Qt::WA_TransparentForMouseEvents);
        r->addWidget(plus);
        auto* text = label<Elided>(line.text, row, Style::font(Style::Text::body), Style::tertiary(pal), false);
        text->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        r->addWidget(text, 1);
        const double to = edge == Edge::start ? line.t0 : line.t1;
        row->onClick = [this, id, edge, to] { model.extend(id, edge, to); };
        column->addWidget(row);
    };
    if (const auto before = shortscript::ghostBefore(lines, cut))
        ghost(lines[size_t(*before)], Edge::start);
    const std::vector<int> within = shortscript::linesWithin(lines, cut);
    for (int i : within) {
        const auto [start, end] = shortscript::lineSpan(lines[size_t(i)], cut, offset);
        auto* row = new Clickable(g);
        auto* r = new QHBoxLayout(row);
        r->setContentsMargins(8, 5, 8, 5);
        r->setSpacing(10);
        const QFont timeFont = Style::digits(Style::font(Style::Text::caption));
        auto* time = label(span(start), row, timeFont, Style::tertiary(pal), false);
        // On the text's first baseline.
        const int drop = QFontMetrics(Style::font(Style::Text::body)).ascent() - QFontMetrics(timeFont).ascent();
        time->setContentsMargins(0, std::max(drop, 0), 0, 0);
        r->addWidget(time, 0, Qt::AlignTop);
        auto* text = label(lines[size_t(i)].text, row, Style::font(Style::Text::body), Style::primary(pal), true);
        r->addWidget(text, 1);
        const double at = start;
        row->onClick = [this, id, at] {
            model.setSelectedCut(id);
            Scrub::once(model, [this, at] { model.scrubShort(at); });
        };
        column->addWidget(row);
        shown.push_back({row, index, start, end});
    }
    if (within.empty()) {
        auto* nothing = label(QStringLiteral("Nothing was said in this cut."), g, Style::font(Style::Text::callout),
                              Style::tertiary(pal), true);
        nothing->setContentsMargins(8, 5, 8, 5);
        column->addWidget(nothing);
    }
    if (const auto after = shortscript::ghostAfter(lines, cut))
        ghost(lines[size_t(*after)], Edge::end);
    return g;
}

void ShortTranscript::style(const Shown& row, bool now)
{
    auto* text = row.row->findChildren<QLabel*>().value(1);
    if (!text)
        return;
    text->setFont(Style::font(Style::Text::body, now ? QFont::Medium : QFont::Normal));
    QPalette p = text->palette();
    p.setColor(QPalette::WindowText, now ? Style::accent(palette()) : Style::primary(palette()));
    text->setPalette(p);
}

void ShortTranscript::tick()
{
    const double now = model.clock().time();
    std::optional<size_t> next;
    for (size_t i = 0; i < shown.size(); ++i)
        if (shown[i].start <= now && now < shown[i].end) {
            next = i;
            break;
        }
    if (next != lit) {
        if (lit)
            style(shown[*lit], false);
        lit = next;
        if (lit)
            style(shown[*lit], true);
    }
    const auto place = model.locate(now);
    const std::optional<int> under = place ? std::optional<int>(place->cut) : std::nullopt;
    if (under == cutUnder)
        return;
    cutUnder = under;
    if (under && model.clock().playing() && *under < int(groupWidgets.size()))
        scroll->verticalScrollBar()->setValue(groupWidgets[size_t(*under)]->y());
}
