#pragma once

// The video area of the workspace: the main player's picture with its caption, the strip
// under it (the selected segment, or the active Short laid back to back) and the
// transport bar.

#include "core/project/Records.h"
#include "views/kit/Coalesce.h"

#include <QPixmap>
#include <QWidget>
#include <optional>
#include <vector>

class AppModel;
class QLabel;
class QPushButton;
class QSlider;
class QToolButton;
class VideoSurface;
enum class Mode;

namespace viewer {

// "Segment 06" or "Short · Title": the text of the caption over the picture.
QString caption(const AppModel& model);
// Where recording time `t` lies on a strip `width` wide showing `length` seconds from
// `start`; none when the strip has no width or the segment no length.
std::optional<double> stripX(double t, double start, double length, double width);

// One cut of the Short strip: where it lies and which stretch of which segment's peaks it
// shows (none: no segment under it).
struct Piece {
    double x0 = 0;
    double x1 = 0;
    const Segment* segment = nullptr;
    double from = 0; // seconds from the segment's start
    double to = 0;
    bool join = false; // a join mark at x0
};
// The cuts back to back over `width`, scaled to their total raised to 0.1.
std::vector<Piece> shortLayout(const Project& project, const std::vector<Cut>& cuts, double width);
// The length the Short strip scales to.
double shortScale(const std::vector<Cut>& cuts);

} // namespace viewer

// The strip under the picture: one segment (with its waveform, markers, the active
// Short's cuts and the marked range) or the active Short's cuts back to back. The drawing
// is kept until what it shows changes; a clock tick repaints only the playhead.
class Strip : public QWidget {
    Q_OBJECT
public:
    explicit Strip(AppModel& model, QWidget* parent = nullptr);
    // Shows segment `id`, or the Short when none; redraws.
    void present(const std::optional<QString>& id);
    // Moves the red line to the clock.
    void follow();
    double playheadX() const { return playhead; }

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void contextMenuEvent(QContextMenuEvent*) override;

private:
    void paintCanvas();
    double playheadAt() const;
    void scrubTo(double x);
    AppModel& model;
    std::optional<QString> segment;
    QPixmap canvas;
    double playhead = -10;
    bool dragging = false;
};

// Play and pause, the time, the volume and the Segment/Short switch.
class Transport : public QWidget {
    Q_OBJECT
public:
    explicit Transport(AppModel& model, QWidget* parent = nullptr);
    // The readouts, on every clock tick.
    void tick();
    // Everything else.
    void refresh();

    QToolButton* play;
    QLabel* time;
    QLabel* of;
    QToolButton* speaker;
    QSlider* volume;
    QPushButton* segmentMode;
    QPushButton* shortMode;

private:
    AppModel& model;
};

class ViewerView : public QWidget {
    Q_OBJECT
public:
    explicit ViewerView(AppModel& model, QWidget* parent = nullptr);
    ~ViewerView() override;

    VideoSurface* picture;
    Strip* strip;
    Transport* transport;

private:
    void refresh();
    AppModel& model;
    Coalesce later;
};
