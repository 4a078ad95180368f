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

// Moves a playhead line drawn at `x` to `next`, repainting only the columns of the old
// and the new line.
inline void moveColumn(QWidget& widget, double& x, double next)
{
    if (next == x)
        return;
    const int h = widget.height();
    widget.update(QRect(int(std::floor(x)) - 2, 0, 5, h));
    x = next;
    widget.update(QRect(int(std::floor(x)) - 2, 0, 5, h));
}
