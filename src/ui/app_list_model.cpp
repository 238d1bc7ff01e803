#include "ui/app_list_model.h"

#include "core/category.h"
#include "ui/app_icons.h"
#include "ui/display_text.h"
#include "ui/row_painter.h"
#include "uninstaller/uninstaller_model.h"

#include <QGuiApplication>
#include <algorithm>

namespace {

constexpr int kIconSize = 32;

} // namespace

AppListModel::AppListModel(UninstallerModel* model, AppIcons* icons, QObject* parent)
    : QAbstractListModel(parent), m_model(model), m_icons(icons)
{
    connect(m_model, &UninstallerModel::appsChanged, this, &AppListModel::sync);
    connect(m_model, &UninstallerModel::searchChanged, this, &AppListModel::sync);
    connect(m_model, &UninstallerModel::sortChanged, this, &AppListModel::sync);
    connect(m_model, &UninstallerModel::appChanged, this, &AppListModel::appChanged);
    connect(m_icons, &AppIcons::iconLoaded, this, [this](const QString& url) {
        const int row = rowOf(url);
        if (row >= 0) emit dataChanged(index(row), index(row), {Qt::DecorationRole});
    });
    sync();
}

int AppListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant AppListModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const InstalledApp& app = m_model->apps().at(m_rows.at(index.row()));
    switch (role) {
    case Qt::DisplayRole:
        return DisplayText::singleLine(app.name);
    case Qt::ToolTipRole:
        return DisplayText::toolTip(app.url);
    case Qt::DecorationRole:
        return m_icons->icon(app, kIconSize, qApp->devicePixelRatio());
    case RowRole::Url:
        return app.url;
    case RowRole::Subtitle:
        return DisplayText::singleLine(
            app.version.isEmpty() ? app.bundleID : QStringLiteral("Phiên bản ") + app.version);
    case RowRole::TrailingText:
        return app.size && !app.isProtected ? QVariant(formatBytes(*app.size)) : QVariant();
    case RowRole::TrailingMark:
        if (app.isProtected) return int(RowMark::lock);
        return int(app.isMeasured() ? RowMark::spinner : RowMark::none);
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
    const int appRow = m_appRowOf.value(url, -1);
    return appRow < 0 ? -1 : m_visibleRowOf.value(appRow, -1);
}

void AppListModel::sync()
{
    const QList<InstalledApp>& apps = m_model->apps();
    const QList<int> next = m_model->visibleRows();
    const QStringList before = m_urls;
    QStringList after;
    after.reserve(next.size());
    for (const int appRow : next)
        after.append(apps.at(appRow).url);

    if (before == after) {
        // The same rows in the same order: a reload with new records, or nothing changed.
        m_rows = next;
        reindex();
        if (!m_rows.isEmpty()) emit dataChanged(index(0), index(int(m_rows.size()) - 1));
        return;
    }
    if (!before.isEmpty() && before.size() == after.size() &&
        QSet<QString>(before.begin(), before.end()) == QSet<QString>(after.begin(), after.end())) {
        // The same applications in another order (another sort): move the persistent indexes,
        // so the selection and the current row follow their applications.
        emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
        const QModelIndexList old = persistentIndexList();
        m_rows = next;
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
    m_rows = next;
    reindex();
    endResetModel();
}

void AppListModel::appChanged(int appRow)
{
    const int row = m_visibleRowOf.value(appRow, -1);
    if (row < 0) return;
    const int target = m_model->sort() == UninstallerModel::SortMode::size ? sortedRow(row) : row;
    if (target != row) {
        beginMoveRows({}, row, row, {}, target > row ? target + 1 : target);
        m_rows.move(row, target);
        m_urls.move(row, target);
        for (int each = std::min(row, target); each <= std::max(row, target); ++each)
            m_visibleRowOf[m_rows.at(each)] = each;
        endMoveRows();
    }
    emit dataChanged(index(target), index(target));
}

int AppListModel::sortedRow(int row) const
{
    // The rows are sorted largest first, ties in catalogue order, but for `row`, whose size just
    // arrived: it goes where that order puts it among the others, found on either side of it.
    const QList<InstalledApp>& apps = m_model->apps();
    const auto before = [&](int a, int b) {
        const qint64 sizeA = apps.at(a).size.value_or(-1);
        const qint64 sizeB = apps.at(b).size.value_or(-1);
        return sizeA != sizeB ? sizeA > sizeB : a < b;
    };
    const int appRow = m_rows.at(row);
    if (row > 0 && before(appRow, m_rows.at(row - 1)))
        return int(std::upper_bound(m_rows.begin(), m_rows.begin() + row, appRow, before) -
                   m_rows.begin());
    return int(std::lower_bound(m_rows.begin() + row + 1, m_rows.end(), appRow, before) -
               m_rows.begin()) -
           1;
}

void AppListModel::reindex()
{
    const QList<InstalledApp>& apps = m_model->apps();
    m_appRowOf.clear();
    m_appRowOf.reserve(apps.size());
    for (int appRow = 0; appRow < apps.size(); ++appRow)
        m_appRowOf.insert(apps.at(appRow).url, appRow);
    m_visibleRowOf.fill(-1, apps.size());
    m_urls.clear();
    m_urls.reserve(m_rows.size());
    for (int row = 0; row < m_rows.size(); ++row) {
        m_visibleRowOf[m_rows.at(row)] = row;
        m_urls.append(apps.at(m_rows.at(row)).url);
    }
}
