#include "views/kit/VideoSurface.h"

#include <QPainter>
#include <QPainterPath>
#include <QVideoSink>

VideoSurface::VideoSurface(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

VideoSurface::~VideoSurface()
{
    setSink(nullptr);
}

void VideoSurface::setSink(QVideoSink* next)
{
    if (sink == next)
        return;
    if (sink)
        disconnect(sink, nullptr, this, nullptr);
    sink = next;
    pending = {};
    waiting = false;
    if (sink)
        connect(sink, &QVideoSink::videoFrameChanged, this, &VideoSurface::take);
}

void VideoSurface::take(const QVideoFrame& frame)
{
    // Converting costs milliseconds per frame: none while nobody can see it.
    if (!isVisible()) {
        pending = frame;
        waiting = true;
        return;
    }
    pending = {};
    waiting = false;
    picture = frame.isValid() ? frame.toImage() : QImage();
    update();
}

void VideoSurface::showEvent(QShowEvent*)
{
    // An empty frame counts too: the player stopped, and the old picture must go.
    if (waiting)
        take(pending);
}

void VideoSurface::showImage(const QImage& image)
{
    pending = {};
    waiting = false;
    picture = image;
    update();
}

QRectF VideoSurface::fit(const QSizeF& size, const QRectF& area)
{
    if (size.isEmpty() || area.isEmpty())
        return {};
    const QSizeF fitted = size.scaled(area.size(), Qt::KeepAspectRatio);
    return {area.center().x() - fitted.width() / 2, area.center().y() - fitted.height() / 2, fitted.width(),
            fitted.height()};
}

void VideoSurface::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(rect()), radius, radius);
    p.setClipPath(clip);
    p.fillRect(rect(), Qt::black);
    const QRectF where = fit(picture.size(), rect());
    if (!where.isEmpty())
        p.drawImage(where, picture);
    if (overlay)
        overlay(p, where);
}
