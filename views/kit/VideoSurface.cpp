#include "views/kit/VideoSurface.h"

#include "platform/media/Player.h"
#include "views/kit/Style.h"

#include <QPainter>
#include <QPainterPath>
#include <QVideoSink>
#include <algorithm>
#include <cmath>

VideoSurface::VideoSurface(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

VideoSurface::~VideoSurface()
{
    setPlayer(nullptr);
}

void VideoSurface::setPlayer(Player* player)
{
    setSink(player ? player->videoSink() : nullptr);
    showWaiting(player);
    sizedFor = player;
    tellSize();
}

void VideoSurface::tellSize()
{
    // The whole surface: the player fits the upright picture into it.
    if (!sizedFor)
        return;
    const qreal scale = devicePixelRatioF();
    sizedFor->setPictureSize(QSize(int(std::lround(width() * scale)), int(std::lround(height() * scale))));
}

void VideoSurface::resizeEvent(QResizeEvent*)
{
    tellSize();
}

void VideoSurface::showWaiting(Player* player)
{
    if (waitingOn == player)
        return;
    if (waitingOn)
        disconnect(waitingOn, nullptr, this, nullptr);
    waitingOn = player;
    const auto follow = [this] { setNote(waitingOn ? waitingOn->waiting().value_or(QString()) : QString()); };
    if (player)
        connect(player, &Player::waitingChanged, this, follow);
    follow();
}

void VideoSurface::setNote(const QString& line)
{
    if (line == note_)
        return;
    note_ = line;
    update();
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
    picture = imageOf(frame);
    update();
}

QImage VideoSurface::imageOf(const QVideoFrame& frame)
{
    if (!frame.isValid())
        return {};
    const QImage::Format format = QVideoFrameFormat::imageFormatFromPixelFormat(frame.pixelFormat());
    auto* mapped = new QVideoFrame(frame);
    if (format == QImage::Format_Invalid || !mapped->map(QVideoFrame::ReadOnly)) {
        delete mapped;
        return frame.toImage();
    }
    // The image reads the frame's memory, held mapped until the image goes.
    return QImage(
        static_cast<const uchar*>(mapped->bits(0)), mapped->width(), mapped->height(), mapped->bytesPerLine(0), format,
        [](void* held) {
            auto* f = static_cast<QVideoFrame*>(held);
            f->unmap();
            delete f;
        },
        mapped);
}

void VideoSurface::showEvent(QShowEvent*)
{
    tellSize();
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
    const qreal scale = devicePixelRatioF();
    if (!where.isEmpty() && std::abs(where.width() * scale - picture.width()) < 1.5
        && std::abs(where.height() * scale - picture.height()) < 1.5) {
        // Made at the size it is shown: painted pixel for pixel.
        QImage exact = picture;
        exact.setDevicePixelRatio(scale);
        p.setRenderHint(QPainter::SmoothPixmapTransform, false);
        p.drawImage(QPointF(std::round(where.x() * scale) / scale, std::round(where.y() * scale) / scale), exact);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
    } else if (!where.isEmpty()) {
        p.drawImage(where, picture);
    }
    if (overlay)
        overlay(p, where);
    if (!note_.isEmpty()) {
        // In the middle of the picture, where the eye waits for it.
        const QFont font = Style::font(Style::Text::callout);
        p.setFont(font);
        const QFontMetricsF metrics(font);
        const double width = std::min(metrics.horizontalAdvance(note_) + 28, double(rect().width()) - 20);
        const QRectF capsule(rect().center().x() - width / 2, rect().center().y() - (metrics.height() + 12) / 2,
                             width, metrics.height() + 12);
        Style::fillMaterial(p, capsule, capsule.height() / 2, palette());
        p.setPen(Style::primary(palette()));
        p.drawText(capsule.adjusted(14, 0, -14, 0), Qt::AlignCenter,
                   metrics.elidedText(note_, Qt::ElideMiddle, capsule.width() - 28));
    }
}
