#include "ui/overview_view.h"

#include "core/app_model.h"
#include "ui/elided_label.h"
#include "ui/panels.h"
#include "ui/search_note.h"
#include "ui/spinner.h"
#include "ui/symbols.h"
#include "ui/update_banner.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace {

// The bar works in ints; this many steps are finer than any bar is wide.
constexpr int kBarSteps = 10000;

bool anyScanning(const AppModel& model)
{
    for (const Category& category : Category::all())
        if (model.state(category).scanning) return true;
    return false;
}

/// One category row of the list: the whole row is one flat button.
class CategoryRowButton : public QPushButton
{
public:
    explicit CategoryRowButton(QWidget* parent) : QPushButton(parent)
    {
        setFlat(true);
        setCursor(Qt::PointingHandCursor);
        setMinimumHeight(34);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }
};

} // namespace

OverviewView::OverviewView(const Models& models, QWidget* parent)
    : QWidget(parent), m_model(models.model)
{
    setObjectName(QStringLiteral("overview"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    // Compact enough that the banner, the disk and all six rows fit the window's minimum height.
    layout->setSpacing(12);

    auto* title = new QLabel(QStringLiteral("Tổng quan"), this);
    title->setObjectName(QStringLiteral("overviewTitle"));
    TextStyle::largeTitle(title);
    layout->addWidget(title);
    layout->addWidget(new UpdateBanner(models.updater, this));
    layout->addWidget(buildDiskBox());
    layout->addWidget(buildSummary());
    layout->addWidget(buildCategoryList(), 1);

    connect(m_model, &AppModel::diskChanged, this, &OverviewView::refreshDisk);
    connect(m_model, &AppModel::totalReclaimableChanged, this, &OverviewView::refreshTotals);
    connect(m_model, &AppModel::stateChanged, this, [this](const QString& id) {
        refreshRow(id);
        refreshTotals();
    });
    refreshDisk();
    refreshTotals();
    for (const Category& category : Category::all())
        refreshRow(category.id);
}

QWidget* OverviewView::buildDiskBox()
{
    auto* box = new SymbolBox(QStringLiteral("internaldrive"), QStringLiteral("Ổ đĩa"), this);
    box->setObjectName(QStringLiteral("diskBox"));
    box->content()->setContentsMargins(6 + 4, 6 + 4, 6 + 4, 6 + 4);
    box->content()->setSpacing(8);
    m_diskBar = new QProgressBar(box);
    m_diskBar->setObjectName(QStringLiteral("diskBar"));
    m_diskBar->setTextVisible(false);
    m_diskBar->setRange(0, kBarSteps);
    m_diskLine = new QLabel(box);
    m_diskLine->setObjectName(QStringLiteral("diskLine"));
    TextStyle::callout(m_diskLine);
    TextStyle::secondary(m_diskLine);
    box->content()->addWidget(m_diskBar);
    box->content()->addWidget(m_diskLine);
    return box;
}

QWidget* OverviewView::buildSummary()
{
    auto* summary = new QWidget(this);
    auto* row = new QHBoxLayout(summary);
    row->setContentsMargins(0, 0, 0, 0);
    m_total = new QLabel(summary);
    m_total->setObjectName(QStringLiteral("reclaimableTotal"));
    QFont big = m_total->font();
    big.setPointSize(40);
    big.setBold(true);
    m_total->setFont(big);
    auto* caption = new QLabel(QStringLiteral("có thể dọn"), summary);
    caption->setObjectName(QStringLiteral("reclaimableCaption"));
    TextStyle::secondary(caption);
    m_scanAll =
        new QPushButton(Symbols::icon(QStringLiteral("arrow.clockwise")), QString(), summary);
    m_scanAll->setObjectName(QStringLiteral("scanAllButton"));
    // Bottom alignment puts the caption on the big figure's baseline closely enough; box
    // layouts have no baseline alignment.
    row->addWidget(m_total, 0, Qt::AlignBottom);
    row->addWidget(caption, 0, Qt::AlignBottom);
    row->addStretch(1);
    row->addWidget(m_scanAll, 0, Qt::AlignVCenter);
    connect(m_scanAll, &QPushButton::clicked, this, [this] { m_model->scanAll(); });
    return summary;
}

QWidget* OverviewView::buildCategoryList()
{
    auto* scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("categoryList"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* list = new QWidget(scroll);
    auto* column = new QVBoxLayout(list);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);
    for (const Category& category : Category::all()) {
        auto* button = new CategoryRowButton(list);
        button->setObjectName(QStringLiteral("overviewRow-") + category.id);
        button->setAccessibleName(category.title);
        auto* line = new QHBoxLayout(button);
        line->setContentsMargins(10, 4, 10, 4);
        line->setSpacing(8);
        line->addWidget(makeSymbolLabel(category.symbol, category.title, 20, button));
        Row row;
        row.note = new ElidedLabel(button);
        row.note->setObjectName(QStringLiteral("overviewNote-") + category.id);
        TextStyle::caption(row.note);
        TextStyle::tertiary(row.note);
        line->addWidget(row.note, 1);
        row.spinner = new Spinner(14, button);
        row.spinner->setObjectName(QStringLiteral("overviewSpinner-") + category.id);
        row.size = new QLabel(button);
        row.size->setObjectName(QStringLiteral("overviewSize-") + category.id);
        TextStyle::secondary(row.size);
        line->addWidget(row.spinner);
        line->addWidget(row.size);
        auto* chevron = new QLabel(button);
        chevron->setPixmap(
            Symbols::icon(QStringLiteral("chevron.right")).pixmap(14, 14, QIcon::Disabled));
        line->addWidget(chevron);
        // The children only draw; the whole row is the button's click area.
        for (QWidget* child : button->findChildren<QWidget*>())
            child->setAttribute(Qt::WA_TransparentForMouseEvents);
        const QString id = category.id;
        connect(button, &QPushButton::clicked, this, [this, id] { emit categoryChosen(id); });
        m_rows.insert(category.id, row);
        column->addWidget(button);
    }
    column->addStretch(1);
    scroll->setWidget(list);
    return scroll;
}

void OverviewView::refreshDisk()
{
    const DiskUsage disk = m_model->disk();
    const double total = disk.total < 1 ? 1.0 : double(disk.total);
    const double fraction = qBound(0.0, double(disk.used()) / total, 1.0);
    m_diskBar->setValue(qRound(fraction * kBarSteps));
    m_diskLine->setText(QStringLiteral("Đã dùng ") + formatBytes(disk.used()) +
                        QStringLiteral(" / ") + formatBytes(disk.total) +
                        QStringLiteral("  ·  Còn trống ") + formatBytes(disk.available));
}

void OverviewView::refreshTotals()
{
    m_total->setText(formatBytes(m_model->totalReclaimable()));
    const bool scanning = anyScanning(*m_model);
    m_scanAll->setText(scanning ? QStringLiteral("Đang quét...") : QStringLiteral("Quét lại"));
    m_scanAll->setEnabled(!scanning);
}

void OverviewView::refreshRow(const QString& id)
{
    const auto found = m_rows.constFind(id);
    const Category* category = Category::find(id);
    if (found == m_rows.constEnd() || !category) return;
    const bool scanning = m_model->state(*category).scanning;
    found->spinner->setVisible(scanning);
    found->size->setVisible(!scanning);
    found->size->setText(formatBytes(m_model->totalSize(*category)));
    const QString note = SearchNote::text(*category, m_model->state(*category));
    found->note->setFullText(note);
}
