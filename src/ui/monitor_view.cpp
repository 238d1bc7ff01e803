#include "ui/monitor_view.h"

#include "monitor/monitor_model.h"
#include "monitor/system_info.h"
#include "platform/vocabulary.h"
#include "ui/destinations.h"
#include "ui/display_text.h"
#include "ui/monitor_text.h"
#include "ui/monitor_widgets.h"
#include "ui/panels.h"
#include "ui/process_panel.h"
#include "ui/usage_chart.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QRegularExpression>
#include <QVBoxLayout>

namespace {

constexpr int kCardMinimum = 190;
constexpr int kGap = 12;

} // namespace

QWidget* createMonitorScreen(const Models& models, QWidget* parent)
{
    return new MonitorView(models.monitor, parent);
}

MonitorView::MonitorView(MonitorModel* model, QWidget* parent)
    : QScrollArea(parent), m_model(model), m_disk(DiskUsage::current())
{
    setObjectName(Destination::monitor);
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);

    auto* content = new QWidget(this);
    content->setObjectName(QStringLiteral("monitorContent"));
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(24, 24, 24, 24);
    column->setSpacing(16);
    column->addWidget(buildHeader(content));
    column->addWidget(buildCards(content));
    column->addWidget(buildChart(content));
    auto* boxes = new QHBoxLayout;
    boxes->setSpacing(kGap);
    boxes->addWidget(buildCores(content), 1, Qt::AlignTop);
    boxes->addWidget(buildDetails(content), 1, Qt::AlignTop);
    column->addLayout(boxes);
    column->addWidget(buildProcesses(content));
    column->addStretch(1);
    setWidget(content);

    connect(m_model, &MonitorModel::snapshotChanged, this, &MonitorView::refreshSnapshot);
    // Uptime and thermal state are read at every redraw, and one comes with every sample.
    connect(m_model, &MonitorModel::historyChanged, this, &MonitorView::refreshClock);

    refreshSnapshot();
    refreshDisk();
    refreshClock();
}

MonitorView::~MonitorView()
{
    // Deleted while still shown (its window went away): it watches no longer.
    if (m_watching) m_model->stop();
}

void MonitorView::showEvent(QShowEvent* event)
{
    QScrollArea::showEvent(event);
    refreshDisk();
    refreshClock();
    if (m_watching) return;
    m_watching = true;
    m_model->start();
}

void MonitorView::hideEvent(QHideEvent* event)
{
    QScrollArea::hideEvent(event);
    if (!m_watching) return;
    m_watching = false;
    m_model->stop();
}

QWidget* MonitorView::buildHeader(QWidget* parent)
{
    auto* header = new QWidget(parent);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(0, 0, 0, 0);
    auto* title = new QLabel(QStringLiteral("Theo dõi hệ thống"), header);
    title->setObjectName(QStringLiteral("monitorTitle"));
    TextStyle::largeTitle(title);
    auto* machine = new QLabel(QStringList{SystemInfo::chip(), SystemInfo::model()}
                                   .filter(QRegularExpression(QStringLiteral("\\S")))
                                   .join(QStringLiteral(" · ")),
                               header);
    machine->setObjectName(QStringLiteral("machineLabel"));
    machine->setTextFormat(Qt::PlainText);
    TextStyle::secondary(machine);
    // Box layouts have no baseline alignment; the bottoms of the two lines come close to it.
    row->addWidget(title, 0, Qt::AlignBottom);
    row->addStretch(1);
    row->addWidget(machine, 0, Qt::AlignBottom);
    return header;
}

QWidget* MonitorView::buildCards(QWidget* parent)
{
    m_grid = new CardGrid(kCardMinimum, kGap, parent);
    m_grid->setObjectName(QStringLiteral("cardGrid"));
    const auto card = [this](const QString& name) {
        auto* widget = new StatCardWidget(m_grid);
        widget->setObjectName(name);
        m_grid->addCard(widget);
        return widget;
    };
    m_cpuCard = card(QStringLiteral("cpuCard"));
    m_memoryCard = card(QStringLiteral("memoryCard"));
    m_networkCard = card(QStringLiteral("networkCard"));
    m_diskCard = card(QStringLiteral("diskCard"));
    m_batteryCard = card(QStringLiteral("batteryCard"));
    m_batteryCard->hide();
    m_grid->relayout();
    return m_grid;
}

QWidget* MonitorView::buildChart(QWidget* parent)
{
    auto* box = new SymbolBox(QStringLiteral("chart.xyaxis.line"),
                              QStringLiteral("2 phút gần nhất (%)"), parent);
    box->setObjectName(QStringLiteral("chartBox"));
    auto* chart = new UsageChart(m_model, box);
    chart->setObjectName(QStringLiteral("usageChart"));
    box->content()->addWidget(chart);
    return box;
}

QWidget* MonitorView::buildCores(QWidget* parent)
{
    auto* box = new SymbolBox(QStringLiteral("cpu"), QStringLiteral("Từng nhân CPU"), parent);
    box->setObjectName(QStringLiteral("coresBox"));
    box->content()->setContentsMargins(14, 14, 14, 14);
    m_cores = new CoreLoadList(box);
    m_cores->setObjectName(QStringLiteral("coreList"));
    box->content()->addWidget(m_cores);
    return box;
}

TabularLabel* MonitorView::addInfoRow(QVBoxLayout* column, const QString& name,
                                      const QString& label)
{
    auto* row = new QWidget(column->parentWidget());
    auto* line = new QHBoxLayout(row);
    line->setContentsMargins(0, 0, 0, 0);
    auto* text = new QLabel(label, row);
    TextStyle::callout(text);
    TextStyle::secondary(text);
    auto* value = new TabularLabel(row);
    value->setObjectName(name);
    value->setAlignment(Qt::AlignRight);
    TextStyle::callout(value);
    line->addWidget(text);
    line->addStretch(1);
    line->addWidget(value);
    column->addWidget(row);
    return value;
}

QWidget* MonitorView::buildDetails(QWidget* parent)
{
    auto* box = new SymbolBox(QStringLiteral("info.circle"), QStringLiteral("Chi tiết"), parent);
    box->setObjectName(QStringLiteral("detailsBox"));
    QVBoxLayout* column = box->content();
    column->setContentsMargins(14, 14, 14, 14);
    column->setSpacing(6);
    m_appMemory =
        addInfoRow(column, QStringLiteral("infoAppMemory"), QStringLiteral("Bộ nhớ ứng dụng"));
    m_wired =
        addInfoRow(column, QStringLiteral("infoWired"), QStringLiteral("Bộ nhớ hệ thống (wired)"));
    m_compressed =
        addInfoRow(column, QStringLiteral("infoCompressed"), QStringLiteral("Bộ nhớ nén"));
    m_cached = addInfoRow(column, QStringLiteral("infoCached"), QStringLiteral("Bộ đệm file"));
    m_swap = addInfoRow(column, QStringLiteral("infoSwap"), QStringLiteral("Swap"));
    auto* divider = new QFrame(column->parentWidget());
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    column->addWidget(divider);
    m_load = addInfoRow(column, QStringLiteral("infoLoad"), QStringLiteral("Tải trung bình"));
    m_uptime = addInfoRow(column, QStringLiteral("infoUptime"), QStringLiteral("Thời gian chạy"));
    m_thermal = addInfoRow(column, QStringLiteral("infoThermal"), QStringLiteral("Nhiệt độ"));
    TabularLabel* os =
        addInfoRow(column, QStringLiteral("infoOs"), Vocabulary::words().operatingSystem);
    os->setText(DisplayText::singleLine(SystemInfo::osVersion()));
    return box;
}

QWidget* MonitorView::buildProcesses(QWidget* parent)
{
    auto* box = new SymbolBox(QStringLiteral("list.bullet.rectangle"), QStringLiteral("Tiến trình"),
                              parent);
    box->setObjectName(QStringLiteral("processBox"));
    box->content()->setContentsMargins(14, 14, 14, 14);
    m_processes = new ProcessPanel(m_model, box);
    box->content()->addWidget(m_processes);
    return box;
}

void MonitorView::refreshSnapshot()
{
    const SystemSnapshot& s = m_model->snapshot();
    m_cpuCard->setCard(MonitorCards::cpu(s));
    m_memoryCard->setCard(MonitorCards::memory(s));
    m_networkCard->setCard(MonitorCards::network(s));
    if (s.battery) m_batteryCard->setCard(MonitorCards::battery(*s.battery));
    if (m_batteryCard->isHidden() == s.battery.has_value()) {
        m_batteryCard->setVisible(s.battery.has_value());
        m_grid->relayout();
    }
    m_cores->setLoads(s.cores);

    const MemoryInfo& memory = s.memory;
    m_appMemory->setText(MonitorText::memory(memory.app));
    m_wired->setText(MonitorText::memory(memory.wired));
    m_compressed->setText(MonitorText::memory(memory.compressed));
    m_cached->setText(MonitorText::memory(memory.cached));
    m_swap->setText(MonitorText::memory(memory.swapUsed) + QStringLiteral(" / ") +
                    MonitorText::memory(memory.swapTotal));
    m_load->setText(MonitorText::loads(s.load));
}

void MonitorView::refreshClock()
{
    m_uptime->setText(MonitorText::uptime(SystemInfo::uptime()));
    m_thermal->setText(MonitorText::thermalWord(SystemInfo::thermalState()));
}

void MonitorView::refreshDisk()
{
    m_disk = DiskUsage::current();
    m_diskCard->setCard(MonitorCards::disk(m_disk));
}
