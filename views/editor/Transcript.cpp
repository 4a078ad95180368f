#include "views/editor/Transcript.h"

#include "model/lifecycle/AppModel.h"
#include "views/kit/Style.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScrollBar>
#include <QStyleHints>
#include <QTextLayout>
#include <QTimer>
#include <cmath>

namespace transcript {

std::optional<int> nowIndex(const std::vector<Line>& lines, double t)
{
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].t0 <= t && t < lines[i].t1)
            return int(i);
    return std::nullopt;
}

bool lineUsed(const Line& line, const std::vector<Cut>& cuts)
{
    for (const Cut& c : cuts)
        if (line.t0 < c.end - 0.05 && line.t1 > c.start + 0.05)
            return true;
    return false;
}

QString lineTime(double seconds)
{
    const QString full = clock(seconds);
    if (!full.startsWith(QLatin1String("0:")))
        return full;
    QString minutes = full.mid(2);
    if (minutes.startsWith(u'0'))
        minutes.remove(0, 1);
    return minutes;
}

std::optional<int> firstEndingAfter(const std::vector<Line>& lines, double t)
{
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].t1 > t)
            return int(i);
    return std::nullopt;
}

} // namespace transcript

namespace {

const QString star = QStringLiteral(" ★");

QFont timeFont()
{
    return Style::digits(Style::font(Style::Text::caption));
}

// The field a line is corrected in: Return hands the draft over; Escape and leaving it
// are the delegate's (they close it without writing).
class CorrectionField : public QPlainTextEdit {
    Q_OBJECT
public:
    using QPlainTextEdit::QPlainTextEdit;
Q_SIGNALS:
    void submitted(const QString& text);

protected:
    void keyPressEvent(QKeyEvent* e) override
    {
        if ((e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) && !(e->modifiers() & Qt::ShiftModifier)) {
            Q_EMIT submitted(toPlainText());
            return;
        }
        QPlainTextEdit::keyPressEvent(e);
    }
};

} // namespace

// ---- LineModel ----

void LineModel::setLines(const QString& segment, const std::vector<Line>& lines)
{
    beginResetModel();
    segmentId = segment;
    held = lines;
    rows.assign(held.size(), Row{});
    lit.reset();
    const QFontMetrics metrics(timeFont());
    timeColumn = 0;
    for (const Line& line : held)
        timeColumn = std::max(timeColumn, metrics.horizontalAdvance(transcript::lineTime(line.t0) + star));
    endResetModel();
}

bool LineModel::retext(const QString& segment, const std::vector<Line>& lines)
{
    if (segment != segmentId || lines.size() != held.size())
        return false;
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].t0 != held[i].t0 || lines[i].t1 != held[i].t1)
            return false;
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].text != held[i].text) {
            held[i].text = lines[i].text;
            const QModelIndex at = index(int(i));
            Q_EMIT dataChanged(at, at);
        }
    return true;
}

void LineModel::change(int i, const Row& next)
{
    if (rows[size_t(i)] == next)
        return;
    rows[size_t(i)] = next;
    const QModelIndex at = index(i);
    Q_EMIT dataChanged(at, at);
}

void LineModel::mark(std::optional<qint64> keyLine, const std::optional<LineRange>& selected,
                     const std::vector<Cut>& cuts)
{
    for (int i = 0; i < int(held.size()); ++i) {
        Row next = rows[size_t(i)];
        next.key = keyLine && *keyLine == i;
        next.selected = selected && selected->lower <= i && i <= selected->upper;
        next.used = transcript::lineUsed(held[size_t(i)], cuts);
        change(i, next);
    }
}

bool LineModel::setNow(std::optional<int> index)
{
    if (index == lit)
        return false;
    if (lit) {
        Row off = rows[size_t(*lit)];
        off.now = false;
        change(*lit, off);
    }
    lit = index;
    if (lit) {
        Row on = rows[size_t(*lit)];
        on.now = true;
        change(*lit, on);
    }
    return true;
}

int LineModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(held.size());
}

QVariant LineModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= int(held.size()))
        return {};
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        return held[size_t(index.row())].text;
    if (role == Qt::ToolTipRole)
        return QStringLiteral("Double-click to correct what was heard");
    return {};
}

Qt::ItemFlags LineModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsEditable;
}

// ---- LineDelegate ----

LineDelegate::LineDelegate(const LineModel& lines, QListView* view)
    : QStyledItemDelegate(view)
    , lines(lines)
    , view(view)
{
}

int LineDelegate::textWidth() const
{
    // 8 points of list padding and 8 of row padding each side, the time and 10 between.
    return std::max(view->viewport()->width() - 32 - lines.timeWidth() - 10, 40);
}

QSize LineDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const
{
    // A row being corrected is as tall as its draft, so the field grows as the text does:
    // whole lines as the field lays them out, or it scrolls its first lines out of sight.
    if (const auto* field = qobject_cast<const QPlainTextEdit*>(view->indexWidget(index))) {
        const QFont font = field->font();
        const int width = field->viewport()->width() > 0 ? field->viewport()->width() : textWidth() - 1;
        int count = 0;
        for (const QString& paragraph : field->toPlainText().split(u'\n')) {
            QTextLayout layout(paragraph, font);
            QTextOption wrap;
            wrap.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
            layout.setTextOption(wrap);
            layout.beginLayout();
            int lines = 0;
            for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine(), ++lines)
                line.setLineWidth(width);
            layout.endLayout();
            count += std::max(lines, 1);
        }
        return {view->viewport()->width(), int(std::ceil(count * QFontMetricsF(font).lineSpacing())) + 10 + 1};
    }
    const QFont body = Style::font(Style::Text::body, QFont::Medium);
    const QFontMetrics metrics(body);
    const QRect text = metrics.boundingRect(QRect(0, 0, textWidth(), 100000), Qt::TextWordWrap,
                                            lines.lines()[size_t(index.row())].text);
    return {view->viewport()->width(), std::max(text.height(), metrics.height()) + 10};
}

void LineDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    // The correction field takes the row's place; its fill is translucent, so anything
    // painted here would show through the draft.
    if (view->indexWidget(index))
        return;
    const LineModel::Row& row = lines.row(index.row());
    const Line& line = lines.lines()[size_t(index.row())];
    const QPalette& pal = view->palette();
    const QColor accent = Style::accent(pal);
    const QRectF r = QRectF(option.rect).adjusted(8, 0, -8, 0);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    if (row.selected) {
        QPainterPath back;
        back.addRoundedRect(r, 6, 6);
        painter->fillPath(back, Style::faded(accent, 0.16));
    }
    if (row.used)
        painter->fillRect(QRectF(r.left(), r.top(), 2.5, r.height()), accent);

    const QFont body = Style::font(Style::Text::body, row.now ? QFont::Medium : QFont::Normal);
    const QFont time = timeFont();
    const double top = r.top() + 5;
    // The time sits on the first line's baseline.
    const double baseline = top + QFontMetricsF(body).ascent();
    painter->setFont(time);
    painter->setPen(row.key ? Style::orange() : Style::tertiary(pal));
    painter->drawText(QPointF(r.left() + 8, baseline), transcript::lineTime(line.t0) + (row.key ? star : QString()));

    painter->setFont(body);
    painter->setPen(row.now ? accent : Style::primary(pal));
    const double left = r.left() + 8 + lines.timeWidth() + 10;
    painter->drawText(QRectF(left, top, textWidth(), r.height() - 10), Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop,
                      line.text);
    painter->restore();
}

QWidget* LineDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex& index) const
{
    auto* field = new CorrectionField(parent);
    field->setFrameShape(QFrame::NoFrame);
    field->document()->setDocumentMargin(0);
    field->setFont(Style::font(Style::Text::body));
    field->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    field->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    const QColor fill = Style::faded(Style::accent(view->palette()), 0.1);
    // Framed in the accent, so that it reads as a field being typed in.
    field->setStyleSheet(
        QStringLiteral("QPlainTextEdit { font-weight: 400; background: %1; border: 1px solid %2; border-radius: 6px; padding: 4px 8px 4px %3px; }")
            .arg(Style::css(fill), Style::css(Style::faded(Style::accent(view->palette()), 0.6)))
            .arg(8 + lines.timeWidth() + 10 - 1));
    connect(field, &CorrectionField::submitted, this, &LineDelegate::submitted);
    const QPersistentModelIndex row(index);
    auto* self = const_cast<LineDelegate*>(this); // Qt makes editors in a const function
    connect(field, &QPlainTextEdit::textChanged, self, [self, row] {
        if (row.isValid())
            Q_EMIT self->sizeHintChanged(row);
    });
    // The row grows downward, past the pane's bottom on its last lines: once the rows are
    // laid out again, the list scrolls so that the line being typed stays in sight.
    QListView* list = view;
    const auto reveal = [list, field] {
        QTimer::singleShot(0, field, [list, field] {
            const QRect cursor = field->cursorRect();
            const int bottom = field->viewport()->mapTo(list->viewport(), cursor.bottomLeft()).y();
            const int top = bottom - cursor.height();
            QScrollBar* bar = list->verticalScrollBar();
            if (bottom > list->viewport()->height())
                bar->setValue(bar->value() + bottom - list->viewport()->height() + 1);
            else if (top < 0)
                bar->setValue(bar->value() + top);
        });
    };
    connect(field, &QPlainTextEdit::textChanged, field, reveal);
    connect(field, &QPlainTextEdit::cursorPositionChanged, field, reveal);
    return field;
}

void LineDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const
{
    auto* field = static_cast<QPlainTextEdit*>(editor);
    if (field->toPlainText().isEmpty())
        field->setPlainText(lines.lines()[size_t(index.row())].text);
}

void LineDelegate::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option, const QModelIndex&) const
{
    editor->setGeometry(option.rect.adjusted(8, 0, -8, 0));
    // The row has grown to the whole draft, but the field scrolled a line down to keep the
    // cursor in sight while it was still short: every line fits now, from the first.
    if (auto* field = qobject_cast<QPlainTextEdit*>(editor))
        field->verticalScrollBar()->setValue(0);
}

// ---- Transcript ----

Transcript::Transcript(AppModel& model, QWidget* parent)
    : QListView(parent)
    , lines(this)
    , model(model)
{
    setModel(&lines);
    delegate = new LineDelegate(lines, this);
    setItemDelegate(delegate);
    setFrameShape(QFrame::NoFrame);
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setResizeMode(QListView::Adjust);
    setViewportMargins(0, 6, 0, 6);
    setMouseTracking(false);
    viewport()->setAutoFillBackground(false);
    setAutoFillBackground(false);
    connect(delegate, &LineDelegate::submitted, this, &Transcript::submit);
    clickTimer.setSingleShot(true);
    connect(&clickTimer, &QTimer::timeout, this, &Transcript::commitClick);
}

Transcript::~Transcript()
{
    qApp->removeEventFilter(this);
}

void Transcript::present(const Segment& segment)
{
    const std::vector<Line>& next = segment.lines ? *segment.lines : std::vector<Line>{};
    if (segment.id != lines.segment() || next != lines.lines()) {
        // Never write a draft over a line it was not opened on, nor a click on another's:
        // new lines (transcribed again, another project) put other words at that row.
        discard();
        if (lines.retext(segment.id, next)) {
            scheduleDelayedItemsLayout(); // a new text may take more or fewer lines
        } else {
            dropClick();
            lines.setLines(segment.id, next);
            rangeKnown = false;
        }
    }
    keyLine = segment.keyLine;
    markRows();
    lines.setNow(transcript::nowIndex(lines.lines(), model.recordingTime()));
    followRange();
}

void Transcript::markRows()
{
    lines.mark(keyLine, shownSelection(), model.cuts());
}

std::optional<LineRange> Transcript::shownSelection() const
{
    const std::optional<LineRange> now = model.selectedLines();
    if (!pending)
        return now;
    // As the model will make it: Shift widens a selection that lies within these lines.
    int low = pending->line;
    int high = pending->line;
    if (pending->extend && now && now->lower >= 0 && now->lower <= now->upper && now->upper < lines.rowCount()) {
        low = std::min(now->lower, low);
        high = std::max(now->upper, high);
    }
    return LineRange{low, high};
}

void Transcript::press(int line, bool extend)
{
    if (pending && pending->segment == lines.segment() && pending->line == line)
        return; // the second press of a double-click, or a second click on the same line
    commitClick();
    pending = Click{lines.segment(), line, extend};
    clickTimer.start(QGuiApplication::styleHints()->mouseDoubleClickInterval());
    qApp->installEventFilter(this);
    markRows();
}

void Transcript::commitClick()
{
    if (!pending)
        return;
    const Click click = *pending;
    dropClick();
    // The pane may no longer show the segment (the project closed): then it is not the
    // selected one, and the click has nothing left to act on.
    if (click.segment == lines.segment() && model.selection() == click.segment)
        model.selectLine(click.line, click.extend);
}

void Transcript::dropClick()
{
    if (!pending)
        return;
    pending.reset();
    clickTimer.stop();
    qApp->removeEventFilter(this);
    markRows();
}

bool Transcript::eventFilter(QObject* watched, QEvent* event)
{
    // A key, or a press anywhere else, acts on what the waiting click makes: it counts now.
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::ShortcutOverride:
        commitClick();
        break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        if (watched->isWidgetType() && watched != viewport())
            commitClick();
        break;
    default:
        break;
    }
    return QListView::eventFilter(watched, event);
}

void Transcript::followRange()
{
    const std::optional<double> key =
        model.range() ? std::optional<double>(model.range()->lower) : std::optional<double>();
    if (rangeKnown && key == rangeKey)
        return;
    rangeKnown = true;
    rangeKey = key;
    if (!key)
        return;
    const auto target = transcript::firstEndingAfter(lines.lines(), *key);
    if (!target)
        return;
    // After the rows are laid out.
    const QString segment = lines.segment();
    const int row = *target;
    QTimer::singleShot(0, this, [this, segment, row] {
        if (lines.segment() == segment && row < lines.rowCount())
            scrollTo(lines.index(row), QAbstractItemView::PositionAtCenter);
    });
}

void Transcript::tick()
{
    const auto now = transcript::nowIndex(lines.lines(), model.recordingTime());
    if (lines.setNow(now) && now && model.clock().playing())
        scrollTo(lines.index(*now), QAbstractItemView::PositionAtCenter);
}

void Transcript::startCorrection(int line)
{
    if (line < 0 || line >= lines.rowCount())
        return;
    discard();
    model.player().pause();
    editing = Correction{lines.segment(), line, lines.lines()[size_t(line)].text};
    edit(lines.index(line));
}

void Transcript::submit(const QString& draft)
{
    if (!editing)
        return;
    const Correction done = *editing;
    discard();
    // The pane catches up with the project on the next turn of the event loop: a line that
    // changed meanwhile is no longer the one the draft was typed over.
    for (const Segment& s : model.project().segments)
        if (s.id == done.segment) {
            if (s.lines && done.line < int(s.lines->size()) && (*s.lines)[size_t(done.line)].text == done.original)
                model.correct(done.segment, done.line, draft);
            return;
        }
}

void Transcript::discard()
{
    if (!editing)
        return;
    const int line = editing->line;
    editing.reset();
    if (QWidget* field = indexWidget(lines.index(line)))
        QListView::closeEditor(field, QAbstractItemDelegate::RevertModelCache);
}

void Transcript::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint)
{
    // Escape, or the focus gone elsewhere: the draft goes with the field.
    editing.reset();
    QListView::closeEditor(editor, hint);
}

void Transcript::mousePressEvent(QMouseEvent* e)
{
    const QModelIndex at = indexAt(e->position().toPoint());
    if (e->button() != Qt::LeftButton || !at.isValid()) {
        QListView::mousePressEvent(e);
        return;
    }
    if (editing && editing->line == at.row())
        return;
    setFocus(Qt::MouseFocusReason);
    press(at.row(), e->modifiers() & Qt::ShiftModifier);
}

void Transcript::mouseDoubleClickEvent(QMouseEvent* e)
{
    const QModelIndex at = indexAt(e->position().toPoint());
    if (e->button() != Qt::LeftButton || !at.isValid())
        return;
    if (editing && editing->line == at.row())
        return;
    if (pending && pending->line != at.row()) {
        // The two presses fell on different lines: two clicks.
        mousePressEvent(e);
        return;
    }
    dropClick();
    startCorrection(at.row());
}

#include "Transcript.moc"
