#include "platform/linux/flatpak_source.h"
#include "support/await.h"
#include "support/flatpak_fixture.h"
#include "support/test_home.h"
#include "support/tree_builder.h"

#include <QProcess>

namespace {

const QString kDemo = QStringLiteral("org.sorvi.Demo");
const QString kPlain = QStringLiteral("org.sorvi.Plain");
const QString kBare = QStringLiteral("org.sorvi.Bare");

std::optional<SourcedApplication> find(const QList<SourcedApplication>& apps, const QString& id,
                                       const QString& installation = QStringLiteral("user"))
{
    for (const SourcedApplication& app : apps)
        if (app.id == id && app.installation == installation) return app;
    return std::nullopt;
}

} // namespace

class TestFlatpakApps : public QObject
{
    Q_OBJECT
    FlatpakSource m_source{TestHome::path(), false};

private slots:
    void initTestCase()
    {
        FlatpakFixture::prepareEnvironment();
        const QList<FlatpakFixture::AppShape> apps{
            {kDemo,
             QStringLiteral("Demo Tool"),
             QStringLiteral("Công cụ thử"),
             QStringLiteral("Demo AppStream"),
             QStringLiteral("2.5.1"),
             {64, 128}},
            {kPlain,
             QStringLiteral("Plain Entry"),
             QString(),
             QStringLiteral("Plain Tool"),
             QString(),
             {48}},
            {kBare, QString(), QString(), QString(), QString(), {}},
        };
        const QString failure = FlatpakFixture::build(apps);
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        QString installed = FlatpakFixture::install({kDemo, kPlain, kBare});
        QVERIFY2(installed.isEmpty(), qPrintable(installed));
        if (FlatpakFixture::hasSystemInstallation())
            installed = FlatpakFixture::install({kDemo}, true);
        QVERIFY2(installed.isEmpty(), qPrintable(installed));
        QVERIFY(TreeBuilder::writeFile(TestHome::path() + QStringLiteral("/.var/app/") + kDemo +
                                           QStringLiteral("/config/settings"),
                                       10));
    }

    void listsInstalledApplications_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("icon");
        QTest::addColumn<bool>("privateData");
        // Vietnamese desktop name first, then the AppStream name, then the id.
        QTest::newRow("vietnamese entry, largest icon")
            << kDemo << QStringLiteral("Công cụ thử") << QStringLiteral("2.5.1")
            << QStringLiteral("128x128/apps/org.sorvi.Demo.png") << true;
        QTest::newRow("appstream name over the entry's")
            << kPlain << QStringLiteral("Plain Tool") << QString()
            << QStringLiteral("48x48/apps/org.sorvi.Plain.png") << false;
        QTest::newRow("nothing but the id") << kBare << kBare << QString() << QString() << false;
    }

    void listsInstalledApplications()
    {
        QFETCH(QString, id);
        const std::optional<SourcedApplication> app = find(m_source.applications(), id);
        QVERIFY(app);
        QFETCH(QString, name);
        QFETCH(QString, version);
        QFETCH(QString, icon);
        QFETCH(bool, privateData);
        QCOMPARE(app->name, name);
        QCOMPARE(app->version, version);
        QCOMPARE(app->iconPath.isEmpty(), icon.isEmpty());
        QVERIFY2(app->iconPath.endsWith(icon) && (icon.isEmpty() || QFile::exists(app->iconPath)),
                 qPrintable(app->iconPath));
        QCOMPARE(app->kind, ApplicationKind::Flatpak);
        QCOMPARE(app->removal, Removal::Transaction);
        QVERIFY(!app->isProtected);
        QVERIFY(app->ref.startsWith(QStringLiteral("app/") + id + u'/'));
        QVERIFY(app->ref.endsWith(QStringLiteral("/stable")));
        // The deployment folder, holding the application's metadata; its installed size is
        // what libflatpak recorded, at least the command's bytes.
        QVERIFY2(QFile::exists(app->location + QStringLiteral("/metadata")),
                 qPrintable(app->location));
        QVERIFY(
            app->location.startsWith(TestHome::path() + QStringLiteral("/.local/share/flatpak/")));
        QVERIFY(app->installedSize.value_or(0) > 0);
        const QStringList expectedData{TestHome::path() + QStringLiteral("/.var/app/") + id};
        QCOMPARE(app->privateData, privateData ? expectedData : QStringList());
    }

    void listsSystemInstallationsWhenAsked()
    {
        if (!FlatpakFixture::hasSystemInstallation())
            QSKIP("the system installation can only be written as root here");
        FlatpakSource withSystem(TestHome::path(), true);
        const QList<SourcedApplication> apps = withSystem.applications();
        QVERIFY(find(apps, kDemo));
        const auto system =
            std::find_if(apps.begin(), apps.end(), [](const SourcedApplication& app) {
                return app.id == kDemo && app.installation != u"user";
            });
        QVERIFY(system != apps.end());
        QVERIFY(system->location.startsWith(TestHome::path() + QStringLiteral("/system-flatpak/")));
        QVERIFY(!find(m_source.applications(), kDemo, system->installation));
    }

    void quitsARunningInstanceThroughItsSandbox()
    {
        const QString refusal = FlatpakFixture::sandboxRefusal(kPlain);
        if (!refusal.isEmpty()) QSKIP(qPrintable(QStringLiteral("no sandbox here: ") + refusal));
        const std::optional<SourcedApplication> plain = find(m_source.applications(), kPlain);
        const std::optional<SourcedApplication> demo = find(m_source.applications(), kDemo);
        QVERIFY(plain && demo);
        QProcess run;
        run.start(QStringLiteral("flatpak"),
                  {QStringLiteral("--user"), QStringLiteral("run"), kPlain});
        QList<RunningApplicationPtr> instances;
        AWAIT_UNTIL(!(instances = m_source.instances(*plain)).isEmpty(),
                    "the sandboxed application in Flatpak's instance list");
        QCOMPARE(instances.size(), 1);
        QVERIFY(m_source.instances(*demo).isEmpty());
        QVERIFY(instances.first()->terminate());
        AWAIT_UNTIL(instances.first()->isTerminated(), "the application to end on SIGTERM");
        AWAIT_UNTIL(run.state() == QProcess::NotRunning, "flatpak run to end with its sandbox");
        QCOMPARE(run.exitStatus(), QProcess::NormalExit);
    }

    void refusedSystemRemovalIsAFailure()
    {
        if (!FlatpakFixture::hasSystemInstallation() || !TreeBuilder::canDropPrivileges())
            QSKIP("needs root to install system-wide and to drop to an unprivileged user");
        FlatpakSource withSystem(TestHome::path(), true);
        const QList<SourcedApplication> apps = withSystem.applications();
        const auto system =
            std::find_if(apps.begin(), apps.end(), [](const SourcedApplication& app) {
                return app.id == kDemo && app.installation != u"user";
            });
        QVERIFY(system != apps.end());
        const SourcedApplication app = *system;
        // The user 65534 may not change the system installation: the helper that would ask for
        // authorisation is refused (or absent), and the failure carries the reason.
        const int code = TreeBuilder::runAsNobody([&] {
            const QList<RemovalFailure> failures = withSystem.remove(app);
            return failures.size() == 1 && failures[0].item == app.location &&
                           !failures[0].reason.isEmpty()
                       ? 0
                       : 1;
        });
        QCOMPARE(code, 0);
        QVERIFY(FlatpakFixture::listed(true).contains(kDemo));
    }

    void uninstallsThroughATransaction()
    {
        const std::optional<SourcedApplication> demo = find(m_source.applications(), kDemo);
        QVERIFY(demo);
        QCOMPARE(m_source.remove(*demo), QList<RemovalFailure>());
        QVERIFY(!FlatpakFixture::listed().contains(kDemo));
        QVERIFY(FlatpakFixture::listed().contains(kPlain));
        QVERIFY(!find(m_source.applications(), kDemo));
        QVERIFY(!QFile::exists(demo->location));
        // The private home is a leftover, for the user to choose: the transaction keeps it.
        QVERIFY(QFile::exists(demo->privateData.value(0)));
        // Gone already, or not a Flatpak record: a failure, nothing touched.
        QCOMPARE(m_source.remove(*demo).size(), 1);
        SourcedApplication stranger = *find(m_source.applications(), kPlain);
        stranger.kind = ApplicationKind::AppImage;
        QCOMPARE(m_source.remove(stranger).size(), 1);
        QVERIFY(FlatpakFixture::listed().contains(kPlain));
    }
};

SORVI_TEST_MAIN(TestFlatpakApps)
#include "tst_flatpak_apps.moc"
