#pragma once

#include <QColor>
#include <QList>
#include <QPalette>

class QAbstractButton;
class QWidget;

/// The colours the screens name, derived from the palette of the running style: a light or a
/// dark shade of each, chosen by the lightness of the window colour, then moved toward black or
/// white until it reaches the WCAG AA contrast against every surface it is drawn on (4.5 : 1 for
/// text, 3 : 1 for bars, symbols and controls). GUI thread.
namespace Palette {

enum class Role {
    secondaryText,   ///< second level of label emphasis
    tertiary,        ///< third level, for placeholder symbols
    destructive,     ///< red: the access notice, low disk, low battery, critical pressure
    warning,         ///< orange: the category warning, the running notice, memory pressure
    success,         ///< green: a healthy battery or memory pressure
    accent,          ///< the style's highlight, as the fill of a bar
    info,            ///< blue: the update banner
    cpuSeries,       ///< blue line of the chart
    memorySeries,    ///< purple line of the chart
    destructiveFill, ///< the fill of a destructive button
    onDestructive,   ///< the label on that fill
};

/// Every role, in declaration order.
QList<Role> allRoles();

/// True when `palette` has a dark window: every role takes its dark shade.
bool isDark(const QPalette& palette);

/// The colour of `role` for widgets drawn with `palette` (the application's by default).
QColor colour(Role role, const QPalette& palette);
QColor colour(Role role);

/// The surfaces `role` is drawn on in `palette`: the window, list rows, the rounded panels and
/// the update banner; for the label of a destructive button, that button's fill.
QList<QColor> surfaces(Role role, const QPalette& palette);
/// The contrast `role` must reach against each of its surfaces.
double requiredContrast(Role role);

/// WCAG 2 contrast ratio of two colours (alpha ignored): 1 to 21.
double contrast(const QColor& a, const QColor& b);

/// Fill and border of a rounded panel: the window text over the window, faintly.
QColor panelFill(const QPalette& palette);
QColor panelBorder(const QPalette& palette);
/// Fill and border of the update banner: the info colour over the window, faintly.
QColor bannerFill(const QPalette& palette);
QColor bannerBorder(const QPalette& palette);

/// Draws the widget's text (WindowText and Text) in `role`.
void setTextRole(QWidget* widget, Role role);
/// Prominent and destructive: the button filled with the destructive fill while enabled; the
/// style greys it out when disabled.
void makeDestructive(QAbstractButton* button);

} // namespace Palette
