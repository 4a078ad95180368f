#include "views/kit/Wave.h"

#include "views/kit/Style.h"

#include <QPainter>
#include <cmath>

std::vector<QRectF> waveBars(const std::optional<QByteArray>& peaks, double from, double to, const QRectF& in)
{
    std::vector<QRectF> bars;
    const double width = in.width();
    // A reversed or empty stretch, or a rectangle without width, has no scale to draw at.
    if (!peaks || peaks->isEmpty() || !(from < to) || !(width > 0) || !std::isfinite(width))
        return bars;
    const auto* bytes = reinterpret_cast<const unsigned char*>(peaks->constData());
    const qsizetype count = peaks->size();
    const double mid = in.center().y();
    bars.reserve(size_t(width / 2) + 1);
    for (double x = 0; x < width; x += 2) {
        const double t = from + (to - from) * x / width;
        const double index = std::trunc(t * 20);
        if (!(index >= 0) || index >= double(count))
            continue;
        const double h = std::max(in.height() * bytes[qsizetype(index)] / 255.0, 1.0);
        bars.emplace_back(in.left() + x, mid - h / 2, 1.3, h);
    }
    return bars;
}

void drawWaveBars(QPainter& painter, const std::vector<QRectF>& bars, const QColor& colour)
{
    if (bars.empty())
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Style::faded(colour, 0.32));
    // The bars never overlap, so each can be filled on its own: far cheaper than one path
    // of hundreds of rectangles.
    painter.drawRects(bars.data(), int(bars.size()));
    painter.restore();
}

void drawWave(QPainter& painter, const std::optional<QByteArray>& peaks, double from, double to, const QRectF& in,
              const QColor& colour)
{
    drawWaveBars(painter, waveBars(peaks, from, to, in), colour);
}
