#include "ui/monitor_widgets.h"

#include "ui/display_text.h"
#include "ui/palette.h"
#include "ui/panels.h"
#include "ui/symbols.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace {

// The bar works in ints; this many steps are finer than any card is wide.
constexpr int kBarSteps = 10000;
constexpr int kIconSize = 16;

} // namespace

TabularLabel::TabularLabel(QWidget* parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void TabularLabel::setText(const QString& text)
{
    if (text == m_text) return;
    const int before = naturalWidth();
    m_text = text;
    m_width = -1;
    if (naturalWidth() != before) updateGeometry();
    update();
}

void TabularLabel::setAlignment(Qt::Alignment alignment)
{
    m_alignment = alignment;
    update();
}

void TabularLabel::setMinimumScale(qreal scale)
{
    m_minimumScale = std::clamp(scale, 0.1, 1.0);
    updateGeometry();
    update();
}

int TabularLabel::naturalWidth() const
{
    if (m_width < 0) m_width = DisplayText::tabularWidth(fontMetrics(), m_text);
    return m_width;
}

QSize TabularLabel::sizeHint() const
{
    return {naturalWidth(), fontMetrics().height()};
}

QSize TabularLabel::minimumSizeHint() const
{
    return {int(std::ceil(naturalWidth() * m_minimumScale)), fontMetrics().height()};
}

void TabularLabel::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange) {
        m_width = -1;
        updateGeometry();
    }
    QWidget::changeEvent(event);
}

void TabularLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    const int natural = naturalWidth();
    if (natural > width() && m_minimumScale < 1) {
        QFont smaller = font();
        const qreal scale = std::max(m_minimumScale, qreal(width()) / natural);
        smaller.setPointSizeF(font().pointSizeF() * scale);
        painter.setFont(smaller);
    }
    DisplayText::drawTabular(painter, rect(), m_alignment, m_text);
}

StatCardWidget::StatCardWidget(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);

    auto* header = new QHBoxLayout;
    header->setSpacing(6);
    m_icon = new QLabel(this);
    m_icon->setObjectName(QStringLiteral("cardIcon"));
    m_icon->setFixedSize(kIconSize, kIconSize);
    m_title = new QLabel(this);
    m_title->setObjectName(QStringLiteral("cardTitle"));
    m_title->setTextFormat(Qt::PlainText);
    header->addWidget(m_icon);
    header->addWidget(m_title, 1);
    layout->addLayout(header);

    auto* panel = new RoundedPanel(this);
    auto* column = new QVBoxLayout(panel);
    column->setContentsMargins(10, 10, 10, 10);
    column->setSpacing(6);
    m_value = new TabularLabel(panel);
    m_value->setObjectName(QStringLiteral("cardValue"));
    TextStyle::apply(m_value, 1.4, true);
    m_value->setMinimumScale(0.7);
    m_value->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    m_bar = new QProgressBar(panel);
    m_bar->setObjectName(QStringLiteral("cardBar"));
    m_bar->setRange(0, kBarSteps);
    m_bar->setTextVisible(false);
    m_bar->setFixedHeight(8);
    m_detail = new QLabel(panel);
    m_detail->setObjectName(QStringLiteral("cardDetail"));
    m_detail->setTextFormat(Qt::PlainText);
    // One line that never widens the card.
    m_detail->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    TextStyle::caption(m_detail);
    TextStyle::secondary(m_detail);
    column->addWidget(m_value);
    column->addWidget(m_bar);
    column->addWidget(m_detail);
    layout->addWidget(panel, 1);

    // Matches the blank m_card: no bar until a card with a fraction arrives.
    m_bar->setVisible(false);
}

void StatCardWidget::setCard(const StatCard& card)
{
    if (card.symbol != m_card.symbol)
        m_icon->setPixmap(Symbols::icon(card.symbol).pixmap(kIconSize, kIconSize));
    if (card.title != m_card.title) m_title->setText(card.title);
    m_value->setText(card.value);
    if (card.fraction.has_value() != m_card.fraction.has_value())
        m_bar->setVisible(card.fraction.has_value());
    if (card.fraction) {
        const double fill = std::clamp(*card.fraction, 0.0, 1.0);
        m_bar->setValue(int(std::lround(fill * kBarSteps)));
    }
    if (card.tint != m_card.tint || !m_tinted) {
        QPalette colours = m_bar->palette();
        const QColor tint = Palette::colour(card.tint, palette());
        for (QPalette::ColorGroup group :
             {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
            colours.setColor(group, QPalette::Highlight, tint);
        m_bar->setPalette(colours);
        m_tinted = true;
    }
    if (card.detail != m_card.detail) m_detail->setText(card.detail);
    m_card = card;
}

CoreLoadList::CoreLoadList(QWidget* parent) : QWidget(parent)
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);
}

void CoreLoadList::setLoads(const QList<double>& loads)
{
    while (m_rows.size() > loads.size())
        delete m_rows.takeLast().row;
    while (m_rows.size() < loads.size()) {
        const int index = int(m_rows.size());
        auto* row = new QWidget(this);
        auto* line = new QHBoxLayout(row);
        line->setContentsMargins(0, 0, 0, 0);
        line->setSpacing(8);
        auto* name = new QLabel(QStringLiteral("Nhân ") + QString::number(index + 1), row);
        TextStyle::caption(name);
        name->setFixedWidth(52);
        auto* bar = new QProgressBar(row);
        bar->setObjectName(QStringLiteral("coreBar-") + QString::number(index));
        bar->setRange(0, 100);
        bar->setTextVisible(false);
        bar->setFixedHeight(8);
        auto* value = new TabularLabel(row);
        value->setObjectName(QStringLiteral("coreValue-") + QString::number(index));
        TextStyle::caption(value);
        value->setAlignment(Qt::AlignRight);
        value->setFixedWidth(40);
        line->addWidget(name);
        line->addWidget(bar, 1);
        line->addWidget(value);
        layout()->addWidget(row);
        m_rows.append({row, bar, value});
    }
    for (qsizetype i = 0; i < loads.size(); ++i) {
        // A multi-threaded figure can pass 100 %: the bar is full, the text tells the rest.
        m_rows[i].bar->setValue(int(std::lround(std::clamp(loads[i], 0.0, 100.0))));
        m_rows[i].value->setText(MonitorText::percent(loads[i]));
    }
}

CardGrid::CardGrid(int minimumColumn, int spacing, QWidget* parent)
    : QWidget(parent), m_minimumColumn(minimumColumn), m_spacing(spacing)
{
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void CardGrid::addCard(QWidget* card)
{
    card->setParent(this);
    m_cards.append(card);
    relayout();
}

QList<QWidget*> CardGrid::visibleCards() const
{
    QList<QWidget*> shown;
    for (QWidget* card : m_cards)
        if (!card->isHidden()) shown.append(card);
    return shown;
}

int CardGrid::columnsFor(int width) const
{
    return std::max(1, (width + m_spacing) / (m_minimumColumn + m_spacing));
}

int CardGrid::rowHeight() const
{
    int height = 0;
    for (QWidget* card : m_cards)
        height = std::max(height, card->sizeHint().height());
    return height;
}

int CardGrid::heightForWidth(int width) const
{
    const qsizetype count = visibleCards().size();
    if (count == 0) return 0;
    const int columns = columnsFor(width);
    const int rows = int((count + columns - 1) / columns);
    return rows * rowHeight() + (rows - 1) * m_spacing;
}

QSize CardGrid::sizeHint() const
{
    const int count = std::max<int>(1, int(visibleCards().size()));
    const int width = count * m_minimumColumn + (count - 1) * m_spacing;
    return {width, heightForWidth(width)};
}

QSize CardGrid::minimumSizeHint() const
{
    return {m_minimumColumn, heightForWidth(m_minimumColumn)};
}

void CardGrid::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    relayout();
}

void CardGrid::relayout()
{
    const QList<QWidget*> cards = visibleCards();
    const int columns = columnsFor(width());
    const int cellWidth = (width() - (columns - 1) * m_spacing) / columns;
    const int height = rowHeight();
    for (qsizetype i = 0; i < cards.size(); ++i) {
        const int row = int(i / columns);
        const int column = int(i % columns);
        cards[i]->setGeometry(column * (cellWidth + m_spacing), row * (height + m_spacing),
                              cellWidth, height);
    }
    updateGeometry();
}
