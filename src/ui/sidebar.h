#pragma once

#include <QHash>
#include <QListWidget>

class AppModel;
class QLabel;
class Spinner;

/// The window's left column: "Tổng quan", the cleaning categories with their size badges, the
/// uninstaller and the monitor. Rows carry their destination identifier; section headings are
/// not selectable.
class Sidebar : public QListWidget
{
    Q_OBJECT

public:
    /// Role of an item's destination identifier; absent on section headings.
    static constexpr int IdRole = Qt::UserRole + 1;

    explicit Sidebar(AppModel* model, QWidget* parent = nullptr);

    /// Identifier of the selected row; empty when none is selected.
    QString selectedId() const;
    /// Selects the row of `id` (none for an unknown id) without emitting rowChosen().
    void selectId(const QString& id);

    QSize sizeHint() const override;
    /// Wide enough for the longest title beside a badge of the widest size text.
    QSize minimumSizeHint() const override;

signals:
    /// The user chose the row of `id`, or cleared the selection (empty `id`).
    void rowChosen(const QString& id);

private:
    struct Badge
    {
        Spinner* spinner = nullptr;
        QLabel* size = nullptr;
    };

    void addSection(const QString& heading);
    void addRow(const QString& id, const QString& symbol, const QString& title,
                bool withBadge = false);
    void updateBadge(const QString& id);
    void refreshBadgeColours();

    AppModel* m_model;
    QHash<QString, Badge> m_badges;
    bool m_selecting = false;
};
