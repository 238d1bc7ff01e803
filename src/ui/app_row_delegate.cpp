#include "ui/app_row_delegate.h"

#include "ui/app_list_model.h"
#include "ui/display_text.h"
#include "ui/row_painting.h"
#include "ui/symbols.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>

using RowPainting::captionFont;

namespace {

constexpr int kInset = 2;
constexpr int kMargin = 6;
constexpr int kSpacing = 10;
constexpr int kIconSize = 32;
constexpr int kLockSize = 14;
constexpr int kSpinnerSize = 12;

} // namespace

QRect AppRowDelegate::trailingArea(const QStyleOptionViewItem& option,
                                   const QModelIndex& index) const
{
    const QRect row = option.rect.adjusted(kMargin, kInset, -kMargin, -kInset);
    int width = kSpinnerSize;
    if (index.data(AppListModel::ProtectedRole).toBool()) {
        width = kLockSize;
    } else if (index.data(AppListModel::SizeRole).isValid()) {
        const QFontMetrics caption(captionFont(option.font));
        width =
            DisplayText::tabularWidth(caption, index.data(AppListModel::SizeTextRole).toString());
    }
    return QRect(row.right() + 1 - width, row.top(), width, row.height());
}

void AppRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                           const QModelIndex& index) const
{
    QStyleOptionViewItem panel = option;
    initStyleOption(&panel, index);
    RowPainting::drawPanel(painter, panel, option.widget);

    const bool selected = option.state & QStyle::State_Selected;
    const QRect row = option.rect.adjusted(kMargin, kInset, -kMargin, -kInset);
    const QRect icon(row.left(), row.center().y() - kIconSize / 2 + 1, kIconSize, kIconSize);
    const QRect trailing = trailingArea(option, index);
    const int textLeft = icon.right() + 1 + kSpacing;
    const int textWidth = qMax(0, trailing.left() - kSpacing - textLeft);

    painter->save();
    const QPixmap pixmap = index.data(Qt::DecorationRole).value<QPixmap>();
    if (!pixmap.isNull()) painter->drawPixmap(icon, pixmap);

    const QFontMetrics nameMetrics(option.font);
    const QFont caption = captionFont(option.font);
    const QFontMetrics captionMetrics(caption);
    const int textHeight = nameMetrics.height() + 2 + captionMetrics.height();
    const int top = row.top() + (row.height() - textHeight) / 2;
    const QRect name(textLeft, top, textWidth, nameMetrics.height());
    const QRect detail(textLeft, name.bottom() + 3, textWidth, captionMetrics.height());

    painter->setFont(option.font);
    painter->setPen(option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
    const QString nameText = nameMetrics.elidedText(index.data(Qt::DisplayRole).toString(),
                                                    Qt::ElideRight, name.width());
    painter->drawText(name, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                      DisplayText::isolated(nameText));

    painter->setFont(caption);
    painter->setPen(RowPainting::secondaryText(option.palette, selected));
    const QString detailText = captionMetrics.elidedText(
        index.data(AppListModel::DetailRole).toString(), Qt::ElideRight, detail.width());
    painter->drawText(detail, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                      DisplayText::isolated(detailText));

    if (index.data(AppListModel::ProtectedRole).toBool()) {
        const QRect lock(trailing.left(), trailing.center().y() - kLockSize / 2 + 1, kLockSize,
                         kLockSize);
        Symbols::icon(QStringLiteral("lock.fill"))
            .paint(painter, lock, Qt::AlignCenter, QIcon::Disabled);
    } else if (index.data(AppListModel::SizeRole).isValid()) {
        DisplayText::drawTabular(*painter, trailing, Qt::AlignRight,
                                 index.data(AppListModel::SizeTextRole).toString());
    } else {
        const QRect spinner(trailing.left(), trailing.center().y() - kSpinnerSize / 2 + 1,
                            kSpinnerSize, kSpinnerSize);
        RowPainting::drawSpinner(*painter, QRectF(spinner).center(), spinner.width() / 2.0, 1.5,
                                 RowPainting::secondaryText(option.palette, selected), m_step);
    }
    painter->restore();
}

QSize AppRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const
{
    const int text =
        QFontMetrics(option.font).height() + 3 + QFontMetrics(captionFont(option.font)).height();
    return {200, qMax(kIconSize, text) + 2 * kInset + 4};
}

void AppRowDelegate::advanceSpinner()
{
    m_step = (m_step + 1) % RowPainting::kSpinnerSpokes;
}

bool AppRowDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view,
                               const QStyleOptionViewItem& option, const QModelIndex& index)
{
    if (event && event->type() == QEvent::ToolTip && index.isValid() &&
        index.data(AppListModel::ProtectedRole).toBool() &&
        trailingArea(option, index).contains(event->pos())) {
        QToolTip::showText(event->globalPos(), QStringLiteral("Ứng dụng hệ thống"), view);
        return true;
    }
    return QStyledItemDelegate::helpEvent(event, view, option, index);
}
