#include "ui/usage_chart.h"

#include "ui/palette.h"
#include "ui/panels.h"
#include "ui/spinner.h"

#include <QChart>
#include <QChartView>
#include <QDateTimeAxis>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegend>
#include <QLineSeries>
#include <QValueAxis>

namespace {

constexpr int kChartHeight = 160;

QWidget* keyEntry(const QString& name, const QColor& colour, QWidget* parent)
{
    auto* entry = new QWidget(parent);
    auto* row = new QHBoxLayout(entry);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(4);
    auto* swatch = new QWidget(entry);
    swatch->setFixedSize(10, 10);
    swatch->setAutoFillBackground(true);
    QPalette colours = swatch->palette();
    colours.setColor(QPalette::Window, colour);
    swatch->setPalette(colours);
    auto* label = new QLabel(name, entry);
    TextStyle::caption(label);
    row->addWidget(swatch);
    row->addWidget(label);
    return entry;
}

QLineSeries* makeSeries(const QString& name, const QColor& colour, QObject* parent)
{
    auto* series = new QLineSeries(parent);
    series->setName(name);
    QPen pen(colour);
    pen.setWidthF(2);
    series->setPen(pen);
    return series;
}

} // namespace

UsageChart::UsageChart(MonitorModel* model, QWidget* parent) : QWidget(parent), m_model(model)
{
    m_chart = new QChart;
    m_chart->legend()->hide();
    m_chart->setBackgroundVisible(false);
    m_chart->setMargins(QMargins(0, 0, 0, 0));
    m_cpu = makeSeries(QStringLiteral("CPU"), Palette::colour(Palette::Role::cpuSeries, palette()),
                       m_chart);
    m_memory = makeSeries(QStringLiteral("Bộ nhớ"),
                          Palette::colour(Palette::Role::memorySeries, palette()), m_chart);
    m_chart->addSeries(m_cpu);
    m_chart->addSeries(m_memory);

    buildAxes();

    m_view = new QChartView(m_chart, this);
    m_view->setObjectName(QStringLiteral("usageChartView"));
    m_view->setRenderHint(QPainter::Antialiasing);
    m_view->setFixedHeight(kChartHeight);
    m_view->setFrameShape(QFrame::NoFrame);
    // The chart lies on the box's panel, like the rest of its content.
    QPalette see = m_view->palette();
    see.setColor(QPalette::Base, Qt::transparent);
    m_view->setPalette(see);

    buildCollecting();
    QWidget* key = buildKey();

    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setVerticalSpacing(4);
    // The indicator shares the chart's cell and lies on top of it.
    layout->addWidget(m_view, 0, 0);
    layout->addWidget(m_collecting, 0, 0, Qt::AlignCenter);
    layout->addWidget(key, 1, 0);
    m_collecting->raise();

    connect(m_model, &MonitorModel::historyPointAppended, this, &UsageChart::append);
    connect(m_model, &MonitorModel::historyPointsRemoved, this, &UsageChart::removeFront);
    resync();
}

void UsageChart::buildAxes()
{
    m_time = new QDateTimeAxis(m_chart);
    m_time->setTitleText(QStringLiteral("Thời gian"));
    m_time->setFormat(QStringLiteral("HH:mm:ss"));
    m_time->setTickCount(5);
    auto* percent = new QValueAxis(m_chart);
    percent->setObjectName(QStringLiteral("percentAxis"));
    percent->setTitleText(QStringLiteral("%"));
    percent->setRange(0, 100);
    percent->setLabelFormat(QStringLiteral("%d"));
    percent->setTickCount(5);
    QFont small = font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    for (QAbstractAxis* axis :
         {static_cast<QAbstractAxis*>(m_time), static_cast<QAbstractAxis*>(percent)}) {
        axis->setLabelsFont(small);
        axis->setTitleFont(small);
        axis->setLabelsColor(palette().color(QPalette::WindowText));
        axis->setTitleBrush(palette().color(QPalette::WindowText));
    }
    m_chart->addAxis(m_time, Qt::AlignBottom);
    m_chart->addAxis(percent, Qt::AlignLeft);
    for (QLineSeries* series : {m_cpu, m_memory}) {
        series->attachAxis(m_time);
        series->attachAxis(percent);
    }
}

void UsageChart::buildCollecting()
{
    m_collecting = new QWidget(this);
    m_collecting->setObjectName(QStringLiteral("collectingIndicator"));
    auto* collectingRow = new QHBoxLayout(m_collecting);
    collectingRow->setContentsMargins(0, 0, 0, 0);
    collectingRow->setSpacing(8);
    collectingRow->addWidget(new Spinner(16, m_collecting));
    auto* collectingText = new QLabel(QStringLiteral("Đang thu thập số liệu..."), m_collecting);
    collectingText->setObjectName(QStringLiteral("collectingText"));
    TextStyle::secondary(collectingText);
    collectingRow->addWidget(collectingText);
}

QWidget* UsageChart::buildKey()
{
    auto* key = new QWidget(this);
    key->setObjectName(QStringLiteral("chartKey"));
    auto* keyRow = new QHBoxLayout(key);
    keyRow->setContentsMargins(0, 0, 0, 0);
    keyRow->setSpacing(12);
    auto* keyTitle = new QLabel(QStringLiteral("Loại"), key);
    TextStyle::caption(keyTitle);
    TextStyle::secondary(keyTitle);
    keyRow->addWidget(keyTitle);
    keyRow->addWidget(
        keyEntry(QStringLiteral("CPU"), Palette::colour(Palette::Role::cpuSeries, palette()), key));
    keyRow->addWidget(keyEntry(QStringLiteral("Bộ nhớ"),
                               Palette::colour(Palette::Role::memorySeries, palette()), key));
    keyRow->addStretch(1);
    return key;
}

int UsageChart::pointCount() const
{
    return int(m_cpu->count());
}

void UsageChart::resync()
{
    QList<QPointF> cpu;
    QList<QPointF> memory;
    for (const HistoryPoint& point : m_model->history()) {
        const double x = double(point.time.toMSecsSinceEpoch());
        cpu.append({x, point.cpu});
        memory.append({x, point.memory});
    }
    m_cpu->replace(cpu);
    m_memory->replace(memory);
    refreshRange();
}

void UsageChart::append(const HistoryPoint& point)
{
    const double x = double(point.time.toMSecsSinceEpoch());
    m_cpu->append(x, point.cpu);
    m_memory->append(x, point.memory);
    if (m_cpu->count() != m_model->history().size())
        resync();
    else
        refreshRange();
}

void UsageChart::removeFront(int count)
{
    count = std::min(count, int(m_cpu->count()));
    if (count <= 0) return;
    m_cpu->removePoints(0, count);
    m_memory->removePoints(0, count);
    // The signals carry every change; a mismatch means one was missed, so start over.
    if (m_cpu->count() != m_model->history().size())
        resync();
    else
        refreshRange();
}

void UsageChart::refreshRange()
{
    const int count = int(m_cpu->count());
    m_collecting->setVisible(m_model->history().size() < 2);
    if (count == 0) {
        const QDateTime now = QDateTime::currentDateTime();
        m_time->setRange(now.addSecs(-120), now);
        return;
    }
    const qint64 first = qint64(m_cpu->at(0).x());
    const qint64 last = qint64(m_cpu->at(count - 1).x());
    m_time->setRange(QDateTime::fromMSecsSinceEpoch(first),
                     QDateTime::fromMSecsSinceEpoch(std::max(last, first + 1000)));
}
