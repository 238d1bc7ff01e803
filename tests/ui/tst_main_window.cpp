#include "support/test_home.h"
#include "support/tree_builder.h"
#include "ui/category_view.h"
#include "ui/sidebar.h"
#include "ui/spinner.h"
#include "window_fixture.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QToolBar>

using namespace TreeBuilder;

namespace {

QString home(const QString& relative)
{
    return TestHome::path() + u'/' + relative;
}

void resetHome()
{
    for (const char* top : {"Library", ".Trash", ".local/share/Trash", "Downloads"})
        QDir(home(QLatin1String(top))).removeRecursively();
    // Root paths that a test turned into plain files.
    QFile::remove(home(QStringLiteral("Library")));
    QFile::remove(home(QStringLiteral(".Trash")));
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void windowStartsOnOverview();
    void startupScanFillsEveryBadge();
    void sidebarAndOverviewRoutes();
    void overviewFollowsScansAndDisk();
    void resultAlertShowsAndOkClearsTheMessage();
    void messageClearedElsewhereClosesTheAlert();
    void manualCheckWithoutFeedShowsUpdateAlert();
};

void TestMainWindow::initTestCase()
{
    // The feed address may come from the environment; these tests run without one.
    qunsetenv("SORVI_UPDATE_FEED_URL");
}

void TestMainWindow::init()
{
    resetHome();
}

void TestMainWindow::windowStartsOnOverview()
{
    WindowFixture f;
    QCOMPARE(f.window.windowTitle(), QStringLiteral("SorviClean"));
    QCOMPARE(f.window.minimumSize(), QSize(960, 620));
    auto* sidebar = f.find<Sidebar>(QStringLiteral("sidebar"));
    QCOMPARE(sidebar->minimumWidth(), 220);
    QVERIFY(f.showAndWaitForScan());
    QCOMPARE(f.window.detail()->objectName(), QStringLiteral("overview"));
    QCOMPARE(sidebar->selectedId(), QStringLiteral("overview"));
    // Without a newer version there is no update button, toolbar or banner.
    QVERIFY(!f.window.findChild<QAction*>(QStringLiteral("updateAction"))->isVisible());
    QVERIFY(!f.find<QToolBar>(QStringLiteral("mainToolBar"))->isVisible());
    QVERIFY(!f.find(QStringLiteral("updateBanner"))->isVisible());
}

void TestMainWindow::startupScanFillsEveryBadge()
{
    QVERIFY(writeFile(home("Library/Caches/app/blob"), 300000));
    QVERIFY(writeFile(home("Library/Logs/app.log"), 50000));
    WindowFixture f;
    const QList<Category>& all = Category::all();

    // Never scanned: no badge at all.
    for (const Category& c : all) {
        QVERIFY(f.find(QStringLiteral("badgeSpinner-") + c.id)->isHidden());
        QVERIFY(f.find(QStringLiteral("badgeSize-") + c.id)->isHidden());
    }

    // Each category's badge must show the spinner while its scan runs. A scan of roots that do
    // not exist may end before the event loop runs again, so every change is looked at.
    QSet<QString> spinnerSeen;
    bool badgeWrong = false;
    connect(&f.model, &AppModel::stateChanged, this, [&](const QString& id) {
        const bool scanning = f.model.state(*Category::find(id)).scanning;
        const bool spinner = !f.find(QStringLiteral("badgeSpinner-") + id)->isHidden();
        const bool size = !f.find(QStringLiteral("badgeSize-") + id)->isHidden();
        if (spinner != scanning || size == scanning) badgeWrong = true;
        if (scanning && spinner) spinnerSeen.insert(id);
    });
    QVERIFY(f.showAndWaitForScan());
    QVERIFY(!badgeWrong);
    QCOMPARE(spinnerSeen.size(), all.size());

    for (const Category& c : all) {
        QVERIFY(!f.find(QStringLiteral("badgeSpinner-") + c.id)->isVisible());
        auto* size = f.find<QLabel>(QStringLiteral("badgeSize-") + c.id);
        QVERIFY(size->isVisible());
        QCOMPARE(size->text(), formatBytes(f.model.totalSize(c)));
    }
    QCOMPARE(f.find<QLabel>(QStringLiteral("badgeSize-caches"))->text(),
             formatBytes(expectedAllocated(home("Library/Caches/app"))));
}

void TestMainWindow::sidebarAndOverviewRoutes()
{
    QVERIFY(writeFile(home("Library/Caches/app/blob"), 8192));
    WindowFixture f;
    QVERIFY(f.showAndWaitForScan());
    auto* sidebar = f.find<Sidebar>(QStringLiteral("sidebar"));
    QStringList ids{QStringLiteral("uninstaller"), QStringLiteral("monitor")};
    for (const Category& c : Category::all())
        ids.append(c.id);
    ids.append(QStringLiteral("overview"));
    for (const QString& id : ids) {
        QListWidgetItem* row = nullptr;
        for (int i = 0; i < sidebar->count(); ++i)
            if (sidebar->item(i)->data(Sidebar::IdRole).toString() == id) row = sidebar->item(i);
        QVERIFY2(row, qPrintable(id));
        QTest::mouseClick(sidebar->viewport(), Qt::LeftButton, {},
                          sidebar->visualItemRect(row).center());
        QCOMPARE(f.window.selection(), id);
        const bool isCategory = Category::find(id) != nullptr;
        QCOMPARE(f.window.detail()->objectName(),
                 isCategory ? QStringLiteral("category-") + id : id);
        QVERIFY(f.window.detail()->isVisible());
        QCOMPARE(sidebar->selectedId(), id);
    }
    for (const Category& c : Category::all()) {
        f.window.setSelection(QStringLiteral("overview"));
        auto* row = f.find<QPushButton>(QStringLiteral("overviewRow-") + c.id);
        QVERIFY2(row, qPrintable(c.id));
        // Anywhere on the row counts, also over its label near the leading edge.
        QTest::mouseClick(row, Qt::LeftButton, {}, QPoint(30, row->height() / 2));
        QCOMPARE(f.window.selection(), c.id);
        QCOMPARE(sidebar->selectedId(), c.id);
        QCOMPARE(f.window.detail()->objectName(), QStringLiteral("category-") + c.id);
    }
}

void TestMainWindow::overviewFollowsScansAndDisk()
{
    QVERIFY(writeFile(home("Library/Logs/app.log"), 20000));
    WindowFixture f;
    // Before any scan: formatted zeros, not dashes.
    QCOMPARE(f.find<QLabel>(QStringLiteral("reclaimableTotal"))->text(), formatBytes(0));
    QCOMPARE(f.find<QLabel>(QStringLiteral("overviewSize-logs"))->text(), formatBytes(0));
    QVERIFY(f.showAndWaitForScan());

    auto* scanAll = f.find<QPushButton>(QStringLiteral("scanAllButton"));
    QCOMPARE(scanAll->text(), QStringLiteral("Quét lại"));
    QVERIFY(scanAll->isEnabled());
    const DiskUsage disk = f.model.disk();
    QCOMPARE(f.find<QLabel>(QStringLiteral("diskLine"))->text(),
             QStringLiteral("Đã dùng ") + formatBytes(disk.used()) + QStringLiteral(" / ") +
                 formatBytes(disk.total) + QStringLiteral("  ·  Còn trống ") +
                 formatBytes(disk.available));
    QCOMPARE(f.find<QLabel>(QStringLiteral("overviewSize-logs"))->text(),
             formatBytes(expectedAllocated(home("Library/Logs"))));

    // A rescan of one category from its own screen also holds the scan-all button.
    bool held = false;
    connect(&f.model, &AppModel::stateChanged, this, [&] {
        if (f.model.state(*Category::find(QStringLiteral("logs"))).scanning)
            held = scanAll->text() == u"Đang quét..." && !scanAll->isEnabled() &&
                   !f.find(QStringLiteral("overviewSpinner-logs"))->isHidden();
    });
    QCoro::waitFor(f.model.scan(*Category::find(QStringLiteral("logs"))));
    QVERIFY(held);
    QCOMPARE(scanAll->text(), QStringLiteral("Quét lại"));
    QVERIFY(scanAll->isEnabled());
}

void TestMainWindow::resultAlertShowsAndOkClearsTheMessage()
{
    WindowFixture f;
    QVERIFY(f.showAndWaitForScan());
    const QString text =
        QStringLiteral("Đã giải phóng 1 kB.\n\nKhông xoá được 1 mục:\n<b>x</b>: lỗi");
    f.model.setMessage(text);
    QMessageBox* alert = waitForBox(f.window, QStringLiteral("resultAlert"));
    QVERIFY(alert);
    QCOMPARE(alert->windowTitle(), QStringLiteral("Kết quả"));
    QCOMPARE(alert->informativeText(), text);
    auto* body = alert->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"));
    QVERIFY(body);
    QCOMPARE(body->textFormat(), Qt::PlainText);
    QCOMPARE(buttonOf(alert, QStringLiteral("alertOkButton"))->text(), QStringLiteral("OK"));
    buttonOf(alert, QStringLiteral("alertOkButton"))->click();
    QVERIFY(!f.model.message().has_value());
    QVERIFY(QTest::qWaitFor([&] { return !f.find<QMessageBox>(QStringLiteral("resultAlert")); }));

    // Escape dismisses it too, and clears the message the same way.
    f.model.setMessage(QStringLiteral("Đã dọn Thùng rác."));
    alert = waitForBox(f.window, QStringLiteral("resultAlert"));
    QVERIFY(alert);
    QTest::keyClick(alert, Qt::Key_Escape);
    QVERIFY(!f.model.message().has_value());
}

void TestMainWindow::messageClearedElsewhereClosesTheAlert()
{
    WindowFixture f;
    QVERIFY(f.showAndWaitForScan());
    f.model.setMessage(QStringLiteral("một"));
    QMessageBox* alert = waitForBox(f.window, QStringLiteral("resultAlert"));
    QVERIFY(alert);
    f.model.setMessage(QStringLiteral("hai"));
    QCOMPARE(alert->informativeText(), QStringLiteral("hai"));
    f.model.clearMessage();
    QVERIFY(QTest::qWaitFor([&] { return !f.find<QMessageBox>(QStringLiteral("resultAlert")); }));
}

void TestMainWindow::manualCheckWithoutFeedShowsUpdateAlert()
{
    WindowFixture f;
    QVERIFY(f.showAndWaitForScan());
    // No feed: the start-up check stays idle and says nothing.
    QVERIFY(!f.find<QMessageBox>(QStringLiteral("updateAlert")));
    auto* check = f.window.findChild<QAction*>(QStringLiteral("checkForUpdatesAction"));
    QCOMPARE(check->text(), QStringLiteral("Kiểm tra cập nhật…"));
    // The item follows "About" in the application menu.
    const QList<QAction*> actions =
        f.window.findChild<QMenu*>(QStringLiteral("applicationMenu"))->actions();
    QCOMPARE(actions.value(
                 actions.indexOf(f.window.findChild<QAction*>(QStringLiteral("aboutAction"))) + 1),
             check);
    // One alert at a time: an open result alert stays until it is dismissed.
    f.model.setMessage(QStringLiteral("kết quả"));
    QMessageBox* result = waitForBox(f.window, QStringLiteral("resultAlert"));
    QVERIFY(result);
    check->trigger();
    QVERIFY(QTest::qWaitFor([&] { return f.updater->message().has_value(); }));
    QVERIFY(!f.find<QMessageBox>(QStringLiteral("updateAlert")));
    buttonOf(result, QStringLiteral("alertOkButton"))->click();
    QMessageBox* alert = waitForBox(f.window, QStringLiteral("updateAlert"));
    QVERIFY(alert);
    QCOMPARE(alert->windowTitle(), QStringLiteral("Cập nhật"));
    QCOMPARE(alert->informativeText(), QStringLiteral("Chưa cấu hình địa chỉ kiểm tra cập nhật."));
    buttonOf(alert, QStringLiteral("alertOkButton"))->click();
    QVERIFY(!f.updater->message().has_value());
}

SORVI_TEST_GUI_MAIN(TestMainWindow)
#include "tst_main_window.moc"
