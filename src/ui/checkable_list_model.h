#pragma once

#include "core/category.h"

#include <QAbstractListModel>
#include <QHash>
#include <QSet>

class AppModel;
class UninstallerModel;

/// Items with a tick each (the found items of a category, the leftovers of an application) as a
/// list model that stays fast with tens of thousands of rows, in the roles a RowDelegate draws:
/// the name over its parent folder, the size at the trailing edge. New items reset the model; a
/// new set of ticks updates only the rows whose tick changed. Toggling a row only asks its owner
/// (toggleRequested); the tick then shows what the owner reports.
class CheckableListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    explicit CheckableListModel(QObject* parent = nullptr);

    /// Shows parent folders below the home folder with "~" in its place.
    void setHomeAbbreviated(bool abbreviated);
    /// Shows `items` with `checked` ticked.
    void setItems(const QList<CleanItem>& items, const QSet<QString>& checked);

    int rowCount(const QModelIndex& parent = {}) const override;
    /// DisplayRole: the last path component; CheckStateRole: the tick; ToolTipRole: the path;
    /// RowRole::Url, Subtitle (the parent folder), TrailingText (formatBytes) and Size.
    QVariant data(const QModelIndex& index, int role) const override;
    /// CheckStateRole asks for a toggle, whatever the value given.
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    /// `folder` with a leading home folder (whole components) written as "~".
    static QString abbreviateHome(const QString& folder, const QString& home);

    /// The found items of `category` in `model`, toggled through the model.
    static CheckableListModel* forCategory(AppModel* model, const Category& category,
                                           QObject* parent);
    /// The leftovers of the selected application in `model`, chosen through the model.
    static CheckableListModel* forLeftovers(UninstallerModel* model, QObject* parent);

signals:
    void toggleRequested(const QString& url);

private:
    void setChecked(const QSet<QString>& checked);

    QList<CleanItem> m_items;
    QSet<QString> m_checked;
    QHash<QString, int> m_rowOf;
    bool m_homeAbbreviated = false;
};
