#include "platform/linux/flatpak_source.h"
#include "platform/linux/linux_running_apps.h"
#include "support/await.h"
#include "support/flatpak_fixture.h"
#include "support/rows.h"
#include "support/test_home.h"
#include "support/tree_builder.h"

#include <QProcess>

namespace {

const QString kDemo = QStringLiteral("org.sorvi.Demo");
const QString kPlain = QStringLiteral("org.sorvi.Plain");
const QString kBare = QStringLiteral("org.sorvi.Bare");

// The record of `id` in the user installation (system = false) or a system one.
std::optional<SourcedApplication> find(FlatpakSource& source, const QString& id,
                                       bool system = false)
{
    for (const SourcedApplication& app : source.applications())
        if (app.id == id && (app.installation == u"user") != system) return app;
    return std::nullopt;
}

} // namespace

class TestFlatpakApps : public QObject
{
    Q_OBJECT
    FlatpakSource m_user{TestHome::path(), false};
    FlatpakSource m_all{TestHome::path(), true};

private slots:
    void initTestCase()
    {
        FlatpakFixture::prepareEnvironment();
        QString failure = FlatpakFixture::build(
            {{kDemo, "Demo Tool", "Công cụ thử", "Demo AppStream", "2.5.1", {64, 128}},
             {kPlain, "Plain Entry", "", "Plain Tool", "", {48}},
             {kBare, "", "", "", "", {}}});
        if (failure.isEmpty()) failure = FlatpakFixture::install({kDemo, kPlain, kBare});
        if (failure.isEmpty() && FlatpakFixture::hasSystemInstallation())
            failure = FlatpakFixture::install({kDemo}, true);
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        QVERIFY(TreeBuilder::writeFile(TestHome::path() + "/.var/app/org.sorvi.Demo/settings", 10));
    }

    void listsInstalledApplications_data()
    {
        // seen: name|version|icon|private data folders
        Rows::add({"id", "seen"}, {"Vietnamese entry name, largest icon;org.sorvi.Demo;"
                                   "Công cụ thử|2.5.1|128x128/apps/org.sorvi.Demo.png|1",
                                   "AppStream name before the entry's;org.sorvi.Plain;"
                                   "Plain Tool||48x48/apps/org.sorvi.Plain.png|0",
                                   "nothing but the id;org.sorvi.Bare;org.sorvi.Bare|||0"});
    }

    void listsInstalledApplications()
    {
        QFETCH(QString, id);
        QFETCH(QString, seen);
        const std::optional<SourcedApplication> app = find(m_user, id);
        QVERIFY(app);
        const QString icon = QFile::exists(app->iconPath) ? app->iconPath.section(u'/', -3) : "";
        const QString size = QString::number(app->privateData.size());
        QCOMPARE(QStringList({app->name, app->version, icon, size}).join(u'|'), seen);
        QCOMPARE(app->ref.section(u'/', 0, 1), "app/" + id);
        // The deployment folder, and the size libflatpak recorded for it.
        QVERIFY(QFile::exists(app->location + "/metadata"));
        QVERIFY(app->location.startsWith(qEnvironmentVariable("FLATPAK_USER_DIR") + u'/'));
        QVERIFY(app->installedSize.value_or(0) > 0 && app->removal == Removal::Transaction);
    }

    void quitsARunningInstanceThroughItsSandbox()
    {
        const std::optional<SourcedApplication> plain = find(m_user, kPlain);
        QVERIFY(plain);
        QProcess run;
        run.start("flatpak", {QStringLiteral("--user"), "run", kPlain});
        QList<RunningApplicationPtr> found;
        LinuxRunningApps registry;
        AWAIT_UNTIL(!(found = registry.instances(*plain).value()).isEmpty() ||
                        run.state() == QProcess::NotRunning,
                    "the sandboxed application in Flatpak's instance list, or flatpak run to fail");
        if (found.isEmpty())
            QSKIP(qPrintable(QStringLiteral("no sandbox here: ") + run.readAllStandardError()));
        QCOMPARE(found.size(), 1);
        QVERIFY(registry.instances(*find(m_user, kDemo)).value().isEmpty());
        QVERIFY(found[0]->terminate());
        AWAIT_UNTIL(found[0]->isTerminated(), "the application to end on SIGTERM");
        AWAIT_UNTIL(run.state() == QProcess::NotRunning, "flatpak run to end with its sandbox");
    }

    void refusedSystemRemovalIsAFailure()
    {
        if (!FlatpakFixture::hasSystemInstallation() || !TreeBuilder::canDropPrivileges())
            QSKIP("needs root to install system-wide and to drop to an unprivileged user");
        const std::optional<SourcedApplication> system = find(m_all, kDemo, true);
        QVERIFY(system);
        QVERIFY(system->location.startsWith(qEnvironmentVariable("FLATPAK_SYSTEM_DIR") + u'/'));
        // The user 65534 may not change the system installation: the helper that would ask for
        // authorisation is refused (or absent here), and the failure carries the reason.
        const int code = TreeBuilder::runAsNobody([&] {
            const QList<RemovalFailure> failures = m_all.remove(*system);
            return failures.size() == 1 && !failures[0].reason.isEmpty() ? 0 : 1;
        });
        QCOMPARE(code, 0);
        QVERIFY(FlatpakFixture::listed(true).contains(kDemo));
    }

    void uninstallsThroughATransaction()
    {
        const std::optional<SourcedApplication> demo = find(m_user, kDemo);
        QVERIFY(demo);
        QCOMPARE(m_user.remove(*demo), QList<RemovalFailure>());
        QCOMPARE(FlatpakFixture::listed(), (QStringList{kBare, kPlain}));
        QVERIFY(!find(m_user, kDemo) && !QFile::exists(demo->location));
        // The private home is a leftover for the user to choose: the transaction keeps it.
        QVERIFY(QFile::exists(demo->privateData.value(0)));
        // Gone already, or not a Flatpak record: a failure, nothing touched.
        QCOMPARE(m_user.remove(*demo).size(), 1);
        SourcedApplication stranger = *find(m_user, kPlain);
        stranger.kind = ApplicationKind::AppImage;
        QCOMPARE(m_user.remove(stranger).size(), 1);
        QCOMPARE(FlatpakFixture::listed(), (QStringList{kBare, kPlain}));
    }
};

SORVI_TEST_MAIN(TestFlatpakApps)
#include "tst_flatpak_apps.moc"
