#include "ui/row_painting.h"

#include <QApplication>
#include <QPainter>
#include <QPen>
#include <QStyleOptionViewItem>

namespace RowPainting {

namespace {
constexpr qreal kCaptionScale = 0.85;
} // namespace

void drawPanel(QPainter* painter, QStyleOptionViewItem panel, const QWidget* widget)
{
    QStyle* style = widget ? widget->style() : QApplication::style();
    panel.text.clear();
    panel.icon = QIcon();
    panel.features &=
        ~(QStyleOptionViewItem::HasDecoration | QStyleOptionViewItem::HasCheckIndicator);
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &panel, painter, widget);
}

QFont captionFont(const QFont& font)
{
    QFont caption = font;
    caption.setPointSizeF(font.pointSizeF() * kCaptionScale);
    return caption;
}

QColor secondaryText(const QPalette& palette, bool selected)
{
    QColor colour = palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
    colour.setAlphaF(0.62);
    return colour;
}

void drawSpinner(QPainter& painter, QPointF centre, qreal radius, qreal penWidth, QColor colour,
                 int step)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(centre);
    QPen pen(colour, penWidth, Qt::SolidLine, Qt::RoundCap);
    for (int i = 0; i < kSpinnerSpokes; ++i) {
        const int age = (step - i + kSpinnerSpokes) % kSpinnerSpokes;
        colour.setAlphaF(1.0 - age * 0.8 / kSpinnerSpokes);
        pen.setColor(colour);
        painter.setPen(pen);
        painter.save();
        painter.rotate(i * 360.0 / kSpinnerSpokes);
        painter.drawLine(QPointF(0, -radius * 0.45), QPointF(0, -radius * 0.9));
        painter.restore();
    }
    painter.restore();
}

} // namespace RowPainting
