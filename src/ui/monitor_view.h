#pragma once

#include "core/category.h"

#include <QScrollArea>

class CardGrid;
class CoreLoadList;
class MonitorModel;
class ProcessPanel;
class QVBoxLayout;
class StatCardWidget;
class TabularLabel;

/// The system-monitor screen: summary cards, the two-minute chart, per-core load, memory and
/// system details, and the busiest processes, one of which the user may ask to quit. Sampling
/// runs while the screen is shown. Each sample updates the widgets that exist; only a change in
/// the number of processors or the battery's presence adds or removes widgets.
class MonitorView : public QScrollArea
{
    Q_OBJECT

public:
    explicit MonitorView(MonitorModel* model, QWidget* parent = nullptr);
    ~MonitorView() override;

    /// The process box.
    ProcessPanel* processes() const { return m_processes; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QWidget* buildHeader(QWidget* parent);
    QWidget* buildCards(QWidget* parent);
    QWidget* buildChart(QWidget* parent);
    QWidget* buildCores(QWidget* parent);
    QWidget* buildDetails(QWidget* parent);
    QWidget* buildProcesses(QWidget* parent);
    TabularLabel* addInfoRow(QVBoxLayout* column, const QString& name, const QString& label);

    void refreshSnapshot();
    void refreshClock();
    void refreshDisk();

    MonitorModel* m_model;
    bool m_watching = false;

    CardGrid* m_grid = nullptr;
    StatCardWidget* m_cpuCard = nullptr;
    StatCardWidget* m_memoryCard = nullptr;
    StatCardWidget* m_networkCard = nullptr;
    StatCardWidget* m_diskCard = nullptr;
    StatCardWidget* m_batteryCard = nullptr;
    DiskUsage m_disk;

    CoreLoadList* m_cores = nullptr;

    TabularLabel* m_appMemory = nullptr;
    TabularLabel* m_wired = nullptr;
    TabularLabel* m_compressed = nullptr;
    TabularLabel* m_cached = nullptr;
    TabularLabel* m_swap = nullptr;
    TabularLabel* m_load = nullptr;
    TabularLabel* m_uptime = nullptr;
    TabularLabel* m_thermal = nullptr;

    ProcessPanel* m_processes = nullptr;
};
