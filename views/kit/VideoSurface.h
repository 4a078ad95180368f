#pragma once

#include <QImage>
#include <QPointer>
#include <QVideoFrame>
#include <QWidget>
#include <functional>

class Player;
class QVideoSink;

// Paints the frames of a player's video sink, fitted on black with rounded corners, and
// lets its owner paint over the picture (the caption). It tells its player the size it shows
// the picture at, and the player hands over pictures of that size, upright and ready to
// paint: each is painted as it comes, without a conversion or a scaling. Other frames are
// converted once, when they arrive while the surface is shown, or when it is shown again.
class VideoSurface : public QWidget {
    Q_OBJECT
public:
    explicit VideoSurface(QWidget* parent = nullptr);
    ~VideoSurface() override;

    // Shows `player`'s picture and what it waits for, at the size of this surface (none:
    // shows black). Call with none before the player goes away.
    void setPlayer(Player* player);
    // Takes frames from `sink` (none: shows black). Call with none before the sink or
    // its player goes away.
    void setSink(QVideoSink* sink);
    // Shows a still as if the sink had sent it (tests, screenshots).
    void showImage(const QImage& image);
    // Shows over the picture what `player`'s picture waits for, while it waits (none: stop).
    // Call with none before the player goes away.
    void showWaiting(Player* player);
    // The line shown over the picture; empty when none.
    void setNote(const QString& line);
    const QString& note() const { return note_; }
    const QImage& image() const { return picture; }

    // Where the picture lies in the widget, fitted with its aspect kept.
    static QRectF fit(const QSizeF& picture, const QRectF& area);
    // The frame as an image: the pixels themselves where they are laid out as an image's,
    // else converted.
    static QImage imageOf(const QVideoFrame& frame);
    // Painted after the picture, with the picture's rectangle (empty without a picture).
    std::function<void(QPainter&, const QRectF& picture)> overlay;
    qreal radius = 8;

protected:
    void paintEvent(QPaintEvent*) override;
    void showEvent(QShowEvent*) override;
    void resizeEvent(QResizeEvent*) override;

private:
    void take(const QVideoFrame& frame);
    void tellSize();
    QPointer<Player> sizedFor;
    QPointer<QVideoSink> sink;
    QVideoFrame pending;
    bool waiting = false; // a frame (maybe an empty one) came while hidden
    QImage picture;
    QPointer<Player> waitingOn;
    QString note_;
};
