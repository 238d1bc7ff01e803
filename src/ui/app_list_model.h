#pragma once

#include "uninstaller/app_catalog.h"

#include <QAbstractListModel>
#include <QHash>

class AppIcons;
class UninstallerModel;

/// The visible applications of the uninstaller model (searched and sorted) as a list model. A
/// size that arrives updates its own row only, and when the order is by size moves that one row
/// to its place, so the view keeps its selection and scroll position and no arrival costs more
/// than a few small copies; a new order of the same applications rearranges the rows in place;
/// only a change of which applications are listed resets the model.
class AppListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    AppListModel(UninstallerModel* model, AppIcons* icons, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    /// In the roles a RowDelegate draws: the name over "Phiên bản " + version (or the identifier),
    /// the 32-point icon, and at the trailing edge a lock for a protected application, its size
    /// once measured, or a spinner while it is being measured. RowRole::Url is the location.
    QVariant data(const QModelIndex& index, int role) const override;

    /// Row of the application at `url`, or -1 when it is not listed.
    int rowOf(const QString& url) const;

    /// Re-reads the visible applications from the uninstaller model.
    void sync();

private:
    void appChanged(int appRow);
    /// Where the row `row`, whose size changed, belongs when the order is by size.
    int sortedRow(int row) const;
    void reindex();

    UninstallerModel* m_model;
    AppIcons* m_icons;
    QList<int> m_rows;              ///< visible row → row of the model's apps
    QStringList m_urls;             ///< visible row → url
    QList<int> m_visibleRowOf;      ///< row of the model's apps → visible row, or -1
    QHash<QString, int> m_appRowOf; ///< url → row of the model's apps
};
