#include "platform/file_system.h"
#include "support/http_server.h"
#include "ui/row_painter.h"
#include "ui/sidebar.h"
#include "window_fixture.h"

#include <QAbstractScrollArea>
#include <QAction>
#include <QBoxLayout>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QTextDocumentFragment>
#include <QToolBar>

namespace {

QByteArray feed(qint64 build, const QString& version, const QStringList& notes)
{
    const QJsonObject entry{
        {"version", version}, {"build", build}, {"notes", QJsonArray::fromStringList(notes)}};
    const QJsonObject app{{"id", "sorviclean"}, {"versions", QJsonArray{entry}}};
    return QJsonDocument(QJsonObject{{"apps", QJsonArray{app}}}).toJson();
}

// A checker of running version 1.4, build 10, reading its feed from `server`.
std::unique_ptr<UpdateChecker> checkerFor(const HttpServer& server)
{
    const QVariantMap info{{"CFBundleShortVersionString", "1.4"}, {"CFBundleVersion", "10"}};
    const QString address = server.url(QStringLiteral("/feed.json")).toString();
    return std::make_unique<UpdateChecker>(
        info, UpdateChecker::Timing{}, [address](const QString& name) -> std::optional<QString> {
            if (name == u"SORVI_UPDATE_FEED_URL") return address;
            return std::nullopt;
        });
}

bool inLayout(const QLayout* layout, const QWidget* widget)
{
    for (int i = 0; layout && i < layout->count(); ++i)
        if (layout->itemAt(i)->widget() == widget || inLayout(layout->itemAt(i)->layout(), widget))
            return true;
    return false;
}

// A widget that a scroll area moves: its place is the viewport's business, not a layout's.
bool scrolled(const QWidget* widget)
{
    const auto* area = qobject_cast<const QAbstractScrollArea*>(
        widget->parentWidget() ? widget->parentWidget()->parentWidget() : nullptr);
    return area && area->viewport() == widget->parentWidget();
}

// The least size a layout gives `widget`: its own minimum where it set one, else its hint.
QSize leastSize(const QWidget* widget)
{
    QSize least = widget->minimumSizeHint().boundedTo(widget->maximumSize());
    if (widget->minimumWidth() > 0) least.setWidth(widget->minimumWidth());
    if (widget->minimumHeight() > 0) least.setHeight(widget->minimumHeight());
    if (widget->sizePolicy().horizontalPolicy() == QSizePolicy::Ignored) least.setWidth(0);
    // A wrapped label may wrap at any width; a widget of height for width needs that height.
    if (const auto* label = qobject_cast<const QLabel*>(widget); label && label->wordWrap())
        least.setWidth(0);
    if (widget->hasHeightForWidth()) least.setHeight(widget->heightForWidth(widget->width()));
    return least;
}

// Every visible widget below `root` that its parent cuts, that is smaller than its content needs,
// or that overlaps a sibling of the same box layout (a grid may stack an overlay on purpose).
QStringList layoutFaults(const QWidget* root)
{
    QStringList faults;
    for (const QWidget* w : root->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(root) || w->isWindow()) continue;
        const QString name = QString::fromLatin1(w->metaObject()->className()) + u' ' +
                             w->objectName() + u' ' + w->property("text").toString();
        const QWidget* parent = w->parentWidget();
        if (!scrolled(w) && !parent->rect().contains(w->geometry())) faults << name + " cut";
        // What a scroll area places itself (viewport, headers, scroll bars) it sizes itself.
        const QSize least =
            qobject_cast<const QAbstractScrollArea*>(parent) ? QSize() : leastSize(w);
        if (w->width() < least.width() || w->height() < least.height())
            faults << name + QStringLiteral(" squeezed: %1x%2 < %3x%4")
                                 .arg(w->width())
                                 .arg(w->height())
                                 .arg(least.width())
                                 .arg(least.height());
        const auto* box = qobject_cast<const QBoxLayout*>(parent->layout());
        for (const QWidget* other : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (box && other != w && other->isVisibleTo(root) && inLayout(box, w) &&
                inLayout(box, other) && w->geometry().intersects(other->geometry()))
                faults << name + " overlaps " + other->objectName();
    }
    return faults;
}

// Presses `key` on the widget that has the focus.
void press(int key, Qt::KeyboardModifiers modifiers = {})
{
    QTest::keyClick(QApplication::focusWidget(), Qt::Key(key), modifiers);
}

// Tabs on until the focus reaches `name`; the object names it passed on the way, `name` last.
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
        // The feed address may come from the environment; these tests run without one.
        qunsetenv("SORVI_UPDATE_FEED_URL");
        resetHome();
    }

    // A formatted size on every badge once scanned (also a zero), and every sidebar row and
    // overview row opens its screen.
    void startupScanFillsBadgesAndRoutes()
    {
        makeItems(QStringLiteral("caches"), 2);
        WindowFixture f;
        QVERIFY(f.find(QStringLiteral("badgeSize-caches"))->isHidden());
        QCOMPARE(f.find<QLabel>(QStringLiteral("overviewSize-caches"))->text(), formatBytes(0));
        QVERIFY(f.showAndWaitForScan());
        for (const Category& c : Category::all())
            QCOMPARE(f.find<QLabel>("badgeSize-" + c.id)->text(),
                     formatBytes(f.model.totalSize(c)));
        auto* sidebar = f.find<Sidebar>(QStringLiteral("sidebar"));
        for (int i = 0; i < sidebar->count(); ++i) {
            const QString id = sidebar->item(i)->data(Sidebar::IdRole).toString();
            if (id.isEmpty()) continue; // a section heading
            QTest::mouseClick(sidebar->viewport(), Qt::LeftButton, {},
                              sidebar->visualItemRect(sidebar->item(i)).center());
            QCOMPARE(f.window.detail()->objectName(), Category::find(id) ? "category-" + id : id);
        }
        // A row of the overview, clicked anywhere, also over its label, opens its category.
        f.window.setSelection(QStringLiteral("overview"));
        auto* row = f.find<QPushButton>(QStringLiteral("overviewRow-logs"));
        QTest::mouseClick(row, Qt::LeftButton, {}, QPoint(30, row->height() / 2));
        QCOMPARE(sidebar->selectedId(), QStringLiteral("logs"));
        QCOMPARE(f.window.detail()->objectName(), QStringLiteral("category-logs"));
    }

    // One alert at a time, each plain text at a readable measure (40 to 66 average characters a
    // line, whether the message is short or long); a message cleared elsewhere closes its alert.
    void alertsOneAtATime()
    {
        WindowFixture f;
        QVERIFY(f.showAndWaitForScan());
        QVERIFY(!f.find<QMessageBox>(QStringLiteral("updateAlert"))); // no feed: nothing said
        const QString text = QStringLiteral(
            "Đã giải phóng 1 kB.\n\nKhông xoá được 1 mục:\n<b>x</b>: "
            "/home/an/.config/app/a/long/path/with/many/more/folders/below/it/name.conf: "
            "lỗi quyền");
        f.model.setMessage(text);
        QMessageBox* result = shownBox(f.window, QStringLiteral("resultAlert"));
        QVERIFY(result);
        auto* body = result->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"));
        QCOMPARE((QStringList{result->windowTitle(), body->text(),
                              buttonOf(result, "alertOkButton")->text()}),
                 (QStringList{"Kết quả", text, "OK"}));
        QCOMPARE(body->textFormat(), Qt::PlainText);
        const int average = body->fontMetrics().averageCharWidth();
        QVERIFY(body->width() >= 40 * average && body->width() <= 70 * average);
        f.model.setMessage(QStringLiteral("hai"));
        QCOMPARE(result->informativeText(), QStringLiteral("hai"));
        AWAIT_UNTIL(body->width() >= 40 * average, "a short message at the readable measure");

        // The manual check follows "About"; its alert waits for the result alert to be dismissed.
        auto* check = f.window.findChild<QAction*>(QStringLiteral("checkForUpdatesAction"));
        const QList<QAction*> menu = f.find<QMenu>(QStringLiteral("applicationMenu"))->actions();
        QCOMPARE(menu.value(menu.indexOf(f.window.findChild<QAction*>("aboutAction")) + 1), check);
        check->trigger();
        AWAIT_UNTIL(f.updater->message(), "the update checker's message");
        QVERIFY(!f.find<QMessageBox>(QStringLiteral("updateAlert")));
        QTest::keyClick(result, Qt::Key_Escape);
        QVERIFY(!f.model.message());
        QMessageBox* update = shownBox(f.window, QStringLiteral("updateAlert"));
        QVERIFY(update);
        QCOMPARE((QStringList{update->windowTitle(), update->informativeText()}),
                 (QStringList{"Cập nhật", "Chưa cấu hình địa chỉ kiểm tra cập nhật."}));
        buttonOf(update, "alertOkButton")->click();
        QVERIFY(!f.updater->message());

        f.model.setMessage(QStringLiteral("ba"));
        QVERIFY(shownBox(f.window, QStringLiteral("resultAlert")));
        f.model.clearMessage();
        AWAIT_UNTIL(!f.find<QMessageBox>(QStringLiteral("resultAlert")),
                    "the result alert to close");
    }

    // Each screen at the window's minimum, with the update banner, long Vietnamese names and a
    // long version: nothing is cut, squeezed or overlapped. At the default size the whole overview
    // shows.
    void screensFitTheMinimum_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<bool>("minimum");
        for (const char* id : {"overview", "caches", "dev", "uninstaller", "monitor"})
            QTest::newRow(id) << id << true;
        QTest::newRow("overview, default size") << "overview" << false;
    }

    void screensFitTheMinimum()
    {
        QFETCH(QString, id);
        QFETCH(bool, minimum);
        const QString longName =
            QStringLiteral("Trình quản lý ảnh và phim gia đình Nguyễn Thị Phương "
                           "Thảo phiên bản đặc biệt dành cho người dùng nâng cao");
        QVERIFY(TreeBuilder::writeFile(rootOf("caches") + u'/' + longName + "/dữ liệu", 5000));
        const QString app = makeAppImage("trinh-quan-ly.AppImage", longName,
                                         "2024.12.31-beta.4+build.20241231.abcdef0123456789");
        QVERIFY(TreeBuilder::writeFile(rootOf("caches") + "/trinh-quan-ly/a", 5000));
        HttpServer server;
        QVERIFY(server.listen());
        server.route("/feed.json", HttpServer::ok(feed(11, "1.5", {"một", "hai", "ba", "bốn"})));
        WindowFixture f(checkerFor(server));
        QVERIFY(f.showAndWaitForScan());
        AWAIT_UNTIL(f.updater->available(), "the newer version");
        f.window.setSelection(id);
        if (id == u"uninstaller") {
            AWAIT_UNTIL(!f.uninstaller.apps().isEmpty(), "the application list");
            f.uninstaller.setSelectedID(app);
            AWAIT_UNTIL(f.find("appDetail") && !f.uninstaller.loadingLeftovers(), "the detail");
        }
        if (minimum) f.window.resize(f.window.minimumSize());
        AWAIT_UNTIL(!minimum || f.window.centralWidget()->size() == QSize(960, 620),
                    "the content at its minimum");
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        const QStringList faults = layoutFaults(&f.window);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(u'\n')));
        if (minimum) return;
        auto* row = f.find(QStringLiteral("overviewRow-large"));
        const QWidget* viewport = f.find<QAbstractScrollArea>("categoryList")->viewport();
        QVERIFY(viewport->rect().contains(QRect(row->mapTo(viewport, QPoint()), row->size())));
    }

    // Cleaning one category and uninstalling one application with the keyboard alone, in each
    // screen's tab order: rows chosen with arrows, ticked with Space, the row menu from the menu
    // key, the confirmation taken by tabbing to its destructive button.
    void keyboardOnly()
    {
        resetHome();
        QDir(TestHome::path() + "/Applications").removeRecursively();
        const QStringList items = makeItems("caches", 2);
        const QString app = makeAppImage("go.AppImage", "Zqvn Gõ", "1.0");
        WindowFixture f;
        QVERIFY(f.showAndWaitForScan());
        f.window.activateWindow();
        AWAIT_UNTIL(f.window.isActiveWindow(), "the window to be active");
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
        press(Qt::Key_Menu);
        auto* menu = f.find<QMenu>("itemContextMenu");
        QVERIFY(menu && menu->isVisible());
        QTest::keyClick(menu, Qt::Key_Escape);
        QCOMPARE(tabTo("cleanButton"), QStringList({"rescanButton", "cleanButton"}));
        press(Qt::Key_Space);
        QMessageBox* box = shownBox(f.window, "cleanConfirmation");
        QVERIFY(box);
        AWAIT_UNTIL(box->isActiveWindow(), "the confirmation to take the keyboard");
        QCOMPARE(QApplication::focusWidget()->objectName(), "cancelButton");
        QCOMPARE(tabTo("confirmButton").last(), "confirmButton");
        press(Qt::Key_Return);
        QVERIFY(shownBox(f.window, "resultAlert"));
        QVERIFY(!FileSystem::exists(items[0]) && !FileSystem::exists(items[1]));
        press(Qt::Key_Return);
        AWAIT_UNTIL(!f.model.message(), "the result alert to close");
        // A window manager gives the window the keyboard back; the offscreen platform does not.
        f.window.activateWindow();
        AWAIT_UNTIL(f.window.isActiveWindow(), "the window to be active again");

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
        box = shownBox(f.window, "uninstallConfirmation");
        AWAIT_UNTIL(box && box->isActiveWindow(), "the confirmation to take the keyboard");
        tabTo("confirmButton");
        press(Qt::Key_Return);
        QVERIFY(shownBox(f.window, "uninstallAlert"));
        QVERIFY(!FileSystem::exists(app) && f.uninstaller.visibleApps().isEmpty());
    }

    // The toolbar button and the banner show while a newer version is known, with at most four
    // notes; a version is the feed's text, never a shortcut mark or markup.
    void toolbarAndBannerFollowAvailable_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QStringList>("notes");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("six notes") << "1.5" << QStringList{"một", "hai", "ba", "bốn", "năm", "sáu"}
                                   << QStringList{"• một", "• hai", "• ba", "• bốn"};
        QTest::newRow("no notes, hostile version")
            << "2.0 R&D <b>" << QStringList() << QStringList();
    }
    void toolbarAndBannerFollowAvailable()
    {
        QFETCH(QString, version);
        QFETCH(QStringList, notes);
        QFETCH(QStringList, shown);
        HttpServer server;
        QVERIFY(server.listen());
        server.route(QStringLiteral("/feed.json"), HttpServer::ok(feed(11, version, notes)));
        WindowFixture f(checkerFor(server));
        auto* action = f.window.findChild<QAction*>(QStringLiteral("updateAction"));
        auto* toolBar = f.find<QToolBar>(QStringLiteral("mainToolBar"));
        QWidget* banner = f.find(QStringLiteral("updateBanner"));
        QVERIFY(!action->isVisible());
        // Showing the window starts the periodic check, which checks at once.
        QVERIFY(f.showAndWaitForScan());
        AWAIT_UNTIL(f.updater->available(), "the newer version");
        QVERIFY(action->isVisible() && toolBar->isVisible() && banner->isVisible());
        QStringList lines{action->iconText(),
                          QTextDocumentFragment::fromHtml(action->toolTip()).toPlainText()};
        for (QLabel* label : banner->findChildren<QLabel*>())
            if (!label->text().isEmpty()) lines.append(label->text());
        lines.append(banner->findChild<QPushButton*>()->text());
        QCOMPARE(lines, QStringList({"Có bản " + version,
                                     "Đã có SorviClean " + version + ". Bấm để tải về.",
                                     "Đã có SorviClean " + version, "Bạn đang dùng bản 1.4."}) +
                            shown + QStringList{"Tải bản mới"});

        // The feed now lists the running build: a later check clears both, and says nothing.
        server.route(QStringLiteral("/feed.json"),
                     HttpServer::ok(feed(10, QStringLiteral("1.4"), {})));
        AWAIT(f.updater->check(false), "the feed check");
        QVERIFY(!action->isVisible() && !toolBar->isVisible() && !banner->isVisible());
        QVERIFY(!f.find<QMessageBox>(QStringLiteral("updateAlert")));
    }
};

SORVI_TEST_GUI_MAIN(TestMainWindow)
#include "tst_main_window.moc"
