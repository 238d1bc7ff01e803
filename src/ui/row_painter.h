#pragma once

#include <QColor>
#include <QPointF>
#include <QStyledItemDelegate>

class QAbstractItemModel;
class QListView;
class QPainter;

/// Roles a row model answers beside DisplayRole (the first line), DecorationRole (the leading
/// icon of an icon row) and CheckStateRole (the tick of a checkable row).
namespace RowRole {
enum : int {
    Url = Qt::UserRole + 1, ///< the row's identity, a path
    Subtitle,               ///< the second line, one displayable line
    TrailingText,           ///< the figure at the trailing edge; absent: the trailing mark
    TrailingMark,           ///< a RowMark, shown when there is no trailing text
    TrailingToolTip,        ///< the tooltip of the trailing figure or mark
    Size,                   ///< bytes, for sorting and tests
};
} // namespace RowRole

/// What stands at the trailing edge of a row without a figure.
enum class RowMark { none, lock, spinner };

/// How the rows of one list are laid out.
struct RowStyle
{
    int iconSize = 0; ///< edge of the leading icon; 0: a check box leads the row
    Qt::TextElideMode subtitleElide = Qt::ElideRight;
    bool captionFigure = false; ///< the trailing figure in the caption font, not the body font
    int verticalInset = 6;
};

/// Draws the rows of a list on fixed-height rows: the leading check box or icon, the title over a
/// secondary subtitle (both one line, elided), and at the trailing edge a figure with digits of
/// equal width, a lock or a small spinner. Draws the keyboard focus on the current row. On a
/// checkable row a click on the check box or its label, or Space, toggles the tick (the model
/// decides what the tick then shows).
class RowDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit RowDelegate(RowStyle style, QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    /// Area of the trailing figure or mark.
    QRect trailingArea(const QStyleOptionViewItem& option, const QModelIndex& index) const;
    /// Area whose click toggles a checkable row: everything before the trailing figure.
    QRect toggleArea(const QStyleOptionViewItem& option, const QModelIndex& index) const;

    /// Moves the spinners one step on.
    void advanceSpinner();

public Q_SLOTS:
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

protected:
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;

private:
    RowStyle m_style;
    int m_step = 0;
};

/// A list of uniform rows drawn by a RowDelegate of `style`, with no horizontal scrolling.
QListView* makeRowList(const QString& objectName, QAbstractItemModel* model, RowStyle style,
                       QWidget* parent);

/// Painting shared by the row delegate and the busy indicator.
namespace RowPainter {

/// Number of spokes of a spinner; its step runs from 0 to one less.
constexpr int kSpinnerSpokes = 12;

/// Draws the spokes of a spinner around `centre`: the spoke at `step` darkest, the others fading
/// behind it.
void drawSpinner(QPainter& painter, QPointF centre, qreal radius, qreal penWidth, QColor colour,
                 int step);

/// Colour of a row's second-level text; on a selected row the style's highlighted text itself.
QColor secondaryText(const QPalette& palette, bool selected);

} // namespace RowPainter
