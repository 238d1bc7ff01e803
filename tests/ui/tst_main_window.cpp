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
#include <QMenuBar>
#include <QSplitter>
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

    void windowHasTitleMinimumSizeAndSidebarWidths();
    void startupScanFillsEveryBadge();
    void zeroTotalShowsFormattedZero();
    void sidebarRoutesToEveryDestination_data();
    void sidebarRoutesToEveryDestination();
    void overviewRowSelectsSidebarRow_data();
    void overviewRowSelectsSidebarRow();
    void overviewFollowsScansAndDisk();
    void resultAlertShowsAndOkClearsTheMessage();
    void messageClearedElsewhereClosesTheAlert();
    void updateAlertComesFirstThenResult();
    void manualCheckWithoutFeedShowsUpdateAlert();
    void checkItemFollowsAboutItem();
    void toolbarHiddenWithoutNewerVersion();
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

void TestMainWindow::windowHasTitleMinimumSizeAndSidebarWidths()
{
    WindowFixture f;
    QCOMPARE(f.window.windowTitle(), QStringLiteral("SorviClean"));
    QCOMPARE(f.window.minimumSize(), QSize(960, 620));
    auto* sidebar = f.find<Sidebar>(QStringLiteral("sidebar"));
    QVERIFY(sidebar);
    QCOMPARE(sidebar->minimumWidth(), 220);
    QCOMPARE(sidebar->sizeHint().width(), 250);
    QVERIFY(f.showAndWaitForScan());
    QCOMPARE(f.window.selection(), QStringLiteral("overview"));
    QCOMPARE(f.window.detail()->objectName(), QStringLiteral("overview"));
    QCOMPARE(sidebar->selectedId(), QStringLiteral("overview"));
    QVERIFY(sidebar->width() >= 220);
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
    const qint64 caches = expectedAllocated(home("Library/Caches/app"));
    QVERIFY(caches > 0);
    QCOMPARE(f.find<QLabel>(QStringLiteral("badgeSize-caches"))->text(), formatBytes(caches));
    QCOMPARE(f.find<QLabel>(QStringLiteral("reclaimableTotal"))->text(),
             formatBytes(f.model.totalReclaimable()));

    // A rescan shows the spinner again, then the new size.
    QVERIFY(writeFile(home("Library/Caches/other/blob"), 100000));
    spinnerSeen.clear();
    QCoro::waitFor(f.model.scan(*Category::find(QStringLiteral("caches"))));
    QVERIFY(spinnerSeen.contains(QStringLiteral("caches")));
    QVERIFY(!badgeWrong);
    QCOMPARE(f.find<QLabel>(QStringLiteral("badgeSize-caches"))->text(),
             formatBytes(expectedAllocated(home("Library/Caches"))));
}

void TestMainWindow::zeroTotalShowsFormattedZero()
{
    QVERIFY(makeDir(home("Library/Caches")));
    WindowFixture f;
    QVERIFY(f.showAndWaitForScan());
    auto* badge = f.find<QLabel>(QStringLiteral("badgeSize-caches"));
    QVERIFY(badge->isVisible());
    QCOMPARE(badge->text(), formatBytes(0));
    QCOMPARE(f.find<QLabel>(QStringLiteral("overviewSize-caches"))->text(), formatBytes(0));
}

void TestMainWindow::sidebarRoutesToEveryDestination_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("screen");
    QTest::newRow("overview") << "overview"
                              << "overview";
    for (const Category& c : Category::all())
        QTest::newRow(qPrintable(c.id)) << c.id << QStringLiteral("category-") + c.id;
    QTest::newRow("uninstaller") << "uninstaller"
                                 << "uninstaller";
    QTest::newRow("monitor") << "monitor"
                             << "monitor";
}

void TestMainWindow::sidebarRoutesToEveryDestination()
{
    QFETCH(QString, id);
    QFETCH(QString, screen);
    WindowFixture f;
    QVERIFY(f.showAndWaitForScan());
    auto* sidebar = f.find<Sidebar>(QStringLiteral("sidebar"));
    if (id != u"overview")
        f.window.setSelection(QStringLiteral("monitor") == id ? QStringLiteral("caches")
                                                              : QStringLiteral("monitor"));
    QListWidgetItem* row = nullptr;
    for (int i = 0; i < sidebar->count(); ++i)
        if (sidebar->item(i)->data(Sidebar::IdRole).toString() == id) row = sidebar->item(i);
    QVERIFY(row);
    QSignalSpy changed(&f.window, &MainWindow::selectionChanged);
    QTest::mouseClick(sidebar->viewport(), Qt::LeftButton, {},
                      sidebar->visualItemRect(row).center());
    QCOMPARE(f.window.selection(), id);
    QCOMPARE(f.window.detail()->objectName(), screen);
    QVERIFY(f.window.detail()->isVisible());
    QCOMPARE(sidebar->selectedId(), id);
}

void TestMainWindow::overviewRowSelectsSidebarRow_data()
{
    QTest::addColumn<QString>("id");
    for (const Category& c : Category::all())
        QTest::newRow(qPrintable(c.id)) << c.id;
}

void TestMainWindow::overviewRowSelectsSidebarRow()
{
    QFETCH(QString, id);
    QVERIFY(writeFile(home("Library/Caches/app/blob"), 8192));
    WindowFixture f;
    QVERIFY(f.showAndWaitForScan());
    auto* row = f.find<QPushButton>(QStringLiteral("overviewRow-") + id);
    QVERIFY(row);
    // Anywhere on the row counts, also over its label near the leading edge.
    QTest::mouseClick(row, Qt::LeftButton, {}, QPoint(30, row->height() / 2));
    QCOMPARE(f.window.selection(), id);
    QCOMPARE(f.find<Sidebar>(QStringLiteral("sidebar"))->selectedId(), id);
    auto* screen = qobject_cast<CategoryView*>(f.window.detail());
    QVERIFY(screen);
    QCOMPARE(screen->objectName(), QStringLiteral("category-") + id);
    QVERIFY(!screen->confirming());
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

    // The button scans everything again.
    QSignalSpy changes(&f.model, &AppModel::stateChanged);
    scanAll->click();
    QVERIFY(QTest::qWaitFor([&] { return changes.count() >= 12 && scanAll->isEnabled(); }));
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
    QCOMPARE(alert->text(), QStringLiteral("Kết quả"));
    QCOMPARE(alert->informativeText(), text);
    auto* body = alert->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"));
    QVERIFY(body);
    QCOMPARE(body->textFormat(), Qt::PlainText);
    QPushButton* ok = buttonOf(alert, QStringLiteral("alertOkButton"));
    QVERIFY(ok);
    QCOMPARE(ok->text(), QStringLiteral("OK"));
    ok->click();
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

void TestMainWindow::updateAlertComesFirstThenResult()
{
    WindowFixture f;
    QVERIFY(f.showAndWaitForScan());
    f.model.setMessage(QStringLiteral("kết quả"));
    QMessageBox* result = waitForBox(f.window, QStringLiteral("resultAlert"));
    QVERIFY(result);
    QCoro::waitFor(f.updater->check(true));
    // One alert at a time: the open one stays until it is dismissed.
    QVERIFY(!f.find<QMessageBox>(QStringLiteral("updateAlert")));
    buttonOf(result, QStringLiteral("alertOkButton"))->click();
    QVERIFY(!f.model.message());
    QMessageBox* update = waitForBox(f.window, QStringLiteral("updateAlert"));
    QVERIFY(update);
    QCOMPARE(update->informativeText(), QStringLiteral("Chưa cấu hình địa chỉ kiểm tra cập nhật."));
    buttonOf(update, QStringLiteral("alertOkButton"))->click();
    QVERIFY(!f.updater->message());
}

void TestMainWindow::manualCheckWithoutFeedShowsUpdateAlert()
{
    WindowFixture f;
    QVERIFY(f.showAndWaitForScan());
    // No feed: the start-up check stays idle and says nothing.
    QVERIFY(!f.find<QMessageBox>(QStringLiteral("updateAlert")));
    auto* check = f.window.findChild<QAction*>(QStringLiteral("checkForUpdatesAction"));
    QVERIFY(check);
    QCOMPARE(check->text(), QStringLiteral("Kiểm tra cập nhật…"));
    check->trigger();
    QMessageBox* alert = waitForBox(f.window, QStringLiteral("updateAlert"));
    QVERIFY(alert);
    QCOMPARE(alert->windowTitle(), QStringLiteral("Cập nhật"));
    QCOMPARE(alert->informativeText(), QStringLiteral("Chưa cấu hình địa chỉ kiểm tra cập nhật."));
    buttonOf(alert, QStringLiteral("alertOkButton"))->click();
    QVERIFY(!f.updater->message().has_value());
    QVERIFY(QTest::qWaitFor([&] { return !f.find<QMessageBox>(QStringLiteral("updateAlert")); }));
}

void TestMainWindow::checkItemFollowsAboutItem()
{
    WindowFixture f;
    auto* menu = f.window.findChild<QMenu*>(QStringLiteral("applicationMenu"));
    QVERIFY(menu);
    const QList<QAction*> actions = menu->actions();
    const qsizetype about =
        actions.indexOf(f.window.findChild<QAction*>(QStringLiteral("aboutAction")));
    QVERIFY(about >= 0);
    QCOMPARE(actions.value(about + 1)->objectName(), QStringLiteral("checkForUpdatesAction"));
}

void TestMainWindow::toolbarHiddenWithoutNewerVersion()
{
    WindowFixture f;
    QVERIFY(f.showAndWaitForScan());
    auto* action = f.window.findChild<QAction*>(QStringLiteral("updateAction"));
    QVERIFY(action);
    QVERIFY(!action->isVisible());
    QVERIFY(!f.find<QToolBar>(QStringLiteral("mainToolBar"))->isVisible());
    QVERIFY(!f.find(QStringLiteral("updateBanner"))->isVisible());
}

SORVI_TEST_GUI_MAIN(TestMainWindow)
#include "tst_main_window.moc"
