#pragma once

#include "core/category.h"

#include <QAbstractListModel>
#include <QHash>
#include <QSet>

class AppModel;

/// The found items of one category as a list model, for a view that must stay fast with tens
/// of thousands of rows: a new scan result resets the model, a change of the selection updates
/// only the rows whose tick changed.
class CleanItemListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Role {
        UrlRole = Qt::UserRole + 1, ///< the item's path, its identity
        ParentRole,                 ///< path of the parent folder, one displayable line
        SizeTextRole,               ///< formatBytes of the size
        SizeRole,                   ///< allocated bytes
    };

    CleanItemListModel(AppModel* model, Category category, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    /// DisplayRole: the name on one line; CheckStateRole: the tick; ToolTipRole: the path.
    QVariant data(const QModelIndex& index, int role) const override;
    /// CheckStateRole toggles the item in the cleaning model, whatever the value asked for; the
    /// tick then shows what the model reports.
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    /// Re-reads the category's state from the cleaning model.
    void sync();

private:
    AppModel* m_model;
    Category m_category;
    QList<CleanItem> m_items;
    QSet<QString> m_selected;
    QHash<QString, int> m_rowOf;
};
