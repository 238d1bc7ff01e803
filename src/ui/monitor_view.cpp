#include "ui/monitor_view.h"

#include "monitor/monitor_model.h"
#include "monitor/system_info.h"
#include "ui/destinations.h"
#include "ui/dialogs.h"
#include "ui/display_text.h"
#include "ui/monitor_text.h"
#include "ui/monitor_widgets.h"
#include "ui/panels.h"
#include "ui/process_table_model.h"
#include "ui/usage_chart.h"

#include <QButtonGroup>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace {

constexpr int kCardMinimum = 190;
constexpr int kGap = 12;
constexpr int kTableHeight = 360;
constexpr int kPickerWidth = 220;

QColor secondaryColour(const QPalette& palette)
{
    QColor colour = palette.color(QPalette::Text);
    colour.setAlphaF(0.62);
    return colour;
}

/// Numbers of the process table with digits of equal width; the pid in the secondary colour.
class ProcessCellDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override
    {
        if (index.column() == ProcessTableModel::Name) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        QStyleOptionViewItem cell(option);
        initStyleOption(&cell, index);
        const QString text = cell.text;
        cell.text.clear();
        const QWidget* widget = option.widget;
        QStyle* style = widget ? widget->style() : nullptr;
        if (style) style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, widget);
        painter->save();
        const bool selected = cell.state & QStyle::State_Selected;
        QColor pen = selected ? cell.palette.color(QPalette::HighlightedText)
                              : cell.palette.color(QPalette::Text);
        if (!selected && index.column() == ProcessTableModel::Pid)
            pen = secondaryColour(cell.palette);
        painter->setPen(pen);
        painter->setFont(cell.font);
        DisplayText::drawTabular(*painter, cell.rect.adjusted(6, 0, -6, 0), Qt::AlignRight, text);
        painter->restore();
    }
};

void makeDestructive(QPushButton* button)
{
    QPalette colours = button->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        colours.setColor(group, QPalette::Button, MonitorColours::red());
        colours.setColor(group, QPalette::ButtonText, Qt::white);
    }
    button->setPalette(colours);
}

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
    connect(m_model, &MonitorModel::topProcessesChanged, this, &MonitorView::refreshProcesses);
    connect(m_model, &MonitorModel::processSortChanged, this, &MonitorView::refreshSort);
    connect(m_model, &MonitorModel::messageChanged, this, &MonitorView::refreshMessage);

    refreshSnapshot();
    refreshDisk();
    refreshClock();
    refreshProcesses();
    refreshSort();
    refreshMessage();
}

MonitorView::~MonitorView()
{
    // Deleted while still shown (its window went away): it watches no longer.
    if (m_watching) m_model->stop();
}

QMessageBox* MonitorView::quitConfirmation() const
{
    return m_confirmation;
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
    auto* machine =
        new QLabel(SystemInfo::chip() + QStringLiteral(" · ") + SystemInfo::model(), header);
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
    TabularLabel* os = addInfoRow(column, QStringLiteral("infoOs"), QStringLiteral("macOS"));
    os->setText(DisplayText::singleLine(SystemInfo::osVersion()));
    return box;
}

QWidget* MonitorView::buildProcesses(QWidget* parent)
{
    auto* box = new SymbolBox(QStringLiteral("list.bullet.rectangle"), QStringLiteral("Tiến trình"),
                              parent);
    box->setObjectName(QStringLiteral("processBox"));
    QVBoxLayout* column = box->content();
    column->setContentsMargins(14, 14, 14, 14);
    column->setSpacing(8);

    auto* controls = new QHBoxLayout;
    auto* pickerLabel = new QLabel(QStringLiteral("Sắp xếp theo"), box);
    auto* picker = new QWidget(box);
    picker->setObjectName(QStringLiteral("processSortPicker"));
    picker->setAccessibleName(QStringLiteral("Sắp xếp theo"));
    picker->setFixedWidth(kPickerWidth);
    auto* segments = new QHBoxLayout(picker);
    segments->setContentsMargins(0, 0, 0, 0);
    segments->setSpacing(0);
    auto* group = new QButtonGroup(picker);
    group->setExclusive(true);
    for (const ProcessSort sort : allProcessSorts()) {
        auto* segment = new QPushButton(title(sort), picker);
        segment->setObjectName(sort == ProcessSort::cpu ? QStringLiteral("sortCpuButton")
                                                        : QStringLiteral("sortMemoryButton"));
        segment->setCheckable(true);
        segment->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        group->addButton(segment);
        segments->addWidget(segment);
        (sort == ProcessSort::cpu ? m_sortCpu : m_sortMemory) = segment;
        connect(segment, &QPushButton::clicked, this,
                [this, sort] { m_model->setProcessSort(sort); });
    }
    m_quit = new QPushButton(QStringLiteral("Thoát tiến trình"), box);
    m_quit->setObjectName(QStringLiteral("quitProcessButton"));
    connect(m_quit, &QPushButton::clicked, this, &MonitorView::confirmQuit);
    controls->addWidget(pickerLabel);
    controls->addWidget(picker);
    controls->addStretch(1);
    controls->addWidget(m_quit);
    column->addLayout(controls);

    m_processes = new ProcessTableModel(this);
    m_table = new QTableView(box);
    m_table->setObjectName(QStringLiteral("processTable"));
    m_table->setModel(m_processes);
    m_table->setItemDelegate(new ProcessCellDelegate(m_table));
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setWordWrap(false);
    m_table->setTextElideMode(Qt::ElideRight);
    m_table->setShowGrid(false);
    m_table->setAlternatingRowColors(true);
    m_table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->setFixedHeight(kTableHeight);
    QHeaderView* header = m_table->horizontalHeader();
    header->setSectionResizeMode(ProcessTableModel::Name, QHeaderView::Stretch);
    header->setMinimumSectionSize(40);
    const std::pair<int, int> widths[] = {{ProcessTableModel::Cpu, 70},
                                          {ProcessTableModel::Memory, 90},
                                          {ProcessTableModel::Pid, 60}};
    for (const auto& [section, width] : widths) {
        header->setSectionResizeMode(section, QHeaderView::Fixed);
        header->resizeSection(section, width);
    }
    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &MonitorView::selectionEdited);
    column->addWidget(m_table);

    auto* caption = new QLabel(QStringLiteral("Chỉ hiển thị tiến trình của tài khoản bạn. Tiến "
                                              "trình hệ thống cần quyền quản trị."),
                               box);
    caption->setObjectName(QStringLiteral("processCaption"));
    caption->setWordWrap(true);
    TextStyle::caption(caption);
    TextStyle::secondary(caption);
    column->addWidget(caption);
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

void MonitorView::refreshProcesses()
{
    m_syncingSelection = true;
    m_processes->setProcesses(m_model->topProcesses());
    // The selection follows the pid: it comes back when the process rejoins the table.
    QItemSelectionModel* selection = m_table->selectionModel();
    const int row = m_selectedPid ? m_processes->rowOfPid(*m_selectedPid) : -1;
    if (row >= 0 && !selection->isRowSelected(row, {}))
        m_table->selectRow(row);
    else if (row < 0 && selection->hasSelection())
        selection->clearSelection();
    m_syncingSelection = false;
}

void MonitorView::selectionEdited()
{
    if (m_syncingSelection) return;
    const QModelIndexList rows = m_table->selectionModel()->selectedRows();
    if (rows.isEmpty())
        m_selectedPid.reset();
    else
        m_selectedPid = rows.first().data(ProcessTableModel::PidRole).toInt();
    m_quit->setEnabled(m_selectedPid.has_value());
}

void MonitorView::refreshSort()
{
    const ProcessSort sort = m_model->processSort();
    m_sortCpu->setChecked(sort == ProcessSort::cpu);
    m_sortMemory->setChecked(sort == ProcessSort::memory);
    m_quit->setEnabled(m_selectedPid.has_value());
}

void MonitorView::confirmQuit()
{
    if (m_confirmation || !m_selectedPid) return;
    const QList<ProcessStat>& listed = m_model->topProcesses();
    const auto found = std::find_if(listed.begin(), listed.end(), [this](const ProcessStat& p) {
        return p.pid == *m_selectedPid;
    });
    if (found == listed.end()) return;
    // A copy: the quit request is about the process as it was when the user asked.
    const ProcessStat process = *found;
    const QString title =
        QStringLiteral("Thoát ") + DisplayText::singleLine(process.name) + QStringLiteral("?");
    auto* dialog = new QMessageBox(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setObjectName(QStringLiteral("quitConfirmation"));
    dialog->setIcon(QMessageBox::Warning);
    dialog->setWindowTitle(title);
    dialog->setTextFormat(Qt::PlainText);
    // The title is repeated inside: not every window manager shows a dialog's title.
    dialog->setText(title);
    setPlainInformativeText(dialog,
                            QStringLiteral("Dữ liệu chưa lưu trong tiến trình này có thể bị mất."));
    QPushButton* confirm = dialog->addButton(QStringLiteral("Thoát"), QMessageBox::DestructiveRole);
    confirm->setObjectName(QStringLiteral("confirmButton"));
    makeDestructive(confirm);
    QPushButton* cancel = dialog->addButton(QStringLiteral("Huỷ"), QMessageBox::RejectRole);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    dialog->setDefaultButton(cancel);
    dialog->setEscapeButton(cancel);
    connect(dialog, &QMessageBox::finished, this, [this, dialog, confirm, process] {
        const bool confirmed = dialog->clickedButton() == confirm;
        m_confirmation = nullptr;
        if (confirmed) m_model->quit(process);
    });
    m_confirmation = dialog;
    dialog->open();
}

void MonitorView::refreshMessage()
{
    const std::optional<QString> message = m_model->message();
    if (m_alert) {
        updateMessageAlert(m_alert, message);
        return;
    }
    if (!message) return;
    m_alert = openMessageAlert(this, QStringLiteral("processAlert"), QMessageBox::Warning,
                               QStringLiteral("Tiến trình"), *message, [this](QMessageBox* alert) {
                                   if (m_alert == alert) m_alert = nullptr;
                                   // Dismissing the alert, whichever way, clears the message it
                                   // showed.
                                   m_model->clearMessage();
                               });
}
