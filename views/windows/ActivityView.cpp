#include "views/windows/ActivityView.h"

#include "model/lifecycle/AppModel.h"
#include "views/kit/Desktop.h"
#include "views/kit/Style.h"
#include "views/windows/Derive.h"

#include <QApplication>
#include <cmath>
#include <QDateTime>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QLocale>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QResizeEvent>
#include <QStyledItemDelegate>
#include <QTextDocument>
#include <QTextEdit>
#include <QVBoxLayout>

namespace {

constexpr double since2001 = 978307200;

QDateTime startedAt(double started)
{
    return QDateTime::fromMSecsSinceEpoch(qint64((started + since2001) * 1000));
}

// "Dec 7, 2026, 08:05" in the list; with seconds in the detail pane.
QString when(double started, bool seconds)
{
    const QDateTime at = startedAt(started);
    const QLocale locale;
    const QString time = seconds ? locale.toString(at.time(), QStringLiteral("HH:mm:ss"))
                                 : locale.toString(at.time(), QLocale::ShortFormat);
    return locale.toString(at.date(), QStringLiteral("MMM d, yyyy")) + QStringLiteral(", ") + time;
}

QColor colourOf(Mark::Colour colour, const QPalette& p)
{
    switch (colour) {
    case Mark::Colour::red:
        return Style::red();
    case Mark::Colour::secondary:
        return Style::secondary(p);
    case Mark::Colour::accent:
    case Mark::Colour::none:
        break;
    }
    return Style::accent(p);
}

// A row: the status icon in 18 points, the title over its summary line.
class JobDelegate : public QStyledItemDelegate {
public:
    JobDelegate(const JobList& jobs, const int& step, QObject* parent)
        : QStyledItemDelegate(parent), jobs(jobs), step(step)
    {
    }
    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override { return {330, 42}; }
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        // The row's background and selection only: the texts are drawn below.
        QStyleOptionViewItem base = option;
        initStyleOption(&base, index);
        base.text.clear();
        base.icon = QIcon();
        const QStyle* style = option.widget ? option.widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &base, painter, option.widget);
        const Job& job = jobs.job(index.row());
        const QPalette& p = option.palette;
        const bool chosen = option.state & QStyle::State_Selected;
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        const QRect r = option.rect.adjusted(10, 0, -10, 0);
        const QRectF icon(r.left(), r.center().y() - 8, 16, 16);
        const Mark m = mark(job);
        if (m.symbol.isEmpty()) {
            // A turning arc, as the spinner draws.
            QPen pen(chosen ? p.highlightedText().color() : Style::secondary(p), 2);
            pen.setCapStyle(Qt::RoundCap);
            painter->setPen(pen);
            painter->drawArc(icon.adjusted(2, 2, -2, -2), -step * 30 * 16, 270 * 16);
        } else {
            // Red and grey stay readable on the selection; the accent would vanish into it.
            const QColor colour = chosen && m.colour == Mark::Colour::accent ? p.highlightedText().color()
                                                                             : colourOf(m.colour, p);
            painter->drawPixmap(icon.topLeft(), Style::symbol(m.symbol, colour, 16, painter->device()->devicePixelRatioF()));
        }
        const int x = r.left() + 18 + 8;
        const QRect textRect(x, r.top() + 4, r.right() - x, r.height() - 8);
        QFont title = option.font;
        painter->setFont(title);
        painter->setPen(chosen ? p.highlightedText().color() : Style::primary(p));
        const QFontMetrics fm(title);
        painter->drawText(QRect(textRect.left(), textRect.top(), textRect.width(), fm.height()), Qt::AlignLeft | Qt::AlignVCenter,
                          fm.elidedText(oneLine(job.title), Qt::ElideRight, textRect.width()));
        const QFont caption = Style::digits(Style::font(Style::Text::caption));
        painter->setFont(caption);
        painter->setPen(chosen ? p.highlightedText().color() : Style::secondary(p));
        const QFontMetrics cm(caption);
        painter->drawText(QRect(textRect.left(), textRect.top() + fm.height() + 1, textRect.width(), cm.height()),
                          Qt::AlignLeft | Qt::AlignVCenter,
                          cm.elidedText(jobLine(job, when(job.started, false)), Qt::ElideRight, textRect.width()));
        painter->restore();
    }

private:
    const JobList& jobs;
    const int& step;
};

QLabel* selectable(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setWordWrap(true);
    return label;
}

// Selectable text on a rounded ground that breaks a line anywhere when a word is wider
// than the line: a reply may be one unbroken run of characters, and a label would widen
// the pane past the window for it. As tall as its text at the width it is given.
class WrapText : public QTextEdit {
public:
    WrapText(const QString& text, const QColor& ink, const QColor& ground, const QFont& font, QWidget* parent)
        : QTextEdit(parent)
    {
        setReadOnly(true);
        setFont(font);
        setFrameShape(QFrame::NoFrame);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        setFocusPolicy(Qt::ClickFocus);
        document()->setDocumentMargin(10);
        setPlainText(text);
        setStyleSheet(QStringLiteral("QTextEdit { color: %1; background: %2; border-radius: 8px; }")
                          .arg(Style::css(ink), Style::css(ground)));
        QSizePolicy policy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        policy.setHeightForWidth(true);
        setSizePolicy(policy);
    }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override
    {
        // Laid out once per width: a text of thousands of characters is not cheap.
        if (width != laidWidth) {
            QTextDocument* sizing = document()->clone();
            sizing->setTextWidth(width);
            laidHeight = int(std::ceil(sizing->size().height()));
            laidWidth = width;
            delete sizing;
        }
        return laidHeight;
    }
    QSize sizeHint() const override { return {100, heightForWidth(width() > 0 ? width() : 400)}; }
    QSize minimumSizeHint() const override { return {50, 20}; }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QTextEdit::resizeEvent(event);
        if (event->size().width() != event->oldSize().width())
            updateGeometry();
    }

private:
    mutable int laidWidth = -1;
    mutable int laidHeight = 0;
};

int step = 0;

} // namespace

JobList::JobList(AppModel& m, QObject* parent)
    : QAbstractListModel(parent), model(m), jobs(m.jobs())
{
}

int JobList::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(jobs.size());
}

QVariant JobList::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || size_t(index.row()) >= jobs.size())
        return {};
    const Job& job = jobs[size_t(index.row())];
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return job.title;
    if (role == idRole)
        return job.id;
    return {};
}

void JobList::follow()
{
    const std::vector<Job>& now = model.jobs();
    // New jobs come in at the front; the ones before keep their order.
    size_t added = 0;
    if (now.size() >= jobs.size()) {
        added = now.size() - jobs.size();
        for (size_t i = 0; i < jobs.size(); ++i) {
            if (now[i + added].id != jobs[i].id) {
                added = size_t(-1);
                break;
            }
        }
    } else {
        added = size_t(-1);
    }
    if (added == size_t(-1)) {
        beginResetModel();
        jobs = now;
        endResetModel();
        return;
    }
    if (added > 0) {
        beginInsertRows({}, 0, int(added) - 1);
        jobs.insert(jobs.begin(), now.begin(), now.begin() + qsizetype(added));
        endInsertRows();
    }
    for (size_t i = added; i < now.size(); ++i) {
        if (!(jobs[i] == now[i])) {
            jobs[i] = now[i];
            Q_EMIT dataChanged(index(int(i)), index(int(i)));
        }
    }
}

ActivityView::ActivityView(AppModel& m, QWidget* parent)
    : QWidget(parent), model(m)
{
    setWindowTitle(QStringLiteral("Activity"));
    setMinimumSize(860, 480);
    const QPalette pal = palette();
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);

    auto* left = new QWidget(this);
    left->setFixedWidth(330);
    auto* column = new QVBoxLayout(left);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    jobs = new JobList(model, this);
    listView = new QListView(left);
    listView->setModel(jobs);
    listView->setItemDelegate(new JobDelegate(*jobs, step, listView));
    listView->setFrameShape(QFrame::NoFrame);
    listView->setUniformItemSizes(true);
    listView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    column->addWidget(listView, 1);
    column->addWidget(Style::divider(left));
    auto* foot = new QWidget(left);
    foot->setFixedHeight(36);
    auto* footRow = new QHBoxLayout(foot);
    footRow->setContentsMargins(12, 0, 12, 0);
    footer = new QLabel(foot);
    Style::setText(footer, Style::Text::callout, Style::secondary(pal));
    stopAll = new QPushButton(QStringLiteral("Stop"), foot);
    stopAll->setToolTip(QStringLiteral("Stop what is running now"));
    stopAll->setFont(Style::font(Style::Text::caption));
    footRow->addWidget(footer);
    footRow->addStretch(1);
    footRow->addWidget(stopAll);
    column->addWidget(foot);
    row->addWidget(left);
    row->addWidget(Style::divider(this, Qt::Vertical));

    pages = new QStackedWidget(this);
    auto* empty = new QLabel(QStringLiteral("Transcriptions, summaries, idea searches, Ask AI and exports are listed here as they run."),
                             pages);
    empty->setWordWrap(true);
    empty->setAlignment(Qt::AlignCenter);
    empty->setContentsMargins(40, 40, 40, 40);
    Style::setText(empty, Style::Text::body, Style::secondary(pal));
    pages->addWidget(empty);
    scroll = new QScrollArea(pages);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    pages->addWidget(scroll);
    row->addWidget(pages, 1);

    connect(stopAll, &QPushButton::clicked, &model, &AppModel::cancelWork);
    // The user's choice is the selection, not the current row: the list makes its first
    // row current on its own when it takes the focus, and that is no choice (new jobs
    // would stop coming into view).
    listView->setSelectionMode(QAbstractItemView::SingleSelection);
    connect(listView->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        const QModelIndexList chosen = listView->selectionModel()->selectedIndexes();
        if (!chosen.isEmpty())
            selected = chosen.first().data(JobList::idRole).toUuid();
        schedule();
    });
    connect(&model, &AppModel::jobsChanged, this, [this] {
        jobs->follow();
        schedule();
    });
    connect(&model, &AppModel::workingChanged, this, &ActivityView::schedule);
    coalesce.setSingleShot(true);
    coalesce.setInterval(0);
    connect(&coalesce, &QTimer::timeout, this, &ActivityView::refresh);
    turn.setInterval(80);
    connect(&turn, &QTimer::timeout, this, [this] {
        step = (step + 1) % 12;
        listView->viewport()->update();
    });
    refresh();
}

void ActivityView::closeEvent(QCloseEvent* event)
{
    // The window is kept when closed; opened again, it starts with no job chosen.
    selected.reset();
    listView->selectionModel()->clear();
    schedule();
    QWidget::closeEvent(event);
}

std::optional<QUuid> ActivityView::shown() const
{
    const std::optional<size_t> at = shownJob(model.jobs(), selected);
    return at ? std::optional<QUuid>(model.jobs()[*at].id) : std::nullopt;
}

void ActivityView::schedule()
{
    coalesce.start();
}

void ActivityView::refresh()
{
    const std::vector<Job>& all = model.jobs();
    footer->setText(activityFooter(all.size(), model.spent()));
    stopAll->setVisible(model.working());
    const bool running = std::any_of(all.begin(), all.end(), [](const Job& j) { return j.state == u"running"; });
    if (running && !turn.isActive())
        turn.start();
    else if (!running)
        turn.stop();
    // A chosen job that left the list (another project) is forgotten.
    if (selected && !std::any_of(all.begin(), all.end(), [&](const Job& j) { return j.id == *selected; }))
        selected.reset();
    const std::optional<size_t> at = shownJob(all, selected);
    if (!at) {
        pages->setCurrentIndex(0);
        drawn.reset();
        return;
    }
    pages->setCurrentIndex(1);
    const Job& job = all[*at];
    // The pane is built again only when what it shows changes, so that a reader keeps
    // their place in a long reply while other work comes and goes.
    if (drawn && *drawn == job && drawnButton == ::headerButton(job, model.stoppable(job.id))) {
        if (header && drawnButton == HeaderButton::runAgain)
            header->setEnabled(!model.working());
        return;
    }
    fillDetail(job);
}

const QString& ActivityView::clippedFor(const QUuid& id, bool reply, const QString& text)
{
    Clip& clip = clips[{id, reply}];
    if (clip.size != text.size()) {
        clip.size = text.size();
        clip.shown = clipped(text);
    }
    return clip.shown;
}

QWidget* ActivityView::block(const QString& title, const QString& body, const QString& shownText)
{
    const QPalette pal = palette();
    auto* box = new QWidget;
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);
    auto* head = new QHBoxLayout;
    auto* name = new QLabel(title, box);
    name->setFont(Style::font(Style::Text::body, QFont::Medium));
    auto* copy = new QPushButton(QStringLiteral("Copy"), box);
    copy->setFlat(true);
    copy->setCursor(Qt::PointingHandCursor);
    // Copy takes the whole text, however much of it is shown.
    connect(copy, &QPushButton::clicked, this, [body] { Desktop::current().copy(body); });
    head->addWidget(name);
    head->addStretch(1);
    head->addWidget(copy);
    column->addLayout(head);
    QFont mono = Style::font(Style::Text::callout);
    mono.setFamily(QStringLiteral("DejaVu Sans Mono"));
    mono.setStyleHint(QFont::Monospace);
    column->addWidget(new WrapText(shownText, Style::primary(pal), Style::faded(Style::quaternary(pal), 0.5), mono, box));
    return box;
}

void ActivityView::fillDetail(const Job& job)
{
    drawn = job;
    const QPalette pal = palette();
    auto* pane = new QWidget;
    auto* column = new QVBoxLayout(pane);
    column->setContentsMargins(18, 18, 18, 18);
    column->setSpacing(12);

    auto* head = new QHBoxLayout;
    auto* title = selectable(job.title, pane);
    title->setFont(Style::font(Style::Text::title, QFont::DemiBold));
    head->addWidget(title, 1, Qt::AlignTop);
    header = nullptr;
    drawnButton = ::headerButton(job, model.stoppable(job.id));
    switch (drawnButton) {
    case HeaderButton::stop: {
        header = new QPushButton(QStringLiteral("Stop"), pane);
        const QUuid id = job.id;
        connect(header, &QPushButton::clicked, this, [this, id] {
            model.stop(id);
            schedule(); // a stopped job has no Stop while it winds down
        });
        break;
    }
    case HeaderButton::runAgain: {
        header = new QPushButton(QStringLiteral("Run Again"), pane);
        header->setToolTip(QStringLiteral("The same job, with what the project holds now"));
        header->setEnabled(!model.working());
        const Job again = job;
        connect(header, &QPushButton::clicked, this, [this, again] { model.runAgain(again); });
        break;
    }
    case HeaderButton::none:
        break;
    }
    if (header)
        head->addWidget(header, 0, Qt::AlignTop);
    column->addLayout(head);

    if (!job.detail.isEmpty()) {
        auto* detailText = selectable(job.detail, pane);
        Style::setText(detailText, Style::Text::body, Style::secondary(pal));
        column->addWidget(detailText);
    }

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(16);
    grid->setVerticalSpacing(4);
    int rowAt = 0;
    const auto add = [&](const QString& label, const QString& value) {
        auto* name = new QLabel(label, pane);
        Style::setText(name, Style::Text::body, Style::secondary(pal));
        auto* text = selectable(value, pane);
        text->setWordWrap(false);
        text->setFont(Style::digits(text->font()));
        grid->addWidget(name, rowAt, 0, Qt::AlignLeft | Qt::AlignVCenter);
        grid->addWidget(text, rowAt, 1, Qt::AlignLeft | Qt::AlignVCenter);
        ++rowAt;
    };
    const bool note = job.state == u"note";
    add(QStringLiteral("Started"), when(job.started, true));
    if (job.ended && !note)
        add(QStringLiteral("Took"), QString::asprintf("%.1f s", *job.ended - job.started));
    if (!job.engine.isEmpty())
        add(QStringLiteral("With"), job.engine);
    if (job.cost)
        add(QStringLiteral("Cost"), QString::asprintf("$%.4f", *job.cost));
    if (!note)
        add(QStringLiteral("Result"), job.state);
    grid->setColumnStretch(1, 1);
    column->addLayout(grid);

    if (job.error) {
        column->addWidget(new WrapText(*job.error, Style::red(), Style::faded(Style::red(), 0.1),
                                       Style::font(Style::Text::body), pane));
    }
    if (job.request)
        column->addWidget(block(QStringLiteral("Sent"), *job.request, clippedFor(job.id, false, *job.request)));
    if (job.reply)
        column->addWidget(block(QStringLiteral("Came back"), *job.reply, clippedFor(job.id, true, *job.reply)));
    column->addStretch(1);

    delete scroll->takeWidget();
    scroll->setWidget(pane);
    detail = pane;
}
