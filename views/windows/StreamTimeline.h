#pragma once

// The stream window's zoomable band: a ruler, the film strip and the wave band with the
// segments, the selection with its handles, and the playhead, painted as one widget. The
// ruler scrubs, the bands below mark a selection that snaps to speech, the handles move
// its edges, and a pinch zooms.

#include "model/editing/TimeRange.h"
#include "views/kit/Coalesce.h"
#include "views/windows/StreamRules.h"

#include <QPixmap>
#include <QWidget>
#include <optional>
#include <vector>

class AppModel;
class FilmLoader;
class StreamBrowser;

class StreamTimeline : public QWidget {
    Q_OBJECT
public:
    explicit StreamTimeline(AppModel& model, QWidget* parent = nullptr);

    // The pointer is over the band (the wheel map acts only then).
    bool over() const { return hovered; }
    // Position and time at the present width and view.
    stream::Map map() const;
    // Paints everything but the playhead, as the cached picture holds it.
    void paintBand(QPainter& painter, const QSizeF& size) const;
    // Drops the cached picture and repaints.
    void redraw();

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void enterEvent(QEnterEvent*) override;
    void leaveEvent(QEvent*) override;
    void hideEvent(QHideEvent*) override;
    bool event(QEvent*) override;

private:
    enum class Drag { none, scrub, select, startEdge, endEdge };
    Drag hit(const QPointF& at) const;
    void change(double x, Qt::KeyboardModifiers modifiers);
    void finish(double x);
    double snap(double t, double pps, Qt::KeyboardModifiers modifiers) const;
    double playheadAt() const;
    void movePlayhead();
    void request();
    void pointer(const QPointF& at);

    AppModel& model;
    StreamBrowser& browser;
    FilmLoader* loader;
    Coalesce later;
    QPixmap canvas;
    bool stale = true;
    double playhead = -10;
    bool hovered = false;

    Drag drag = Drag::none;
    double pressX = 0;
    std::optional<double> anchor;    // the selection drag's time at the press
    std::optional<double> pinchFrom; // the span a pinch began at
    double magnification = 1;
    // The waveform chunks last requested, and the waves' generation then.
    std::optional<std::pair<int, std::vector<int>>> asked;
};
