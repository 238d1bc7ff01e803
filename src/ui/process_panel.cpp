#include "ui/process_panel.h"

#include "monitor/monitor_model.h"
#include "ui/dialogs.h"
#include "ui/display_text.h"
#include "ui/palette.h"
#include "ui/panels.h"
#include "ui/process_table_model.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>

namespace {

constexpr int kTableHeight = 360;
constexpr int kPickerWidth = 220;

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
        if (QStyle* style = widget ? widget->style() : nullptr)
            style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, widget);
        painter->save();
        const bool selected = cell.state & QStyle::State_Selected;
        QColor pen = cell.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
        if (!selected && index.column() == ProcessTableModel::Pid)
            pen = Palette::colour(Palette::Role::secondaryText, cell.palette);
        painter->setPen(pen);
        painter->setFont(cell.font);
        DisplayText::drawTabular(*painter, cell.rect.adjusted(6, 0, -6, 0), Qt::AlignRight, text);
        painter->restore();
    }
};

} // namespace

ProcessPanel::ProcessPanel(MonitorModel* model, QWidget* parent)
    : QWidget(parent), m_model(model),
      m_alert(new MessageAlert(
          this, QStringLiteral("processAlert"), QMessageBox::Warning, QStringLiteral("Tiến trình"),
          {[model] { return model->message(); }, [model] { model->clearMessage(); }}))
{
    setObjectName(QStringLiteral("processPanel"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
    column->addWidget(buildControls());
    column->addWidget(buildTable());
    auto* caption = new QLabel(QStringLiteral("Chỉ hiển thị tiến trình của tài khoản bạn. Tiến "
                                              "trình hệ thống cần quyền quản trị."),
                               this);
    caption->setObjectName(QStringLiteral("processCaption"));
    caption->setWordWrap(true);
    TextStyle::caption(caption);
    TextStyle::secondary(caption);
    column->addWidget(caption);

    connect(m_model, &MonitorModel::topProcessesChanged, this, &ProcessPanel::refreshProcesses);
    connect(m_model, &MonitorModel::processSortChanged, this, &ProcessPanel::refreshSort);
    connect(m_model, &MonitorModel::messageChanged, m_alert, [this] { m_alert->sync(); });
    refreshProcesses();
    refreshSort();
    m_alert->sync();
}

QWidget* ProcessPanel::buildControls()
{
    auto* controls = new QWidget(this);
    auto* row = new QHBoxLayout(controls);
    row->setContentsMargins(0, 0, 0, 0);
    auto* pickerLabel = new QLabel(QStringLiteral("Sắp xếp theo"), controls);
    pickerLabel->setObjectName(QStringLiteral("sortLabel"));
    auto* picker = new QWidget(controls);
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
    m_quit = new QPushButton(QStringLiteral("Thoát tiến trình"), controls);
    m_quit->setObjectName(QStringLiteral("quitProcessButton"));
    connect(m_quit, &QPushButton::clicked, this, &ProcessPanel::confirmQuit);
    row->addWidget(pickerLabel);
    row->addWidget(picker);
    row->addStretch(1);
    row->addWidget(m_quit);
    return controls;
}

QTableView* ProcessPanel::buildTable()
{
    m_processes = new ProcessTableModel(this);
    m_table = new QTableView(this);
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
            &ProcessPanel::selectionEdited);
    return m_table;
}

QMessageBox* ProcessPanel::confirmation() const
{
    return m_confirmation;
}

void ProcessPanel::refreshProcesses()
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

void ProcessPanel::selectionEdited()
{
    if (m_syncingSelection) return;
    const QModelIndexList rows = m_table->selectionModel()->selectedRows();
    if (rows.isEmpty())
        m_selectedPid.reset();
    else
        m_selectedPid = rows.first().data(ProcessTableModel::PidRole).toInt();
    m_quit->setEnabled(m_selectedPid.has_value());
}

void ProcessPanel::refreshSort()
{
    const ProcessSort sort = m_model->processSort();
    m_sortCpu->setChecked(sort == ProcessSort::cpu);
    m_sortMemory->setChecked(sort == ProcessSort::memory);
    m_quit->setEnabled(m_selectedPid.has_value());
}

void ProcessPanel::confirmQuit()
{
    if (m_confirmation || !m_selectedPid) return;
    const QList<ProcessStat>& listed = m_model->topProcesses();
    const auto found = std::find_if(listed.begin(), listed.end(), [this](const ProcessStat& p) {
        return p.pid == *m_selectedPid;
    });
    if (found == listed.end()) return;
    const ProcessStat& process = *found;
    m_confirmation =
        Dialogs::confirm(this,
                         {QStringLiteral("quitConfirmation"),
                          QStringLiteral("Thoát ") + process.name + QStringLiteral("?"),
                          QStringLiteral("Dữ liệu chưa lưu trong tiến trình này có thể bị mất."),
                          QStringLiteral("Thoát")},
                         // A copy: the quit request is about the process as it was when
                         // the user asked.
                         [this, process](bool confirmed) {
                             m_confirmation = nullptr;
                             if (confirmed) m_model->quit(process);
                         });
}
