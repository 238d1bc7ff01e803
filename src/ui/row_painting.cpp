#include "ui/row_painting.h"

#include <QPainter>
#include <QPen>

namespace RowPainting {

namespace {
constexpr qreal kCaptionScale = 0.85;
} // namespace

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
