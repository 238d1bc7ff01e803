#include "ui/clean_item_model.h"

#include "core/app_model.h"
#include "ui/display_text.h"

namespace {

// Above this many changed rows one range update is cheaper than one signal per row.
constexpr qsizetype kMaxSingleRowUpdates = 64;

QString parentOf(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0) return QString();
    return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

} // namespace

CleanItemListModel::CleanItemListModel(AppModel* model, Category category, QObject* parent)
    : QAbstractListModel(parent), m_model(model), m_category(std::move(category))
{
    connect(m_model, &AppModel::stateChanged, this, [this](const QString& id) {
        if (id == m_category.id) sync();
    });
    sync();
}

int CleanItemListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_items.size());
}

QVariant CleanItemListModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const CleanItem& item = m_items.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return DisplayText::singleLine(item.name());
    case Qt::CheckStateRole:
        return m_selected.contains(item.url) ? Qt::Checked : Qt::Unchecked;
    case Qt::ToolTipRole:
        return DisplayText::singleLine(item.url);
    case UrlRole:
        return item.url;
    case ParentRole:
        return DisplayText::singleLine(parentOf(item.url));
    case SizeTextRole:
        return formatBytes(item.size);
    case SizeRole:
        return item.size;
    default:
        return {};
    }
}

bool CleanItemListModel::setData(const QModelIndex& index, const QVariant&, int role)
{
    if (role != Qt::CheckStateRole ||
        !checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return false;
    m_model->toggle(m_category, m_items.at(index.row()).url);
    return true;
}

Qt::ItemFlags CleanItemListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemNeverHasChildren;
}

void CleanItemListModel::sync()
{
    const AppModel::State state = m_model->state(m_category);
    if (state.result.items != m_items) {
        beginResetModel();
        m_items = state.result.items;
        m_selected = state.selected;
        m_rowOf.clear();
        m_rowOf.reserve(m_items.size());
        for (int row = 0; row < m_items.size(); ++row)
            m_rowOf.insert(m_items.at(row).url, row);
        endResetModel();
        return;
    }
    if (state.selected == m_selected) return;
    QList<int> changed;
    const auto collect = [&](const QSet<QString>& from, const QSet<QString>& other) {
        for (const QString& url : from) {
            if (other.contains(url)) continue;
            const auto row = m_rowOf.constFind(url);
            if (row != m_rowOf.constEnd()) changed.append(*row);
        }
    };
    collect(state.selected, m_selected);
    collect(m_selected, state.selected);
    m_selected = state.selected;
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
