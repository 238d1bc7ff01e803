#pragma once

#include <QStyledItemDelegate>

/// Draws one found item on a fixed-height row: a check box whose label is the name over the
/// parent folder (the folder cut in the middle), and the size with digits of equal width at the
/// trailing edge. Clicking the check box or its label, or pressing Space, toggles the item.
class CleanItemDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    /// Area that toggles the item: the check box and its label, not the size.
    QRect toggleArea(const QStyleOptionViewItem& option, const QModelIndex& index) const;

protected:
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
};
