#pragma once

#include <QColor>
#include <QImage>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QRectF>
#include <optional>
#include <vector>

class Frames;
class QPainter;

// The film strip: stills of the recording laid side by side over a stretch of it. The strip
// is painted into its caller's widget (a cut block, the stream timeline), so it is a layout,
// a painter and a loader rather than a widget of its own.
//
// Cells are about one still wide, rounded to a power of two of whole seconds, so that every
// scale within a step, and every window, asks for the same seconds and the cache of one
// still per second serves them all.

struct FilmCell {
    double x = 0; // from the strip's left edge; the first cell may begin left of it
    double width = 0;
    int second = 0; // the second of the recording whose still the cell shows
    bool operator==(const FilmCell&) const = default;
};

struct FilmGridLayout {
    double step = 0; // seconds per cell: a power of two, at least 1
    std::vector<FilmCell> cells;
    bool operator==(const FilmGridLayout&) const = default;
    std::vector<int> seconds() const;
};

// The cells of a strip `width` wide and `height` high showing `from`..`to` seconds of the
// recording, with stills `aspect` times as wide as high. A stretch of zero length still
// gets one cell. A strip without width or height, or with a stretch or aspect that is not
// a positive finite number, gets none: there is nothing sensible to draw or to load.
FilmGridLayout filmGridLayout(double from, double to, double width, double height, double aspect);

// The still a cell of a `step`-second strip shows for `second`: its own, else the one that
// a coarser strip (2, 4, 8 … times the step, up to 2048 s) shows over it, so that zooming
// in shows the stills already loaded instead of empty cells. None when nothing is cached.
std::optional<QImage> filmStill(const QMap<int, QImage>& images, int second, double step);

// Paints the strip into `rect`: each still scaled to fill its cell, cut to the cell and to
// `rect`; a faint placeholder (`primary` at opacity 0.08) where there is no still yet.
void drawFilmGrid(QPainter& painter, const QRectF& rect, double from, double to, const QMap<int, QImage>& images,
                  double aspect, const QColor& primary);
void drawFilmGrid(QPainter& painter, const QRectF& rect, double from, double to, const Frames& frames,
                  const QColor& primary);

// Asks `Frames` for the stills that the strips of one widget show. The widget hands it
// every second it shows whenever its layout may have changed (cheap when nothing did); a
// new list is asked for once, on the next turn of the event loop, second by second in
// order, and a newer list replaces one not yet asked. Stills arrive later through
// `Frames::imagesChanged`, on which the widget repaints.
class FilmLoader : public QObject {
public:
    explicit FilmLoader(Frames& frames, QObject* parent = nullptr);
    void want(std::vector<int> seconds);
    const std::vector<int>& wanted() const { return seconds_; }

private:
    QPointer<Frames> frames_;
    std::vector<int> seconds_;
    int generation_ = 0;
};
