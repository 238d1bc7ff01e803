#include "platform/file_system.h"
#include "support/http_server.h"
#include "ui/row_painter.h"
#include "window_fixture.h"

#include <QAbstractScrollArea>
#include <QAction>
#include <QLabel>
#include <QListView>
#include <QTextDocumentFragment>

namespace {

QByteArray feed(int build, const QString& version, const QStringList& notes)
{
    return QStringLiteral("{\"apps\":[{\"id\":\"sorviclean\",\"versions\":[{\"version\":\"%1\","
                          "\"build\":%2,\"notes\":[\"%3\"]}]}]}")
        .arg(version, QString::number(build), notes.join("\",\""))
        .toUtf8();
}

std::unique_ptr<UpdateChecker> checkerFor(const HttpServer& server)
{
    const QVariantMap info{{"CFBundleShortVersionString", "1.4"}, {"CFBundleVersion", "10"}};
    const QString address = server.url("/feed.json").toString();
    return std::make_unique<UpdateChecker>(
        info, UpdateChecker::Timing{}, [address](const QString& name) -> std::optional<QString> {
            return name == u"SORVI_UPDATE_FEED_URL" ? std::optional(address) : std::nullopt;
        });
}

// Placed by a scroll area's viewport, not by a layout.
bool scrolled(const QWidget* widget)
{
    const auto* area = qobject_cast<const QAbstractScrollArea*>(
        widget->parentWidget() ? widget->parentWidget()->parentWidget() : nullptr);
    return area && area->viewport() == widget->parentWidget();
}

QSize leastSize(const QWidget* widget)
{
    QSize least = widget->minimumSizeHint().boundedTo(widget->maximumSize());
    if (widget->minimumWidth() > 0) least.setWidth(widget->minimumWidth());
    if (widget->minimumHeight() > 0) least.setHeight(widget->minimumHeight());
    const auto* label = qobject_cast<const QLabel*>(widget);
    if (widget->sizePolicy().horizontalPolicy() == QSizePolicy::Ignored ||
        (label && label->wordWrap()))
        least.setWidth(0);
    if (widget->hasHeightForWidth()) least.setHeight(widget->heightForWidth(widget->width()));
    return least;
}

// Visible widgets cut by their parent or squeezed below their content (a box layout never
// overlaps its items, so squeezing is how an overlap shows).
QStringList layoutFaults(const QWidget* root)
{
    QStringList faults;
    for (const QWidget* w : root->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(root) || w->isWindow()) continue;
        const QString name = QString::fromLatin1(w->metaObject()->className()) + u' ' +
                             w->objectName() + u' ' + w->property("text").toString();
        const QWidget* parent = w->parentWidget();
        if (!scrolled(w) && !parent->rect().contains(w->geometry())) faults << name + " cut";
        const QSize least =
            qobject_cast<const QAbstractScrollArea*>(parent) ? QSize() : leastSize(w);
        if (w->width() < least.width() || w->height() < least.height())
            faults << name + " squeezed";
    }
    return faults;
}

void press(int key)
{
    QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
}

// The object names the focus passes, tabbing on until `name`.
QStringList tabTo(const QString& name)
{
    QStringList passed;
    for (int i = 0; i < 20 && QApplication::focusWidget() && !passed.contains(name); ++i) {
        press(Qt::Key_Tab);
        passed.append(QApplication::focusWidget()->objectName());
    }
    return passed;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qunsetenv("SORVI_UPDATE_FEED_URL");
        resetHome();
    }

    // One alert at a time, in plain text; a message cleared elsewhere closes its alert.
    void alertsOneAtATime()
    {
        WindowFixture f;
        QVERIFY(f.showAndWaitForScan());
        QVERIFY(!f.find<QMessageBox>("updateAlert")); // no feed: nothing said
        const QString text = QStringLiteral(
            "Đã giải phóng 1 kB.\n\nKhông xoá được 1 mục:\n<b>x</b>: "
            "/home/an/.config/app/a/long/path/with/many/more/folders/below/it/name.conf: "
            "lỗi quyền");
        f.model.setMessage(text);
        QMessageBox* result = shownBox(f.window, "resultAlert");
        QVERIFY(result);
        auto* body = result->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"));
        QCOMPARE((QStringList{result->windowTitle(), body->text(),
                              buttonOf(result, "alertOkButton")->text()}),
                 (QStringList{"Kết quả", text, "OK"}));
        QCOMPARE(body->textFormat(), Qt::PlainText);
        f.model.setMessage("hai");
        QCOMPARE(result->informativeText(), "hai");

        // The manual check's alert waits for the result alert.
        f.window.findChild<QAction*>("checkForUpdatesAction")->trigger();
        AWAIT_UNTIL(f.updater->message(), "the update checker's message");
        QVERIFY(!f.find<QMessageBox>("updateAlert"));
        QTest::keyClick(result, Qt::Key_Escape);
        QVERIFY(!f.model.message());
        QMessageBox* update = shownBox(f.window, "updateAlert");
        QVERIFY(update);
        QCOMPARE((QStringList{update->windowTitle(), update->informativeText()}),
                 (QStringList{"Cập nhật", "Chưa cấu hình địa chỉ kiểm tra cập nhật."}));
        buttonOf(update, "alertOkButton")->click();
        QVERIFY(!f.updater->message());

        f.model.setMessage("ba");
        QVERIFY(shownBox(f.window, "resultAlert"));
        f.model.clearMessage();
        AWAIT_UNTIL(!f.find<QMessageBox>("resultAlert"), "the result alert to close");
    }

    // Nothing cut or squeezed at the minimum size; the banner shows four notes, the version as
    // text.
    void screensFitTheMinimum()
    {
        const QString longName =
            QStringLiteral("Trình quản lý ảnh và phim gia đình Nguyễn Thị Phương "
                           "Thảo phiên bản đặc biệt dành cho người dùng nâng cao");
        QVERIFY(TreeBuilder::writeFile(rootOf("caches") + u'/' + longName + "/dữ liệu", 5000));
        const QString app = makeAppImage("trinh-quan-ly.AppImage", longName,
                                         "2024.12.31-beta.4+build.20241231.abcdef0123456789");
        QVERIFY(TreeBuilder::writeFile(rootOf("caches") + "/trinh-quan-ly/a", 5000));
        HttpServer server;
        QVERIFY(server.listen());
        const QString version = "1.5 R&D <b>";
        server.route("/feed.json",
                     HttpServer::ok(feed(11, version, {"một", "hai", "ba", "bốn", "năm", "sáu"})));
        WindowFixture f(checkerFor(server));
        auto* action = f.window.findChild<QAction*>("updateAction");
        QWidget *toolBar = f.find("mainToolBar"), *banner = f.find("updateBanner");
        QVERIFY(f.showAndWaitForScan()); // starts the periodic check, which checks at once
        AWAIT_UNTIL(f.updater->available(), "the newer version");
        QStringList faults = layoutFaults(&f.window);
        QVERIFY(action->isVisible() && toolBar->isVisible() && banner->isVisible());
        QStringList lines{action->iconText(),
                          QTextDocumentFragment::fromHtml(action->toolTip()).toPlainText()};
        for (QLabel* label : banner->findChildren<QLabel*>())
            if (!label->text().isEmpty()) lines.append(label->text());
        lines.append(banner->findChild<QPushButton*>()->text());
        QCOMPARE(lines, QStringList({"Có bản " + version,
                                     "Đã có SorviClean " + version + ". Bấm để tải về.",
                                     "Đã có SorviClean " + version, "Bạn đang dùng bản 1.4.",
                                     "• một", "• hai", "• ba", "• bốn", "Tải bản mới"}));
        auto* row = f.find("overviewRow-large"); // clicked over its label, it opens its category
        QTest::mouseClick(row, Qt::LeftButton, {}, QPoint(30, row->height() / 2));
        QCOMPARE(f.window.detail()->objectName(), "category-large");
        for (const char* id : {"caches", "dev", "uninstaller", "monitor", "overview"}) {
            f.window.setSelection(id);
            if (id == QLatin1String("uninstaller")) {
                AWAIT_UNTIL(!f.uninstaller.apps().isEmpty(), "the application list");
                f.uninstaller.setSelectedID(app);
                AWAIT_UNTIL(f.find("appDetail") && !f.uninstaller.loadingLeftovers(), "the detail");
            }
            f.window.resize(f.window.minimumSize());
            AWAIT_UNTIL(f.window.centralWidget()->size() == QSize(960, 620), "the minimum size");
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
            for (const QString& fault : layoutFaults(&f.window))
                faults << id + (u' ' + fault);
        }
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(u'\n')));
        server.route("/feed.json", HttpServer::ok(feed(10, "1.4", {})));
        AWAIT(f.updater->check(false), "the feed check");
        QVERIFY(!action->isVisible() && !toolBar->isVisible() &&
                !f.find("updateBanner")->isVisible());
        QVERIFY(!f.find<QMessageBox>("updateAlert"));
    }

    // Cleaning with the keyboard alone; a formatted size on every badge once scanned.
    void keyboardOnly()
    {
        resetHome();
        QDir(TestHome::path() + "/Applications").removeRecursively();
        const QStringList items = makeItems("caches", 2);
        const QString app = makeAppImage("go.AppImage", "Zqvn Gõ", "1.0");
        WindowFixture f;
        QVERIFY(f.showAndWaitForScan());
        for (const Category& c : Category::all())
            QCOMPARE(f.find<QLabel>("badgeSize-" + c.id)->text(),
                     formatBytes(f.model.totalSize(c)));
        const auto activate = [&] { // the offscreen platform gives no window the keyboard back
            f.window.activateWindow();
            return Await::until([&] { return f.window.isActiveWindow(); }, "the active window");
        };
        // The confirmation takes the keyboard with the safe choice; Return after tabbing confirms.
        const auto confirm = [&](const QString& name) {
            QMessageBox* box = shownBox(f.window, name);
            AWAIT_UNTIL(box && box->isActiveWindow(), "the confirmation to take the keyboard");
            QCOMPARE(QApplication::focusWidget()->objectName(), "cancelButton");
            QCOMPARE(tabTo("confirmButton").last(), "confirmButton");
            press(Qt::Key_Return);
        };
        QVERIFY(activate());
        QCOMPARE(tabTo("sidebar").last(), "sidebar");
        press(Qt::Key_Down); // over the "Dọn dẹp" heading
        QCOMPARE(f.window.detail()->objectName(), "category-caches");
        QCOMPARE(tabTo("itemList"),
                 QStringList({"selectAllButton", "selectNoneButton", "itemList"}));
        auto* list = f.find<QListView>("itemList");
        const QString first = list->currentIndex().data(RowRole::Url).toString();
        press(Qt::Key_Space);
        QVERIFY(!f.model.state(*Category::find("caches")).selected.contains(first));
        press(Qt::Key_Space);
        press(Qt::Key_Menu); // the row menu
        QVERIFY(f.find("itemContextMenu") && f.find("itemContextMenu")->isVisible());
        QTest::keyClick(f.find("itemContextMenu"), Qt::Key_Escape);
        QCOMPARE(tabTo("cleanButton"), QStringList({"rescanButton", "cleanButton"}));
        press(Qt::Key_Space);
        confirm("cleanConfirmation");
        QVERIFY(!QTest::currentTestFailed() && shownBox(f.window, "resultAlert"));
        QVERIFY(!FileSystem::exists(items[0]) && !FileSystem::exists(items[1]));
        press(Qt::Key_Return);
        AWAIT_UNTIL(!f.model.message(), "the result alert to close");
        QVERIFY(activate());

        QCOMPARE(tabTo("sidebar").last(), "sidebar");
        press(Qt::Key_End); // the monitor, then up over the "Hệ thống" heading
        press(Qt::Key_Up);
        QCOMPARE(f.window.detail()->objectName(), "uninstaller");
        QCOMPARE(tabTo("searchField").last(), "searchField");
        QTest::keyClicks(QApplication::focusWidget(), "zqvn");
        AWAIT_UNTIL(f.uninstaller.visibleApps().value(0).size, "the application and its size");
        QCOMPARE(tabTo("appList"), QStringList({"sortPicker", "appList"}));
        press(Qt::Key_Space); // chooses the current row, the first
        QCOMPARE(f.uninstaller.selectedID(), app);
        AWAIT_UNTIL(!f.uninstaller.loadingLeftovers(), "the leftovers");
        QCOMPARE(tabTo("uninstallButton"),
                 QStringList({"reloadButton", "revealAppButton", "uninstallButton"}));
        press(Qt::Key_Space);
        confirm("uninstallConfirmation");
        QVERIFY(!QTest::currentTestFailed() && shownBox(f.window, "uninstallAlert"));
        QVERIFY(!FileSystem::exists(app) && f.uninstaller.visibleApps().isEmpty());
    }
};

SORVI_TEST_GUI_MAIN(TestMainWindow)
#include "tst_main_window.moc"
