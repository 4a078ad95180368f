#include "views/kit/Toast.h"

#include "views/kit/Style.h"

#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QPainter>
#include <QPropertyAnimation>
#include <algorithm>

Toast::Toast(QWidget* parent)
    : QWidget(parent), label(new QLabel(this)), fade(new QGraphicsOpacityEffect(this)),
      animation(new QPropertyAnimation(fade, "opacity", this))
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(14, 8, 14, 8);
    layout->addWidget(label);
    label->setFont(Style::font(Style::Text::body));
    label->setTextFormat(Qt::PlainText);
    fade->setOpacity(0);
    setGraphicsEffect(fade);
    animation->setDuration(200);
    animation->setEasingCurve(QEasingCurve::OutCubic);
    connect(animation, &QPropertyAnimation::finished, this, [this] {
        if (!wanted)
            hide();
    });
    hide();
}

void Toast::present(const std::optional<QString>& text)
{
    wanted = text.has_value();
    if (text) {
        label->setText(*text);
        adjustSize();
        place(lift);
        show();
        raise();
    }
    animation->stop();
    animation->setStartValue(fade->opacity());
    animation->setEndValue(wanted ? 1.0 : 0.0);
    animation->start();
}

QString Toast::text() const
{
    return label->text();
}

void Toast::place(int above)
{
    lift = above;
    if (!parentWidget())
        return;
    const QSize area = parentWidget()->size();
    // One line while it fits; a longer text wraps within the window rather than being cut.
    const int room = std::max(80, area.width() - 40);
    label->setWordWrap(false);
    QSize size = sizeHint();
    if (size.width() > room) {
        label->setWordWrap(true);
        const QMargins m = layout()->contentsMargins();
        size = QSize(room, label->heightForWidth(room - m.left() - m.right()) + m.top() + m.bottom());
    }
    resize(size);
    move((area.width() - size.width()) / 2, std::max(0, area.height() - above - size.height()));
}

QSize Toast::sizeHint() const
{
    return layout()->sizeHint();
}

void Toast::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    // A capsule on one line; a wrapped text keeps rounded corners, not round ends.
    Style::fillMaterial(p, rect(), std::min(height() / 2.0, 16.0), palette());
}
