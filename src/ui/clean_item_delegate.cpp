#include "ui/clean_item_delegate.h"

#include "ui/clean_item_model.h"
#include "ui/display_text.h"
#include "ui/row_painting.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

using RowPainting::captionFont;

namespace {

constexpr int kPadding = 6;
constexpr int kGap = 8;

struct Geometry
{
    QRect check;
    QRect name;
    QRect parent;
    QRect size;
};

Geometry layOut(const QStyleOptionViewItem& option, const QModelIndex& index)
{
    const QStyle* style = option.widget ? option.widget->style() : QApplication::style();
    const QRect row = option.rect.adjusted(kGap, kPadding, -kGap - 2, -kPadding);
    const int indicator = style->pixelMetric(QStyle::PM_IndicatorWidth, &option, option.widget);
    Geometry geometry;
    geometry.check = QRect(row.left(), row.center().y() - indicator / 2, indicator, indicator);
    const QFontMetrics metrics(option.font);
    const int sizeWidth =
        DisplayText::tabularWidth(metrics, index.data(CleanItemListModel::SizeTextRole).toString());
    geometry.size = QRect(row.right() + 1 - sizeWidth, row.top(), sizeWidth, row.height());
    const int textLeft = geometry.check.right() + 1 + kGap;
    const int textRight = geometry.size.left() - 2 * kGap;
    const int nameHeight = metrics.height();
    geometry.name = QRect(textLeft, row.top(), qMax(0, textRight - textLeft), nameHeight);
    geometry.parent = QRect(textLeft, row.top() + nameHeight + 2, geometry.name.width(),
                            QFontMetrics(captionFont(option.font)).height());
    return geometry;
}

} // namespace

void CleanItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const
{
    QStyleOptionViewItem panel = option;
    initStyleOption(&panel, index);
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    // The panel only: the text, check and focus frame are drawn below in this row's layout.
    RowPainting::drawPanel(painter, panel, widget);

    const Geometry geometry = layOut(option, index);
    const bool selected = option.state & QStyle::State_Selected;

    QStyleOptionViewItem check = option;
    check.rect = geometry.check;
    check.state &= ~QStyle::State_HasFocus;
    const bool on = index.data(Qt::CheckStateRole).toInt() == Qt::Checked;
    check.state |= on ? QStyle::State_On : QStyle::State_Off;
    style->drawPrimitive(QStyle::PE_IndicatorItemViewItemCheck, &check, painter, widget);

    painter->save();
    const QColor text = option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
    painter->setPen(text);
    painter->setFont(option.font);
    // Elide first, then isolate: direction marks inside a name end with the name.
    const QString name = option.fontMetrics.elidedText(index.data(Qt::DisplayRole).toString(),
                                                       Qt::ElideRight, geometry.name.width());
    painter->drawText(geometry.name, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                      DisplayText::isolated(name));

    const QFont caption = captionFont(option.font);
    painter->setFont(caption);
    painter->setPen(RowPainting::secondaryText(option.palette, selected));
    const QString parent =
        QFontMetrics(caption).elidedText(index.data(CleanItemListModel::ParentRole).toString(),
                                         Qt::ElideMiddle, geometry.parent.width());
    painter->drawText(geometry.parent, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                      DisplayText::isolated(parent));

    painter->setFont(option.font);
    painter->setPen(RowPainting::secondaryText(option.palette, selected));
    DisplayText::drawTabular(*painter, geometry.size, Qt::AlignRight,
                             index.data(CleanItemListModel::SizeTextRole).toString());
    painter->restore();
}

QSize CleanItemDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const
{
    const int height = QFontMetrics(option.font).height() + 2 +
                       QFontMetrics(captionFont(option.font)).height() + 2 * kPadding;
    return {200, height};
}

QRect CleanItemDelegate::toggleArea(const QStyleOptionViewItem& option,
                                    const QModelIndex& index) const
{
    const Geometry geometry = layOut(option, index);
    return QRect(QPoint(option.rect.left(), option.rect.top()),
                 QPoint(geometry.size.left() - kGap, option.rect.bottom()));
}

bool CleanItemDelegate::editorEvent(QEvent* event, QAbstractItemModel* model,
                                    const QStyleOptionViewItem& option, const QModelIndex& index)
{
    if (!(index.flags() & Qt::ItemIsUserCheckable)) return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseButtonRelease: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton ||
            !toggleArea(option, index).contains(mouse->position().toPoint()))
            return false;
        // Press and double-click are taken too, so the view does not also act on them.
        if (event->type() == QEvent::MouseButtonRelease)
            model->setData(index, QVariant(), Qt::CheckStateRole);
        return true;
    }
    case QEvent::KeyPress: {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key != Qt::Key_Space && key != Qt::Key_Select) return false;
        model->setData(index, QVariant(), Qt::CheckStateRole);
        return true;
    }
    default:
        return false;
    }
}
