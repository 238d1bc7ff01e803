#include "ui/main_window.h"

#include "core/app_model.h"
#include "ui/category_view.h"
#include "ui/destinations.h"
#include "ui/dialogs.h"
#include "ui/display_text.h"
#include "ui/overview_view.h"
#include "ui/sidebar.h"
#include "ui/symbols.h"
#include "update/update_checker.h"

#include <QAction>
#include <QApplication>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSplitter>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr QSize kContentMinimum(960, 620);
// Tall enough for the whole overview below the menu, the toolbar and the update banner.
constexpr QSize kDefaultSize(1100, 780);
constexpr int kSidebarIdeal = 250;

// Runs the start-up scan and tells the window when it is over, if the window still exists.
QCoro::Task<> runStartupScan(QPointer<MainWindow> window, AppModel* model)
{
    auto task = model->scanAll();
    co_await task;
    if (window) emit window->startupScanFinished();
}

} // namespace

MainWindow::MainWindow(const Models& models, QWidget* parent)
    : QMainWindow(parent), m_models(models), m_selection(Destination::overview)
{
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(QStringLiteral("SorviClean"));

    auto* split = new QSplitter(Qt::Horizontal, this);
    split->setObjectName(QStringLiteral("splitView"));
    split->setChildrenCollapsible(false);
    m_sidebar = new Sidebar(m_models.model, split);
    m_detailHost = new QWidget(split);
    m_detailHost->setObjectName(QStringLiteral("detailColumn"));
    m_detailLayout = new QVBoxLayout(m_detailHost);
    m_detailLayout->setContentsMargins(0, 0, 0, 0);
    split->addWidget(m_sidebar);
    split->addWidget(m_detailHost);
    split->setStretchFactor(0, 0);
    split->setStretchFactor(1, 1);
    split->setSizes({kSidebarIdeal, kContentMinimum.width() - kSidebarIdeal});
    // The minimum is the content's, below the menu and the toolbar: the window adds their height.
    split->setMinimumSize(kContentMinimum);
    setCentralWidget(split);

    buildMenu();
    buildToolBar();

    connect(m_sidebar, &Sidebar::rowChosen, this, &MainWindow::setSelection);
    buildAlerts();
    connect(m_models.model, &AppModel::messageChanged, this, &MainWindow::refreshAlerts);
    connect(m_models.updater, &UpdateChecker::messageChanged, this, &MainWindow::refreshAlerts);
    connect(m_models.updater, &UpdateChecker::availableChanged, this, &MainWindow::updateToolBar);

    m_sidebar->selectId(m_selection);
    showDetail();
    updateToolBar();
    resize(kDefaultSize);
}

void MainWindow::setSelection(const QString& id)
{
    m_sidebar->selectId(id);
    if (id == m_selection) return;
    m_selection = id;
    showDetail();
    emit selectionChanged(id);
}

void MainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (m_started) return;
    m_started = true;
    m_models.updater->start();
    runStartupScan(this, m_models.model);
}

void MainWindow::buildMenu()
{
    QMenu* menu = menuBar()->addMenu(QStringLiteral("SorviClean"));
    menu->setObjectName(QStringLiteral("applicationMenu"));
    QAction* about = menu->addAction(QStringLiteral("Giới thiệu SorviClean"));
    about->setObjectName(QStringLiteral("aboutAction"));
    about->setMenuRole(QAction::AboutRole);
    connect(about, &QAction::triggered, this, [this] {
        QMessageBox::about(this, QStringLiteral("Giới thiệu SorviClean"),
                           QStringLiteral("SorviClean %1\nDọn dẹp ổ đĩa, gỡ ứng dụng và theo dõi "
                                          "hệ thống.")
                               .arg(m_models.updater->currentVersion()));
    });
    QAction* check = menu->addAction(QStringLiteral("Kiểm tra cập nhật…"));
    check->setObjectName(QStringLiteral("checkForUpdatesAction"));
    check->setMenuRole(QAction::ApplicationSpecificRole);
    connect(check, &QAction::triggered, this, [this] { m_models.updater->check(true); });
    menu->addSeparator();
    QAction* quit = menu->addAction(QStringLiteral("Thoát"));
    quit->setObjectName(QStringLiteral("quitAction"));
    quit->setShortcut(QKeySequence::Quit);
    quit->setMenuRole(QAction::QuitRole);
    connect(quit, &QAction::triggered, this, &QWidget::close);
}

void MainWindow::buildAlerts()
{
    const auto nonEmpty = [](const std::optional<QString>& message) {
        return message && !message->isEmpty() ? message : std::nullopt;
    };
    AppModel* model = m_models.model;
    UpdateChecker* updater = m_models.updater;
    m_updateAlert = new MessageAlert(this, QStringLiteral("updateAlert"), QMessageBox::Information,
                                     QStringLiteral("Cập nhật"),
                                     {[updater, nonEmpty] { return nonEmpty(updater->message()); },
                                      [updater] { updater->clearMessage(); }});
    m_resultAlert = new MessageAlert(this, QStringLiteral("resultAlert"), QMessageBox::Information,
                                     QStringLiteral("Kết quả"),
                                     {[model, nonEmpty] { return nonEmpty(model->message()); },
                                      [model] { model->clearMessage(); }});
    for (MessageAlert* alert : {m_updateAlert, m_resultAlert})
        connect(alert, &MessageAlert::dismissed, this, &MainWindow::refreshAlerts);
}

void MainWindow::buildToolBar()
{
    m_toolBar = addToolBar(QStringLiteral("SorviClean"));
    m_toolBar->setObjectName(QStringLiteral("mainToolBar"));
    m_toolBar->setMovable(false);
    m_toolBar->setFloatable(false);
    m_toolBar->toggleViewAction()->setVisible(false);
    m_toolBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    auto* spacer = new QWidget(m_toolBar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    m_toolBar->addWidget(spacer);
    m_updateAction =
        m_toolBar->addAction(Symbols::icon(QStringLiteral("arrow.down.circle.fill")), QString());
    m_updateAction->setObjectName(QStringLiteral("updateAction"));
    m_toolBar->widgetForAction(m_updateAction)->setObjectName(QStringLiteral("updateButton"));
    connect(m_updateAction, &QAction::triggered, this,
            [this] { m_models.updater->openDownloadPage(); });
}

void MainWindow::updateToolBar()
{
    const auto available = m_models.updater->available();
    if (available) {
        // The version comes from the feed: an "&" in it is shown, not read as a shortcut mark.
        m_updateAction->setText(
            Dialogs::escapeMnemonic(QStringLiteral("Có bản ") + available->version));
        m_updateAction->setToolTip(DisplayText::toolTip(QStringLiteral("Đã có SorviClean ") +
                                                        available->version +
                                                        QStringLiteral(". Bấm để tải về.")));
    }
    m_updateAction->setVisible(available.has_value());
    // The button is the toolbar's only content: an empty toolbar would still take a strip.
    m_toolBar->setVisible(available.has_value());
}

void MainWindow::showDetail()
{
    QWidget* next = createDetail(m_selection);
    if (m_detail) {
        m_detailLayout->removeWidget(m_detail);
        m_detail->hide();
        m_detail->deleteLater();
    }
    m_detail = next;
    m_detailLayout->addWidget(m_detail);
    m_detail->show();
}

QWidget* MainWindow::createDetail(const QString& id)
{
    if (id == Destination::uninstaller) return createUninstallerScreen(m_models, m_detailHost);
    if (id == Destination::monitor) return createMonitorScreen(m_models, m_detailHost);
    if (const Category* category = Category::find(id))
        return new CategoryView(m_models.model, *category, m_detailHost);
    auto* overview = new OverviewView(m_models, m_detailHost);
    connect(overview, &OverviewView::categoryChosen, this, &MainWindow::setSelection);
    return overview;
}

// One alert at a time: the update checker's first, then the cleaning model's. A message that
// changes while its alert is open updates the text; one that is cleared closes the alert.
void MainWindow::refreshAlerts()
{
    m_updateAlert->sync(!m_resultAlert->box());
    m_resultAlert->sync(!m_updateAlert->box());
}
