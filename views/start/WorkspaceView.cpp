#include "views/start/WorkspaceView.h"

#include "model/lifecycle/AppModel.h"
#include "platform/Prefs.h"
#include "views/kit/Spinner.h"
#include "views/kit/Dialogs.h"
#include "views/kit/Style.h"
#include "views/kit/Windows.h"
#include "views/start/SidebarView.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QTextEdit>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

QToolButton* tool(const QString& icon, const QString& text, const QString& tip, QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setIcon(Style::symbolIcon(icon, Style::primary(parent->palette()), 18));
    button->setIconSize({18, 18});
    button->setText(text);
    button->setToolTip(tip);
    button->setAutoRaise(true);
    button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    // Pointer controls, as toolbar buttons are: with keyboard focus, a Space or Ctrl+Space
    // that the key map lets through would press "Streams" and close the project.
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

const char* paneNames[] = {"viewerPane", "inspectorPane", "timelinePane"};

} // namespace

WorkspaceView::PaneMaker& WorkspaceView::paneMaker(Pane pane)
{
    static PaneMaker makers[3];
    return makers[int(pane)];
}

WorkspaceView::SheetMaker& WorkspaceView::exportSheet()
{
    static SheetMaker maker;
    return maker;
}

WorkspaceView::SheetMaker& WorkspaceView::askSheet()
{
    static SheetMaker maker;
    return maker;
}

WorkspaceView::WorkspaceView(AppModel& m, QWidget* parent)
    : QWidget(parent), model(m)
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    // The toolbar.
    bar = new QWidget(this);
    bar->setObjectName(QStringLiteral("toolbar"));
    auto* tools = new QHBoxLayout(bar);
    tools->setContentsMargins(8, 4, 8, 4);
    tools->setSpacing(4);
    auto* streams = tool(QStringLiteral("chevron.left"), QStringLiteral("Streams"), QStringLiteral("All streams"), bar);
    streams->setObjectName(QStringLiteral("streams"));
    streams->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    connect(streams, &QToolButton::clicked, this, [this] { model.close(); });
    tools->addWidget(streams);
    tools->addSpacing(8);
    // Linux windows have no subtitle: the status stands in the toolbar.
    status = new QLabel(bar);
    status->setTextFormat(Qt::PlainText);
    status->setObjectName(QStringLiteral("status"));
    Style::setText(status, Style::Text::callout, Style::secondary(palette()));
    status->setMinimumWidth(40);
    tools->addWidget(status, 1);
    progress = new QWidget(bar);
    auto* progressRow = new QHBoxLayout(progress);
    progressRow->setContentsMargins(6, 0, 6, 0);
    progressRow->setSpacing(8);
    progressLabel = new QLabel(progress);
    progressLabel->setTextFormat(Qt::PlainText);
    Style::setText(progressLabel, Style::Text::callout, Style::secondary(palette()));
    progressBar = new QProgressBar(progress);
    progressBar->setRange(0, 1000);
    progressBar->setTextVisible(false);
    progressBar->setFixedWidth(90);
    progressRow->addWidget(progressLabel);
    progressRow->addWidget(progressBar);
    tools->addWidget(progress);
    activity = tool(QStringLiteral("list.bullet.rectangle"), QStringLiteral("Activity"), QString(), bar);
    activity->setObjectName(QStringLiteral("activity"));
    // While work runs the spinner stands where the icon was; the button keeps its size
    // and its click.
    spinner = new Spinner(activity, 16);
    spinner->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto* inside = new QHBoxLayout(activity);
    inside->setContentsMargins(0, 0, 0, 0);
    inside->addWidget(spinner, 0, Qt::AlignCenter);
    connect(activity, &QToolButton::clicked, this, [] { Windows::open(QStringLiteral("activity")); });
    tools->addWidget(activity);
    tools->addSpacing(6);
    undo = tool(QStringLiteral("arrow.uturn.backward"), QStringLiteral("Undo"),
                QStringLiteral("Undo the last change to a Short or to your own segments (Ctrl+Z)"), bar);
    redo = tool(QStringLiteral("arrow.uturn.forward"), QStringLiteral("Redo"), QStringLiteral("Redo (Ctrl+Shift+Z)"), bar);
    connect(undo, &QToolButton::clicked, this, [this] { model.undo(); });
    connect(redo, &QToolButton::clicked, this, [this] { model.redo(); });
    tools->addWidget(undo);
    tools->addWidget(redo);
    tools->addSpacing(6);
    exportButton = tool(QStringLiteral("square.and.arrow.up"), QStringLiteral("Export Short"),
                        QStringLiteral("Export the open Short (Ctrl+E)"), bar);
    exportButton->setObjectName(QStringLiteral("exportShort"));
    connect(exportButton, &QToolButton::clicked, this, [this] { model.setExporting(true); });
    tools->addWidget(exportButton);
    column->addWidget(bar);
    column->addWidget(Style::divider(this));

    // The sidebar beside the editor column.
    auto* splitter = new QSplitter(Qt::Horizontal, this);
    splitter->setChildrenCollapsible(false);
    splitter->setHandleWidth(1);
    side = new SidebarView(model, splitter);
    side->setMinimumWidth(sidebarLeast);
    side->setMaximumWidth(sidebarMost);
    auto* detail = new QWidget(splitter);
    auto* detailColumn = new QVBoxLayout(detail);
    detailColumn->setContentsMargins(0, 0, 0, 0);
    detailColumn->setSpacing(0);
    auto* top = new QHBoxLayout;
    top->setSpacing(0);
    for (int i = 0; i < 3; ++i) {
        panes[i] = new QWidget(detail);
        panes[i]->setObjectName(QLatin1String(paneNames[i]));
    }
    panes[1]->setFixedWidth(inspectorWidth);
    top->addWidget(panes[0], 1);
    top->addWidget(Style::divider(detail, Qt::Vertical));
    top->addWidget(panes[1]);
    detailColumn->addLayout(top, 1);
    detailColumn->addWidget(Style::divider(detail));
    detailColumn->addWidget(panes[2], 1);
    splitter->addWidget(side);
    splitter->addWidget(detail);
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({sidebarIdeal, 10000});
    column->addWidget(splitter, 1);
    for (Pane p : {Pane::viewer, Pane::inspector, Pane::timeline}) {
        if (const PaneMaker& make = paneMaker(p))
            setPane(p, make(model, detail));
    }

    saveTimer.setSingleShot(true);
    connect(&saveTimer, &QTimer::timeout, this, [this] {
        // Only a size the user chose is remembered, not the screen's.
        if (QWidget* w = window(); w != this && isVisible()
            && !(w->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen | Qt::WindowMinimized))) {
            Prefs::shared().set(QStringLiteral("workspaceWidth"), double(w->width()));
            Prefs::shared().set(QStringLiteral("workspaceHeight"), double(w->height()));
        }
    });

    connect(&model, &AppModel::fileChanged, this, &WorkspaceView::followTitle);
    connect(&model, &AppModel::statusChanged, this, &WorkspaceView::followStatus);
    connect(&model, &AppModel::workingChanged, this, &WorkspaceView::followStatus);
    connect(&model, &AppModel::exportProgressChanged, this, &WorkspaceView::followExport);
    connect(&model, &AppModel::exportLabelChanged, this, &WorkspaceView::followExport);
    connect(&model, &AppModel::canUndoChanged, this, &WorkspaceView::followExport);
    connect(&model, &AppModel::canRedoChanged, this, &WorkspaceView::followExport);
    // The open Short's cuts follow the project and the active Short.
    connect(&model, &AppModel::projectChanged, this, &WorkspaceView::followExport);
    connect(&model, &AppModel::activeShortChanged, this, &WorkspaceView::followExport);
    connect(&model, &AppModel::exportingChanged, this, &WorkspaceView::followSheets);
    connect(&model, &AppModel::askingAIChanged, this, &WorkspaceView::followSheets);
    connect(&model, &AppModel::splittingChanged, this, &WorkspaceView::followSplit);
    followStatus();
    followExport();
}

WorkspaceView::~WorkspaceView()
{
    if (filtering)
        qApp->removeEventFilter(this);
}

void WorkspaceView::setPane(Pane which, QWidget* view)
{
    QWidget*& slot = panes[int(which)];
    if (!view || view == slot)
        return;
    QLayout* holder = slot->parentWidget()->layout();
    view->setParent(slot->parentWidget());
    view->setObjectName(QLatin1String(paneNames[int(which)]));
    if (which == Pane::inspector)
        view->setFixedWidth(inspectorWidth);
    if (QLayoutItem* old = holder->replaceWidget(slot, view, Qt::FindChildrenRecursively))
        delete old;
    delete slot;
    slot = view;
    view->show();
}

QWidget* WorkspaceView::pane(Pane which) const
{
    return panes[int(which)];
}

void WorkspaceView::followTitle()
{
    QWidget* w = window();
    if (w == this)
        return;
    const std::optional<QString>& file = model.file();
    w->setWindowTitle(file ? QFileInfo(*file).completeBaseName() : QString());
}

void WorkspaceView::followStatus()
{
    status->setText(model.status());
    spinner->setVisible(model.working());
    QPixmap blank(18, 18);
    blank.fill(Qt::transparent);
    activity->setIcon(model.working() ? QIcon(blank)
                                      : Style::symbolIcon(QStringLiteral("list.bullet.rectangle"),
                                                          Style::primary(palette()), 18));
    activity->setToolTip(model.working() ? plainTip(model.status())
                                         : QStringLiteral("Activity: what the app has run, what it cost, and what went wrong"));
}

void WorkspaceView::followExport()
{
    progress->setVisible(model.exportProgress().has_value());
    progressLabel->setText(model.exportLabel());
    progressBar->setValue(int(std::lround(std::clamp(model.exportProgress().value_or(0), 0.0, 1.0) * 1000)));
    undo->setEnabled(model.canUndo());
    redo->setEnabled(model.canRedo());
    exportButton->setEnabled(!model.cuts().empty());
}

void WorkspaceView::followSheets()
{
    const bool exporting = model.exporting();
    const bool asking = model.askingAI();
    if (sheet) {
        // A flag turned off by someone else closes its sheet.
        if ((sheetIsExport && !exporting) || (!sheetIsExport && !asking))
            sheet->close();
        return;
    }
    if (!exporting && !asking)
        return;
    const bool forExport = exporting;
    const SheetMaker& make = forExport ? exportSheet() : askSheet();
    QDialog* dialog = make ? make(model, this) : nullptr;
    if (!dialog)
        return;
    sheet = dialog;
    sheetIsExport = forExport;
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    connect(dialog, &QDialog::finished, this, [this, forExport] {
        if (forExport)
            model.setExporting(false);
        else
            model.setAskingAI(false);
        // The other flag may have been set while this sheet was up.
        QTimer::singleShot(0, this, &WorkspaceView::followSheets);
    });
    dialog->open();
}

void WorkspaceView::followSplit()
{
    if (!model.splitting()) {
        if (split)
            split->close();
        return;
    }
    if (split)
        return;
    const double at = model.clock().time();
    split = new QMessageBox(QMessageBox::Question, QStringLiteral("Split segment"),
                            splitTitle(model.selection(), at), QMessageBox::Cancel, this);
    split->setTextFormat(Qt::PlainText);
    widen(split.data());
    const QString message = splitMessage(model.project(), model.selection(), at);
    if (!message.isEmpty())
        split->setInformativeText(message);
    QPushButton* go = split->addButton(QStringLiteral("Split"), QMessageBox::AcceptRole);
    split->setDefaultButton(go);
    split->setAttribute(Qt::WA_DeleteOnClose);
    split->setWindowModality(Qt::WindowModal);
    connect(split, &QMessageBox::finished, this, [this, box = split.data(), go] {
        const bool chosen = box->clickedButton() == go;
        model.setSplitting(false);
        if (chosen)
            model.splitSegment();
    });
    split->open();
}

KeyContext WorkspaceView::keyContext() const
{
    KeyContext c;
    c.streamKey = model.browser().isKey();
    c.noWindow = QApplication::activeWindow() == nullptr;
    c.modal = QApplication::activePopupWidget() != nullptr || QApplication::activeModalWidget() != nullptr;
    QWidget* focus = QApplication::focusWidget();
    c.textFocus = qobject_cast<QLineEdit*>(focus) || qobject_cast<QTextEdit*>(focus)
        || qobject_cast<QPlainTextEdit*>(focus) || qobject_cast<QAbstractSpinBox*>(focus)
        || qobject_cast<QComboBox*>(focus);
    return c;
}

void WorkspaceView::act(KeyAction action)
{
    const std::optional<QString> selection = model.selection();
    switch (action) {
    case KeyAction::pass:
        break;
    case KeyAction::togglePlay:
        model.togglePlay();
        break;
    case KeyAction::remove:
        if (model.mode() == Mode::shortClip || model.selectedCut())
            model.removeCut();
        else if (selection)
            model.rate(*selection, -1);
        break;
    case KeyAction::escape:
        model.setRange(std::nullopt);
        model.setSelectedLines(std::nullopt);
        model.setSelectedCut(std::nullopt);
        break;
    case KeyAction::stepBack:
        model.step(-1.0 / 30);
        break;
    case KeyAction::stepForward:
        model.step(1.0 / 30);
        break;
    case KeyAction::bigStepBack:
        model.step(-1);
        break;
    case KeyAction::bigStepForward:
        model.step(1);
        break;
    case KeyAction::markStart:
        model.mark(Edge::start);
        break;
    case KeyAction::markEnd:
        model.mark(Edge::end);
        break;
    case KeyAction::addRange:
        model.addRange();
        break;
    case KeyAction::split:
        if (model.mode() == Mode::shortClip) {
            model.splitAtPlayhead();
        } else {
            model.player().pause();
            model.setSplitting(true);
        }
        break;
    case KeyAction::favourite:
        if (selection)
            model.rate(*selection, 1);
        break;
    case KeyAction::unrate:
        if (selection)
            model.rate(*selection, std::nullopt);
        break;
    }
}

bool WorkspaceView::eventFilter(QObject* watched, QEvent* event)
{
    // A key reaches the filter once for the window and again for each widget it is
    // offered to. Acting swallows it at its first stop, so it never comes back; a key
    // that passes passes at every stop.
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    const KeyAction action = decideKey(key->key(), key->modifiers(), key->text(), keyContext());
    if (action == KeyAction::pass)
        return false;
    act(action);
    return true;
}

void WorkspaceView::showEvent(QShowEvent* event)
{
    // A window brought back from the taskbar shows its face again spontaneously: the
    // workspace never left, and its size is the one the user gave it.
    if (event->spontaneous())
        return;
    if (!filtering) {
        qApp->installEventFilter(this);
        filtering = true;
    }
    followTitle();
    // After the window has taken the new face's size, which would undo a restore made now.
    QTimer::singleShot(0, this, &WorkspaceView::restoreSize);
}

void WorkspaceView::hideEvent(QHideEvent* event)
{
    // Minimized, the window keeps the stream's name in the taskbar.
    if (event->spontaneous())
        return;
    if (filtering) {
        qApp->removeEventFilter(this);
        filtering = false;
    }
    saveTimer.stop();
    settled = false;
    if (QWidget* w = window(); w != this)
        w->setWindowTitle(QStringLiteral("Vantorel"));
}

void WorkspaceView::restoreSize()
{
    QWidget* w = window();
    if (w == this || !isVisible())
        return;
    settled = true;
    // A maximized or full-screen window keeps the size the desktop gave it.
    if (w->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen | Qt::WindowMinimized))
        return;
    const Prefs& prefs = Prefs::shared();
    std::optional<QRect> screen;
    if (QScreen* s = w->screen())
        screen = s->availableGeometry();
    const std::optional<QRect> to =
        restoredGeometry(prefs.workspaceWidth(), prefs.workspaceHeight(), w->geometry(), screen);
    if (!to)
        return;
    restoring = true;
    w->setGeometry(*to);
    restoring = false;
}

void WorkspaceView::resizeEvent(QResizeEvent*)
{
    // Linux has no end of a live resize: the size is kept once it has been still a moment.
    if (isVisible() && settled && !restoring)
        saveTimer.start(quietMs);
}
