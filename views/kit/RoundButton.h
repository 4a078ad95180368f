#pragma once

#include <QToolButton>
#include <algorithm>

// A round button (play, a tab's close): it takes clicks in the circle inscribed in its square only.
class RoundButton : public QToolButton {
public:
    using QToolButton::QToolButton;

protected:
    bool hitButton(const QPoint& pos) const override
    {
        const QPointF d = QPointF(pos) - QRectF(rect()).center();
        const double r = std::min(width(), height()) / 2.0;
        return d.x() * d.x() + d.y() * d.y() <= r * r;
    }
};
