#include "ui/category_view.h"

#include "core/app_model.h"
#include "core/permission_helper.h"
#include "platform/vocabulary.h"
#include "ui/checkable_list_model.h"
#include "ui/dialogs.h"
#include "ui/palette.h"
#include "ui/panels.h"
#include "ui/reveal_action.h"
#include "ui/row_painter.h"
#include "ui/search_note.h"
#include "ui/spinner.h"
#include "ui/symbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {

// A symbol beside a wrapped callout text, both in the colour of `role`.
QWidget* note(const QString& symbol, const QString& text, Palette::Role role, QWidget* parent)
{
    QLabel* label = nullptr;
    QWidget* row = makeSymbolLabel(symbol, text, 16, parent, &label, SymbolText::wrapped);
    TextStyle::callout(label);
    Palette::setTextRole(label, role);
    return row;
}

} // namespace

CategoryView::CategoryView(AppModel* model, Category category, QWidget* parent)
    : QWidget(parent), m_model(model), m_category(std::move(category))
{
    setObjectName(QStringLiteral("category-") + m_category.id);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(12);
    layout->addWidget(buildHeader());
    if (m_category.warning) {
        QWidget* warning = note(QStringLiteral("exclamationmark.triangle.fill"),
                                *m_category.warning, Palette::Role::warning, this);
        warning->setObjectName(QStringLiteral("categoryWarning"));
        layout->addWidget(warning);
    }
    layout->addWidget(buildNotice());
    layout->addWidget(buildContent(), 1);
    layout->addWidget(buildBottomBar());

    connect(m_model, &AppModel::stateChanged, this, [this](const QString& id) {
        if (id == m_category.id) refresh();
    });
    // A removal's steps come as often as the event loop turns: they touch only its own widgets.
    connect(m_model, &AppModel::cleaningChanged, this, [this] {
        refreshCleanable();
        refreshCleaning();
    });
    refresh();
}

QWidget* CategoryView::buildHeader()
{
    auto* header = new QWidget(this);
    auto* column = new QVBoxLayout(header);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(12);
    QLabel* title = nullptr;
    QWidget* titleLine = makeSymbolLabel(m_category.symbol, m_category.title, 32, header, &title);
    title->setObjectName(QStringLiteral("categoryTitle"));
    TextStyle::largeTitle(title);
    auto* detail = new QLabel(m_category.detail, header);
    detail->setTextFormat(Qt::PlainText);
    detail->setWordWrap(true);
    detail->setObjectName(QStringLiteral("categoryDetail"));
    TextStyle::secondary(detail);
    column->addWidget(titleLine);
    column->addWidget(detail);
    return header;
}

QWidget* CategoryView::buildNotice()
{
    const Vocabulary::Words& words = Vocabulary::words();
    m_notice = new QWidget(this);
    m_notice->setObjectName(QStringLiteral("unreadableNotice"));
    auto* column = new QVBoxLayout(m_notice);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
    column->addWidget(note(QStringLiteral("lock.fill"), words.unreadableNotice,
                           Palette::Role::destructive, m_notice));
    // Only a remedy that does something here is offered.
    if (words.accessSettingsButton) {
        auto* settings = new QPushButton(*words.accessSettingsButton, m_notice);
        settings->setObjectName(QStringLiteral("openFullDiskAccessButton"));
        connect(settings, &QPushButton::clicked, this,
                [] { PermissionHelper::openFullDiskAccess(); });
        column->addWidget(settings, 0, Qt::AlignLeft);
    }
    return m_notice;
}

QWidget* CategoryView::buildContent()
{
    m_content = new QStackedWidget(this);
    m_content->setObjectName(QStringLiteral("categoryContent"));

    m_progressPage = new QWidget(m_content);
    m_progressPage->setObjectName(QStringLiteral("progressPage"));
    auto* progress = new QVBoxLayout(m_progressPage);
    progress->addStretch(1);
    progress->addWidget(new Spinner(24, m_progressPage), 0, Qt::AlignHCenter);
    auto* scanning = new QLabel(QStringLiteral("Đang quét..."), m_progressPage);
    scanning->setObjectName(QStringLiteral("scanningLabel"));
    TextStyle::secondary(scanning);
    progress->addWidget(scanning, 0, Qt::AlignHCenter);
    progress->addStretch(1);

    m_emptyPage = new QWidget(m_content);
    m_emptyPage->setObjectName(QStringLiteral("emptyPage"));
    auto* empty = new QVBoxLayout(m_emptyPage);
    empty->addStretch(1);
    auto* nothing = new QLabel(QStringLiteral("Không có gì để dọn 🎉"), m_emptyPage);
    nothing->setObjectName(QStringLiteral("emptyLabel"));
    TextStyle::secondary(nothing);
    m_searchNote = new QLabel(m_emptyPage);
    m_searchNote->setObjectName(QStringLiteral("searchNote"));
    m_searchNote->setTextFormat(Qt::PlainText);
    m_searchNote->setWordWrap(true);
    m_searchNote->setAlignment(Qt::AlignHCenter);
    TextStyle::callout(m_searchNote);
    TextStyle::tertiary(m_searchNote);
    empty->addWidget(nothing, 0, Qt::AlignHCenter);
    empty->addWidget(m_searchNote);
    empty->addStretch(1);

    m_listPage = new QWidget(m_content);
    m_listPage->setObjectName(QStringLiteral("listPage"));
    auto* list = new QVBoxLayout(m_listPage);
    list->setContentsMargins(0, 0, 0, 0);
    auto* header = new QHBoxLayout;
    auto* all = new QPushButton(QStringLiteral("Chọn tất cả"), m_listPage);
    all->setObjectName(QStringLiteral("selectAllButton"));
    auto* none = new QPushButton(QStringLiteral("Bỏ chọn"), m_listPage);
    none->setObjectName(QStringLiteral("selectNoneButton"));
    m_count = new QLabel(m_listPage);
    m_count->setObjectName(QStringLiteral("itemCount"));
    TextStyle::secondary(m_count);
    header->addWidget(all);
    header->addWidget(none);
    header->addStretch(1);
    header->addWidget(m_count);
    connect(all, &QPushButton::clicked, this, [this] { m_model->selectAll(m_category, true); });
    connect(none, &QPushButton::clicked, this, [this] { m_model->selectAll(m_category, false); });

    RowStyle rows;
    rows.subtitleElide = Qt::ElideMiddle;
    m_list =
        makeRowList(QStringLiteral("itemList"),
                    CheckableListModel::forCategory(m_model, m_category, this), rows, m_listPage);
    m_list->setSelectionMode(QAbstractItemView::NoSelection);
    Reveal::addRowMenu(m_list, QStringLiteral("itemContextMenu"));
    list->addLayout(header);
    list->addWidget(m_list, 1);

    m_content->addWidget(m_progressPage);
    m_content->addWidget(m_emptyPage);
    m_content->addWidget(m_listPage);
    return m_content;
}

QWidget* CategoryView::buildBottomBar()
{
    auto* bar = new QWidget(this);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(0, 0, 0, 0);
    m_rescan = new QPushButton(Symbols::icon(QStringLiteral("arrow.clockwise")),
                               QStringLiteral("Quét lại"), bar);
    m_rescan->setObjectName(QStringLiteral("rescanButton"));
    m_clean = new QPushButton(Symbols::icon(QStringLiteral("trash")), QString(), bar);
    m_clean->setObjectName(QStringLiteral("cleanButton"));
    Palette::makeDestructive(m_clean);
    m_cleaning = new QProgressBar(bar);
    m_cleaning->setObjectName(QStringLiteral("cleanProgress"));
    m_cleaning->setFormat(m_category.deletion == DeletionMode::trash
                              ? QStringLiteral("Đã chuyển %v/%m mục vào Thùng rác")
                              : QStringLiteral("Đã xoá %v/%m mục"));
    row->addWidget(m_rescan);
    row->addStretch(1);
    row->addWidget(m_cleaning, 2);
    row->addWidget(m_clean);
    connect(m_rescan, &QPushButton::clicked, this, [this] { m_model->scan(m_category); });
    connect(m_clean, &QPushButton::clicked, this, &CategoryView::confirmClean);
    return bar;
}

void CategoryView::refresh()
{
    const AppModel::State state = m_model->state(m_category);
    m_notice->setVisible(state.result.unreadable);
    if (state.scanning)
        m_content->setCurrentWidget(m_progressPage);
    else if (state.result.items.isEmpty())
        m_content->setCurrentWidget(m_emptyPage);
    else
        m_content->setCurrentWidget(m_listPage);
    m_count->setText(QString::number(state.result.items.size()) + QStringLiteral(" mục"));
    const QString searched = SearchNote::text(m_category, state);
    m_searchNote->setText(searched);
    m_searchNote->setVisible(!searched.isEmpty());
    m_rescan->setEnabled(!state.scanning);
    m_clean->setText(QStringLiteral("Dọn ") + formatBytes(m_model->selectedSize(m_category)));
    if (m_confirmation) Dialogs::setMessage(m_confirmation, confirmationMessage());
    refreshCleanable();
    refreshCleaning();
}

// One clean at a time, whichever category it cleans.
void CategoryView::refreshCleanable()
{
    const AppModel::State state = m_model->state(m_category);
    m_clean->setEnabled(!state.selected.isEmpty() && !state.scanning && !m_model->cleaning());
}

// Items done of items while this category's removal runs; a run of one item has no steps to
// show, so it shows that it is busy.
void CategoryView::refreshCleaning()
{
    const std::optional<AppModel::CleanRun>& run = m_model->cleaning();
    const bool here = run && run->id == m_category.id;
    m_cleaning->setVisible(here);
    if (!here) return;
    const qint64 total = run->progress.total;
    m_cleaning->setRange(0, total > 1 ? int(total) : 0);
    m_cleaning->setValue(int(std::min(run->progress.done, total)));
}

bool CategoryView::confirming() const
{
    return !m_confirmation.isNull();
}

QMessageBox* CategoryView::confirmation() const
{
    return m_confirmation;
}

QString CategoryView::confirmationTitle() const
{
    return m_category.deletion == DeletionMode::trash
               ? QStringLiteral("Chuyển các mục đã chọn vào Thùng rác?")
               : QStringLiteral("Xoá vĩnh viễn các mục đã chọn?");
}

QString CategoryView::confirmationAction() const
{
    return m_category.deletion == DeletionMode::trash ? QStringLiteral("Chuyển vào Thùng rác")
                                                      : QStringLiteral("Xoá");
}

QString CategoryView::confirmationMessage() const
{
    const AppModel::State state = m_model->state(m_category);
    return QString::number(state.selected.size()) + QStringLiteral(" mục · ") +
           formatBytes(m_model->selectedSize(m_category));
}

void CategoryView::confirmClean()
{
    if (m_confirmation) return;
    m_confirmation = Dialogs::confirm(this,
                                      {QStringLiteral("cleanConfirmation"), confirmationTitle(),
                                       confirmationMessage(), confirmationAction()},
                                      [this](bool confirmed) {
                                          m_confirmation = nullptr;
                                          if (confirmed) m_model->clean(m_category);
                                      });
}
