#include "views/kit/Dialogs.h"
#include "views/windows/AskAI.h"

#include "core/services/Pricing.h"
#include "model/lifecycle/AppModel.h"
#include "platform/TaskHandle.h"
#include "views/kit/Spinner.h"
#include "views/kit/Style.h"
#include "views/windows/Derive.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QTextDocument>
#include <QVBoxLayout>

namespace {

constexpr int sheetWidth = 480;
constexpr int padding = 20;

// Runs one request with the instruction and segments as they stood at "Create Short".
// The sheet may be gone when it returns: then nothing is shown.
QCoro::Task<> askTask(QPointer<AskAI> sheet, QPointer<AppModel> model, QString instruction, std::set<QString> include)
{
    if (!model)
        co_return;
    // A token of its own, so that the activity window's Stop reaches the request.
    const Cancel cancel = Cancel::make();
    const std::optional<QString> failure = co_await model->compose(instruction, include, cancel);
    if (sheet)
        sheet->requestReturned(failure);
}

QPushButton* borderless(const QString& title, QWidget* parent)
{
    auto* button = new QPushButton(title, parent);
    button->setFlat(true);
    button->setAutoDefault(false);
    // As wide as its word: the style's least width for a push button would push the row,
    // and the sheet with it, past its 480 points.
    button->setFixedWidth(button->fontMetrics().horizontalAdvance(title) + 16);
    button->setCursor(Qt::PointingHandCursor);
    // Flat, so the accent colour is what says it can be pressed.
    QPalette p = button->palette();
    p.setColor(QPalette::ButtonText, Style::accent(p));
    button->setPalette(p);
    return button;
}

} // namespace

AskAI::AskAI(AppModel& m, QWidget* parent)
    : QDialog(parent), model(m)
{
    const QPalette pal = palette();
    QVBoxLayout* column = sheetColumn(this, QStringLiteral("Cut a Short with AI"), sheetWidth, padding);
    const int inner = sheetWidth - 2 * padding;

    text = new QPlainTextEdit(this);
    text->setPlaceholderText(QStringLiteral("What should it be? For example: the part where he admires the moon"));
    text->setTabChangesFocus(true);
    text->setFixedWidth(inner);
    text->installEventFilter(this);
    column->addWidget(text);

    auto* header = new QHBoxLayout;
    auto* label = new QLabel(QStringLiteral("Full transcripts to hand over"), this);
    label->setFont(Style::font(Style::Text::body, QFont::Medium));
    count = new QLabel(this);
    Style::setText(count, Style::Text::body, Style::secondary(pal));
    count->setFont(Style::digits(count->font()));
    none = borderless(QStringLiteral("None"), this);
    onScreen = borderless(QStringLiteral("On screen"), this);
    all = borderless(QStringLiteral("All"), this);
    header->addWidget(label);
    header->addWidget(count);
    header->addStretch(1);
    header->addWidget(none);
    header->addWidget(onScreen);
    header->addWidget(all);
    column->addLayout(header);

    scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("segmentList"));
    scroll->setFixedWidth(inner);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setFrameShape(QFrame::NoFrame);
    // The list's own ground, set through the palette: a style sheet here would give the
    // check boxes inside a look of its own.
    QPalette ground = scroll->palette();
    ground.setColor(QPalette::Window, Style::secondaryBackground(pal));
    // The boxes' own fill stands off the ground, so an unticked box can be seen.
    const QColor back = Style::secondaryBackground(pal), fore = Style::primary(pal);
    ground.setColor(QPalette::Base, QColor::fromRgbF(back.redF() * 0.8 + fore.redF() * 0.2, back.greenF() * 0.8 + fore.greenF() * 0.2,
                                                      back.blueF() * 0.8 + fore.blueF() * 0.2));
    scroll->setPalette(ground);
    scroll->viewport()->setAutoFillBackground(true);
    rows = new QWidget;
    rows->setAutoFillBackground(false);
    rowsLayout = new QVBoxLayout(rows);
    rowsLayout->setContentsMargins(0, 2, 0, 2);
    rowsLayout->setSpacing(0);
    scroll->setWidget(rows);
    column->addWidget(scroll);

    auto* note = new QLabel(QStringLiteral("AI always gets the summary of every segment. With no transcript ticked it works "
                                           "out from those which segments to read, and asks for them itself; ticking the "
                                           "right ones saves it a round. Rejected segments are left out."),
                            this);
    note->setWordWrap(true);
    note->setFixedWidth(inner);
    Style::setText(note, Style::Text::callout, Style::secondary(pal));
    // A wrapped label in a layout of fixed size is otherwise given the height of a
    // narrower one and runs into the list.
    note->setFixedHeight(note->heightForWidth(inner));
    column->addWidget(note);

    // The failure as written, however long the gateway's message: beyond a few lines it
    // scrolls, so the sheet never grows past the screen and its buttons stay in reach.
    failureArea = new QScrollArea(this);
    failureArea->setFrameShape(QFrame::NoFrame);
    failureArea->setWidgetResizable(true);
    failureArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    failureArea->setFixedWidth(inner);
    failureArea->viewport()->setAutoFillBackground(false);
    failureText = new QLabel;
    failureText->setWordWrap(true);
    failureText->setTextFormat(Qt::PlainText);
    failureText->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    failureText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Style::setText(failureText, Style::Text::body, Style::red());
    failureArea->setWidget(failureText);
    failureText->hide();
    failureArea->hide();
    column->addWidget(failureArea);

    auto* footer = new QHBoxLayout;
    spinner = new Spinner(this, 14);
    status = new QLabel(this);
    Style::setText(status, Style::Text::body, Style::secondary(pal));
    cost = new QLabel(this);
    Style::setText(cost, Style::Text::body, Style::tertiary(pal));
    cost->setToolTip(QStringLiteral("A rough figure to start with. Each transcript it asks for adds a little. The real "
                                    "cost is in Activity afterwards."));
    cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setAutoDefault(false);
    create = new QPushButton(QStringLiteral("Create Short"), this);
    create->setDefault(true);
    create->setStyleSheet(Style::prominentButton(pal));
    footer->addWidget(spinner);
    footer->addWidget(status);
    footer->addWidget(cost);
    footer->addStretch(1);
    footer->addWidget(cancel);
    footer->addWidget(create);
    column->addLayout(footer);

    connect(none, &QPushButton::clicked, this, [this] { setInclude({}); });
    connect(onScreen, &QPushButton::clicked, this, [this] {
        setInclude(model.selection() ? std::set<QString>{*model.selection()} : std::set<QString>{});
    });
    connect(all, &QPushButton::clicked, this, [this] {
        std::set<QString> ids;
        for (const Segment* s : listedSegments(model.project()))
            ids.insert(s->id);
        setInclude(std::move(ids));
    });
    connect(cancel, &QPushButton::clicked, this, &AskAI::reject);
    connect(create, &QPushButton::clicked, this, &AskAI::begin);
    connect(text, &QPlainTextEdit::textChanged, this, [this] {
        grow();
        create->setEnabled(canCreate(text->toPlainText(), model.composing()));
    });
    connect(&model, &AppModel::projectChanged, this, &AskAI::fill);
    connect(&model, &AppModel::composingChanged, this, &AskAI::refresh);
    connect(&model, &AppModel::composeStatusChanged, this, &AskAI::refresh);
    grow();
    fill();
}

void AskAI::grow()
{
    // Three to six lines, then it scrolls.
    const int lines = std::clamp(int(text->document()->size().height()), 3, 6);
    const QMargins m = text->contentsMargins();
    text->setFixedHeight(lines * text->fontMetrics().lineSpacing() + int(2 * text->document()->documentMargin()) + m.top()
                         + m.bottom());
}

void AskAI::fill()
{
    const std::vector<const Segment*> listed = listedSegments(model.project());
    // Rows are made again only when what they show changes (a summary brings a title),
    // not on every edit.
    QStringList shown;
    for (const Segment* s : listed)
        shown << s->id + u'\x1f' + s->title + u'\x1f' + clock(s->start);
    if (shown != drawnRows) {
        drawnRows = shown;
        while (QLayoutItem* item = rowsLayout->takeAt(0)) {
            delete item->widget();
            delete item;
        }
        boxes.clear();
        const QPalette pal = palette();
        for (const Segment* s : listed) {
            auto* row = new QWidget(rows);
            auto* line = new QHBoxLayout(row);
            line->setContentsMargins(8, 4, 8, 4);
            line->setSpacing(8);
            auto* box = new QCheckBox(row);
            auto* id = new QLabel(s->id, row);
            id->setTextFormat(Qt::PlainText);
            Style::setText(id, Style::Text::body, Style::secondary(pal));
            id->setFont(Style::digits(id->font()));
            auto* name = new QLabel(row);
            name->setTextFormat(Qt::PlainText); // titles come from the model: shown as written
            const QString title = s->title.isEmpty() ? QStringLiteral("Segment ") + s->id : oneLine(s->title);
            name->setText(name->fontMetrics().elidedText(title, Qt::ElideRight, 300));
            auto* at = new QLabel(clock(s->start), row);
            Style::setText(at, Style::Text::body, Style::tertiary(pal));
            at->setFont(Style::digits(at->font()));
            line->addWidget(box);
            line->addWidget(id);
            line->addWidget(name, 1);
            line->addWidget(at);
            row->setFixedHeight(28);
            rowsLayout->addWidget(row);
            const QString segment = s->id;
            connect(box, &QCheckBox::toggled, this, [this, segment](bool on) {
                std::set<QString> ids = include;
                if (on)
                    ids.insert(segment);
                else
                    ids.erase(segment);
                setInclude(std::move(ids));
            });
            boxes.emplace_back(s->id, box);
        }
        rowsLayout->addStretch(1);
        scroll->setVerticalScrollBarPolicy(28 * int(listed.size()) + 4 > 280 ? Qt::ScrollBarAlwaysOn
                                                                             : Qt::ScrollBarAsNeeded);
    }
    scroll->setFixedHeight(askListHeight(int(listed.size())));
    refresh();
}

void AskAI::setInclude(std::set<QString> ids)
{
    include = std::move(ids);
    refresh();
}

void AskAI::refresh()
{
    count->setText(includeCount(include));
    for (const auto& [id, box] : boxes) {
        const QSignalBlocker quiet(box);
        box->setChecked(include.count(id) > 0);
    }
    const bool composing = model.composing();
    spinner->setVisible(composing);
    status->setVisible(composing);
    status->setText(model.composeStatus());
    cost->setVisible(!composing);
    const Rerun ask{Rerun::Ask{QString(), std::vector<QString>(include.begin(), include.end())}};
    cost->setText(Pricing::about(model.estimate(ask)));
    failureText->setVisible(!failureText->text().isEmpty());
    failureArea->setVisible(!failureText->text().isEmpty());
    create->setEnabled(canCreate(text->toPlainText(), composing));
}

bool AskAI::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == text && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            if (key->modifiers() & Qt::ShiftModifier)
                text->insertPlainText(QStringLiteral("\n")); // a line break of the instruction
            else if (create->isEnabled())
                create->click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void AskAI::begin()
{
    if (!create->isEnabled())
        return;
    failureText->clear();
    failureText->hide();
    failureArea->hide();
    // The request is under way from here on: no second one from a quick second press.
    create->setEnabled(false);
    TaskHandle::start([sheet = QPointer<AskAI>(this), app = QPointer<AppModel>(&model), instruction = text->toPlainText(),
                       ids = include](Cancel) { return askTask(sheet, app, instruction, ids); });
}

void AskAI::requestReturned(const std::optional<QString>& failure)
{
    if (!failure) {
        if (isVisible())
            accept();
        return;
    }
    failureText->setText(*failure);
    const int most = 8 * failureText->fontMetrics().lineSpacing();
    failureArea->setFixedHeight(std::min(failureText->heightForWidth(failureArea->width()), most));
    refresh();
}
