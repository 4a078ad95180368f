#include "views/start/Rows.h"

#include "core/services/Pricing.h"
#include "model/lifecycle/AppModel.h"
#include "platform/Prefs.h"
#include "views/kit/Spinner.h"
#include "views/kit/Dialogs.h"
#include "views/kit/Style.h"
#include "views/kit/Windows.h"

#include <QActionGroup>
#include <QContextMenuEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollArea>
#include <QSet>
#include <QTextLayout>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>
#include <cmath>

namespace {

constexpr int rowPadX = 8;
constexpr int rowPadY = 7;
constexpr double thumbW = 72;
constexpr double thumbH = 40.5;

// `text` broken into at most `most` lines of `width`, the last one elided.
QStringList wrap(const QString& given, const QFont& font, double width, int most)
{
    // A title is one flowing text: line breaks the AI or a paste put in read as blanks.
    QString text = given;
    for (QChar& c : text)
        if (c == u'\n' || c == u'\r' || c == QChar::LineSeparator || c == QChar::ParagraphSeparator || c == u'\t')
            c = u' ';
    QStringList out;
    QTextLayout layout(text, font);
    // A word wider than the line (a link, a hashtag) breaks inside rather than run past it.
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    int used = 0;
    while (true) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(std::max(1.0, width));
        if (out.size() + 1 == most) {
            out << QFontMetricsF(font).elidedText(text.mid(line.textStart()), Qt::ElideRight, width);
            used = int(text.size());
            break;
        }
        out << text.mid(line.textStart(), line.textLength()).trimmed();
        used = line.textStart() + line.textLength();
    }
    layout.endLayout();
    Q_UNUSED(used);
    if (out.isEmpty())
        out << QString();
    return out;
}

// The band of an idea's cuts, drawn to scale.
class Strip : public QWidget {
public:
    explicit Strip(QWidget* parent) : QWidget(parent) { setFixedHeight(12); }
    Idea idea;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QColor fill = Style::faded(Style::accent(palette()), 0.55);
        double x = 0;
        for (double w : barWidths(idea, width())) {
            QPainterPath path;
            path.addRoundedRect(QRectF(x, 2, w, 8), 2, 2);
            p.fillPath(path, fill);
            x += w + 2;
        }
    }
};

// The kind of an idea in a rounded chip. It is a word or two; a longer one gives way to
// the card's width (shortened, whole in its tooltip) so that "Open" stays in reach.
class Chip : public QWidget {
public:
    explicit Chip(QWidget* parent) : QWidget(parent)
    {
        setFont(Style::font(Style::Text::caption));
        setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    }
    void setText(const QString& value)
    {
        text = value;
        updateGeometry();
        update();
    }
    QSize sizeHint() const override
    {
        const QFontMetricsF metrics(font());
        return {int(std::ceil(metrics.horizontalAdvance(text))) + 2 * padX, int(std::ceil(metrics.height())) + 2};
    }
    QSize minimumSizeHint() const override { return {std::min(sizeHint().width(), 2 * padX + 10), sizeHint().height()}; }

protected:
    void resizeEvent(QResizeEvent*) override { setToolTip(shown() == text ? QString() : text); }
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QPainterPath back;
        back.addRoundedRect(QRectF(rect()), std::min(8.0, height() / 2.0), std::min(8.0, height() / 2.0));
        p.fillPath(back, Style::quaternary(palette()));
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(QRectF(rect()).adjusted(padX, 0, -padX, 0), Qt::AlignLeft | Qt::AlignVCenter, shown());
    }

private:
    static constexpr int padX = 7;
    QString shown() const { return QFontMetricsF(font()).elidedText(text, Qt::ElideRight, std::max(0, width() - 2 * padX)); }
    QString text;
};

} // namespace

// ---- StreamMap ----

StreamMap::StreamMap(AppModel& m, QWidget* parent)
    : QWidget(parent), model(m)
{
    setFixedHeight(22);
    setCursor(Qt::PointingHandCursor);
    setToolTip(QStringLiteral("Open the whole stream here, to look around or add a segment of your own"));
}

void StreamMap::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(rect()), 5, 5);
    p.setClipPath(clip);
    p.fillPath(clip, Style::quaternary(palette()));
    for (const MapBlock& b : mapBlocks(model.project(), model.selection(), width())) {
        const QColor colour = b.fill == Fill::accent      ? Style::accent(palette())
                            : b.fill == Fill::favourite ? Style::yellow()
                                                         : Style::secondary(palette());
        QPainterPath block;
        block.addRoundedRect(QRectF(b.x, 0, b.width, height()), 1.5, 1.5);
        p.setOpacity(b.opacity);
        p.fillPath(block, colour);
    }
}

void StreamMap::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const double at = mapTime(model.project(), event->position().x(), width());
    model.player().pause();
    model.browser().show(at, std::nullopt);
    Windows::open(QStringLiteral("stream"));
}

// ---- Vibe ----

Vibe::Vibe(QWidget* parent)
    : QWidget(parent)
{
    hide();
}

void Vibe::setSegment(const Segment& segment)
{
    energy = segment.energy;
    text = vibeText(segment);
    setVisible(!text.isEmpty());
    updateGeometry();
    update();
}

QSize Vibe::sizeHint() const
{
    // Measured as it is painted, in fractional widths: a width rounded from whole-pixel
    // advances can fall short of the painted text, which then loses its end to an ellipsis.
    const QFontMetricsF metrics(font());
    return {text.isEmpty() ? 0 : 7 + 4 + int(std::ceil(metrics.horizontalAdvance(text))),
            int(std::ceil(metrics.height()))};
}

void Vibe::paintEvent(QPaintEvent*)
{
    if (text.isEmpty())
        return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(vibeColour(energy));
    p.drawEllipse(QRectF(0, height() / 2.0 - 3.5, 7, 7));
    p.setPen(Style::secondary(palette()));
    p.drawText(QRectF(rect()).adjusted(11, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
               QFontMetricsF(font()).elidedText(text, Qt::ElideRight, std::max(0, width() - 11)));
}

// ---- ListRow ----

ListRow::ListRow(QWidget* parent)
    : QWidget(parent)
{
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

QSize ListRow::sizeHint() const
{
    return {280, heightForWidth(width() > 0 ? width() : 280)};
}

// ---- SegmentRow ----

SegmentRow::SegmentRow(AppModel& m, QWidget* parent)
    : ListRow(parent), model(m), spinner(new Spinner(this, 12))
{
    spinner->hide();
}

void SegmentRow::resizeEvent(QResizeEvent*)
{
    spinner->move(layoutFor(width()).state.topLeft().toPoint());
}

void SegmentRow::setLook(Look look)
{
    if (look == shown)
        return;
    const bool taller = segmentTitle(look.segment) != segmentTitle(shown.segment);
    shown = std::move(look);
    const Layout l = layoutFor(width());
    const bool working = rowState(shown.segment) == RowState::working;
    spinner->setVisible(working);
    if (working)
        spinner->move(l.state.topLeft().toPoint());
    if (taller)
        updateGeometry();
    update();
}

SegmentRow::Layout SegmentRow::layoutFor(int width) const
{
    Layout l;
    const QFont titleFont = Style::font(Style::Text::body, QFont::Medium);
    const QFont caption = Style::font(Style::Text::caption);
    const QFontMetricsF tf(titleFont), cf(caption);
    const double textX = rowPadX + thumbW + 10;
    const double textW = std::max(10.0, width - textX - rowPadX);
    l.titleLines = int(wrap(segmentTitle(shown.segment), titleFont, textW, 2).size());
    const double infoH = std::max(cf.height(), 14.0);
    const double textH = l.titleLines * tf.height() + 2 + infoH;
    const double content = std::max(thumbH, textH);
    const double top = rowPadY;
    l.thumb = QRectF(rowPadX, top + (content - thumbH) / 2, thumbW, thumbH);
    const double textTop = top + (content - textH) / 2;
    l.title = QRectF(textX, textTop, textW, l.titleLines * tf.height());
    l.info = QRectF(textX, textTop + l.title.height() + 2, textW, infoH);
    double x = textX;
    const double y = l.info.top();
    if (shown.segment.rating == 1) {
        l.star = QRectF(x, y + (infoH - 11) / 2, 11, 11);
        x += 11 + 6;
    }
    const double clockW = QFontMetricsF(Style::digits(caption)).horizontalAdvance(clock(shown.segment.start));
    l.clock = QRectF(x, y, clockW, infoH);
    x += clockW + 6;
    switch (rowState(shown.segment)) {
    case RowState::retry:
        l.state = QRectF(x, y, 12 + 3 + cf.horizontalAdvance(QStringLiteral("Retry")), infoH);
        break;
    case RowState::transcribe:
        l.state = QRectF(x, y, cf.horizontalAdvance(QStringLiteral("Transcribe")), infoH);
        break;
    case RowState::vibe: {
        // The vibe gives way to the count of Shorts when the line is short of room.
        const QString text = vibeText(shown.segment);
        const QString used = usedText(shown.used);
        const double room = textX + textW - x - (used.isEmpty() ? 0 : cf.horizontalAdvance(used) + 6);
        l.state = QRectF(x, y, text.isEmpty() ? 0 : std::max(0.0, std::min(7 + 4 + cf.horizontalAdvance(text), room)), infoH);
        break;
    }
    case RowState::working:
        l.state = QRectF(x, y + (infoH - 12) / 2, 12, 12);
        break;
    }
    x += l.state.width() + (l.state.width() > 0 ? 6 : 0);
    l.used = QRectF(x, y, std::max(0.0, textX + textW - x), infoH);
    l.mark = QRectF(0, 8, 3, content + 2 * rowPadY - 16);
    return l;
}

int SegmentRow::heightForWidth(int width) const
{
    const Layout l = layoutFor(width);
    return int(std::ceil(std::max(l.thumb.bottom(), l.info.bottom()) + rowPadY));
}

void SegmentRow::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPalette pal = palette();
    const Segment& s = shown.segment;
    const Layout l = layoutFor(width());
    if (shown.selected) {
        QPainterPath back;
        back.addRoundedRect(QRectF(rect()), 10, 10);
        p.fillPath(back, Style::faded(Style::accent(pal), 0.16));
    }
    if (shown.marked) {
        QPainterPath mark;
        mark.addRoundedRect(l.mark, 1.5, 1.5);
        p.fillPath(mark, Style::accent(pal));
    }
    const bool rejected = s.rating == -1;
    p.setOpacity(rejected ? 0.45 : 1);
    // The still, or a plain box until there is one.
    QPainterPath box;
    box.addRoundedRect(l.thumb, 5, 5);
    if (shown.thumb.isNull()) {
        p.fillPath(box, Style::quaternary(pal));
    } else {
        p.save();
        p.setClipPath(box);
        const QSizeF scaled = QSizeF(shown.thumb.size()).scaled(l.thumb.size(), Qt::KeepAspectRatioByExpanding);
        const QRectF target(l.thumb.center() - QPointF(scaled.width() / 2, scaled.height() / 2), scaled);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(target, shown.thumb);
        p.restore();
    }
    // The title.
    QFont titleFont = Style::font(Style::Text::body, QFont::Medium);
    titleFont.setStrikeOut(rejected);
    p.setFont(titleFont);
    p.setPen(Style::primary(pal));
    const QStringList lines = wrap(segmentTitle(s), titleFont, l.title.width(), 2);
    const double lh = QFontMetricsF(titleFont).height();
    for (int i = 0; i < lines.size(); ++i)
        p.drawText(QRectF(l.title.left(), l.title.top() + i * lh, l.title.width(), lh), Qt::AlignLeft | Qt::AlignVCenter,
                   lines[i]);
    // The info line.
    const QFont caption = Style::font(Style::Text::caption);
    if (s.rating == 1)
        p.drawPixmap(l.star.toRect(), Style::symbol(QStringLiteral("star.fill"), Style::yellow(), 11, devicePixelRatioF()));
    p.setFont(Style::digits(caption));
    p.setPen(Style::tertiary(pal));
    p.drawText(l.clock, Qt::AlignLeft | Qt::AlignVCenter, clock(s.start));
    p.setFont(caption);
    switch (rowState(s)) {
    case RowState::retry: {
        const QRectF icon(l.state.left(), l.state.center().y() - 6, 12, 12);
        p.drawPixmap(icon.toRect(), Style::symbol(QStringLiteral("exclamationmark.circle.fill"), Style::red(), 12,
                                                  devicePixelRatioF()));
        p.setPen(Style::red());
        p.drawText(l.state.adjusted(15, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Retry"));
        break;
    }
    case RowState::transcribe:
        p.setPen(Style::accent(pal));
        p.drawText(l.state, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Transcribe"));
        break;
    case RowState::vibe:
        if (!s.energy.isEmpty()) {
            p.setPen(Qt::NoPen);
            p.setBrush(vibeColour(s.energy));
            p.drawEllipse(QRectF(l.state.left(), l.state.center().y() - 3.5, 7, 7));
            p.setPen(Style::secondary(pal));
            p.drawText(l.state.adjusted(11, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                       QFontMetricsF(caption).elidedText(vibeText(s), Qt::ElideRight, std::max(0.0, l.state.width() - 11)));
        }
        break;
    case RowState::working:
        break;
    }
    const QString used = usedText(shown.used);
    if (!used.isEmpty()) {
        p.setPen(Style::accent(pal));
        p.drawText(l.used, Qt::AlignLeft | Qt::AlignVCenter,
                   QFontMetricsF(caption).elidedText(used, Qt::ElideRight, l.used.width()));
    }
}

void SegmentRow::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const RowState state = rowState(shown.segment);
    const QString id = shown.segment.id;
    if ((state == RowState::retry || state == RowState::transcribe)
        && layoutFor(width()).state.adjusted(-3, -3, 3, 3).contains(event->position())) {
        model.retry(id);
        return;
    }
    model.show(id);
}

bool SegmentRow::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const Layout l = layoutFor(width());
        QString tip;
        const RowState state = rowState(shown.segment);
        if (l.state.adjusted(-3, -3, 3, 3).contains(help->pos()) && state == RowState::retry)
            tip = plainTip(shown.segment.error.value_or(QString()));
        else if (l.state.adjusted(-3, -3, 3, 3).contains(help->pos()) && state == RowState::transcribe)
            tip = transcribeTip(shown.segment);
        else if (shown.marked && help->pos().x() < rowPadX)
            tip = QStringLiteral("The open Short uses this segment");
        if (tip.isEmpty()) {
            QToolTip::hideText();
            event->ignore();
        } else {
            QToolTip::showText(help->globalPos(), tip, this);
        }
        return true;
    }
    return QWidget::event(event);
}

QMenu* SegmentRow::makeMenu()
{
    auto* menu = new QMenu(this);
    AppModel* m = &model;
    const QString id = shown.segment.id;
    const auto entries = segmentMenu(shown.segment, model.touchesNext(id));
    for (const MenuEntry& e : entries) {
        if (e.title.isEmpty()) {
            menu->addSeparator();
        } else if (!e.sub.empty()) {
            QMenu* sub = menu->addMenu(e.title);
            const QString engines[] = {QStringLiteral("whisper"), QStringLiteral("scribe")};
            for (size_t i = 0; i < e.sub.size() && i < 2; ++i)
                sub->addAction(e.sub[i], m, [m, id, engine = engines[i]] { m->transcribeAgain({id}, engine); });
        } else {
            QAction* action = menu->addAction(e.title);
            if (e.destructive)
                Style::markDestructive(action);
            std::function<void()> run;
            if (e.title.contains(QStringLiteral("Favourite")))
                run = [m, id] { m->rate(id, 1); };
            else if (e.title.contains(QStringLiteral("Reject")))
                run = [m, id] { m->rate(id, -1); };
            else if (e.title.startsWith(QStringLiteral("Join")))
                run = [m, id] { m->joinWithNext(id); };
            else
                run = [m, id] { m->removeSegment(id); };
            connect(action, &QAction::triggered, m, run);
        }
    }
    return menu;
}

void SegmentRow::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu* menu = makeMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

// ---- ShortRow ----

ShortRow::ShortRow(AppModel& m, QWidget* parent)
    : ListRow(parent), model(m)
{
}

void ShortRow::setLook(Look look)
{
    if (look == shown)
        return;
    const bool retitled = look.item.title != shown.item.title;
    shown = std::move(look);
    if (retitled)
        updateGeometry();
    update();
}

int ShortRow::heightForWidth(int width) const
{
    const QFont titleFont = Style::font(Style::Text::body, QFont::Medium);
    const int lines = int(wrap(shown.item.title, titleFont, std::max(10, width - 40 - rowPadX), 2).size());
    const double info = std::max(QFontMetricsF(Style::font(Style::Text::caption)).height(), 14.0);
    return int(std::ceil(std::max(22.0, lines * QFontMetricsF(titleFont).height() + 2 + info) + 2 * rowPadY));
}

void ShortRow::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPalette pal = palette();
    if (shown.active && shown.item.closed != true) {
        QPainterPath back;
        back.addRoundedRect(QRectF(rect()), 10, 10);
        p.fillPath(back, Style::faded(Style::accent(pal), 0.16));
    }
    const QFont titleFont = Style::font(Style::Text::body, QFont::Medium);
    const QFont caption = Style::font(Style::Text::caption);
    const double lh = QFontMetricsF(titleFont).height();
    const double infoH = std::max(QFontMetricsF(caption).height(), 14.0);
    const double textX = rowPadX + 22 + 10;
    const double textW = std::max(10.0, width() - textX - rowPadX);
    const QStringList lines = wrap(shown.item.title, titleFont, textW, 2);
    const double textH = lines.size() * lh + 2 + infoH;
    const double top = (height() - textH) / 2;
    const QString icon = shown.idea ? QStringLiteral("sparkles") : QStringLiteral("film");
    p.drawPixmap(QRect(rowPadX + 2, int(height() / 2.0 - 9), 18, 18),
                 Style::symbol(icon, Style::accent(pal), 18, devicePixelRatioF()));
    p.setFont(titleFont);
    p.setPen(Style::primary(pal));
    for (int i = 0; i < lines.size(); ++i)
        p.drawText(QRectF(textX, top + i * lh, textW, lh), Qt::AlignLeft | Qt::AlignVCenter, lines[i]);
    const ShortInfo info = shortInfo(shown.item);
    const QRectF infoRect(textX, top + lines.size() * lh + 2, textW, infoH);
    p.setFont(Style::digits(caption));
    p.setPen(info.tooLong ? Style::red() : Style::secondary(pal));
    p.drawText(infoRect, Qt::AlignLeft | Qt::AlignVCenter, info.text);
    if (shown.idea) {
        const double x = QFontMetricsF(Style::digits(caption)).horizontalAdvance(info.text) + 6;
        p.setFont(caption);
        p.setPen(shown.edited ? Style::orange() : Style::tertiary(pal));
        p.drawText(infoRect.adjusted(x, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                   shown.edited ? QStringLiteral("edited") : QStringLiteral("as AI cut it"));
    }
}

void ShortRow::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        model.activate(shown.item.id);
}

QMenu* ShortRow::makeMenu()
{
    auto* menu = new QMenu(this);
    AppModel* m = &model;
    const QUuid id = shown.item.id;
    for (const MenuEntry& e : shortMenu(shown.idea.has_value(), shown.edited)) {
        if (e.title.isEmpty()) {
            menu->addSeparator();
            continue;
        }
        QAction* action = menu->addAction(e.title);
        if (e.destructive)
            Style::markDestructive(action);
        if (e.title.startsWith(QStringLiteral("Rename")))
            connect(action, &QAction::triggered, this, &ShortRow::startRename);
        else if (e.title.startsWith(QStringLiteral("Duplicate")))
            connect(action, &QAction::triggered, m, [m, id] { m->duplicateShort(id); });
        else if (e.title.startsWith(QStringLiteral("Revert")))
            connect(action, &QAction::triggered, this, &ShortRow::startRevert);
        else
            connect(action, &QAction::triggered, m, [m, id] { m->deleteShort(id); });
    }
    return menu;
}

void ShortRow::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu* menu = makeMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

void ShortRow::startRename()
{
    if (renaming)
        return;
    AppModel* m = &model;
    const QUuid id = shown.item.id;
    renaming = openRenameShort(this, shown.item.title, [m, id](const QString& name) { m->rename(id, name); });
}

void ShortRow::startRevert()
{
    if (reverting)
        return;
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Revert"), revertTitle(shown.item),
                                QMessageBox::Cancel, window());
    box->setTextFormat(Qt::PlainText);
    widen(box);
    box->setInformativeText(revertMessage(shown.idea));
    QPushButton* go = box->addButton(QStringLiteral("Revert"), QMessageBox::DestructiveRole);
    Style::markDestructive(go);
    // Replacing work is never what Return does.
    box->setDefaultButton(QMessageBox::Cancel);
    AppModel* m = &model;
    // The idea the row showed when it was asked, acted on in the project as it is then.
    const std::optional<Idea> idea = shown.idea;
    connect(box, &QMessageBox::finished, m, [m, box, go, idea] {
        if (box->clickedButton() == go && idea)
            m->revert(*idea);
    });
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    reverting = box;
    box->open();
}

// ---- IdeaCard ----

IdeaCard::IdeaCard(AppModel& m, QWidget* parent)
    : QWidget(parent), model(m)
{
    const QPalette pal = palette();
    auto* column = new QVBoxLayout(this);
    // The card's own 8 points below it are outside its drawn box.
    column->setContentsMargins(12, 12, 12, 12 + 8);
    column->setSpacing(6);
    title = new QLabel(this);
    title->setTextFormat(Qt::PlainText);
    title->setWordWrap(true);
    title->setFont(Style::font(Style::Text::headline));
    hook = new QLabel(this);
    hook->setTextFormat(Qt::RichText);
    hook->setWordWrap(true);
    Style::setText(hook, Style::Text::body, Style::secondary(pal));
    why = new QLabel(this);
    why->setTextFormat(Qt::PlainText);
    why->setWordWrap(true);
    Style::setText(why, Style::Text::body, Style::secondary(pal));
    strip = new Strip(this);
    auto* foot = new QHBoxLayout;
    format = new Chip(this);
    footer = new QLabel(this);
    footer->setTextFormat(Qt::PlainText);
    Style::setText(footer, Style::Text::body, Style::secondary(pal));
    footer->setFont(Style::digits(footer->font()));
    open = new QPushButton(QStringLiteral("Open"), this);
    open->setStyleSheet(Style::prominentButton(pal));
    connect(open, &QPushButton::clicked, this, [this] { model.openIdea(shown); });
    foot->addWidget(format);
    foot->addWidget(footer);
    foot->addStretch(1);
    foot->addWidget(open);
    // A run of text without a place to break (a link, a hashtag) must not widen the card
    // past the column: it is cut at the card's edge, and "Open" stays in reach.
    for (QLabel* label : {title, hook, why})
        label->setMinimumWidth(1);
    column->addWidget(title);
    column->addWidget(hook);
    column->addWidget(why);
    column->addWidget(strip);
    column->addLayout(foot);
}

void IdeaCard::setIdea(const Idea& idea)
{
    if (idea == shown && !title->text().isEmpty())
        return;
    shown = idea;
    title->setText(idea.title);
    // Only the word "Hook" is markup: the model's text is escaped.
    hook->setText(QStringLiteral("<span style=\"color:%1; font-weight:600\">Hook</span> %2")
                      .arg(Style::primary(palette()).name(), idea.hook.toHtmlEscaped()));
    why->setText(idea.why);
    why->setVisible(!idea.why.isEmpty());
    static_cast<Strip*>(strip)->idea = idea;
    strip->update();
    static_cast<Chip*>(format)->setText(idea.format);
    format->setVisible(!idea.format.isEmpty());
    footer->setText(ideaFooter(idea));
}

void IdeaCard::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(0.25, 0.25, -0.25, -8.25);
    QPainterPath path;
    path.addRoundedRect(box, 12, 12);
    p.fillPath(path, palette().color(QPalette::Window));
    p.setPen(QPen(Style::quaternary(palette()), 0.5));
    p.drawPath(path);
}

// ---- Notice ----

Notice::Notice(const QString& title, QWidget* parent)
    : QWidget(parent)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(10, 6, 10, 6 + 4);
    text = new QLabel(this);
    text->setTextFormat(Qt::PlainText);
    // The sentence gives way in a narrow column, never the cost or the button.
    text->setWordWrap(true);
    Style::setText(text, Style::Text::callout, Style::secondary(palette()));
    price = new QLabel(this);
    price->setTextFormat(Qt::PlainText);
    Style::setText(price, Style::Text::callout, Style::tertiary(palette()));
    run = new QPushButton(title, this);
    run->setFocusPolicy(Qt::NoFocus);
    run->setFont(Style::font(Style::Text::caption));
    row->addWidget(text, 1);
    row->addWidget(price);
    row->addWidget(run);
}

void Notice::setTexts(const QString& sentence, const QString& cost)
{
    text->setText(sentence);
    price->setText(cost);
    price->setVisible(!cost.isEmpty());
}

QString Notice::sentence() const
{
    return text->text();
}

void Notice::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()).adjusted(0, 0, 0, -4), 8, 8);
    p.fillPath(path, Style::faded(Style::quaternary(palette()), 0.6));
}

