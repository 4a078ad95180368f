#pragma once

// The stream window: the whole recording on a player of its own, the zoomable timeline,
// the overview of the whole stream and the controls for zooming, marking a stretch and
// adding it as a segment. While the window is shown it reads the keyboard (when it is the
// active window) and the wheel over its timeline.

#include "views/kit/Coalesce.h"

#include <QWidget>
#include <optional>

class AppModel;
class QLabel;
class QPushButton;
class QSlider;
class QToolButton;
class StreamBrowser;
class StreamTimeline;
class Toast;
class VideoSurface;

// The whole recording in 20 points: the segments, the marked range, the stretch the
// timeline shows and the playhead. A press jumps there and centres the view; a drag scrubs.
class OverviewStrip : public QWidget {
    Q_OBJECT
public:
    explicit OverviewStrip(AppModel& model, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void hideEvent(QHideEvent*) override;

private:
    void scrubTo(double x);
    AppModel& model;
    StreamBrowser& browser;
    bool pressed = false;
};

class BrowserView : public QWidget {
    Q_OBJECT
public:
    explicit BrowserView(AppModel& model, QWidget* parent = nullptr);
    ~BrowserView() override;

    VideoSurface* picture;
    StreamTimeline* timeline;
    OverviewStrip* overview;
    QToolButton* play;
    QLabel* time;
    QLabel* length;
    QToolButton* zoomOut;
    QSlider* zoomSlider;
    QToolButton* zoomIn;
    QToolButton* snapToggle;
    QLabel* rangeLabel;
    QPushButton* clear;
    QPushButton* add;
    Toast* notice;

    // The slider's steps from the whole recording (0) to ten seconds.
    static constexpr int sliderSteps = 1000;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent*) override;
    void hideEvent(QHideEvent*) override;
    void changeEvent(QEvent*) override;
    void resizeEvent(QResizeEvent*) override;

private:
    bool key(const QKeyEvent& event);
    bool wheel(const QWheelEvent& event);
    void togglePlay();
    void refresh();
    void tick();
    void paintCaption(QPainter& painter);
    void listen(bool on);

    AppModel& model;
    StreamBrowser& browser;
    Coalesce later;
    bool listening = false;
    std::optional<QString> shownCaption;
};
