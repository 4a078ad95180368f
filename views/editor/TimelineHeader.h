#pragma once

// The bar over the Shorts timeline: a tab for every open Short, New Short, Ask AI, the
// display options of the cut blocks, and while the Short has cuts the zoom and its length
// against one minute.

#include <QFrame>
#include <QUuid>
#include <QWidget>
#include <functional>
#include <vector>

class AppModel;
class QCheckBox;
class QLabel;
class QSlider;
class QToolButton;
class TabRow;

// One open Short's tab. Only the active tab's close button shows and takes clicks; the
// others keep its place, so a tab does not change width when it becomes active.
class ShortTab : public QWidget {
    Q_OBJECT
public:
    ShortTab(AppModel& model, const QUuid& id, const QString& title, bool active, QWidget* parent = nullptr);
    const QUuid id;
    const bool active;
    QLabel* title;
    QToolButton* close;
    // Starts a rename of this tab's Short (the timeline shows the alert).
    std::function<void(const QUuid& id)> rename;

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseDoubleClickEvent(QMouseEvent*) override;
    void contextMenuEvent(QContextMenuEvent*) override;

private:
    AppModel& model;
};

// The display options of the cut blocks, bound to the preferences.
class TimelineOptions : public QFrame {
    Q_OBJECT
public:
    explicit TimelineOptions(QWidget* parent = nullptr);
    QCheckBox* names;
    QCheckBox* filmstrip;
    QSlider* filmstripHeight;
    QCheckBox* waveform;
    QSlider* waveformHeight;
    QCheckBox* snap;
    QLabel* help;

private:
    void refresh();
    QWidget* filmstripRow;
    QWidget* waveformRow;
};

class TimelineHeader : public QWidget {
    Q_OBJECT
public:
    explicit TimelineHeader(AppModel& model, QWidget* parent = nullptr);
    void refresh();
    // Opens the display options under their button.
    void showOptions();

    const std::vector<ShortTab*>& tabs() const { return tabList; }
    std::function<void(const QUuid& id)> rename;
    QToolButton* newShort;
    QToolButton* askAI;
    QToolButton* options;
    QWidget* zoomControls;
    QToolButton* zoomOut;
    QSlider* zoom;
    QToolButton* zoomIn;
    QLabel* length;
    QLabel* ofMinute;
    TimelineOptions* popover = nullptr;

private:
    AppModel& model;
    TabRow* tabRow;
    std::vector<ShortTab*> tabList;
    struct Shown {
        QUuid id;
        QString title;
        bool active;
        bool operator==(const Shown&) const = default;
    };
    std::vector<Shown> shown;
};
