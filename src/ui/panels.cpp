#include "ui/panels.h"

#include "ui/palette.h"
#include "ui/symbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

RoundedPanel::RoundedPanel(QWidget* parent)
    : QWidget(parent), m_fill(Palette::panelFill(palette())),
      m_border(Palette::panelBorder(palette()))
{
}

void RoundedPanel::setColours(const QColor& fill, const QColor& border)
{
    m_fill = fill;
    m_border = border;
    update();
}

void RoundedPanel::setRadius(qreal radius)
{
    m_radius = radius;
    update();
}

void RoundedPanel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // Half a pixel in, so the one-pixel border lies inside the edge.
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath path;
    path.addRoundedRect(box, m_radius, m_radius);
    painter.fillPath(path, m_fill);
    painter.setPen(QPen(m_border, 1));
    painter.drawPath(path);
}

SymbolBox::SymbolBox(const QString& symbol, const QString& title, QWidget* parent) : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(makeSymbolLabel(symbol, title, 16, this, &m_title));
    auto* panel = new RoundedPanel(this);
    m_content = new QVBoxLayout(panel);
    m_content->setContentsMargins(10, 10, 10, 10);
    layout->addWidget(panel);
}

namespace TextStyle {

namespace {
constexpr qreal kCaptionScale = 0.85;
} // namespace

QFont captionFont(const QFont& font)
{
    QFont caption = font;
    caption.setPointSizeF(font.pointSizeF() * kCaptionScale);
    return caption;
}

void apply(QWidget* widget, qreal factor, bool bold)
{
    QFont font = widget->font();
    font.setPointSizeF(font.pointSizeF() * factor);
    if (bold) font.setBold(true);
    widget->setFont(font);
}

void largeTitle(QWidget* widget)
{
    apply(widget, 2.0, true);
}

void headline(QWidget* widget)
{
    apply(widget, 1.0, true);
}

void callout(QWidget* widget)
{
    apply(widget, 0.93);
}

void caption(QWidget* widget)
{
    widget->setFont(captionFont(widget->font()));
}

void secondary(QWidget* widget)
{
    Palette::setTextRole(widget, Palette::Role::secondaryText);
}

void tertiary(QWidget* widget)
{
    Palette::setTextRole(widget, Palette::Role::tertiary);
}

} // namespace TextStyle

QWidget* makeSymbolLabel(const QString& symbol, const QString& text, int iconSize, QWidget* parent,
                         QLabel** textLabel, SymbolText layout)
{
    auto* row = new QWidget(parent);
    auto* line = new QHBoxLayout(row);
    line->setContentsMargins(0, 0, 0, 0);
    line->setSpacing(qMax(6, iconSize / 3));
    auto* icon = new QLabel(row);
    icon->setPixmap(Symbols::icon(symbol).pixmap(iconSize, iconSize));
    icon->setFixedSize(iconSize, iconSize);
    auto* label = new QLabel(text, row);
    label->setTextFormat(Qt::PlainText);
    const bool wrapped = layout == SymbolText::wrapped;
    label->setWordWrap(wrapped);
    line->addWidget(icon, 0, wrapped ? Qt::AlignTop : Qt::AlignVCenter);
    line->addWidget(label, 1, wrapped ? Qt::Alignment() : Qt::AlignVCenter);
    if (textLabel) *textLabel = label;
    return row;
}
