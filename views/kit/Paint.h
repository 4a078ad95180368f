#pragma once

// Small pieces of painting that the drawn strips share.

#include <QPainterPath>
#include <QWidget>
#include <cmath>

// A rounded rectangle as a path, to fill or clip to.
inline QPainterPath rounded(const QRectF& r, qreal radius)
{
    QPainterPath path;
    path.addRoundedRect(r, radius, radius);
    return path;
}

// Moves a playhead drawn at `x`, `lineWidth` points wide about it, to `next`, repainting
// only the columns of the old and the new one.
inline void moveColumn(QWidget& widget, double& x, double next, double lineWidth = 0)
{
    if (next == x)
        return;
    const int h = widget.height();
    const auto column = [&](double at) { return QRect(int(std::floor(at - lineWidth / 2)) - 2, 0, int(lineWidth) + 5, h); };
    widget.update(column(x));
    x = next;
    widget.update(column(x));
}
