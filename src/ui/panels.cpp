#include "ui/panels.h"

#include "ui/symbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

RoundedPanel::RoundedPanel(QWidget* parent) : QWidget(parent)
{
    const QPalette& colours = palette();
    QColor border = colours.color(QPalette::WindowText);
    border.setAlphaF(0.12);
    QColor fill = colours.color(QPalette::WindowText);
    fill.setAlphaF(0.04);
    m_fill = fill;
    m_border = border;
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
    apply(widget, 0.85);
}

void secondary(QWidget* widget)
{
    QPalette colours = widget->palette();
    QColor text = colours.color(QPalette::WindowText);
    text.setAlphaF(0.62);
    colours.setColor(QPalette::WindowText, text);
    colours.setColor(QPalette::Text, text);
    widget->setPalette(colours);
}

void tertiary(QWidget* widget)
{
    QPalette colours = widget->palette();
    QColor text = colours.color(QPalette::WindowText);
    text.setAlphaF(0.35);
    colours.setColor(QPalette::WindowText, text);
    colours.setColor(QPalette::Text, text);
    widget->setPalette(colours);
}

void colour(QWidget* widget, const QColor& colour)
{
    QPalette colours = widget->palette();
    colours.setColor(QPalette::WindowText, colour);
    colours.setColor(QPalette::Text, colour);
    widget->setPalette(colours);
}

} // namespace TextStyle

QWidget* makeSymbolLabel(const QString& symbol, const QString& text, int iconSize, QWidget* parent,
                         QLabel** textLabel)
{
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(qMax(6, iconSize / 3));
    auto* icon = new QLabel(row);
    icon->setPixmap(Symbols::icon(symbol).pixmap(iconSize, iconSize));
    icon->setFixedSize(iconSize, iconSize);
    auto* label = new QLabel(text, row);
    label->setTextFormat(Qt::PlainText);
    layout->addWidget(icon, 0, Qt::AlignVCenter);
    layout->addWidget(label, 1, Qt::AlignVCenter);
    if (textLabel) *textLabel = label;
    return row;
}
