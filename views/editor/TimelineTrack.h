#pragma once

// The track of the Shorts timeline: the ruler, the active Short's cuts laid back to back as
// blocks, the insertion marker of a move and the playhead, painted in one widget (the
// content of the timeline's horizontal scroll area). One press is one gesture: a press on
// the ruler or the playhead scrubs; on a block's edge it trims; elsewhere on a block it
// selects and seeks, or moves the cut once the pointer has travelled 5 points.

#include "core/project/Records.h"
#include "views/editor/TimelineDerive.h"

#include <QPointF>
#include <QWidget>
#include <optional>

class AppModel;
class FilmLoader;

class TimelineTrack : public QWidget {
    Q_OBJECT
public:
    explicit TimelineTrack(AppModel& model, QWidget* parent = nullptr);

    // Lays the track out again for a viewport `width` points wide: the scale (kept while a
    // trim runs), its own size, the stills it asks for. Returns whether the scale changed.
    bool layOut(double width, double zoom, const timeline::ClipLook& look);
    double scale() const { return scale_; }
    const std::vector<Cut>& cuts() const { return cuts_; }
    // The playhead's x, none when no playhead is drawn.
    std::optional<double> playheadX() const;
    // The clock moved: repaints the old and the new playhead only.
    void follow();
    // Ends the drag in progress without its drop or click: a scrub ends, a trim keeps what
    // it did as its one undo step, a move or a click does nothing.
    void cancel();

    // The drag in progress.
    std::optional<double> frozen; // the scale a trim began at
    std::optional<double> origin; // the trimmed edge's recording time when it began
    std::optional<QUuid> movingID;
    double movingBy = 0;
    int movingTo = 0;

protected:
    void paintEvent(QPaintEvent*) override;
    void hideEvent(QHideEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;

private:
    enum class Gesture { none, scrub, press, reorder, trim };
    void paintRuler(QPainter& p, const QRect& exposed);
    void paintBlock(QPainter& p, int index, const timeline::BlockPlace& span);
    void paintPlayhead(QPainter& p);
    void scrubTo(double x);
    void pointTo(const QPointF& at);
    // Whether a press at `at` takes the playhead.
    bool onPlayhead(const QPointF& at) const;
    void finish();
    std::optional<double> playheadTime() const;

    AppModel& model;
    FilmLoader* loader;
    std::vector<Cut> cuts_;
    std::vector<timeline::BlockPlace> spans;
    std::vector<timeline::Tick> ticks; // the ruler's, made with the layout rather than on every paint
    timeline::ClipLook look;
    double scale_ = 0;
    double laidWidth = 0;
    double laidZoom = 1;
    double shownAt = -100; // the playhead's x as last painted

    Gesture gesture = Gesture::none;
    int pressed = -1; // the block pressed
    QUuid pressedCut;
    bool trimEnd = false;
    QPointF pressAt;
};
