#pragma once

#include <QColor>
#include <QFont>
#include <QWidget>

class QLabel;
class QVBoxLayout;

/// A widget that draws a rounded rectangle behind its children: a fill and a one-pixel border
/// drawn inside its edge.
class RoundedPanel : public QWidget
{
    Q_OBJECT

public:
    explicit RoundedPanel(QWidget* parent = nullptr);

    void setColours(const QColor& fill, const QColor& border);
    void setRadius(qreal radius);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_fill;
    QColor m_border;
    qreal m_radius = 8;
};

/// A group box whose label is a title with a symbol, over a rounded panel that holds the
/// content.
class SymbolBox : public QWidget
{
    Q_OBJECT

public:
    SymbolBox(const QString& symbol, const QString& title, QWidget* parent = nullptr);

    /// Layout of the panel; add the content here.
    QVBoxLayout* content() const { return m_content; }
    QLabel* titleLabel() const { return m_title; }

private:
    QLabel* m_title;
    QVBoxLayout* m_content;
};

/// Label text helpers for the platform's text styles.
namespace TextStyle {

/// The smaller font of captions and of a row's second line.
QFont captionFont(const QFont& font);

/// Scales the label's font by `factor` and sets its weight.
void apply(QWidget* widget, qreal factor, bool bold = false);
/// Large title (screen headings).
void largeTitle(QWidget* widget);
/// Headline.
void headline(QWidget* widget);
/// Callout: slightly smaller than the body.
void callout(QWidget* widget);
/// Caption: the smallest text.
void caption(QWidget* widget);
/// Second level of label emphasis.
void secondary(QWidget* widget);
/// Third level of label emphasis.
void tertiary(QWidget* widget);

} // namespace TextStyle

/// How a symbol label lays out its text.
enum class SymbolText {
    oneLine, ///< one line, the icon centred beside it
    wrapped, ///< wrapped over as many lines as it needs, the icon beside the first
};

/// A row of the icon of `symbol`, `iconSize` pixels square, and a plain-text label (a title line,
/// a sidebar row, a notice). `textLabel` receives the label.
QWidget* makeSymbolLabel(const QString& symbol, const QString& text, int iconSize,
                         QWidget* parent = nullptr, QLabel** textLabel = nullptr,
                         SymbolText layout = SymbolText::oneLine);
