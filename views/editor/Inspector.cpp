#include "views/editor/Inspector.h"

#include "model/lifecycle/AppModel.h"
#include "views/editor/ShortTranscript.h"
#include "views/editor/Transcript.h"
#include "views/kit/Format.h"
#include "views/kit/Spinner.h"
#include "views/kit/Style.h"
#include "views/start/Rows.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QStackedLayout>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace inspector {

Panel panelFor(Mode mode, const Project& project, const std::optional<QString>& selection,
               const std::optional<QUuid>& activeShort)
{
    if (mode == Mode::shortClip && activeShort)
        for (const Short& s : project.shorts)
            if (s.id == *activeShort)
                return Panel::shortClip;
    if (selection)
        for (const Segment& s : project.segments)
            if (s.id == *selection)
                return Panel::segment;
    return Panel::none;
}

QString titleLine(const Segment& segment)
{
    return QStringLiteral("Segment ") + segment.id + QStringLiteral(" · ") + clock(segment.start) +
           QStringLiteral(" to ") + clock(segment.end);
}

Body bodyFor(const Segment& segment)
{
    if (segment.lines)
        return Body::transcript;
    return segment.error ? Body::failed : Body::waiting;
}

} // namespace inspector

namespace {

QLabel* text(QWidget* parent, Style::Text role, const QColor& colour, bool wrap = true)
{
    auto* l = new QLabel(parent);
    Style::setText(l, role, colour);
    l->setWordWrap(wrap);
    l->setTextFormat(Qt::PlainText);
    return l;
}

} // namespace

SegmentPane::SegmentPane(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , model(model)
{
    const QPalette& pal = palette();
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* header = new QWidget(this);
    auto* head = new QVBoxLayout(header);
    head->setContentsMargins(16, 14, 16, 14);
    head->setSpacing(5);
    auto* top = new QHBoxLayout;
    top->setSpacing(10);
    titleLine = text(header, Style::Text::caption, Style::tertiary(pal), false);
    titleLine->setFont(Style::digits(Style::font(Style::Text::caption)));
    favourite = new QToolButton(header);
    reject = new QToolButton(header);
    for (QToolButton* b : {favourite, reject}) {
        b->setAutoRaise(true);
        b->setIconSize(QSize(16, 16));
    }
    favourite->setToolTip(QStringLiteral("Favourite (F)"));
    reject->setToolTip(QStringLiteral("Reject: hide it from AI's ideas (Backspace). U clears."));
    top->addWidget(titleLine);
    top->addStretch(1);
    top->addWidget(favourite);
    top->addWidget(reject);
    head->addLayout(top);
    heading = text(header, Style::Text::title, Style::primary(pal));
    heading->setFont(Style::font(Style::Text::title3));
    head->addWidget(heading);
    vibe = new Vibe(header);
    head->addWidget(vibe, 0, Qt::AlignLeft);
    summarize = new QPushButton(QStringLiteral("Summarize This Segment"), header);
    summarize->setFont(Style::font(Style::Text::callout));
    auto* summarizeRow = new QHBoxLayout;
    summarizeRow->setContentsMargins(0, 2, 0, 0);
    summarizeRow->addWidget(summarize);
    summarizeRow->addStretch(1);
    head->addLayout(summarizeRow);
    summary = text(header, Style::Text::body, Style::secondary(pal));
    summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    summary->setContentsMargins(0, 3, 0, 0);
    head->addWidget(summary);
    unsure = text(header, Style::Text::callout, Style::orange());
    unsure->setStyleSheet(QStringLiteral("QLabel { background: %1; border-radius: 7px; padding: 6px 9px; margin-top: 3px; }")
                              .arg(Style::css(Style::faded(Style::orange(), 0.14))));
    head->addWidget(unsure);
    column->addWidget(header);
    column->addWidget(Style::divider(this));

    auto* bodyHost = new QWidget(this);
    body = new QStackedLayout(bodyHost);
    transcript = new Transcript(model, bodyHost);
    body->addWidget(transcript);
    failed = new QWidget(bodyHost);
    auto* failedColumn = new QVBoxLayout(failed);
    failedColumn->setSpacing(8);
    failedColumn->addStretch(1);
    error = text(failed, Style::Text::body, Style::red());
    error->setAlignment(Qt::AlignCenter);
    failedColumn->addWidget(error);
    auto* again = new QPushButton(QStringLiteral("Try again"), failed);
    failedColumn->addWidget(again, 0, Qt::AlignHCenter);
    failedColumn->addStretch(1);
    body->addWidget(failed);
    waiting = new QWidget(bodyHost);
    auto* waitingColumn = new QVBoxLayout(waiting);
    waitingColumn->setSpacing(8);
    waitingColumn->addStretch(1);
    waitingColumn->addWidget(new Spinner(waiting), 0, Qt::AlignHCenter);
    auto* waitingText = text(waiting, Style::Text::body, Style::secondary(pal));
    waitingText->setText(QStringLiteral("Waiting to be transcribed"));
    waitingText->setAlignment(Qt::AlignCenter);
    waitingColumn->addWidget(waitingText);
    waitingColumn->addStretch(1);
    body->addWidget(waiting);
    column->addWidget(bodyHost, 1);

    marked = new QWidget(this);
    auto* markedColumn = new QVBoxLayout(marked);
    markedColumn->setContentsMargins(0, 0, 0, 0);
    markedColumn->setSpacing(0);
    markedColumn->addWidget(Style::divider(marked));
    auto* bar = new QWidget(marked);
    bar->setFixedHeight(46);
    auto* barRow = new QHBoxLayout(bar);
    barRow->setContentsMargins(12, 0, 12, 0);
    markedLength = text(bar, Style::Text::body, Style::secondary(pal), false);
    markedLength->setFont(Style::digits(Style::font(Style::Text::body)));
    barRow->addWidget(markedLength);
    barRow->addStretch(1);
    auto* clear = new QPushButton(QStringLiteral("Clear"), bar);
    clear->setFlat(true);
    auto* add = new QPushButton(QStringLiteral("Add to Short"), bar);
    add->setToolTip(QStringLiteral("A"));
    add->setDefault(true);
    add->setStyleSheet(Style::prominentButton(pal));
    barRow->addWidget(clear);
    barRow->addWidget(add);
    markedColumn->addWidget(bar);
    column->addWidget(marked);

    connect(favourite, &QToolButton::clicked, this, [this] { this->model.rate(id, 1); });
    connect(reject, &QToolButton::clicked, this, [this] { this->model.rate(id, -1); });
    connect(summarize, &QPushButton::clicked, this, [this] {
        if (!this->model.video())
            return;
        this->model.runPipeline(false, false, false, false, {id});
    });
    connect(again, &QPushButton::clicked, this, [this] { this->model.retry(id); });
    connect(clear, &QPushButton::clicked, this, [this] { this->model.clearRange(); });
    connect(add, &QPushButton::clicked, this, [this] { this->model.addRange(); });
}

void SegmentPane::present(const Segment& s)
{
    id = s.id;
    const QPalette& pal = palette();
    titleLine->setText(inspector::titleLine(s));
    const bool fav = s.rating == 1;
    const bool rej = s.rating == -1;
    favourite->setIcon(Style::symbolIcon(fav ? QStringLiteral("star.fill") : QStringLiteral("star"),
                                         fav ? QColor(0xff, 0xd6, 0x0a) : Style::secondary(pal), 16));
    reject->setIcon(Style::symbolIcon(rej ? QStringLiteral("xmark.circle.fill") : QStringLiteral("xmark.circle"),
                                      rej ? Style::red() : Style::secondary(pal), 16));
    heading->setText(s.title.isEmpty() ? QStringLiteral("Segment ") + s.id : s.title);
    vibe->setSegment(s);
    summarize->setVisible(s.title.isEmpty() && s.lines && !s.lines->empty());
    summarize->setEnabled(!model.working());
    summary->setVisible(!s.summary.isEmpty());
    summary->setText(s.summary);
    unsure->setVisible(!s.unsure.isEmpty());
    unsure->setText(QStringLiteral("Not sure: ") + s.unsure);
    switch (inspector::bodyFor(s)) {
    case inspector::Body::transcript:
        body->setCurrentWidget(transcript);
        break;
    case inspector::Body::failed:
        error->setText(*s.error);
        body->setCurrentWidget(failed);
        break;
    case inspector::Body::waiting:
        body->setCurrentWidget(waiting);
        break;
    }
    transcript->present(s);
    const auto& range = model.range();
    marked->setVisible(range.has_value());
    if (range)
        markedLength->setText(span(range->upper - range->lower) + QStringLiteral(" marked"));
}

InspectorView::InspectorView(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , model(model)
    , later(this, [this] { refresh(); })
{
    stack = new QStackedLayout(this);
    empty = new QWidget(this);
    segment = new SegmentPane(model, this);
    shortTranscript = new ShortTranscript(model, this);
    stack->addWidget(empty);
    stack->addWidget(segment);
    stack->addWidget(shortTranscript);
    for (auto signal : {&AppModel::projectChanged, &AppModel::selectionChanged, &AppModel::modeChanged,
                        &AppModel::activeShortChanged, &AppModel::rangeChanged, &AppModel::selectedLinesChanged,
                        &AppModel::workingChanged})
        connect(&model, signal, this, [this] { later.ask(); });
    connect(&model.clock(), &Clock::timeChanged, this, [this] {
        if (shown == inspector::Panel::segment)
            segment->transcript->tick();
        else if (shown == inspector::Panel::shortClip)
            shortTranscript->tick();
    });
    refresh();
}

void InspectorView::refresh()
{
    shown = inspector::panelFor(model.mode(), model.project(), model.selection(), model.activeShort());
    switch (shown) {
    case inspector::Panel::none:
        stack->setCurrentWidget(empty);
        break;
    case inspector::Panel::segment:
        for (const Segment& s : model.project().segments)
            if (s.id == model.selection()) {
                segment->present(s);
                break;
            }
        stack->setCurrentWidget(segment);
        break;
    case inspector::Panel::shortClip:
        shortTranscript->rebuild();
        stack->setCurrentWidget(shortTranscript);
        break;
    }
}

void InspectorView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Window));
}
