#pragma once

#include <QLabel>

/// A one-line label that shows as much of its text as fits and ends it with "…" when the text is
/// wider than the label. It never asks for more width than a few characters, so a name of
/// thousands of characters cannot push a layout wider than its window.
class ElidedLabel : public QLabel
{
    Q_OBJECT

public:
    explicit ElidedLabel(QWidget* parent = nullptr, Qt::TextElideMode mode = Qt::ElideRight);

    /// Sets the whole text; line breaks and control characters are shown as symbols.
    void setFullText(const QString& text);
    /// The text as given, before it was made one line and elided.
    const QString& fullText() const { return m_full; }

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void elide();

    QString m_full;
    QString m_line;
    Qt::TextElideMode m_mode;
};
