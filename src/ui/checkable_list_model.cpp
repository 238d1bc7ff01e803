#include "ui/checkable_list_model.h"

#include "core/app_model.h"
#include "platform/file_system.h"
#include "ui/display_text.h"
#include "ui/row_painter.h"
#include "uninstaller/uninstaller_model.h"

#include <algorithm>

namespace {

// Above this many changed rows one range update is cheaper than one signal per row.
constexpr qsizetype kMaxSingleRowUpdates = 64;

QString parentOf(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0) return QString();
    return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

QList<CleanItem> itemsOf(const QList<Leftover>& leftovers)
{
    QList<CleanItem> items;
    items.reserve(leftovers.size());
    for (const Leftover& leftover : leftovers)
        items.append({leftover.url, leftover.size});
    return items;
}

} // namespace

CheckableListModel::CheckableListModel(QObject* parent) : QAbstractListModel(parent) {}

void CheckableListModel::setHomeAbbreviated(bool abbreviated)
{
    m_homeAbbreviated = abbreviated;
}

void CheckableListModel::setItems(const QList<CleanItem>& items, const QSet<QString>& checked)
{
    if (items == m_items) {
        setChecked(checked);
        return;
    }
    beginResetModel();
    m_items = items;
    m_checked = checked;
    m_rowOf.clear();
    m_rowOf.reserve(m_items.size());
    for (int row = 0; row < m_items.size(); ++row)
        m_rowOf.insert(m_items.at(row).url, row);
    endResetModel();
}

void CheckableListModel::setChecked(const QSet<QString>& checked)
{
    if (checked == m_checked) return;
    QList<int> changed;
    const auto collect = [&](const QSet<QString>& from, const QSet<QString>& other) {
        for (const QString& url : from) {
            if (other.contains(url)) continue;
            const auto row = m_rowOf.constFind(url);
            if (row != m_rowOf.constEnd()) changed.append(*row);
        }
    };
    collect(checked, m_checked);
    collect(m_checked, checked);
    m_checked = checked;
    if (changed.isEmpty()) return;
    const QList<int> checkRole{Qt::CheckStateRole};
    if (changed.size() > kMaxSingleRowUpdates) {
        const auto [first, last] = std::minmax_element(changed.cbegin(), changed.cend());
        emit dataChanged(index(*first), index(*last), checkRole);
        return;
    }
    for (int row : changed)
        emit dataChanged(index(row), index(row), checkRole);
}

int CheckableListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_items.size());
}

QVariant CheckableListModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const CleanItem& item = m_items.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return DisplayText::singleLine(item.name());
    case Qt::CheckStateRole:
        return m_checked.contains(item.url) ? Qt::Checked : Qt::Unchecked;
    case Qt::ToolTipRole:
        return DisplayText::toolTip(item.url);
    case RowRole::Url:
        return item.url;
    case RowRole::Subtitle: {
        // An item of the trash is shown where it came from, as file managers show it.
        const QString parent = parentOf(item.origin.value_or(item.url));
        return DisplayText::singleLine(
            m_homeAbbreviated ? abbreviateHome(parent, FileSystem::homeDirectory()) : parent);
    }
    case RowRole::TrailingText:
        return formatBytes(item.size);
    case RowRole::Size:
        return item.size;
    default:
        return {};
    }
}

bool CheckableListModel::setData(const QModelIndex& index, const QVariant&, int role)
{
    if (role != Qt::CheckStateRole ||
        !checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return false;
    emit toggleRequested(m_items.at(index.row()).url);
    return true;
}

Qt::ItemFlags CheckableListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemNeverHasChildren;
}

QString CheckableListModel::abbreviateHome(const QString& folder, const QString& home)
{
    if (home.isEmpty() || home == u"/" || !folder.startsWith(home)) return folder;
    // "~" stands for the home folder only at the start of a path and only as whole components:
    // with the home "/home/an", "/home/anna" is another user's folder, and "/mnt/x/home/an" is
    // not the home folder either.
    if (folder.size() != home.size() && folder.at(home.size()) != u'/') return folder;
    return QStringLiteral("~") + folder.mid(home.size());
}

CheckableListModel* CheckableListModel::forCategory(AppModel* model, const Category& category,
                                                    QObject* parent)
{
    auto* list = new CheckableListModel(parent);
    const auto sync = [list, model, category] {
        const AppModel::State state = model->state(category);
        list->setItems(state.result.items, state.selected);
    };
    connect(model, &AppModel::stateChanged, list, [sync, id = category.id](const QString& changed) {
        if (changed == id) sync();
    });
    connect(list, &CheckableListModel::toggleRequested, model,
            [model, category](const QString& url) { model->toggle(category, url); });
    sync();
    return list;
}

CheckableListModel* CheckableListModel::forLeftovers(UninstallerModel* model, QObject* parent)
{
    auto* list = new CheckableListModel(parent);
    list->setHomeAbbreviated(true);
    const auto sync = [list, model] {
        list->setItems(itemsOf(model->leftovers()), model->selectedLeftovers());
    };
    connect(model, &UninstallerModel::leftoversChanged, list, sync);
    connect(model, &UninstallerModel::selectedLeftoversChanged, list, sync);
    connect(list, &CheckableListModel::toggleRequested, model, [model](const QString& url) {
        // The tick changes when the uninstaller model reports the new choice.
        model->setLeftoverChosen(url, !model->selectedLeftovers().contains(url));
    });
    sync();
    return list;
}
