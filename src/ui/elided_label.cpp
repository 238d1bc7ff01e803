#include "ui/elided_label.h"

#include "ui/display_text.h"

#include <QEvent>

ElidedLabel::ElidedLabel(QWidget* parent, Qt::TextElideMode mode) : QLabel(parent), m_mode(mode)
{
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void ElidedLabel::setFullText(const QString& text)
{
    if (text == m_full && !m_line.isNull()) return;
    m_full = text;
    m_line = DisplayText::singleLine(text);
    setToolTip(DisplayText::toolTip(m_line));
    updateGeometry();
    elide();
}

QSize ElidedLabel::minimumSizeHint() const
{
    return {fontMetrics().horizontalAdvance(QStringLiteral("xxxx…")), fontMetrics().height()};
}

QSize ElidedLabel::sizeHint() const
{
    // Capped: the layout gives the label what is left, and the text is cut to fit it.
    const int wanted = fontMetrics().horizontalAdvance(m_line) + 2;
    return {qMin(wanted, 600), fontMetrics().height()};
}

void ElidedLabel::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    elide();
}

void ElidedLabel::changeEvent(QEvent* event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange) elide();
}

void ElidedLabel::elide()
{
    const QString shown = fontMetrics().elidedText(m_line, m_mode, contentsRect().width());
    // Isolated, so direction marks inside a file name end with it.
    QLabel::setText(shown.isEmpty() ? QString() : DisplayText::isolated(shown));
}
