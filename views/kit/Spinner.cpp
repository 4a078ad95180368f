#include "views/kit/Spinner.h"

#include "views/kit/Style.h"

#include <QPainter>
#include <QtMath>

namespace {
constexpr int spokes = 8;
}

Spinner::Spinner(QWidget* parent, int size)
    : QWidget(parent), diameter(size)
{
    setFixedSize(size, size);
    timer.setInterval(90);
    connect(&timer, &QTimer::timeout, this, [this] {
        step = (step + 1) % spokes;
        update();
    });
}

void Spinner::showEvent(QShowEvent*)
{
    timer.start();
}

void Spinner::hideEvent(QHideEvent*)
{
    timer.stop();
}

void Spinner::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF centre = rect().center() + QPointF(0.5, 0.5);
    const qreal outer = diameter / 2.0 - 1;
    const qreal inner = outer * 0.45;
    const QColor colour = Style::primary(palette());
    for (int i = 0; i < spokes; ++i) {
        // The spoke at `step` is the brightest; the others fade behind it.
        const int age = (step - i + spokes) % spokes;
        p.setPen(QPen(Style::faded(colour, 1.0 - age * 0.11), std::max(1.5, diameter / 9.0), Qt::SolidLine, Qt::RoundCap));
        const qreal angle = i * 2 * M_PI / spokes;
        const QPointF dir(std::sin(angle), -std::cos(angle));
        p.drawLine(centre + dir * inner, centre + dir * outer);
    }
}
