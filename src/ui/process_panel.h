#pragma once

#include <QPointer>
#include <QWidget>
#include <optional>

class MessageAlert;
class MonitorModel;
class ProcessTableModel;
class QAbstractButton;
class QMessageBox;
class QPushButton;
class QTableView;

/// The process box of the monitor screen: the sort picker, the busiest processes, and the quit
/// button with its confirmation; a refused quit is shown in the "Tiến trình" alert. The
/// selection follows the pid: it survives the process leaving and rejoining the table.
class ProcessPanel : public QWidget
{
    Q_OBJECT

public:
    explicit ProcessPanel(MonitorModel* model, QWidget* parent = nullptr);

    /// Pid of the row the user selected.
    std::optional<qint32> selectedPid() const { return m_selectedPid; }
    /// The quit confirmation while it is shown.
    QMessageBox* confirmation() const;

private:
    QWidget* buildControls();
    QTableView* buildTable();
    void refreshProcesses();
    void refreshSort();
    void selectionEdited();
    void confirmQuit();

    MonitorModel* m_model;
    std::optional<qint32> m_selectedPid;
    bool m_syncingSelection = false;
    QAbstractButton* m_sortCpu = nullptr;
    QAbstractButton* m_sortMemory = nullptr;
    QPushButton* m_quit = nullptr;
    QTableView* m_table = nullptr;
    ProcessTableModel* m_processes = nullptr;
    QPointer<QMessageBox> m_confirmation;
    MessageAlert* m_alert = nullptr;
};
