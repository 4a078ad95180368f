#include "views/start/StartView.h"

#include "core/services/Updates.h"
#include "model/lifecycle/AppModel.h"
#include "platform/TaskHandle.h"
#include "views/kit/BigButton.h"
#include "views/kit/Style.h"
#include "views/start/RecentRow.h"
#include "views/start/SetupList.h"
#include "views/start/SetupSheet.h"

#include <QDialogButtonBox>
#include <QDragEnterEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QScrollArea>
#include <QVBoxLayout>

namespace {

// The part that takes a drop; tinted while a file hovers over the window.
class Tinted : public QWidget {
public:
    using QWidget::QWidget;
    bool tint = false;

protected:
    void paintEvent(QPaintEvent*) override
    {
        if (!tint)
            return;
        QPainter p(this);
        p.fillRect(rect(), Style::faded(Style::accent(palette()), 0.12));
    }
};

// The first local file a drag carries.
std::optional<QString> firstFile(const QMimeData* data)
{
    if (!data || !data->hasUrls())
        return std::nullopt;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile())
            return url.toLocalFile();
    }
    return std::nullopt;
}

} // namespace

StartView::SheetMaker& StartView::sheetMaker()
{
    static SheetMaker maker = [](AppModel& model, const QString& video, QWidget* parent) -> QDialog* {
        return new SetupSheet(model, video, parent);
    };
    return maker;
}

StartView::StartView(AppModel& m, QWidget* parent)
    : QWidget(parent), model(m)
{
    setAcceptDrops(true);
    setFixedSize(size);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);

    // The main part.
    main = new Tinted(this);
    column = new QVBoxLayout(main);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addStretch(1);
    icon = new QLabel(main);
    column->addWidget(icon, 0, Qt::AlignHCenter);
    column->addSpacing(8);
    auto* name = new QLabel(QStringLiteral("Vantorel"), main);
    name->setFont(Style::font(Style::Text::largeTitle));
    column->addWidget(name, 0, Qt::AlignHCenter);
    auto* version = new QLabel(QStringLiteral("Version ") + Updates::current(), main);
    Style::setText(version, Style::Text::body, Style::secondary(palette()));
    column->addWidget(version, 0, Qt::AlignHCenter);
    column->addSpacing(30);

    auto* buttons = new QVBoxLayout;
    buttons->setSpacing(16 - 12); // the buttons carry 6 points of hover room each side
    auto* recording = new BigButton(QStringLiteral("film"), QStringLiteral("Open a stream recording"),
                                    QStringLiteral("Its markers become segments to watch, read and cut"), main);
    auto* project = new BigButton(QStringLiteral("folder"), QStringLiteral("Open a project"),
                                  QStringLiteral("Carry on with a .vtrl you saved"), main);
    connect(recording, &QAbstractButton::clicked, this, [this] { choose(FilePicker::Kind::recording); });
    connect(project, &QAbstractButton::clicked, this, [this] { choose(FilePicker::Kind::project); });
    // Both buttons as wide as the wider one, so their symbols and texts line up.
    const int width = std::max(recording->sizeHint().width(), project->sizeHint().width());
    recording->setFixedWidth(width);
    project->setFixedWidth(width);
    buttons->addWidget(recording);
    buttons->addWidget(project);
    column->addLayout(buttons);
    column->setAlignment(buttons, Qt::AlignHCenter);
    column->addSpacing(18 - 6);
    auto* hint = new QLabel(QStringLiteral("Or drop either one anywhere on this window."), main);
    Style::setText(hint, Style::Text::callout, Style::tertiary(palette()));
    column->addWidget(hint, 0, Qt::AlignHCenter);
    column->addSpacing(16);
    setup = new SetupList(true, main);
    auto* inset = new QHBoxLayout;
    inset->setContentsMargins(40, 0, 40, 0);
    inset->addWidget(setup);
    column->addLayout(inset);
    column->addStretch(1);
    row->addWidget(main, 1);

    // The recents column.
    auto* side = new QWidget(this);
    side->setFixedWidth(320);
    side->setAutoFillBackground(true);
    QPalette sidePalette = side->palette();
    sidePalette.setColor(QPalette::Window, Style::secondaryBackground(palette()));
    side->setPalette(sidePalette);
    auto* sideStack = new QGridLayout(side);
    sideStack->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea(side);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->viewport()->setAutoFillBackground(false);
    auto* list = new QWidget;
    list->setAutoFillBackground(false);
    recentList = new QVBoxLayout(list);
    recentList->setContentsMargins(10, 10, 10, 10);
    recentList->setSpacing(2);
    recentList->addStretch(1);
    scroll->setWidget(list);
    sideStack->addWidget(scroll, 0, 0);
    placeholder = new QLabel(QStringLiteral("Streams you open will be listed here."), side);
    Style::setText(placeholder, Style::Text::body, Style::tertiary(palette()));
    placeholder->setAlignment(Qt::AlignCenter);
    placeholder->setWordWrap(true);
    placeholder->setContentsMargins(16, 16, 16, 16);
    sideStack->addWidget(placeholder, 0, 0);
    row->addWidget(side);

    connect(setup, &SetupList::changed, this, &StartView::fit);
    connect(&model, &AppModel::recentsChanged, this, &StartView::fillRecents);
    connect(&model, &AppModel::freshChanged, this, &StartView::followFresh);
    fillRecents();
    fit();
}

StartView::~StartView()
{
    // A sheet still up goes with the start screen (the recording it set up has opened
    // under it): that dismisses it too, or the next start screen would ask again.
    if (shownSheet) {
        shownSheet->disconnect(this);
        model.setFresh(std::nullopt);
    }
}

void StartView::fit()
{
    // The window's height is fixed: when missing pieces are listed under the buttons,
    // the icon gives up what they need, so that nothing is pushed out of the window.
    for (int candidate : {116, 96, 80, 64, 48}) {
        if (candidate != iconSize) {
            iconSize = candidate;
            icon->setPixmap(Style::symbol(QStringLiteral("vantorel"), Qt::black, candidate, devicePixelRatioF()));
            icon->setFixedSize(candidate, candidate);
        }
        // The list's own box caches its size: ask it afresh.
        setup->parentWidget()->layout()->invalidate();
        for (QLayout* inner : main->findChildren<QLayout*>())
            inner->invalidate();
        if (column->sizeHint().height() <= size.height() - 24)
            break;
    }
}

QStringList StartView::listedRecents() const
{
    QStringList out;
    for (const QString& path : model.recents()) {
        if (QFileInfo::exists(path))
            out << path;
    }
    return out;
}

void StartView::fillRecents()
{
    placeholder->setVisible(model.recents().isEmpty());
    const QStringList listed = listedRecents();
    if (listed == shownRecents && recentList->count() > 1)
        return;
    shownRecents = listed;
    while (recentList->count() > 1) {
        QLayoutItem* item = recentList->takeAt(0);
        delete item->widget();
        delete item;
    }
    for (int i = 0; i < listed.size(); ++i) {
        auto* row = new RecentRow(model, listed[i]);
        recentList->insertWidget(i, row);
        row->show(); // at once, not on a later turn of the event loop
    }
}

void StartView::showEvent(QShowEvent*)
{
    // What exists on disk may have changed while the window was away.
    fillRecents();
    followFresh();
}

void StartView::choose(FilePicker::Kind kind)
{
    const QString caption = kind == FilePicker::Kind::recording ? QStringLiteral("Open a stream recording")
                                                                 : QStringLiteral("Open a project");
    TaskHandle::start([view = QPointer<StartView>(this), kind, caption](Cancel) -> QCoro::Task<> {
        if (!view)
            co_return;
        const std::optional<QString> path = co_await FilePicker::current().open(view, kind, caption);
        if (view && path)
            view->pick(*path);
    });
}

void StartView::pick(const QString& path)
{
    TaskHandle::start([model = QPointer<AppModel>(&model), path](Cancel) -> QCoro::Task<> {
        if (!model)
            co_return;
        const bool opened = co_await model->open(path);
        if (model && !opened)
            model->setFresh(path);
    });
}

void StartView::followFresh()
{
    const std::optional<QString>& fresh = model.fresh();
    if (!fresh) {
        if (shownSheet)
            shownSheet->close();
        return;
    }
    if (shownSheet || !isVisible() || !sheetMaker())
        return;
    QDialog* dialog = sheetMaker()(model, *fresh, this);
    if (!dialog)
        return;
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    shownSheet = dialog;
    // However the sheet goes, the recording it was for is no longer waiting.
    connect(dialog, &QDialog::finished, this, [this, dialog] {
        if (shownSheet == dialog)
            shownSheet = nullptr;
        model.setFresh(std::nullopt);
    });
    dialog->open();
}

void StartView::setDragging(bool on)
{
    dragging = on;
    static_cast<Tinted*>(main)->tint = on;
    main->update();
}

void StartView::dragEnterEvent(QDragEnterEvent* event)
{
    if (firstFile(event->mimeData())) {
        event->acceptProposedAction();
        setDragging(true);
    }
}

void StartView::dragLeaveEvent(QDragLeaveEvent*)
{
    setDragging(false);
}

void StartView::dropEvent(QDropEvent* event)
{
    setDragging(false);
    const std::optional<QString> file = firstFile(event->mimeData());
    if (!file)
        return;
    event->acceptProposedAction();
    pick(*file);
}
