#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QPointF>

class QPainter;
class QStyleOptionViewItem;
class QWidget;

/// Pieces shared by the delegates that draw list rows and by the busy indicator.
namespace RowPainting {

/// Number of spokes of a spinner; its step runs from 0 to one less.
constexpr int kSpinnerSpokes = 12;

/// Draws only the background of a row (selection, hover) from its initialised style option: the
/// delegate draws the text, icon and check in its own layout.
void drawPanel(QPainter* painter, QStyleOptionViewItem panel, const QWidget* widget);
/// The smaller font of a row's second line.
QFont captionFont(const QFont& font);
/// Colour of a row's second-level text, readable on a selected row too.
QColor secondaryText(const QPalette& palette, bool selected);
/// Draws the spokes of a spinner around `centre`: the spoke at `step` darkest, the others fading
/// behind it.
void drawSpinner(QPainter& painter, QPointF centre, qreal radius, qreal penWidth, QColor colour,
                 int step);

} // namespace RowPainting
