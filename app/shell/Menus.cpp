#include "app/shell/Menus.h"

#include "core/services/Updates.h"
#include "model/lifecycle/AppModel.h"
#include "platform/Prefs.h"
#include "platform/TaskHandle.h"
#include "views/kit/Desktop.h"
#include "views/kit/FilePicker.h"
#include "views/kit/Windows.h"

#include <QApplication>
#include <QFileInfo>
#include <QMainWindow>
#include <QMenuBar>
#include <QPointer>

MenuState MenuState::of(const AppModel& model)
{
    MenuState s;
    s.video = model.video().has_value();
    s.file = model.file().has_value();
    s.activeCuts = !model.cuts().empty();
    for (const Short& clip : model.project().shorts)
        s.anyCuts = s.anyCuts || !clip.cuts.empty();
    s.exportRunning = model.exportProgress().has_value();
    s.canUndo = model.canUndo();
    s.canRedo = model.canRedo();
    s.working = model.working();
    if (const auto& id = model.selection()) {
        for (const Segment& segment : model.project().segments)
            s.segment = s.segment || segment.id == *id;
        s.touchesNext = s.segment && model.touchesNext(*id);
    }
    s.range = model.range().has_value();
    s.segmentMode = model.mode() == Mode::segment;
    s.selectedCut = model.selectedCut().has_value();
    s.activeShort = model.activeShort().has_value();
    return s;
}

bool enabled(Command command, const MenuState& s)
{
    switch (command) {
    case Command::open:
    case Command::quit:
    case Command::settings:
    case Command::showActivity:
    case Command::checkForUpdates:
    case Command::about:
        return true;
    case Command::closeProject:
        return s.video;
    case Command::save:
    case Command::duplicate:
    case Command::purgeCache:
    case Command::showInFileManager:
        return s.file;
    case Command::exportShort:
        return s.activeCuts;
    case Command::exportAll:
        return s.anyCuts && !s.exportRunning;
    case Command::undo:
        return s.canUndo;
    case Command::redo:
        return s.canRedo;
    case Command::transcribeMissing:
    case Command::transcribeAgain:
    case Command::summarizeAgain:
    case Command::ideasAgain:
        return s.video && !s.working;
    case Command::transcribeWhisper:
    case Command::transcribeScribe:
        return true; // their submenu decides
    case Command::askAI:
    case Command::playPause:
    case Command::stepBack:
    case Command::stepForward:
    case Command::newShort:
        return s.video;
    case Command::favourite:
    case Command::reject:
    case Command::clearRating:
    case Command::markStart:
    case Command::markEnd:
        return s.segment;
    case Command::addRange:
        return s.segment && s.range;
    case Command::splitSegment:
        return s.segment && s.segmentMode;
    case Command::joinNext:
        return s.segment && s.touchesNext;
    case Command::summarizeThis:
        return s.segment && !s.working;
    case Command::splitCut:
        return !s.segmentMode;
    case Command::removeCut:
        return s.selectedCut;
    case Command::closeTab:
        return s.activeShort;
    }
    return false;
}

namespace {
// The commands whose keys work whatever is in front, a sheet included, as the menus
// promise. Qt passes an application shortcut to a menu bar only while no modal window
// blocks that bar's window, and every sheet is modal on the main window. Nor does a key
// reach the blocked window as a press while it has the keyboard focus: Qt hands it no key
// at all. So these commands are put on each modal window as it shows, where their
// shortcut stands on a widget that nothing blocks, whichever window has the focus.
constexpr Command overSheets[] = {Command::quit};
} // namespace

QString updateNotice(const QString& verdict, const std::optional<QString>& latest, const QString& current)
{
    if (latest && Updates::compare(*latest, current) > 0)
        return verdict + QStringLiteral(" See Settings ▸ Updates");
    return verdict;
}

Menus::Menus(AppModel& m, QMainWindow& w, Hooks h)
    : QObject(&w), model(m), window(w), hooks(std::move(h))
{
    QMenuBar* bar = window.menuBar();
    auto menu = [&](const QString& title) {
        QMenu* made = bar->addMenu(title);
        menus.insert(title, made);
        return made;
    };

    QMenu* file = menu(QStringLiteral("File"));
    add(file, Command::open, QStringLiteral("Open…"), QKeySequence(Qt::CTRL | Qt::Key_O));
    recent = file->addMenu(QStringLiteral("Open Recent"));
    connect(recent, &QMenu::aboutToShow, this, &Menus::fillRecent);
    file->addSeparator();
    add(file, Command::closeProject, QStringLiteral("Close Project"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_W));
    file->addSeparator();
    add(file, Command::save, QStringLiteral("Save"), QKeySequence(Qt::CTRL | Qt::Key_S));
    add(file, Command::duplicate, QStringLiteral("Duplicate…"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    QAction* purge = add(file, Command::purgeCache, QStringLiteral("Purge Cache"));
    purge->setToolTip(QStringLiteral(
        "Throw away the filmstrip stills and waveforms kept in the project. They are made again as needed."));
    add(file, Command::showInFileManager, QStringLiteral("Show in File Manager"));
    file->addSeparator();
    add(file, Command::exportShort, QStringLiteral("Export Short…"), QKeySequence(Qt::CTRL | Qt::Key_E));
    add(file, Command::exportAll, QStringLiteral("Export All Shorts…"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E));
    file->addSeparator();
    add(file, Command::quit, QStringLiteral("Quit"), QKeySequence(Qt::CTRL | Qt::Key_Q));
    file->setToolTipsVisible(true);

    QMenu* edit = menu(QStringLiteral("Edit"));
    add(edit, Command::undo, QStringLiteral("Undo"), QKeySequence(Qt::CTRL | Qt::Key_Z));
    add(edit, Command::redo, QStringLiteral("Redo"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
    edit->addSeparator();
    add(edit, Command::settings, QStringLiteral("Settings…"), QKeySequence(Qt::CTRL | Qt::Key_Comma));

    QMenu* stream = menu(QStringLiteral("Stream"));
    add(stream, Command::transcribeMissing, QStringLiteral("Transcribe What Is Missing"));
    engines = stream->addMenu(QStringLiteral("Transcribe Every Segment Again"));
    actions.insert(Command::transcribeAgain, engines->menuAction());
    add(engines, Command::transcribeWhisper, QStringLiteral("With whisper, on this computer"));
    add(engines, Command::transcribeScribe, QStringLiteral("With ElevenLabs Scribe"));
    add(stream, Command::summarizeAgain, QStringLiteral("Summarize Segments Again"));
    add(stream, Command::ideasAgain, QStringLiteral("Look for Short Ideas Again"));
    stream->addSeparator();
    add(stream, Command::askAI, QStringLiteral("Ask AI for a Short…"), QKeySequence(Qt::CTRL | Qt::Key_K));
    stream->addSeparator();
    add(stream, Command::showActivity, QStringLiteral("Show Activity"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_A));

    // The bracketed keys are the workspace's own keys, not shortcuts of the items.
    segmentMenu = menu(QStringLiteral("Segment"));
    add(segmentMenu, Command::favourite, QStringLiteral("Favourite  (F)"));
    add(segmentMenu, Command::reject, QStringLiteral("Reject  (Backspace)"));
    add(segmentMenu, Command::clearRating, QStringLiteral("Clear Rating  (U)"));
    segmentMenu->addSeparator();
    add(segmentMenu, Command::markStart, QStringLiteral("Mark Start  (I)"));
    add(segmentMenu, Command::markEnd, QStringLiteral("Mark End  (O)"));
    add(segmentMenu, Command::addRange, QStringLiteral("Add Marked Range to Short  (A)"));
    segmentMenu->addSeparator();
    add(segmentMenu, Command::splitSegment, QStringLiteral("Split at Playhead…  (B)"));
    add(segmentMenu, Command::joinNext, QStringLiteral("Join With the Next Segment"));
    add(segmentMenu, Command::summarizeThis, QStringLiteral("Summarize This Segment"));

    QMenu* shortMenu = menu(QStringLiteral("Short"));
    add(shortMenu, Command::playPause, QStringLiteral("Play or Pause  (Space)"));
    add(shortMenu, Command::stepBack, QStringLiteral("Step Back a Frame  (←)"));
    add(shortMenu, Command::stepForward, QStringLiteral("Step Forward a Frame  (→)"));
    shortMenu->addSeparator();
    add(shortMenu, Command::splitCut, QStringLiteral("Split Cut at Playhead  (B)"));
    add(shortMenu, Command::removeCut, QStringLiteral("Remove Cut  (Backspace)"));
    shortMenu->addSeparator();
    add(shortMenu, Command::newShort, QStringLiteral("New Short"), QKeySequence(Qt::CTRL | Qt::Key_N));
    add(shortMenu, Command::closeTab, QStringLiteral("Close Tab"));

    QMenu* help = menu(QStringLiteral("Help"));
    add(help, Command::checkForUpdates, QStringLiteral("Check for Updates…"));
    add(help, Command::about, QStringLiteral("About Vantorel"));

    pending.setSingleShot(true);
    pending.setInterval(0);
    connect(&pending, &QTimer::timeout, this, &Menus::refresh);
    const auto later = [this] { pending.start(); };
    for (auto signal : {&AppModel::videoChanged, &AppModel::fileChanged, &AppModel::projectChanged,
                        &AppModel::exportProgressChanged, &AppModel::canUndoChanged, &AppModel::canRedoChanged,
                        &AppModel::workingChanged, &AppModel::selectionChanged, &AppModel::rangeChanged,
                        &AppModel::modeChanged, &AppModel::selectedCutChanged, &AppModel::activeShortChanged})
        connect(&model, signal, this, later);
    refresh();
    qApp->installEventFilter(this);
}

bool Menus::eventFilter(QObject* watched, QEvent* event)
{
    // The same action, so one shortcut: the key triggers it once wherever it is put.
    if (event->type() == QEvent::Show && watched->isWidgetType()) {
        auto* shown = static_cast<QWidget*>(watched);
        if (shown->isWindow() && shown->isModal())
            for (Command command : overSheets)
                if (QAction* action = actions.value(command))
                    shown->addAction(action);
    }
    return QObject::eventFilter(watched, event);
}

QMenu* Menus::menu(const QString& title) const
{
    return menus.value(title);
}

QAction* Menus::add(QMenu* menu, Command command, const QString& title, const QKeySequence& keys)
{
    QAction* action = menu->addAction(title);
    if (!keys.isEmpty()) {
        action->setShortcut(keys);
        action->setShortcutContext(Qt::ApplicationShortcut);
    }
    connect(action, &QAction::triggered, this, [this, command] { run(command); });
    actions.insert(command, action);
    return action;
}

void Menus::refresh()
{
    pending.stop();
    const MenuState state = MenuState::of(model);
    for (auto it = actions.cbegin(); it != actions.cend(); ++it)
        it.value()->setEnabled(enabled(it.key(), state));
    segmentMenu->menuAction()->setEnabled(state.segment);
}

void Menus::fillRecent()
{
    recent->clear();
    // Moved packages stay in the list and come back once they are there again.
    for (const QString& path : model.recents()) {
        if (!QFileInfo::exists(path))
            continue;
        QAction* item = recent->addAction(QFileInfo(path).completeBaseName());
        connect(item, &QAction::triggered, this, [model = QPointer<AppModel>(&model), path] {
            TaskHandle::start([model, path](Cancel) -> QCoro::Task<> {
                if (model)
                    co_await model->open(path);
            });
        });
    }
}

void Menus::runPipeline(bool ideasAgain, bool summariesAgain, bool transcribeNow, std::set<QString> summarize)
{
    if (model.video())
        model.runPipeline(ideasAgain, summariesAgain, transcribeNow, false, std::move(summarize));
}

void Menus::run(Command command)
{
    const QString id = model.selection().value_or(QString());
    std::vector<QString> all;
    switch (command) {
    case Command::open:
        model.openPanel();
        break;
    case Command::closeProject:
        model.close();
        break;
    case Command::save:
        model.saveNow();
        break;
    case Command::duplicate:
        model.duplicate();
        break;
    case Command::purgeCache:
        model.purgeCache();
        break;
    case Command::showInFileManager:
        if (model.file())
            Desktop::current().reveal(*model.file());
        break;
    case Command::exportShort:
        model.setExporting(true);
        break;
    case Command::exportAll:
        exportAll();
        break;
    case Command::quit:
        if (hooks.quit)
            hooks.quit();
        break;
    case Command::undo:
        model.undo();
        break;
    case Command::redo:
        model.redo();
        break;
    case Command::settings:
        if (hooks.settings)
            hooks.settings();
        break;
    case Command::transcribeMissing:
        runPipeline(false, false, true, {});
        break;
    case Command::transcribeAgain:
        break;
    case Command::transcribeWhisper:
    case Command::transcribeScribe:
        for (const Segment& segment : model.project().segments)
            all.push_back(segment.id);
        model.transcribeAgain(all, command == Command::transcribeWhisper ? QStringLiteral("whisper")
                                                                          : QStringLiteral("scribe"));
        break;
    case Command::summarizeAgain:
        runPipeline(false, true, false, {});
        break;
    case Command::ideasAgain:
        runPipeline(true, false, false, {});
        break;
    case Command::askAI:
        model.setAskingAI(true);
        break;
    case Command::showActivity:
        Windows::open(QStringLiteral("activity"));
        break;
    case Command::favourite:
        model.rate(id, 1);
        break;
    case Command::reject:
        model.rate(id, -1);
        break;
    case Command::clearRating:
        model.rate(id, std::nullopt);
        break;
    case Command::markStart:
        model.mark(Edge::start);
        break;
    case Command::markEnd:
        model.mark(Edge::end);
        break;
    case Command::addRange:
        model.addRange();
        break;
    case Command::splitSegment:
        model.player().pause();
        model.setSplitting(true);
        break;
    case Command::joinNext:
        model.joinWithNext(id);
        break;
    case Command::summarizeThis:
        runPipeline(false, false, false, {id});
        break;
    case Command::playPause:
        model.togglePlay();
        break;
    case Command::stepBack:
        model.step(-1.0 / 30.0);
        break;
    case Command::stepForward:
        model.step(1.0 / 30.0);
        break;
    case Command::splitCut:
        model.splitAtPlayhead();
        break;
    case Command::removeCut:
        model.removeCut();
        break;
    case Command::newShort:
        model.newShort();
        break;
    case Command::closeTab:
        if (const auto active = model.activeShort())
            model.closeTab(*active);
        break;
    case Command::checkForUpdates:
        checkForUpdates();
        break;
    case Command::about:
        if (hooks.about)
            hooks.about();
        break;
    }
}

void Menus::checkForUpdates()
{
    TaskHandle::start([model = QPointer<AppModel>(&model)](Cancel) -> QCoro::Task<> {
        Updates& updates = Updates::shared();
        co_await updates.check();
        if (model)
            model->setToast(updateNotice(updates.verdict(), updates.latest(), Updates::current()));
    });
}

void Menus::exportAll()
{
    const QString folder = model.file() ? QFileInfo(*model.file()).absolutePath() : QString();
    TaskHandle::start([model = QPointer<AppModel>(&model), window = QPointer<QMainWindow>(&window),
                       folder](Cancel) -> QCoro::Task<> {
        const std::optional<QString> chosen = co_await FilePicker::current().folder(
            window, folder, QStringLiteral("Export Here"),
            QStringLiteral("Each Short is written as its own .mp4, with subtitles beside it."));
        if (!chosen || !model)
            co_return;
        // A token of its own, so that the activity window's Stop ends the whole run.
        const Cancel cancel = Cancel::make();
        co_await model->exportAll(*chosen, Prefs::shared().exportSubtitles(), cancel);
    });
}
