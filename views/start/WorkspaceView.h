#pragma once

#include "views/start/Derive.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>

class AppModel;
#include <QDialog>
class QLabel;
#include <QMessageBox>
class QProgressBar;
class QSplitter;
class QToolButton;
class SidebarView;
class Spinner;

// The main window's face while a recording is open: the sidebar beside the editor
// column (viewer and inspector over the timeline), the toolbar, the sheets that follow
// the model's flags, the key map and the remembered window size.
class WorkspaceView : public QWidget {
    Q_OBJECT
public:
    explicit WorkspaceView(AppModel& model, QWidget* parent = nullptr);
    ~WorkspaceView() override;

    // The editor's three places. Each starts as an empty widget named "viewerPane",
    // "inspectorPane" or "timelinePane"; setPane puts a view in its place (the workspace
    // owns it), and a maker registered for the pane is called for every new workspace.
    enum class Pane { viewer, inspector, timeline };
    void setPane(Pane pane, QWidget* view);
    QWidget* pane(Pane pane) const;
    using PaneMaker = std::function<QWidget*(AppModel& model, QWidget* parent)>;
    static PaneMaker& paneMaker(Pane pane);

    // The export and Ask AI sheets, made when their flag turns on (until one is
    // installed its flag turns on and nothing shows).
    using SheetMaker = std::function<QDialog*(AppModel& model, QWidget* parent)>;
    static SheetMaker& exportSheet();
    static SheetMaker& askSheet();

    static constexpr int sidebarLeast = 280;
    static constexpr int sidebarIdeal = 312;
    static constexpr int sidebarMost = 380;
    static constexpr int inspectorWidth = 340;
    // How long the window must keep its size before it is remembered.
    static constexpr int quietMs = 400;

    SidebarView* sidebar() const { return side; }
    QWidget* toolbar() const { return bar; }
    QDialog* shownSheet() const { return sheet; }
    QMessageBox* splitDialog() const { return split; }
    // What the key map sees now.
    KeyContext keyContext() const;
    // Runs a key's action (the key map's second half).
    void act(KeyAction action);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent*) override;
    void hideEvent(QHideEvent*) override;
    void resizeEvent(QResizeEvent*) override;

private:
    void followTitle();
    void followStatus();
    void followExport();
    void followSheets();
    void followSplit();
    void restoreSize();
    AppModel& model;
    SidebarView* side;
    QWidget* bar;
    QWidget* panes[3] = {};
    QLabel* status;
    QWidget* progress;
    QLabel* progressLabel;
    QProgressBar* progressBar;
    QToolButton* activity;
    Spinner* spinner;
    QToolButton* undo;
    QToolButton* redo;
    QToolButton* exportButton;
    QPointer<QDialog> sheet;
    bool sheetIsExport = false;
    QPointer<QMessageBox> split;
    QTimer saveTimer;
    bool filtering = false;
    bool restoring = false;
    bool settled = false; // the window has its size for this showing
};
