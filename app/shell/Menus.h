#pragma once

#include <QMap>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <optional>
#include <set>
#include <QKeySequence>

class AppModel;
class QAction;
class QMainWindow;
class QMenu;

// Every command of the menu bar.
enum class Command {
    open, closeProject, save, duplicate, purgeCache, showInFileManager, exportShort, exportAll, quit,
    undo, redo, settings,
    transcribeMissing, transcribeAgain, transcribeWhisper, transcribeScribe, summarizeAgain, ideasAgain, askAI,
    showActivity,
    favourite, reject, clearRating, markStart, markEnd, addRange, splitSegment, joinNext, summarizeThis,
    playPause, stepBack, stepForward, splitCut, removeCut, newShort, closeTab,
    checkForUpdates, about,
};

// What the enabled states depend on, read from the model.
struct MenuState {
    bool video = false;            // a recording is open
    bool file = false;             // a package is open
    bool activeCuts = false;       // the active Short has cuts
    bool anyCuts = false;          // some Short of the project has cuts
    bool exportRunning = false;    // an export of all Shorts is under way
    bool canUndo = false, canRedo = false;
    bool working = false;          // the pipeline runs
    bool segment = false;          // the selection names a segment of the project
    bool range = false;            // a range is marked
    bool segmentMode = true;       // the viewer shows the recording, not a Short
    bool selectedCut = false;
    bool activeShort = false;
    bool touchesNext = false;      // the selected segment joins the next one
    static MenuState of(const AppModel& model);
};

bool enabled(Command command, const MenuState& state);

// The toast after "Check for Updates…": the check's verdict, pointing to the settings
// while a newer version than this one is known.
QString updateNotice(const QString& verdict, const std::optional<QString>& latest, const QString& current);

// The menu bar of the main window. Every command is one action with an application-wide
// shortcut, so it works whichever of the program's windows is in front; the enabled
// states follow the model's signals.
class Menus : public QObject {
    Q_OBJECT
public:
    struct Hooks {
        std::function<void()> settings;
        std::function<void()> about;
        std::function<void()> quit;
    };
    Menus(AppModel& model, QMainWindow& window, Hooks hooks);

    QAction* action(Command command) const { return actions.value(command); }
    QMenu* menu(const QString& title) const;
    QMenu* recentMenu() const { return recent; }
    // Brings the enabled states up to date now (they follow the model on the next turn
    // of the event loop by themselves).
    void refresh();

protected:
    // Puts the commands that work over sheets on each modal window (see `overSheets`).
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QAction* add(QMenu* menu, Command command, const QString& title, const QKeySequence& keys = {});
    void fillRecent();
    void run(Command command);
    void checkForUpdates();
    void exportAll();
    void runPipeline(bool ideasAgain, bool summariesAgain, bool transcribeNow, std::set<QString> summarize);
    AppModel& model;
    QMainWindow& window;
    Hooks hooks;
    QMap<Command, QAction*> actions;
    QMap<QString, QMenu*> menus;
    QMenu* recent = nullptr;
    QMenu* engines = nullptr;
    QMenu* segmentMenu = nullptr;
    QTimer pending;
};
