#include "ui/process_table_model.h"

#include "ui/display_text.h"
#include "ui/monitor_text.h"

#include <QHash>

ProcessTableModel::ProcessTableModel(QObject* parent) : QAbstractTableModel(parent) {}

int ProcessTableModel::rowOfPid(qint32 pid) const
{
    for (qsizetype row = 0; row < m_processes.size(); ++row)
        if (m_processes[row].pid == pid) return int(row);
    return -1;
}

void ProcessTableModel::setProcesses(const QList<ProcessStat>& processes)
{
    if (processes == m_processes) return;
    const int oldCount = int(m_processes.size());
    const int newCount = int(processes.size());

    // First the row count grows at the end, so that every new row exists when the persistent
    // indexes move; the rows it adds are overwritten just after.
    if (newCount > oldCount) {
        beginInsertRows({}, oldCount, newCount - 1);
        m_processes.append(processes.mid(oldCount));
        endInsertRows();
    }

    // Then the rows take their new processes, and each persistent index follows its pid.
    emit layoutAboutToBeChanged();
    QHash<qint32, int> newRows;
    for (int row = 0; row < newCount; ++row)
        newRows.insert(processes[row].pid, row);
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& index : before) {
        const auto found = newRows.constFind(m_processes[index.row()].pid);
        after.append(found == newRows.constEnd() ? QModelIndex()
                                                 : createIndex(*found, index.column()));
    }
    // Rows past the new count keep their old processes until they are removed below; no
    // persistent index points at them any more.
    QList<ProcessStat> next = processes;
    for (int row = newCount; row < int(m_processes.size()); ++row)
        next.append(m_processes[row]);
    m_processes = std::move(next);
    changePersistentIndexList(before, after);
    emit layoutChanged();

    if (newCount < int(m_processes.size())) {
        beginRemoveRows({}, newCount, int(m_processes.size()) - 1);
        m_processes.resize(newCount);
        endRemoveRows();
    }
    if (newCount > 0) emit dataChanged(index(0, 0), index(newCount - 1, ColumnCount - 1));
}

int ProcessTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_processes.size());
}

int ProcessTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ProcessTableModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const ProcessStat& process = m_processes[index.row()];
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case Name:
            // A process chooses its own name: it may hold line breaks or run very long.
            return DisplayText::isolated(DisplayText::singleLine(process.name));
        case Cpu:
            return MonitorText::oneDecimal(process.cpu);
        case Memory:
            return MonitorText::memory(process.memory);
        case Pid:
            return QString::number(process.pid);
        }
        break;
    case Qt::ToolTipRole:
        if (index.column() == Name) return DisplayText::toolTip(process.name);
        break;
    case Qt::TextAlignmentRole:
        if (index.column() != Name) return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    case PidRole:
        return process.pid;
    default:
        break;
    }
    return {};
}

QVariant ProcessTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case Name:
        return QStringLiteral("Tên");
    case Cpu:
        return QStringLiteral("CPU %");
    case Memory:
        return QStringLiteral("Bộ nhớ");
    case Pid:
        return QStringLiteral("PID");
    default:
        return {};
    }
}
