#pragma once

#include <QStyledItemDelegate>

/// Draws one application row of the uninstaller list: the 32-point icon, the name over the
/// version (or the identifier), and at the trailing edge a lock for a protected application, its
/// size once measured, or a small spinner until then. Every text stays on one line.
class AppRowDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    /// Moves the spinners of unmeasured rows one step on.
    void advanceSpinner();

    /// Area of the trailing lock, size or spinner.
    QRect trailingArea(const QStyleOptionViewItem& option, const QModelIndex& index) const;

public Q_SLOTS:
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

private:
    int m_step = 0;
};
