#include "views/start/SidebarView.h"

#include "core/services/Pricing.h"
#include "model/lifecycle/AppModel.h"
#include "platform/Prefs.h"
#include "views/kit/Dialogs.h"
#include "views/kit/Style.h"
#include "views/kit/Windows.h"

#include <QActionGroup>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QSet>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

// Lays `wanted` into `list` after its first `fixed` items, touching it only when the
// order changed.
void arrange(QVBoxLayout* list, int fixed, std::vector<QWidget*>& current, const std::vector<QWidget*>& wanted)
{
    if (current == wanted)
        return;
    while (list->count() > fixed)
        delete list->takeAt(fixed);
    // What leaves the list is kept for later, out of sight.
    for (QWidget* w : current)
        if (std::find(wanted.begin(), wanted.end(), w) == wanted.end())
            w->hide();
    for (QWidget* w : wanted) {
        list->addWidget(w);
        w->show();
    }
    list->addStretch(1);
    current = wanted;
}

QLabel* sentence(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setContentsMargins(8, 0, 8, 6);
    Style::setText(label, Style::Text::body, Style::secondary(parent->palette()));
    return label;
}

// The widgets of type T among those listed.
template <class T>
std::vector<T*> shown(const std::vector<QWidget*>& order)
{
    std::vector<T*> out;
    for (QWidget* w : order)
        if (auto* row = qobject_cast<T*>(w))
            out.push_back(row);
    return out;
}

} // namespace

// ---- SidebarView ----

SidebarView::SidebarView(AppModel& m, QWidget* parent)
    : QWidget(parent), model(m)
{
    const QPalette pal = palette();
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* header = new QWidget(this);
    auto* head = new QVBoxLayout(header);
    head->setContentsMargins(14, 10, 14, 8);
    head->setSpacing(8);
    line = new QLabel(header);
    line->setTextFormat(Qt::PlainText);
    Style::setText(line, Style::Text::body, Style::secondary(pal));
    map = new StreamMap(model, header);
    head->addWidget(line);
    head->addWidget(map);

    auto* controls = new QHBoxLayout;
    controls->setSpacing(0);
    // The list switch: two buttons on one rounded track, the chosen one lit.
    auto* track = new QFrame(header);
    track->setObjectName(QStringLiteral("listSwitch"));
    track->setStyleSheet(QStringLiteral("QFrame#listSwitch { background: %1; border-radius: 6px; }"
                                        "QToolButton { border: none; border-radius: 5px; padding: 2px 6px; color: %2; }"
                                        "QToolButton:checked { background: %3; color: %4; }")
                             .arg(Style::css(Style::quaternary(pal)), Style::css(Style::secondary(pal)),
                                  Style::css(Style::faded(Style::primary(pal), 0.22)), Style::css(Style::primary(pal))));
    auto* switchRow = new QHBoxLayout(track);
    switchRow->setContentsMargins(2, 2, 2, 2);
    switchRow->setSpacing(2);
    controls->addWidget(track);
    const auto tabButton = [&](int value) {
        auto* b = new QToolButton(track);
        b->setCheckable(true);
        b->setAutoExclusive(true);
        b->setToolButtonStyle(Qt::ToolButtonTextOnly);
        b->setFocusPolicy(Qt::NoFocus);
        connect(b, &QToolButton::clicked, this, [this, value] { setTab(value); });
        switchRow->addWidget(b);
        return b;
    };
    segmentsTab = tabButton(0);
    segmentsTab->setChecked(true);
    shortsTab = tabButton(1);
    controls->addStretch(1);
    controls->addSpacing(8);
    const QString noIndicator = QStringLiteral("QToolButton::menu-indicator { image: none; width: 0; }");

    filters = new QMenu(this);
    filters->addSection(QStringLiteral("Show"));
    auto* group = new QActionGroup(filters);
    for (const QString& title :
         {QStringLiteral("Every segment"), QStringLiteral("Favourites only"), QStringLiteral("Hide rejected")}) {
        QAction* a = filters->addAction(title);
        a->setCheckable(true);
        group->addAction(a);
        const int value = int(filterChoices.size());
        connect(a, &QAction::triggered, this, [value] { Prefs::shared().set(QStringLiteral("segmentFilter"), value); });
        filterChoices.push_back(a);
    }
    filterButton = new QToolButton(header);
    filterButton->setAutoRaise(true);
    // The sidebar's buttons never hold keyboard focus, so the workspace's keys (and a
    // Ctrl+Space it lets through) never press one of them by accident.
    filterButton->setFocusPolicy(Qt::NoFocus);
    filterButton->setPopupMode(QToolButton::InstantPopup);
    filterButton->setMenu(filters);
    filterButton->setStyleSheet(noIndicator);
    filterButton->setToolTip(QStringLiteral("Which segments to list. F marks a favourite, Backspace rejects, U clears."));
    controls->addWidget(filterButton);
    controls->addSpacing(8);

    addButton = new QToolButton(header);
    addButton->setAutoRaise(true);
    addButton->setFocusPolicy(Qt::NoFocus);
    addButton->setIcon(Style::symbolIcon(QStringLiteral("plus"), Style::primary(pal), 18));
    addButton->setIconSize({18, 18});
    addButton->setToolTip(QStringLiteral("Add a segment of your own from the stream"));
    connect(addButton, &QToolButton::clicked, this, [this] {
        model.player().pause();
        model.browser().show(model.recordingTime(), std::nullopt);
        Windows::open(QStringLiteral("stream"));
    });
    controls->addWidget(addButton);

    ai = new QMenu(this);
    describe = ai->addAction(QStringLiteral("Describe a Short…"));
    connect(describe, &QAction::triggered, this, [this] { model.setAskingAI(true); });
    search = ai->addAction(QString());
    connect(search, &QAction::triggered, this, &SidebarView::lookForIdeas);
    aiButton = new QToolButton(header);
    aiButton->setFocusPolicy(Qt::NoFocus);
    aiButton->setIcon(Style::symbolIcon(QStringLiteral("sparkles"), Style::primary(pal), 18));
    aiButton->setIconSize({18, 18});
    aiButton->setPopupMode(QToolButton::InstantPopup);
    aiButton->setMenu(ai);
    aiButton->setStyleSheet(noIndicator);
    aiButton->setToolTip(QStringLiteral("Get a Short from AI: describe one, or let it look for ideas"));
    controls->addWidget(aiButton);
    head->addLayout(controls);
    column->addWidget(header);

    // The lists.
    scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* pages = new QWidget(scroll);
    auto* pageColumn = new QVBoxLayout(pages);
    pageColumn->setContentsMargins(8, 0, 8, 12);
    pageColumn->setSpacing(0);
    segmentPage = new QWidget(pages);
    segmentList = new QVBoxLayout(segmentPage);
    segmentList->setContentsMargins(0, 0, 0, 0);
    segmentList->setSpacing(2);
    transcribeRow = new Notice(QStringLiteral("Transcribe"), segmentPage);
    summaryRow = new Notice(QStringLiteral("Summarize"), segmentPage);
    segmentList->addWidget(transcribeRow);
    segmentList->addWidget(summaryRow);
    segmentList->addStretch(1);
    connect(transcribeRow->button(), &QPushButton::clicked, this, [this] {
        if (model.video())
            model.runPipeline(false, false, true, false, {});
    });
    connect(summaryRow->button(), &QPushButton::clicked, this, [this] {
        if (model.video())
            model.runPipeline(false, false, false, false, std::set<QString>(summarizeIds.begin(), summarizeIds.end()));
    });
    shortPage = new QWidget(pages);
    shortList = new QVBoxLayout(shortPage);
    shortList->setContentsMargins(0, 0, 0, 0);
    shortList->setSpacing(2);
    shortList->addWidget(heading(QStringLiteral("Your Shorts"), shortPage));
    shortsEmpty = sentence(QStringLiteral("None yet. Open an idea below, ask AI for one, or mark lines in a transcript "
                                          "and press A."),
                           shortPage);
    shortList->addWidget(shortsEmpty);
    shortList->addStretch(1);
    ideasHeading = heading(QStringLiteral("Ideas from AI"), shortPage);
    ideasHeading->setContentsMargins(8, 14, 8, 4);
    ideasEmpty = sentence(QString(), shortPage);
    ideasEmpty->setContentsMargins(8, 0, 8, 0);
    pageColumn->addWidget(segmentPage);
    pageColumn->addWidget(shortPage);
    shortPage->hide();
    scroll->setWidget(pages);
    column->addWidget(scroll, 1);

    for (auto signal : {&AppModel::projectChanged, &AppModel::selectionChanged, &AppModel::thumbsChanged,
                        &AppModel::activeShortChanged, &AppModel::workingChanged, &AppModel::videoChanged})
        connect(&model, signal, this, &SidebarView::schedule);
    connect(&Prefs::shared(), &Prefs::changed, this, [this](const QString& key) {
        if (key == u"segmentFilter")
            schedule();
    });
    refreshNow();
}

QLabel* SidebarView::heading(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    Style::setText(label, Style::Text::callout, Style::secondary(palette()));
    label->setFont(Style::font(Style::Text::callout, QFont::Medium));
    label->setContentsMargins(8, 0, 8, 4);
    return label;
}

void SidebarView::setTab(int tab)
{
    shownTab = tab == 1 ? 1 : 0;
    segmentsTab->setChecked(shownTab == 0);
    shortsTab->setChecked(shownTab == 1);
    segmentPage->setVisible(shownTab == 0);
    shortPage->setVisible(shownTab == 1);
    refreshNow();
}

void SidebarView::schedule()
{
    // `project` notifies on every set, a drag's every step included: one refresh a turn.
    if (pending)
        return;
    pending = true;
    QTimer::singleShot(0, this, [this] {
        if (pending)
            refreshNow();
    });
}

void SidebarView::refreshNow()
{
    pending = false;
    refreshHeader();
    if (shownTab == 0)
        refreshSegments();
    else
        refreshShorts();
}

void SidebarView::refreshHeader()
{
    const Project& project = model.project();
    line->setText(streamLine(project));
    map->update();
    segmentsTab->setText(QStringLiteral("Segments ") + QString::number(project.segments.size()));
    shortsTab->setText(QStringLiteral("Shorts ") + QString::number(project.shorts.size()));
    const int filter = Prefs::shared().segmentFilter();
    const int rejected = rejectedCount(project);
    filterChoices[2]->setText(hideRejectedTitle(rejected));
    const int chosen = filter == 0 || filter == 1 ? filter : 2;
    filterChoices[size_t(chosen)]->setChecked(true);
    filterButton->setIcon(Style::symbolIcon(filter == 0 ? QStringLiteral("line.3.horizontal.decrease")
                                                        : QStringLiteral("line.3.horizontal.decrease.circle.fill"),
                                            filter == 0 ? Style::primary(palette()) : Style::accent(palette()), 18));
    filterButton->setVisible(shownTab == 0);
    addButton->setVisible(shownTab == 0);
    aiButton->setVisible(shownTab == 1);
    search->setText(project.ideas.empty() ? QStringLiteral("Look for Ideas in the Whole Stream")
                                          : QStringLiteral("Look for New Ideas in the Whole Stream…"));
    const bool transcribed = std::any_of(project.segments.begin(), project.segments.end(),
                                         [](const Segment& s) { return s.lines && !s.lines->empty(); });
    search->setEnabled(!model.working() && transcribed);
}

void SidebarView::refreshSegments()
{
    const Project& project = model.project();
    // What is waiting.
    int untranscribed = 0;
    summarizeIds.clear();
    if (!model.working()) {
        for (const QString& id : model.untranscribed()) {
            const auto s = std::find_if(project.segments.begin(), project.segments.end(),
                                        [&](const Segment& x) { return x.id == id; });
            if (s == project.segments.end() || s->waiting != true)
                ++untranscribed;
        }
        summarizeIds = model.unsummarized();
    }
    const bool showTranscribe = project.autoTranscribe == false && untranscribed > 0;
    transcribeRow->setVisible(showTranscribe);
    if (showTranscribe)
        transcribeRow->setTexts(transcribeNotice(untranscribed), QString());
    summaryRow->setVisible(!summarizeIds.empty());
    if (!summarizeIds.empty())
        summaryRow->setTexts(summaryNotice(int(summarizeIds.size())),
                             Pricing::about(model.estimate(Rerun{Rerun::Summarize{summarizeIds}})));

    // The rows, reused by id.
    const int filter = Prefs::shared().segmentFilter();
    const std::vector<Cut> cuts = model.cuts();
    std::vector<QWidget*> wanted;
    QHash<QString, SegmentRow*> rows;
    QHash<QString, QWidget*> joins;
    for (const Segment* s : listedSegments(project, filter)) {
        SegmentRow* row = segmentRowsById.take(s->id);
        if (!row) {
            row = new SegmentRow(model, segmentPage);
            ++made;
        }
        row->setLook({*s, model.thumbs().value(s->id), model.selection() == s->id, markedByCut(*s, cuts),
                      model.shortsUsing(*s)});
        rows.insert(s->id, row);
        wanted.push_back(row);
        if (filter == 0 && model.touchesNext(s->id)) {
            QWidget* join = joinsById.take(s->id);
            if (!join)
                join = joinRow(s->id);
            joins.insert(s->id, join);
            wanted.push_back(join);
        }
    }
    // Rows of segments the filter hides now are kept for when it shows them again.
    QSet<QString> present;
    for (const Segment& s : project.segments)
        present.insert(s.id);
    for (auto it = segmentRowsById.cbegin(); it != segmentRowsById.cend(); ++it) {
        if (present.contains(it.key()))
            rows.insert(it.key(), it.value());
        else
            it.value()->deleteLater();
    }
    for (QWidget* gone : std::as_const(joinsById))
        gone->deleteLater();
    segmentRowsById = std::move(rows);
    joinsById = std::move(joins);
    arrange(segmentList, 2, segmentOrder, wanted);
}

QWidget* SidebarView::joinRow(const QString& id)
{
    auto* row = new QWidget(segmentPage);
    row->setFixedHeight(16);
    auto* line = new QHBoxLayout(row);
    line->setContentsMargins(43, 0, 0, 0);
    line->setSpacing(6);
    auto* bar = new QWidget(row);
    bar->setFixedSize(2, 16);
    bar->setAutoFillBackground(true);
    QPalette barPalette = bar->palette();
    barPalette.setColor(QPalette::Window, Style::faded(Style::accent(palette()), 0.5));
    bar->setPalette(barPalette);
    auto* join = new QToolButton(row);
    join->setAutoRaise(true);
    join->setFocusPolicy(Qt::NoFocus);
    join->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    join->setText(QStringLiteral("Join"));
    join->setIcon(Style::symbolIcon(QStringLiteral("arrow.up.and.line.horizontal.and.arrow.down"),
                                    Style::accent(palette()), 12));
    join->setIconSize({12, 12});
    join->setFont(Style::font(Style::Text::caption));
    join->setToolTip(QStringLiteral("These two touch. Join them back into one segment."));
    join->setFixedHeight(16);
    connect(join, &QToolButton::clicked, this, [this, id] { model.joinWithNext(id); });
    line->addWidget(bar);
    line->addWidget(join);
    line->addStretch(1);
    return row;
}

void SidebarView::refreshShorts()
{
    const Project& project = model.project();
    shortsEmpty->setVisible(project.shorts.empty());
    std::vector<QWidget*> wanted;
    QHash<QUuid, ShortRow*> rows;
    for (const Short& s : project.shorts) {
        ShortRow* row = shortRowsById.take(s.id);
        if (!row) {
            row = new ShortRow(model, shortPage);
            ++made;
        }
        const std::optional<Idea> idea = model.idea(s);
        row->setLook({s, idea, idea && model.isEdited(s), model.activeShort() == s.id});
        rows.insert(s.id, row);
        wanted.push_back(row);
    }
    wanted.push_back(ideasHeading);
    const std::vector<Idea> unopened = unopenedIdeas(project);
    ideasEmpty->setText(ideasEmptyText(project));
    if (unopened.empty())
        wanted.push_back(ideasEmpty);
    else
        ideasEmpty->hide();
    QHash<QUuid, IdeaCard*> cards;
    for (const Idea& idea : unopened) {
        IdeaCard* card = cardsById.take(idea.id);
        if (!card) {
            card = new IdeaCard(model, shortPage);
            ++made;
        }
        card->setIdea(idea);
        cards.insert(idea.id, card);
        wanted.push_back(card);
    }
    for (ShortRow* gone : std::as_const(shortRowsById))
        gone->deleteLater();
    for (IdeaCard* gone : std::as_const(cardsById))
        gone->deleteLater();
    shortRowsById = std::move(rows);
    cardsById = std::move(cards);
    arrange(shortList, 2, shortOrder, wanted);
}

std::vector<SegmentRow*> SidebarView::segmentRows() const
{
    return shown<SegmentRow>(segmentOrder);
}

std::vector<ShortRow*> SidebarView::shortRows() const
{
    return shown<ShortRow>(shortOrder);
}

std::vector<IdeaCard*> SidebarView::ideaCards() const
{
    return shown<IdeaCard>(shortOrder);
}

void SidebarView::lookForIdeas()
{
    const int unopened = int(unopenedIdeas(model.project()).size());
    if (unopened == 0) {
        searchIdeas();
        return;
    }
    if (asking)
        return;
    asking = new QMessageBox(QMessageBox::Question, QStringLiteral("Look for new ideas?"),
                             QStringLiteral("Look for new ideas?"), QMessageBox::Cancel, this);
    asking->setTextFormat(Qt::PlainText);
    widen(asking.data());
    asking->setInformativeText(lookAgainMessage(model.estimate(Rerun{Rerun::Ideas{}}), unopened));
    QPushButton* again = asking->addButton(QStringLiteral("Look Again"), QMessageBox::AcceptRole);
    asking->setDefaultButton(again);
    asking->setAttribute(Qt::WA_DeleteOnClose);
    asking->setWindowModality(Qt::WindowModal);
    connect(asking, &QMessageBox::finished, this, [this, box = asking.data(), again] {
        if (box->clickedButton() == again)
            searchIdeas();
    });
    asking->open();
}

void SidebarView::searchIdeas()
{
    if (model.video())
        model.runPipeline(true, false, false, false, {});
}
