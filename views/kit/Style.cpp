#include "views/kit/Style.h"

#include <QApplication>
#include <QFile>
#include <QAbstractButton>
#include <QAction>
#include <QFrame>
#include <QMenu>
#include <QStyleOption>
#include <QFontDatabase>
#include <QPainter>
#include <QPainterPath>
#include <QProxyStyle>
#include <QStyle>
#include <QStyleFactory>
#include <QSvgRenderer>
#include <QWidget>

namespace Style {

namespace {

// Fusion, without pictures on dialog buttons (the bare X on Cancel) and without
// underlined mnemonics: the same plain look on every desktop.
class Look : public QProxyStyle {
public:
    Look() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* answer) const override
    {
        if (hint == SH_DialogButtonBox_ButtonsHaveIcons || hint == SH_UnderlineShortcut)
            return 0;
        return QProxyStyle::styleHint(hint, option, widget, answer);
    }
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override
    {
        const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
        if (element != CE_MenuItem || !item)
            return QProxyStyle::drawControl(element, option, painter, widget);
        // Fusion draws separators in a shade of the window that vanishes on a dark
        // one: a faint line in the text colour shows on either.
        if (item->menuItemType == QStyleOptionMenuItem::Separator && item->text.isEmpty()) {
            painter->save();
            painter->setPen(QPen(faded(item->palette.color(QPalette::WindowText), 0.2), 1));
            const int y = item->rect.center().y();
            painter->drawLine(item->rect.left() + 6, y, item->rect.right() - 6, y);
            painter->restore();
            return;
        }
        // An item that throws work away reads in red, as desktop menus mark it; lit
        // under the pointer it keeps the highlighted text colour.
        const auto* menu = qobject_cast<const QMenu*>(widget);
        const QAction* action = menu ? menu->actionAt(item->rect.center()) : nullptr;
        if (action && isDestructive(action) && action->isEnabled()) {
            QStyleOptionMenuItem red = *item;
            for (auto role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText})
                red.palette.setColor(role, Style::red());
            return QProxyStyle::drawControl(element, &red, painter, widget);
        }
        QProxyStyle::drawControl(element, option, painter, widget);
    }
};

QPalette build(QColor window, QColor text, QColor base, QColor alternate, QColor button, QColor highlight)
{
    QPalette p;
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, alternate);
    p.setColor(QPalette::ToolTipBase, button);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, faded(text, 0.45));
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, button);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, Qt::white);
    p.setColor(QPalette::Highlight, highlight);
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, highlight.lighter(125));
    p.setColor(QPalette::LinkVisited, highlight);
    p.setColor(QPalette::Light, button.lighter(140));
    p.setColor(QPalette::Midlight, button.lighter(115));
    p.setColor(QPalette::Mid, button.darker(130));
    p.setColor(QPalette::Dark, button.darker(160));
    p.setColor(QPalette::Shadow, QColor(0, 0, 0, 160));
    const QColor off = faded(text, 0.38);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, off);
    p.setColor(QPalette::Disabled, QPalette::Highlight, faded(highlight, 0.45));
    return p;
}

} // namespace

QPalette darkPalette()
{
    return build(QColor(0x1f, 0x20, 0x24), QColor(0xe8, 0xe8, 0xea), QColor(0x17, 0x18, 0x1b),
                 QColor(0x26, 0x27, 0x2c), QColor(0x33, 0x35, 0x3b), QColor(0x3b, 0x7b, 0xf6));
}

QPalette lightPalette()
{
    return build(QColor(0xf2, 0xf2, 0xf4), QColor(0x1d, 0x1d, 0x1f), QColor(0xff, 0xff, 0xff),
                 QColor(0xf5, 0xf5, 0xf7), QColor(0xfb, 0xfb, 0xfc), QColor(0x25, 0x6c, 0xe8));
}

void apply(QApplication& app, Scheme scheme)
{
    QApplication::setStyle(new Look);
    QPalette palette;
    switch (scheme) {
    case Scheme::dark:
        palette = darkPalette();
        break;
    case Scheme::light:
        palette = lightPalette();
        break;
    case Scheme::automatic:
        // A platform theme that follows the desktop hands over a palette of its own;
        // without one the palette is the style's stock one, and then we go dark.
        palette = QApplication::palette() == app.style()->standardPalette() ? darkPalette() : QApplication::palette();
        break;
    }
    QApplication::setPalette(palette);
    QFont base = QApplication::font();
    base.setPixelSize(13);
    QApplication::setFont(base);
    app.setWindowIcon(appIcon());
}

bool useFixedFont()
{
    const QString folder = QStringLiteral("/usr/share/fonts/truetype/dejavu/");
    bool ok = true;
    for (const char* name : {"DejaVuSans.ttf", "DejaVuSans-Bold.ttf", "DejaVuSansMono.ttf"})
        ok = QFontDatabase::addApplicationFont(folder + QLatin1String(name)) >= 0 && ok;
    if (!ok)
        return false;
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(13);
    f.setHintingPreference(QFont::PreferNoHinting);
    QApplication::setFont(f);
    return true;
}

QColor faded(QColor c, double alpha)
{
    c.setAlphaF(float(c.alphaF() * alpha));
    return c;
}

QString css(const QColor& c)
{
    return QStringLiteral("rgba(%1, %2, %3, %4)").arg(c.red()).arg(c.green()).arg(c.blue()).arg(c.alpha());
}

QColor accent(const QPalette& p) { return p.color(QPalette::Highlight); }
QColor primary(const QPalette& p) { return p.color(QPalette::WindowText); }
QColor secondary(const QPalette& p) { return faded(primary(p), 0.62); }
QColor tertiary(const QPalette& p) { return faded(primary(p), 0.40); }
QColor quaternary(const QPalette& p) { return faded(primary(p), 0.16); }

namespace {
bool isDark(const QPalette& p)
{
    return p.color(QPalette::Window).lightnessF() < 0.5;
}
QColor mix(const QColor& a, const QColor& b, double t)
{
    return QColor::fromRgbF(float(a.redF() * (1 - t) + b.redF() * t), float(a.greenF() * (1 - t) + b.greenF() * t),
                            float(a.blueF() * (1 - t) + b.blueF() * t));
}
} // namespace

QColor secondaryBackground(const QPalette& p)
{
    return mix(p.color(QPalette::Window), QColor(Qt::black), isDark(p) ? 0.25 : 0.04);
}

QColor groupBackground(const QPalette& p)
{
    return isDark(p) ? mix(p.color(QPalette::Window), QColor(Qt::white), 0.05) : QColor(Qt::white);
}

QColor material(const QPalette& p)
{
    QColor c = mix(p.color(QPalette::Window), primary(p), isDark(p) ? 0.16 : 0.04);
    c.setAlphaF(0.94f);
    return c;
}

QColor materialEdge(const QPalette& p)
{
    return faded(primary(p), 0.14);
}

QColor green() { return QColor(0x30, 0xc1, 0x59); }
QColor orange() { return QColor(0xff, 0x9f, 0x0a); }
QColor red() { return QColor(0xff, 0x45, 0x3a); }
QColor yellow() { return QColor(255, 204, 0); }

QFont font(Text role)
{
    QFont f = QApplication::font();
    switch (role) {
    case Text::largeTitle:
        f.setPixelSize(30);
        f.setWeight(QFont::Bold);
        break;
    case Text::title:
        f.setPixelSize(20);
        f.setWeight(QFont::DemiBold);
        break;
    case Text::title3:
        f.setPixelSize(16);
        f.setWeight(QFont::DemiBold);
        break;
    case Text::headline:
        f.setPixelSize(13);
        f.setWeight(QFont::DemiBold);
        break;
    case Text::body:
        f.setPixelSize(13);
        break;
    case Text::callout:
        f.setPixelSize(12);
        break;
    case Text::caption:
        f.setPixelSize(10);
        break;
    }
    return f;
}

QFont font(Text role, QFont::Weight weight)
{
    QFont f = font(role);
    f.setWeight(weight);
    return f;
}

QFont digits(const QFont& f)
{
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (QFontDatabase::families().contains(QStringLiteral("DejaVu Sans Mono")))
        fixed.setFamily(QStringLiteral("DejaVu Sans Mono"));
    fixed.setPixelSize(f.pixelSize() > 0 ? f.pixelSize() : 13);
    fixed.setWeight(f.weight());
    return fixed;
}

void setText(QWidget* w, Text role, const QColor& colour)
{
    w->setFont(font(role));
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, colour);
    p.setColor(QPalette::Text, colour);
    w->setPalette(p);
}

QPixmap symbol(const QString& name, const QColor& colour, int size, qreal scale)
{
    QFile file(QStringLiteral(":/icons/") + name + QStringLiteral(".svg"));
    const int pixels = qRound(size * scale);
    QPixmap pixmap(pixels, pixels);
    pixmap.fill(Qt::transparent);
    if (!file.open(QIODevice::ReadOnly))
        return pixmap;
    QByteArray svg = file.readAll();
    svg.replace("currentColor", colour.name(QColor::HexRgb).toLatin1());
    QSvgRenderer renderer(svg);
    QPainter painter(&pixmap);
    painter.setOpacity(colour.alphaF());
    renderer.render(&painter);
    painter.end();
    pixmap.setDevicePixelRatio(scale);
    return pixmap;
}

QIcon symbolIcon(const QString& name, const QColor& colour, int size)
{
    QIcon icon;
    icon.addPixmap(symbol(name, colour, size, 1.0));
    icon.addPixmap(symbol(name, colour, size, 2.0));
    return icon;
}

QIcon appIcon()
{
    QIcon icon;
    for (int size : {16, 32, 64, 128, 256})
        icon.addPixmap(symbol(QStringLiteral("vantorel"), Qt::black, size));
    return icon;
}

QFrame* divider(QWidget* parent, Qt::Orientation orientation)
{
    auto* line = new QFrame(parent);
    line->setFrameShape(orientation == Qt::Vertical ? QFrame::VLine : QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setStyleSheet(QStringLiteral("color: %1;").arg(css(quaternary(parent->palette()))));
    return line;
}

void fillMaterial(QPainter& painter, const QRectF& rect, qreal radius, const QPalette& p)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(materialEdge(p), 1));
    painter.setBrush(material(p));
    painter.drawRoundedRect(rect.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    painter.restore();
}

void markDestructive(QAction* action)
{
    action->setProperty("destructive", true);
}

bool isDestructive(const QAction* action)
{
    return action && action->property("destructive").toBool();
}

void markDestructive(QAbstractButton* button)
{
    // A rule of its own: a dialog's style sheet (a message box's width) would set a
    // palette colour aside. A colour alone keeps the button's own drawing.
    button->setStyleSheet(QStringLiteral("color: %1;").arg(css(red())));
}

QString prominentButton(const QPalette& p)
{
    return QStringLiteral("QPushButton { background: %1; color: %2; border: none; border-radius: 5px; "
                          "padding: 3px 12px; } QPushButton:pressed { background: %3; } "
                          "QPushButton:disabled { background: %4; color: %5; }")
        .arg(css(accent(p)), css(p.color(QPalette::HighlightedText)), css(accent(p).darker(120)), css(quaternary(p)),
             css(tertiary(p)));
}

} // namespace Style
