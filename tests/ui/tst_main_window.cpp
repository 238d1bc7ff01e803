#include "support/http_server.h"
#include "ui/sidebar.h"
#include "window_fixture.h"

#include <QAction>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
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
