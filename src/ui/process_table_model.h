#pragma once

#include "monitor/system_sampler.h"

#include <QAbstractTableModel>
#include <QList>

/// The rows of the process table. A new list updates the rows in place: rows are added or
/// dropped at the end, and persistent indexes (so the view's selection) move with their
/// process's pid to its new row, or become invalid when the pid is no longer listed.
class ProcessTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { Name, Cpu, Memory, Pid, ColumnCount };
    enum Role { PidRole = Qt::UserRole + 1 };

    explicit ProcessTableModel(QObject* parent = nullptr);

    void setProcesses(const QList<ProcessStat>& processes);
    const QList<ProcessStat>& processes() const { return m_processes; }
    /// Row of the process with this pid; -1 when it is not listed.
    int rowOfPid(qint32 pid) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    QList<ProcessStat> m_processes;
};
