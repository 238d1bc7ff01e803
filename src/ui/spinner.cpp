#include "ui/spinner.h"

#include "ui/row_painter.h"

#include <QPainter>

namespace {
constexpr int kFrameMs = 80;
} // namespace

Spinner::Spinner(int diameter, QWidget* parent) : QWidget(parent), m_diameter(diameter)
{
    setFixedSize(diameter, diameter);
    m_timer.setInterval(kFrameMs);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_step = (m_step + 1) % RowPainter::kSpinnerSpokes;
        update();
    });
}

QSize Spinner::sizeHint() const
{
    return {m_diameter, m_diameter};
}

void Spinner::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    RowPainter::drawSpinner(painter, QPointF(width() / 2.0, height() / 2.0), m_diameter / 2.0,
                            qMax(1.5, m_diameter / 9.0), palette().color(QPalette::WindowText),
                            m_step);
}

void Spinner::showEvent(QShowEvent* event)
{
    m_timer.start();
    QWidget::showEvent(event);
}

void Spinner::hideEvent(QHideEvent* event)
{
    m_timer.stop();
    QWidget::hideEvent(event);
}
