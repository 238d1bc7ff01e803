#include "support/await.h"
#include "support/http_server.h"
#include "support/test_home.h"
#include "ui/update_banner.h"
#include "window_fixture.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QToolBar>
#include <QToolButton>

namespace {

QByteArray feed(qint64 build, const QString& version, const QStringList& notes)
{
    QByteArray list;
    for (const QString& note : notes)
        list += (list.isEmpty() ? "\"" : ",\"") + note.toUtf8() + '"';
    return R"({"apps":[{"id":"sorviclean","versions":[{"version":")" + version.toUtf8() +
           R"(","build":)" + QByteArray::number(build) + R"(,"notes":[)" + list + "]}]}]}";
}

// A checker of running version 1.4, build 10, reading its feed from `server`.
std::unique_ptr<UpdateChecker> checkerFor(const HttpServer& server)
{
    const QVariantMap info{{QStringLiteral("CFBundleShortVersionString"), QStringLiteral("1.4")},
                           {QStringLiteral("CFBundleVersion"), QStringLiteral("10")}};
    const QString address = server.url(QStringLiteral("/feed.json")).toString();
    return std::make_unique<UpdateChecker>(
        info, UpdateChecker::Timing{}, [address](const QString& name) -> std::optional<QString> {
            if (name == u"SORVI_UPDATE_FEED_URL") return address;
            return std::nullopt;
        });
}

QStringList noteTexts(const QWidget& banner)
{
    QStringList texts;
    for (QLabel* label : banner.findChildren<QLabel*>(QStringLiteral("bannerNote")))
        texts.append(label->text());
    return texts;
}

} // namespace

class TestUpdateUi : public QObject
{
    Q_OBJECT

private slots:
    void toolbarAndBannerFollowAvailable();
    void bannerWithoutNotesHasNoBullets();
};

void TestUpdateUi::toolbarAndBannerFollowAvailable()
{
    HttpServer server;
    QVERIFY(server.listen());
    const QStringList notes{QStringLiteral("một"), QStringLiteral("hai"), QStringLiteral("ba"),
                            QStringLiteral("bốn"), QStringLiteral("năm"), QStringLiteral("sáu")};
    server.route(QStringLiteral("/feed.json"),
                 HttpServer::ok(feed(11, QStringLiteral("1.5"), notes)));
    WindowFixture f(checkerFor(server));
    auto* action = f.window.findChild<QAction*>(QStringLiteral("updateAction"));
    auto* banner = f.find(QStringLiteral("updateBanner"));
    QVERIFY(action && banner);
    QVERIFY(!action->isVisible());

    QSignalSpy available(f.updater.get(), &UpdateChecker::availableChanged);
    QVERIFY(f.showAndWaitForScan());
    // Showing the window starts the periodic check, which checks at once.
    QVERIFY(available.count() > 0 || available.wait(20000));
    QVERIFY(f.updater->available().has_value());

    QVERIFY(action->isVisible());
    QVERIFY(f.find<QToolBar>(QStringLiteral("mainToolBar"))->isVisible());
    QCOMPARE(action->text(), QStringLiteral("Có bản 1.5"));
    QCOMPARE(action->toolTip(), QStringLiteral("Đã có SorviClean 1.5. Bấm để tải về."));
    auto* button = f.find<QToolButton>(QStringLiteral("updateButton"));
    QVERIFY(button && button->isVisible());

    QVERIFY(banner->isVisible());
    QCOMPARE(banner->findChild<QLabel*>(QStringLiteral("bannerTitle"))->text(),
             QStringLiteral("Đã có SorviClean 1.5"));
    QCOMPARE(banner->findChild<QLabel*>(QStringLiteral("bannerCurrentVersion"))->text(),
             QStringLiteral("Bạn đang dùng bản 1.4."));
    QCOMPARE(noteTexts(*banner), (QStringList{QStringLiteral("• một"), QStringLiteral("• hai"),
                                              QStringLiteral("• ba"), QStringLiteral("• bốn")}));
    QCOMPARE(banner->findChild<QPushButton*>(QStringLiteral("downloadButton"))->text(),
             QStringLiteral("Tải bản mới"));

    // The feed now lists the running build: a later check clears both.
    server.route(QStringLiteral("/feed.json"), HttpServer::ok(feed(10, QStringLiteral("1.4"), {})));
    AWAIT(f.updater->check(false), "the feed check");
    QVERIFY(!f.updater->available().has_value());
    QVERIFY(!action->isVisible());
    QVERIFY(!f.find<QToolBar>(QStringLiteral("mainToolBar"))->isVisible());
    QVERIFY(!banner->isVisible());
    // The periodic check says nothing.
    QVERIFY(!f.find<QMessageBox>(QStringLiteral("updateAlert")));
}

void TestUpdateUi::bannerWithoutNotesHasNoBullets()
{
    HttpServer server;
    QVERIFY(server.listen());
    server.route(QStringLiteral("/feed.json"), HttpServer::ok(feed(12, QStringLiteral("2.0"), {})));
    std::unique_ptr<UpdateChecker> checker = checkerFor(server);
    QWidget overview;
    auto& banner = *new UpdateBanner(checker.get(), &overview);
    overview.show();
    QVERIFY(!banner.isVisible());
    QCoro::waitFor(checker->check(false));
    QVERIFY(banner.isVisible());
    QCOMPARE(banner.findChild<QLabel*>(QStringLiteral("bannerTitle"))->text(),
             QStringLiteral("Đã có SorviClean 2.0"));
    QVERIFY(noteTexts(banner).isEmpty());
}

SORVI_TEST_GUI_MAIN(TestUpdateUi)
#include "tst_update_ui.moc"
