#pragma once

#include "monitor/monitor_model.h"

#include <QWidget>

class QChart;
class QChartView;
class QDateTimeAxis;
class QLineSeries;

/// The two-minute line chart of CPU and memory use, 0–100 % on a fixed scale, with its key and
/// the "collecting" indicator that covers it while fewer than two points exist. Follows the
/// model's history point by point: a new sample appends to each series and drops what left the
/// history, nothing is rebuilt.
class UsageChart : public QWidget
{
    Q_OBJECT

public:
    explicit UsageChart(MonitorModel* model, QWidget* parent = nullptr);

    /// Points on the chart, per series.
    int pointCount() const;

private:
    void buildAxes();
    void buildCollecting();
    QWidget* buildKey();
    void resync();
    void append(const HistoryPoint& point);
    void removeFront(int count);
    void refreshRange();

    MonitorModel* m_model;
    QChartView* m_view;
    QChart* m_chart;
    QLineSeries* m_cpu;
    QLineSeries* m_memory;
    QDateTimeAxis* m_time;
    QWidget* m_collecting;
};
