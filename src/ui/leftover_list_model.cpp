#include "ui/leftover_list_model.h"

#include "core/category.h"
#include "ui/clean_item_model.h"
#include "ui/display_text.h"
#include "uninstaller/uninstaller_model.h"

#include <QDir>

namespace {

QString parentOf(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0) return QString();
    return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

QString lastComponent(const QString& path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

} // namespace

LeftoverListModel::LeftoverListModel(UninstallerModel* model, QObject* parent)
    : QAbstractListModel(parent), m_model(model)
{
    connect(m_model, &UninstallerModel::leftoversChanged, this, &LeftoverListModel::reset);
    connect(m_model, &UninstallerModel::selectedLeftoversChanged, this,
            &LeftoverListModel::syncChoice);
    reset();
}

int LeftoverListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_leftovers.size());
}

QVariant LeftoverListModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Leftover& leftover = m_leftovers.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return DisplayText::singleLine(lastComponent(leftover.url));
    case Qt::CheckStateRole:
        return m_chosen.contains(leftover.url) ? Qt::Checked : Qt::Unchecked;
    case Qt::ToolTipRole:
        return DisplayText::singleLine(leftover.url);
    case CleanItemListModel::UrlRole:
        return leftover.url;
    case CleanItemListModel::ParentRole:
        return DisplayText::singleLine(abbreviateHome(parentOf(leftover.url), QDir::homePath()));
    case CleanItemListModel::SizeTextRole:
        return formatBytes(leftover.size);
    case CleanItemListModel::SizeRole:
        return leftover.size;
    default:
        return {};
    }
}

bool LeftoverListModel::setData(const QModelIndex& index, const QVariant&, int role)
{
    if (role != Qt::CheckStateRole ||
        !checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return false;
    const QString url = m_leftovers.at(index.row()).url;
    // The tick changes when the uninstaller model reports the new choice.
    m_model->setLeftoverChosen(url, !m_model->selectedLeftovers().contains(url));
    return true;
}

Qt::ItemFlags LeftoverListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable;
}

QString LeftoverListModel::abbreviateHome(const QString& folder, const QString& home)
{
    if (home.isEmpty() || home == u"/" || !folder.startsWith(home)) return folder;
    // "~" stands for the home folder only at the start of a path and only as whole components:
    // with the home "/home/an", "/home/anna" is another user's folder, and "/mnt/x/home/an" is
    // not the home folder either.
    if (folder.size() != home.size() && folder.at(home.size()) != u'/') return folder;
    return QStringLiteral("~") + folder.mid(home.size());
}

void LeftoverListModel::reset()
{
    beginResetModel();
    m_leftovers = m_model->leftovers();
    m_chosen = m_model->selectedLeftovers();
    endResetModel();
}

void LeftoverListModel::syncChoice()
{
    const QSet<QString> next = m_model->selectedLeftovers();
    const QSet<QString> before = m_chosen;
    m_chosen = next;
    for (int row = 0; row < m_leftovers.size(); ++row) {
        const QString& url = m_leftovers.at(row).url;
        if (before.contains(url) != next.contains(url))
            emit dataChanged(index(row), index(row), {Qt::CheckStateRole});
    }
}
