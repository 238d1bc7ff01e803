#pragma once

#include "ui/monitor_text.h"

#include <QList>
#include <QWidget>

class QLabel;
class QProgressBar;

/// One line of text drawn with digits of equal width, so a figure that changes every two
/// seconds does not jitter. With a minimum scale below 1 the font shrinks, down to that share
/// of its size, to fit the width it is given. Changing the text repaints it and asks for a new
/// layout only when its natural width changes.
class TabularLabel : public QWidget
{
    Q_OBJECT

public:
    explicit TabularLabel(QWidget* parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString& text);
    void setAlignment(Qt::Alignment alignment);
    void setMinimumScale(qreal scale);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    int naturalWidth() const;

    QString m_text;
    Qt::Alignment m_alignment = Qt::AlignLeft;
    qreal m_minimumScale = 1;
    mutable int m_width = -1; // natural width of m_text in the current font; -1 when unknown
};

/// A summary card: a title with its symbol over a rounded panel holding the large figure, an
/// optional bar in the card's tint and one line of detail. Its children are named "cardTitle",
/// "cardValue", "cardBar" and "cardDetail".
class StatCardWidget : public QWidget
{
    Q_OBJECT

public:
    explicit StatCardWidget(QWidget* parent = nullptr);

    /// Shows `card`, touching only what differs from the card shown before.
    void setCard(const StatCard& card);
    const StatCard& card() const { return m_card; }

private:
    StatCard m_card;
    QLabel* m_icon;
    QLabel* m_title;
    TabularLabel* m_value;
    QProgressBar* m_bar;
    QLabel* m_detail;
    bool m_tinted = false;
};

/// One row per processor: "Nhân N", a bar of the load capped at 100 % and the load as "%.0f%%".
/// Rows are added or removed only when the number of processors changes. The bars are named
/// "coreBar-I" and the figures "coreValue-I", I counted from 0.
class CoreLoadList : public QWidget
{
    Q_OBJECT

public:
    explicit CoreLoadList(QWidget* parent = nullptr);

    void setLoads(const QList<double>& loads);
    int count() const { return int(m_rows.size()); }

private:
    struct Row
    {
        QWidget* row;
        QProgressBar* bar;
        TabularLabel* value;
    };
    QList<Row> m_rows;
};

/// Cards in as many columns of at least `minimumColumn` pixels as the width allows, `spacing`
/// apart; all cells of a row have the height of the tallest card. Hidden cards take no cell.
class CardGrid : public QWidget
{
    Q_OBJECT

public:
    CardGrid(int minimumColumn, int spacing, QWidget* parent = nullptr);

    void addCard(QWidget* card);
    /// Places the cards again (call after showing or hiding one).
    void relayout();
    /// Columns used at `width`.
    int columnsFor(int width) const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QList<QWidget*> visibleCards() const;
    int rowHeight() const;

    int m_minimumColumn;
    int m_spacing;
    QList<QWidget*> m_cards;
};
