#pragma once

#include <QTimer>
#include <QWidget>

/// A small indeterminate busy indicator. It animates only while it is visible, so a hidden
/// spinner costs nothing.
class Spinner : public QWidget
{
    Q_OBJECT

public:
    explicit Spinner(int diameter = 16, QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    int m_diameter;
    int m_step = 0;
    QTimer m_timer;
};
