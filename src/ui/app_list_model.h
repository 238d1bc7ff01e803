#pragma once

#include "uninstaller/app_catalog.h"

#include <QAbstractListModel>
#include <QHash>

class AppIcons;
class UninstallerModel;

/// The visible applications of the uninstaller model (searched and sorted) as a list model. A
/// size that arrives updates its own row only; when it moves the row (sorted by size) the rows
/// are rearranged in place, so the view keeps its selection and scroll position; only a change
/// of which applications are listed resets the model.
class AppListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    AppListModel(UninstallerModel* model, AppIcons* icons, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    /// In the roles a RowDelegate draws: the name over "Phiên bản " + version (or the identifier),
    /// the 32-point icon, and at the trailing edge a lock for a protected application, its size
    /// once measured, or a spinner until then. RowRole::Url is the bundle path.
    QVariant data(const QModelIndex& index, int role) const override;

    /// Row of the application at `url`, or -1 when it is not listed.
    int rowOf(const QString& url) const;

    /// Re-reads the visible applications from the uninstaller model.
    void sync();

private:
    void reindex();

    UninstallerModel* m_model;
    AppIcons* m_icons;
    QList<InstalledApp> m_apps;
    QHash<QString, int> m_rowOf;
};
