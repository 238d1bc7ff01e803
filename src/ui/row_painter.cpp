#include "ui/row_painter.h"

#include "ui/display_text.h"
#include "ui/palette.h"
#include "ui/panels.h"
#include "ui/symbols.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QListView>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

namespace {

constexpr int kMargin = 8;
constexpr int kGap = 10;
constexpr int kLineGap = 2;
constexpr int kLockSize = 14;
constexpr int kSpinnerSize = 12;

struct Geometry
{
    QRect leading;
    QRect title;
    QRect subtitle;
    QRect trailing;
};

const QStyle* styleOf(const QStyleOptionViewItem& option)
{
    return option.widget ? option.widget->style() : QApplication::style();
}

RowMark markOf(const QModelIndex& index)
{
    return RowMark(index.data(RowRole::TrailingMark).toInt());
}

QFont figureFont(const QStyleOptionViewItem& option, const RowStyle& style)
{
    return style.captionFigure ? TextStyle::captionFont(option.font) : option.font;
}

int trailingWidth(const QStyleOptionViewItem& option, const QModelIndex& index,
                  const RowStyle& style)
{
    const QVariant figure = index.data(RowRole::TrailingText);
    if (figure.isValid())
        return DisplayText::tabularWidth(QFontMetrics(figureFont(option, style)),
                                         figure.toString());
    switch (markOf(index)) {
    case RowMark::lock:
        return kLockSize;
    case RowMark::spinner:
        return kSpinnerSize;
    case RowMark::none:
        break;
    }
    return 0;
}

Geometry layOut(const QStyleOptionViewItem& option, const QModelIndex& index, const RowStyle& style)
{
    const QRect row =
        option.rect.adjusted(kMargin, style.verticalInset, -kMargin, -style.verticalInset);
    const int leading = style.iconSize > 0 ? style.iconSize
                                           : styleOf(option)->pixelMetric(QStyle::PM_IndicatorWidth,
                                                                          &option, option.widget);
    Geometry geometry;
    geometry.leading = QRect(row.left(), row.center().y() - leading / 2 + 1, leading, leading);
    const int trailing = trailingWidth(option, index, style);
    geometry.trailing = QRect(row.right() + 1 - trailing, row.top(), trailing, row.height());
    const int left = geometry.leading.right() + 1 + kGap;
    const int width = std::max(0, geometry.trailing.left() - kGap - left);
    const int titleHeight = QFontMetrics(option.font).height();
    const int subtitleHeight = QFontMetrics(TextStyle::captionFont(option.font)).height();
    const int top = row.top() + (row.height() - titleHeight - kLineGap - subtitleHeight) / 2;
    geometry.title = QRect(left, top, width, titleHeight);
    geometry.subtitle = QRect(left, top + titleHeight + kLineGap, width, subtitleHeight);
    return geometry;
}

void drawLine(QPainter* painter, const QRect& rect, const QString& text, Qt::TextElideMode mode)
{
    // Elide first, then isolate: direction marks inside a name end with the name.
    const QString shown = painter->fontMetrics().elidedText(text, mode, rect.width());
    // Not clipped to the line's box: an underscore reaches below the font's descent.
    painter->drawText(rect,
                      Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextDontClip,
                      DisplayText::isolated(shown));
}

void drawLeading(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index,
                 const QRect& rect, const RowStyle& style)
{
    if (style.iconSize > 0) {
        const QPixmap icon = index.data(Qt::DecorationRole).value<QPixmap>();
        if (!icon.isNull()) painter->drawPixmap(rect, icon);
        return;
    }
    QStyleOptionViewItem check = option;
    check.rect = rect;
    check.state &= ~QStyle::State_HasFocus;
    const bool on = index.data(Qt::CheckStateRole).toInt() == Qt::Checked;
    check.state |= on ? QStyle::State_On : QStyle::State_Off;
    styleOf(option)->drawPrimitive(QStyle::PE_IndicatorItemViewItemCheck, &check, painter,
                                   option.widget);
}

// The figure in the current font and pen, else the mark.
void drawTrailing(QPainter* painter, const QModelIndex& index, const QRect& rect,
                  const QColor& colour, int step)
{
    const QVariant figure = index.data(RowRole::TrailingText);
    if (figure.isValid()) {
        DisplayText::drawTabular(*painter, rect, Qt::AlignRight, figure.toString());
        return;
    }
    switch (markOf(index)) {
    case RowMark::lock: {
        const QRect lock(rect.left(), rect.center().y() - kLockSize / 2 + 1, kLockSize, kLockSize);
        Symbols::icon(QStringLiteral("lock.fill"))
            .paint(painter, lock, Qt::AlignCenter, QIcon::Disabled);
        break;
    }
    case RowMark::spinner:
        RowPainter::drawSpinner(*painter, QRectF(rect).center(), kSpinnerSize / 2.0, 1.5, colour,
                                step);
        break;
    case RowMark::none:
        break;
    }
}

void drawFocus(QPainter* painter, const QStyleOptionViewItem& option, bool selected)
{
    QStyleOptionFocusRect focus;
    focus.QStyleOption::operator=(option);
    focus.rect = option.rect.adjusted(1, 1, -1, -1);
    focus.backgroundColor = option.palette.color(selected ? QPalette::Highlight : QPalette::Base);
    styleOf(option)->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, option.widget);
}

} // namespace

RowDelegate::RowDelegate(RowStyle style, QObject* parent)
    : QStyledItemDelegate(parent), m_style(style)
{
}

QRect RowDelegate::trailingArea(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    return layOut(option, index, m_style).trailing;
}

QRect RowDelegate::toggleArea(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const Geometry geometry = layOut(option, index, m_style);
    return {option.rect.topLeft(), QPoint(geometry.trailing.left() - kGap, option.rect.bottom())};
}

void RowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const
{
    QStyleOptionViewItem panel = option;
    initStyleOption(&panel, index);
    // The panel only (selection, hover): text, icon and check are drawn in this row's layout.
    panel.text.clear();
    panel.icon = QIcon();
    panel.features &=
        ~(QStyleOptionViewItem::HasDecoration | QStyleOptionViewItem::HasCheckIndicator);
    styleOf(option)->drawPrimitive(QStyle::PE_PanelItemViewItem, &panel, painter, option.widget);

    const Geometry geometry = layOut(option, index, m_style);
    const bool selected = option.state & QStyle::State_Selected;
    painter->save();
    drawLeading(painter, option, index, geometry.leading, m_style);
    painter->setFont(option.font);
    painter->setPen(option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
    drawLine(painter, geometry.title, index.data(Qt::DisplayRole).toString(), Qt::ElideRight);
    const QColor secondary = RowPainter::secondaryText(option.palette, selected);
    painter->setFont(TextStyle::captionFont(option.font));
    painter->setPen(secondary);
    drawLine(painter, geometry.subtitle, index.data(RowRole::Subtitle).toString(),
             m_style.subtitleElide);
    painter->setFont(figureFont(option, m_style));
    drawTrailing(painter, index, geometry.trailing, secondary, m_step);
    painter->restore();
    if (option.state & QStyle::State_HasFocus) drawFocus(painter, option, selected);
}

QSize RowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const
{
    const int text = QFontMetrics(option.font).height() + kLineGap +
                     QFontMetrics(TextStyle::captionFont(option.font)).height();
    return {200, std::max(m_style.iconSize, text) + 2 * m_style.verticalInset};
}

void RowDelegate::advanceSpinner()
{
    m_step = (m_step + 1) % RowPainter::kSpinnerSpokes;
}

bool RowDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view,
                            const QStyleOptionViewItem& option, const QModelIndex& index)
{
    const QVariant tip = index.data(RowRole::TrailingToolTip);
    if (event && event->type() == QEvent::ToolTip && tip.isValid() &&
        trailingArea(option, index).contains(event->pos())) {
        QToolTip::showText(event->globalPos(), tip.toString(), view);
        return true;
    }
    return QStyledItemDelegate::helpEvent(event, view, option, index);
}

bool RowDelegate::editorEvent(QEvent* event, QAbstractItemModel* model,
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

QListView* makeRowList(const QString& objectName, QAbstractItemModel* model, RowStyle style,
                       QWidget* parent)
{
    auto* list = new QListView(parent);
    list->setObjectName(objectName);
    list->setModel(model);
    list->setItemDelegate(new RowDelegate(style, list));
    // Every row has the same height: the view then lays out any number of rows at once.
    list->setUniformItemSizes(true);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    list->setWordWrap(false);
    list->setMouseTracking(true);
    return list;
}

namespace RowPainter {

void drawSpinner(QPainter& painter, QPointF centre, qreal radius, qreal penWidth, QColor colour,
                 int step)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(centre);
    QPen pen(colour, penWidth, Qt::SolidLine, Qt::RoundCap);
    for (int i = 0; i < kSpinnerSpokes; ++i) {
        const int age = (step - i + kSpinnerSpokes) % kSpinnerSpokes;
        colour.setAlphaF(float(1.0 - age * 0.8 / kSpinnerSpokes));
        pen.setColor(colour);
        painter.setPen(pen);
        painter.save();
        painter.rotate(i * 360.0 / kSpinnerSpokes);
        painter.drawLine(QPointF(0, -radius * 0.45), QPointF(0, -radius * 0.9));
        painter.restore();
    }
    painter.restore();
}

QColor secondaryText(const QPalette& palette, bool selected)
{
    // The style's own highlighted-text pair is the most legible a selected row can offer.
    if (selected) return palette.color(QPalette::HighlightedText);
    return Palette::colour(Palette::Role::secondaryText, palette);
}

} // namespace RowPainter
