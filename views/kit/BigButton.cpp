#include "views/kit/BigButton.h"

#include "views/kit/Style.h"

#include <QPainter>

namespace {
constexpr int column = 34;  // the symbol's column
constexpr int gap = 12;     // between the symbol and the text
constexpr int symbolSize = 24;
constexpr int pad = 6;      // room for the hover fill around the content
} // namespace

BigButton::BigButton(const QString& symbol, const QString& title, const QString& subtitle, QWidget* parent)
    : QAbstractButton(parent), symbolName(symbol), sub(subtitle)
{
    setText(title);
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover); // repaints as the pointer comes and goes
    setFocusPolicy(Qt::TabFocus);
    setAccessibleName(title);
    setAccessibleDescription(subtitle);
}

QSize BigButton::sizeHint() const
{
    const QFontMetrics titleMetrics(Style::font(Style::Text::body, QFont::DemiBold));
    const QFontMetrics subMetrics(Style::font(Style::Text::body));
    const int textWidth = std::max(titleMetrics.horizontalAdvance(text()), subMetrics.horizontalAdvance(sub));
    const int textHeight = titleMetrics.height() + 1 + subMetrics.height();
    return {pad + column + gap + textWidth + 2 + pad, pad + std::max(symbolSize, textHeight) + pad};
}

void BigButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPalette& pal = palette();
    const bool hovering = underMouse();
    // Focus shows only when it came from the keyboard, not merely by being first.
    const bool keyboardFocus = hasFocus() && window()->testAttribute(Qt::WA_KeyboardFocusChange);
    if (hovering || isDown() || keyboardFocus) {
        p.setPen(Qt::NoPen);
        p.setBrush(Style::faded(Style::accent(pal), isDown() ? 0.22 : 0.12));
        p.drawRoundedRect(QRectF(rect()), 8, 8);
    }
    const QRect content = rect().adjusted(pad, pad, -pad, -pad);
    const QPixmap icon = Style::symbol(symbolName, Style::accent(pal), symbolSize, devicePixelRatioF());
    p.drawPixmap(content.left() + (column - symbolSize) / 2, content.center().y() - symbolSize / 2 + 1, icon);

    const QFont titleFont = Style::font(Style::Text::body, QFont::DemiBold);
    const QFont subFont = Style::font(Style::Text::body);
    const QFontMetrics tm(titleFont), sm(subFont);
    const int textHeight = tm.height() + 1 + sm.height();
    const int x = content.left() + column + gap;
    int y = content.center().y() - textHeight / 2 + 1;
    p.setFont(titleFont);
    p.setPen(Style::primary(pal));
    p.drawText(QRect(x, y, content.x() + content.width() - x, tm.height()), Qt::AlignLeft | Qt::AlignVCenter,
               tm.elidedText(text(), Qt::ElideRight, content.x() + content.width() - x));
    y += tm.height() + 1;
    p.setFont(subFont);
    p.setPen(Style::secondary(pal));
    p.drawText(QRect(x, y, content.x() + content.width() - x, sm.height()), Qt::AlignLeft | Qt::AlignVCenter,
               sm.elidedText(sub, Qt::ElideRight, content.x() + content.width() - x));
}
