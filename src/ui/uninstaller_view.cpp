#include "ui/uninstaller_view.h"

#include "ui/app_detail_view.h"
#include "ui/app_icons.h"
#include "ui/app_list_model.h"
#include "ui/destinations.h"
#include "ui/dialogs.h"
#include "ui/panels.h"
#include "ui/row_painter.h"
#include "ui/spinner.h"
#include "ui/symbols.h"
#include "uninstaller/uninstaller_model.h"

#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QShowEvent>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int kListPaneWidth = 330;
constexpr int kSortWidth = 130;
constexpr int kSpinnerFrameMs = 80;
constexpr int kIconSize = 32;

} // namespace

UninstallerView::UninstallerView(UninstallerModel* model, QWidget* parent)
    : QWidget(parent), m_model(model), m_icons(new AppIcons(this)),
      m_alert(new MessageAlert(
          this, QStringLiteral("uninstallAlert"), QMessageBox::Information,
          QStringLiteral("Gỡ ứng dụng"),
          {[model] { return model->message(); }, [model] { model->clearMessage(); }}))
{
    setObjectName(Destination::uninstaller);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(buildListPane());
    auto* divider = new QFrame(this);
    divider->setObjectName(QStringLiteral("divider"));
    divider->setFrameShape(QFrame::VLine);
    divider->setFrameShadow(QFrame::Sunken);
    layout->addWidget(divider);
    layout->addWidget(buildDetailPane(), 1);

    m_spinnerTimer.setInterval(kSpinnerFrameMs);
    connect(&m_spinnerTimer, &QTimer::timeout, this, [this] {
        static_cast<RowDelegate*>(m_list->itemDelegate())->advanceSpinner();
        m_list->viewport()->update();
        // Sizes arrive row by row without a signal for the whole list: the last one stops it.
        refreshSpinnerTimer();
    });

    connect(m_model, &UninstallerModel::loadingChanged, this, &UninstallerView::refreshLoading);
    connect(m_model, &UninstallerModel::appsChanged, this, [this] {
        refreshCount();
        refreshDetail();
        refreshSpinnerTimer();
    });
    connect(m_model, &UninstallerModel::searchChanged, this, [this] {
        if (m_search->text() != m_model->search()) m_search->setText(m_model->search());
    });
    connect(m_model, &UninstallerModel::sortChanged, this, [this] {
        m_sort->setCurrentIndex(int(UninstallerModel::allSortModes().indexOf(m_model->sort())));
    });
    connect(m_model, &UninstallerModel::selectedIDChanged, this, [this] {
        selectCurrent();
        refreshDetail();
    });
    // The message of an uninstall can arrive after the user left and came back: the screen shows
    // whatever message the model holds when it is built.
    connect(m_model, &UninstallerModel::messageChanged, m_alert, [this] { m_alert->sync(); });
    // A reset of the list (a search, a reload) drops the view's selection: select the model's
    // application again when it is still listed.
    connect(m_apps, &QAbstractItemModel::modelReset, this, &UninstallerView::selectCurrent);

    refreshLoading();
    refreshCount();
    selectCurrent();
    refreshDetail();
    refreshSpinnerTimer();
    m_alert->sync();
}

QWidget* UninstallerView::buildListPane()
{
    auto* pane = new QWidget(this);
    pane->setObjectName(QStringLiteral("listPane"));
    pane->setFixedWidth(kListPaneWidth);
    auto* column = new QVBoxLayout(pane);
    column->setContentsMargins(12, 12, 12, 12);
    column->setSpacing(8);

    column->addLayout(buildSearchRow(pane));

    m_apps = new AppListModel(m_model, m_icons, this);
    RowStyle rows;
    rows.iconSize = kIconSize;
    rows.captionFigure = true;
    rows.verticalInset = 4;
    m_list = makeRowList(QStringLiteral("appList"), m_apps, rows, pane);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (m_selecting) return;
        const QModelIndexList rows = m_list->selectionModel()->selectedRows();
        // The view loses its selection when a search hides the row; the model keeps it.
        if (rows.isEmpty()) return;
        m_model->setSelectedID(rows.first().data(RowRole::Url).toString());
    });
    column->addWidget(m_list, 1);

    buildOverlay();

    auto* bottom = new QHBoxLayout;
    m_count = new QLabel(pane);
    m_count->setObjectName(QStringLiteral("appCount"));
    TextStyle::caption(m_count);
    TextStyle::secondary(m_count);
    m_reload = new QToolButton(pane);
    m_reload->setObjectName(QStringLiteral("reloadButton"));
    m_reload->setAutoRaise(true);
    m_reload->setIcon(Symbols::icon(QStringLiteral("arrow.clockwise")));
    m_reload->setToolTip(QStringLiteral("Tải lại"));
    connect(m_reload, &QToolButton::clicked, this, [this] { m_model->load(); });
    bottom->addWidget(m_count);
    bottom->addStretch(1);
    bottom->addWidget(m_reload);
    column->addLayout(bottom);
    return pane;
}

QHBoxLayout* UninstallerView::buildSearchRow(QWidget* pane)
{
    auto* top = new QHBoxLayout;
    m_search = new QLineEdit(m_model->search(), pane);
    m_search->setObjectName(QStringLiteral("searchField"));
    m_search->setPlaceholderText(QStringLiteral("Tìm ứng dụng"));
    m_search->setClearButtonEnabled(true);
    connect(m_search, &QLineEdit::textChanged, m_model, &UninstallerModel::setSearch);
    m_sort = new QComboBox(pane);
    m_sort->setObjectName(QStringLiteral("sortPicker"));
    m_sort->setFixedWidth(kSortWidth);
    for (UninstallerModel::SortMode mode : UninstallerModel::allSortModes())
        m_sort->addItem(UninstallerModel::title(mode), QVariant::fromValue(mode));
    m_sort->setCurrentIndex(int(UninstallerModel::allSortModes().indexOf(m_model->sort())));
    connect(m_sort, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0) m_model->setSort(UninstallerModel::allSortModes().value(index));
    });
    top->addWidget(m_search, 1);
    top->addWidget(m_sort);
    return top;
}

void UninstallerView::buildOverlay()
{
    m_overlay = new QWidget(m_list);
    m_overlay->setObjectName(QStringLiteral("loadingOverlay"));
    auto* overlay = new QVBoxLayout(m_overlay);
    overlay->setSpacing(8);
    overlay->addWidget(new Spinner(20, m_overlay), 0, Qt::AlignHCenter);
    auto* loading = new QLabel(QStringLiteral("Đang tải danh sách..."), m_overlay);
    loading->setObjectName(QStringLiteral("loadingLabel"));
    TextStyle::secondary(loading);
    overlay->addWidget(loading, 0, Qt::AlignHCenter);
    m_list->installEventFilter(this);
}

QWidget* UninstallerView::buildDetailPane()
{
    m_detailPane = new QStackedWidget(this);
    m_detailPane->setObjectName(QStringLiteral("detailPane"));
    m_placeholder = new QWidget(m_detailPane);
    m_placeholder->setObjectName(QStringLiteral("detailPlaceholder"));
    auto* column = new QVBoxLayout(m_placeholder);
    column->setSpacing(8);
    column->addStretch(1);
    auto* symbol = new QLabel(m_placeholder);
    symbol->setObjectName(QStringLiteral("placeholderSymbol"));
    // The symbol at 44 points, faded to the third level of emphasis.
    symbol->setPixmap(Symbols::icon(QStringLiteral("xmark.app")).pixmap(44, 44, QIcon::Disabled));
    TextStyle::tertiary(symbol);
    column->addWidget(symbol, 0, Qt::AlignHCenter);
    auto* text = new QLabel(QStringLiteral("Chọn một ứng dụng để xem chi tiết và gỡ cài đặt"),
                            m_placeholder);
    text->setObjectName(QStringLiteral("placeholderText"));
    TextStyle::secondary(text);
    column->addWidget(text, 0, Qt::AlignHCenter);
    column->addStretch(1);
    m_detailPane->addWidget(m_placeholder);
    return m_detailPane;
}

QMessageBox* UninstallerView::alert() const
{
    return m_alert->box();
}

void UninstallerView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Each visit reads the list afresh; the model ignores this while a load is running. A
    // window restored from the task bar is not a new visit.
    if (!event->spontaneous()) m_model->load();
}

bool UninstallerView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_list && (event->type() == QEvent::Resize || event->type() == QEvent::Show))
        placeOverlay();
    return QWidget::eventFilter(watched, event);
}

void UninstallerView::placeOverlay()
{
    const QSize size = m_overlay->sizeHint();
    const QRect area = m_list->rect();
    m_overlay->setGeometry(
        QRect(area.center() - QPoint(size.width() / 2, size.height() / 2), size));
}

void UninstallerView::refreshLoading()
{
    const bool loading = m_model->loading();
    m_overlay->setVisible(loading);
    if (loading) {
        placeOverlay();
        m_overlay->raise();
    }
    m_reload->setEnabled(!loading);
    refreshSpinnerTimer();
}

void UninstallerView::refreshCount()
{
    m_count->setText(QString::number(m_model->apps().size()) + QStringLiteral(" ứng dụng"));
}

void UninstallerView::refreshSpinnerTimer()
{
    // The row spinners turn only while some size is still being measured.
    const QList<InstalledApp>& apps = m_model->apps();
    if (std::any_of(apps.cbegin(), apps.cend(),
                    [](const InstalledApp& app) { return !app.size && app.isMeasured(); }))
        m_spinnerTimer.start();
    else
        m_spinnerTimer.stop();
}

void UninstallerView::selectCurrent()
{
    const std::optional<QString>& id = m_model->selectedID();
    const int row = id ? m_apps->rowOf(*id) : -1;
    m_selecting = true;
    if (row < 0) {
        m_list->selectionModel()->clearSelection();
    } else {
        const QModelIndex index = m_apps->index(row);
        m_list->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
        m_list->scrollTo(index);
    }
    m_selecting = false;
}

void UninstallerView::refreshDetail()
{
    const std::optional<InstalledApp> app = m_model->selectedApp();
    if (m_detail && (!app || app->url != m_detail->app().url)) {
        m_detailPane->removeWidget(m_detail);
        m_detail->hide();
        // Out of the tree at once, so nothing finds the old pane while it waits for deletion.
        m_detail->setParent(nullptr);
        m_detail->deleteLater();
        m_detail = nullptr;
    }
    if (app && !m_detail) {
        m_detail = new AppDetailView(m_model, *app, m_icons, m_detailPane);
        m_detailPane->addWidget(m_detail);
    }
    m_detailPane->setCurrentWidget(m_detail ? static_cast<QWidget*>(m_detail) : m_placeholder);
}

QWidget* createUninstallerScreen(const Models& models, QWidget* parent)
{
    return new UninstallerView(models.uninstaller, parent);
}
