#pragma once

// The Shorts timeline across the bottom of the editor: the header with the Short tabs over
// the track of the active Short's cuts. It keeps only what a view needs while it is shown
// (a drag, a pinch, the rename being typed); its display options live in the preferences.

#include "views/kit/Coalesce.h"

#include <QDialog>
#include <QPointer>
#include <QPropertyAnimation>
#include <QUuid>
#include <QWidget>
#include <optional>

class AppModel;
class QScrollArea;
class TimelineHeader;
class TimelineTrack;

// Shown in place of the track while the Short has no cuts.
class EmptyTrack : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override;
};

class TimelineView : public QWidget {
    Q_OBJECT
public:
    explicit TimelineView(AppModel& model, QWidget* parent = nullptr);

    // Asks for a new name for Short `id` (made active first); the answer renames that
    // Short, whichever is active by the time the alert closes.
    void startRename(const QUuid& id);
    QDialog* renameAlert() const { return alert; }

    TimelineHeader* header;
    QWidget* area;
    EmptyTrack* empty;
    QScrollArea* scroll;
    TimelineTrack* track;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void showEvent(QShowEvent*) override;

private:
    void refresh();
    void layOut();
    void tick();
    // Scrolls the least that shows the whole playhead.
    void reveal();
    bool wheel(QWheelEvent* event);
    AppModel& model;
    Coalesce later;
    std::optional<double> pinchFrom;
    double magnification = 1;
    long half = 0; // the clock's half-second the follower last saw
    QPointer<QPropertyAnimation> slide; // the follower's move under way
    std::optional<QUuid> shownShort; // the Short the track was last laid out for
    QPointer<QDialog> alert;
};
