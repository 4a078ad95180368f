#pragma once

// The look every window shares: colour roles taken from the palette, the text styles,
// the translucent fills and the icons. One point is one logical pixel.

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPalette>
#include <QPixmap>
#include <QString>

class QAbstractButton;
class QAction;
class QApplication;
class QFrame;
class QPainter;
class QRectF;
class QWidget;

namespace Style {

enum class Scheme { automatic, dark, light };

// Fusion on every desktop. `automatic` keeps the palette the platform theme gives (the
// desktop's light or dark choice) and is dark where the platform gives none.
void apply(QApplication& app, Scheme scheme = Scheme::automatic);
QPalette darkPalette();
QPalette lightPalette();

// The fixed DejaVu fonts (fonts-dejavu-core), so that text measures the same on every
// machine: tests and screenshots. False when the font files are missing.
bool useFixedFont();

// ---- colours ----
QColor accent(const QPalette& p);
QColor primary(const QPalette& p);
QColor secondary(const QPalette& p);
QColor tertiary(const QPalette& p);
QColor quaternary(const QPalette& p);
// The window background one level down (side columns, grouped boxes).
QColor secondaryBackground(const QPalette& p);
// The fill of a grouped box of controls: a step lighter than the window, so that fields
// (the base colour) stand out inside it.
QColor groupBackground(const QPalette& p);
// A translucent fill that stands out a little from whatever lies under it.
QColor material(const QPalette& p);
QColor materialEdge(const QPalette& p);
QColor green();
QColor orange();
QColor red();
// The stream window's selection and a favourite's star.
QColor yellow();
// `c` with its alpha multiplied by `alpha`.
QColor faded(QColor c, double alpha);
// `colour` as CSS for style sheets: rgba(r, g, b, a).
QString css(const QColor& colour);

// ---- text ----
// title3: the heading of a side panel, between title and headline.
enum class Text { largeTitle, title, title3, headline, body, callout, caption };
QFont font(Text role);
QFont font(Text role, QFont::Weight weight);
// The same size with digits of one width (the fixed font).
QFont digits(const QFont& f);
// Gives `w` the text style and a colour role.
void setText(QWidget* w, Text role, const QColor& colour);

// ---- icons (our own drawings in the :/icons resource) ----
// The named symbol drawn in `colour` (its "currentColor" strokes and fills).
QPixmap symbol(const QString& name, const QColor& colour, int size, qreal scale = 1.0);
QIcon symbolIcon(const QString& name, const QColor& colour, int size = 16);
// The application's icon.
QIcon appIcon();

// Marks a menu item or a dialog's button that throws work away: its text reads red
// (menus of either scheme, the menu bar's and context menus alike).
void markDestructive(QAction* action);
bool isDestructive(const QAction* action);
void markDestructive(QAbstractButton* button);

// The style sheet of a button filled with the accent colour (the one to press).
QString prominentButton(const QPalette& p);

// A thin line between parts of a panel.
QFrame* divider(QWidget* parent, Qt::Orientation orientation = Qt::Horizontal);

// A rounded translucent panel (the toast's capsule, grouped boxes).
void fillMaterial(QPainter& painter, const QRectF& rect, qreal radius, const QPalette& p);

} // namespace Style
