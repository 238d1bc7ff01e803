#pragma once

#include "uninstaller/app_catalog.h"

#include <QAbstractListModel>
#include <QSet>

class UninstallerModel;

/// The leftovers of the selected application with their ticks, in the roles that
/// CleanItemDelegate draws: the name over its folder (home shown as "~") and the size. A new
/// search result resets the model; a changed choice updates only the rows whose tick changed.
class LeftoverListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    explicit LeftoverListModel(UninstallerModel* model, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    /// DisplayRole: the last path component; CheckStateRole: chosen or not; ToolTipRole: the
    /// path; and CleanItemListModel's UrlRole, ParentRole, SizeTextRole and SizeRole.
    QVariant data(const QModelIndex& index, int role) const override;
    /// CheckStateRole flips the leftover's choice in the uninstaller model, whatever the value.
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    /// `folder` with a leading home folder (whole components) written as "~".
    static QString abbreviateHome(const QString& folder, const QString& home);

private:
    void reset();
    void syncChoice();

    UninstallerModel* m_model;
    QList<Leftover> m_leftovers;
    QSet<QString> m_chosen;
};
