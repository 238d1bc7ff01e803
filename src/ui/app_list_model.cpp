#include "ui/app_list_model.h"

#include "core/category.h"
#include "ui/app_icons.h"
#include "ui/display_text.h"
#include "ui/row_painter.h"
#include "uninstaller/uninstaller_model.h"

#include <QGuiApplication>

namespace {

constexpr int kIconSize = 32;

QStringList urlsOf(const QList<InstalledApp>& apps)
{
    QStringList urls;
    urls.reserve(apps.size());
    for (const InstalledApp& app : apps)
        urls.append(app.url);
    return urls;
}

} // namespace

AppListModel::AppListModel(UninstallerModel* model, AppIcons* icons, QObject* parent)
    : QAbstractListModel(parent), m_model(model), m_icons(icons)
{
    connect(m_model, &UninstallerModel::appsChanged, this, &AppListModel::sync);
    connect(m_model, &UninstallerModel::searchChanged, this, &AppListModel::sync);
    connect(m_model, &UninstallerModel::sortChanged, this, &AppListModel::sync);
    connect(m_icons, &AppIcons::iconLoaded, this, [this](const QString& url) {
        const int row = rowOf(url);
        if (row >= 0) emit dataChanged(index(row), index(row), {Qt::DecorationRole});
    });
    sync();
}

int AppListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_apps.size());
}

QVariant AppListModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const InstalledApp& app = m_apps.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return DisplayText::singleLine(app.name);
    case Qt::ToolTipRole:
        return DisplayText::toolTip(app.url);
    case Qt::DecorationRole:
        return m_icons->icon(app.url, kIconSize, qApp->devicePixelRatio());
    case RowRole::Url:
        return app.url;
    case RowRole::Subtitle:
        return DisplayText::singleLine(
            app.version.isEmpty() ? app.bundleID : QStringLiteral("Phiên bản ") + app.version);
    case RowRole::TrailingText:
        return app.size && !app.isProtected ? QVariant(formatBytes(*app.size)) : QVariant();
    case RowRole::TrailingMark:
        return int(app.isProtected ? RowMark::lock : RowMark::spinner);
    case RowRole::TrailingToolTip:
        return app.isProtected ? QVariant(QStringLiteral("Ứng dụng hệ thống")) : QVariant();
    case RowRole::Size:
        return app.size ? QVariant(*app.size) : QVariant();
    default:
        return {};
    }
}

int AppListModel::rowOf(const QString& url) const
{
    return m_rowOf.value(url, -1);
}

void AppListModel::sync()
{
    const QList<InstalledApp> next = m_model->visibleApps();
    const QStringList before = urlsOf(m_apps);
    const QStringList after = urlsOf(next);

    if (before == after) {
        // Same rows in the same order: a size arrived, or nothing changed at all.
        const QList<InstalledApp> previous = m_apps;
        m_apps = next;
        for (int row = 0; row < m_apps.size(); ++row)
            if (!(previous.at(row) == m_apps.at(row))) emit dataChanged(index(row), index(row));
        return;
    }

    QStringList sortedBefore = before;
    QStringList sortedAfter = after;
    sortedBefore.sort();
    sortedAfter.sort();
    if (sortedBefore == sortedAfter && !before.isEmpty()) {
        // Same applications in another order (a size arrived while sorted by size): move the
        // persistent indexes, so the selection and the current row follow their applications.
        emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
        const QModelIndexList old = persistentIndexList();
        m_apps = next;
        reindex();
        QModelIndexList moved;
        moved.reserve(old.size());
        for (const QModelIndex& each : old)
            moved.append(index(rowOf(before.at(each.row()))));
        changePersistentIndexList(old, moved);
        emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
        return;
    }

    beginResetModel();
    m_apps = next;
    reindex();
    endResetModel();
}

void AppListModel::reindex()
{
    m_rowOf.clear();
    m_rowOf.reserve(m_apps.size());
    for (int row = 0; row < m_apps.size(); ++row)
        m_rowOf.insert(m_apps.at(row).url, row);
}
