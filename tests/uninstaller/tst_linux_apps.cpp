#include "platform/file_system.h"
#include "platform/running_apps.h"
#include "support/await.h"
#include "support/bundle_fixture.h"
#include "support/flatpak_fixture.h"
#include "support/rows.h"
#include "uninstaller/uninstaller_model.h"

#include <QImage>
#include <QTemporaryDir>

using BundleFixture::urls;
using TestHome::putEntry;
using TreeBuilder::putFile;
using TreeBuilder::writeFile;

namespace {

const QString kDemo = QStringLiteral("org.sorvi.Demo");
const QString kPlain = QStringLiteral("org.sorvi.Plain");
const QString kBare = QStringLiteral("org.sorvi.Bare");

bool icon(const QString& relative)
{
    QImage image(64, 64, QImage::Format_ARGB32);
    image.fill(Qt::darkGreen);
    return QDir().mkpath(TestHome::at(relative).section(u'/', 0, -2)) &&
           image.save(TestHome::at(relative));
}

} // namespace

class TestLinuxApps : public QObject
{
    Q_OBJECT
    QTemporaryDir m_system; // the system data folders lie outside the home
    std::unique_ptr<UninstallerModel> m_model;
    AppCatalog::Folders m_withSystem; // the system Flatpak installation included
    std::optional<InstalledApp> app(const QString& id) const
    {
        for (const InstalledApp& each : m_model->apps())
            if (each.bundleID == id) return each;
        return std::nullopt;
    }

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
        QVERIFY(writeFile(TestHome::at(".var/app/org.sorvi.Demo/config/notes.db"), 8000));

        QVERIFY(TreeBuilder::putAppImage(TestHome::at("Applications/Tool-1.2-x86_64.AppImage")));
        QVERIFY(
            putEntry("tool", "Name=Tool\nIcon=tool\nExec=~/Applications/Tool-1.2-x86_64.AppImage"));
        QVERIFY(icon(".local/share/icons/hicolor/64x64/apps/tool.png"));
        QVERIFY(writeFile(TestHome::at(".config/tool/settings"), 3000));

        QVERIFY(writeFile(TestHome::at("opt/Editor/bin/editor"), 60000));
        QVERIFY(writeFile(TestHome::at("opt/Editor/lib/core.so"), 90000));
        QVERIFY(icon("opt/Editor/editor.png"));
        QVERIFY(putEntry("editor-app", "Name=Editor\nX-Version=3.0\nIcon=~/opt/Editor/editor.png\n"
                                       "Exec=~/opt/Editor/bin/editor"));
        QVERIFY(writeFile(TestHome::at(".cache/editor-app/index"), 5000));
        // Named like the application only: another program may own it.
        QVERIFY(writeFile(TestHome::at(".local/state/editor/history"), 2000));

        QVERIFY(putFile(m_system.path() + "/applications/org.sorvi.Viewer.desktop",
                        "[Desktop Entry]\nType=Application\nName=Viewer\nName[vi]=Trình xem\n"
                        "Exec=/usr/bin/true\nIcon=folder\n"));

        ApplicationPlaces places = ApplicationPlaces::inHome(TestHome::path());
        places.dataDirs = {m_system.path()};
        UninstallerModel::Services services;
        services.folders = AppCatalog::Folders::inPlaces(places);
        places.systemFlatpak = true;
        m_withSystem = AppCatalog::Folders::inPlaces(places);
        m_model = std::make_unique<UninstallerModel>(services);
        AWAIT(m_model->load(), "the list and its sizes");
    }

    // The Vietnamese name where given, for Flatpak the AppStream one first; the largest icon.
    void listsEveryKind_data()
    {
        Rows::add({"id", "location", "seen"}, // seen: name|version|size|icon|protected
                  {"flatpak;org.sorvi.Demo;;Công cụ thử|2.5.1||128x128/apps/org.sorvi.Demo.png|0",
                   "flatpak, AppStream name;org.sorvi.Plain;;Plain Tool|||48x48/apps/"
                   "org.sorvi.Plain.png|0",
                   "flatpak, nothing but the id;org.sorvi.Bare;;org.sorvi.Bare||||0",
                   "appimage;tool;Applications/Tool-1.2-x86_64.AppImage;Tool|1.2|measured|"
                   "64x64/apps/tool.png|0",
                   "home program;editor-app;opt/Editor;Editor|3.0|measured|opt/Editor/editor.png|0",
                   "system package;org.sorvi.Viewer;;Trình xem|||folder|1"});
    }
    void listsEveryKind()
    {
        QFETCH(QString, id);
        QFETCH(QString, location);
        QFETCH(QString, seen);
        const std::optional<InstalledApp> found = app(id);
        QVERIFY(found);
        if (!location.isEmpty()) QCOMPARE(found->url, TestHome::at(location));
        QString size = found->size ? QString::number(*found->size) : QString();
        if (!location.isEmpty() && found->size == TreeBuilder::expectedAllocated(found->url))
            size = "measured";
        if (found->kind == ApplicationKind::Flatpak)
            QVERIFY(found->size.value_or(0) > 0 && QFile::exists(found->url + "/metadata"));
        const QString shown =
            QFile::exists(found->iconPath) ? found->iconPath.section(u'/', -3) : found->iconName;
        QCOMPARE(QStringList({found->name, found->version,
                              found->kind == ApplicationKind::Flatpak ? "" : size, shown,
                              QString::number(found->isProtected)})
                     .join(u'|'),
                 seen);
    }

    // Nothing stays but the leftover matched by name alone, which starts unticked.
    void removesEachButWhatIsUnticked_data()
    {
        Rows::add( // below the home: the leftover ticked, the application's own files, what stays
            {"id", "ticked", "own", "kept"},
            {"flatpak;org.sorvi.Demo;.var/app/org.sorvi.Demo;;",
             "appimage;tool;.config/tool;Applications/Tool-1.2-x86_64.AppImage|.local/share/"
             "applications/tool.desktop|.local/share/icons/hicolor/64x64/apps/tool.png;",
             "home program;editor-app;.cache/editor-app;opt/Editor|.local/share/applications/"
             "editor-app.desktop;.local/state/editor"});
    }
    void removesEachButWhatIsUnticked()
    {
        QFETCH(QString, id);
        QFETCH(QString, ticked);
        QFETCH(QString, own);
        QFETCH(QString, kept);
        const std::optional<InstalledApp> target = app(id);
        QVERIFY(target);
        m_model->setSelectedID(target->url);
        AWAIT_UNTIL(!m_model->loadingLeftovers(), "the leftover search");
        QCOMPARE(m_model->selectedLeftovers(), QSet<QString>{TestHome::at(ticked)});
        QCOMPARE(urls(m_model->leftovers()).contains(TestHome::at(kept)), !kept.isEmpty());
        AWAIT(m_model->uninstallSelected(), "the uninstall");
        QVERIFY2(m_model->message().value_or("").startsWith("Đã gỡ " + target->name + " và "),
                 qPrintable(m_model->message().value_or("")));
        QVERIFY(!app(id) && !FileSystem::exists(target->url) &&
                !FileSystem::exists(TestHome::at(ticked)));
        for (const QString& path : own.split(u'|', Qt::SkipEmptyParts))
            QVERIFY2(!FileSystem::exists(TestHome::at(path)), qPrintable(path));
        QVERIFY(kept.isEmpty() || FileSystem::exists(TestHome::at(kept)));
        QVERIFY(!FlatpakFixture::listed().contains(id));
    }

    void quitsAFlatpakThroughItsSandbox()
    {
        const std::optional<InstalledApp> plain = app(kPlain);
        QVERIFY(plain);
        QProcess run;
        run.start("flatpak", {QStringLiteral("--user"), "run", kPlain});
        QList<RunningApplicationPtr> found;
        RunningApps& registry = defaultRunningApps();
        AWAIT_UNTIL(!(found = registry.instances(plain->sourced()).value()).isEmpty() ||
                        run.state() == QProcess::NotRunning,
                    "the sandboxed application in Flatpak's instance list, or flatpak run to fail");
        if (found.isEmpty())
            QSKIP(qPrintable(QStringLiteral("no sandbox here: ") + run.readAllStandardError()));
        QCOMPARE(found.size(), 1);
        QVERIFY(registry.instances(app(kBare)->sourced()).value().isEmpty());
        QVERIFY(found[0]->terminate());
        AWAIT_UNTIL(found[0]->isTerminated(), "the application to end on SIGTERM");
        AWAIT_UNTIL(run.state() == QProcess::NotRunning, "flatpak run to end with its sandbox");
    }

    // A refused system-wide removal (no authorisation for user 65534) is a failure with a reason.
    void refusedSystemRemovalIsAFailure()
    {
        if (!FlatpakFixture::hasSystemInstallation() || !TreeBuilder::canDropPrivileges())
            QSKIP("needs root to install system-wide and to drop to an unprivileged user");
        ApplicationSource& flatpaks = *m_withSystem.source(ApplicationKind::Flatpak);
        std::optional<SourcedApplication> system;
        for (const SourcedApplication& each : flatpaks.applications())
            if (each.id == kDemo && each.installation != u"user") system = each;
        QVERIFY(system);
        QCOMPARE(TreeBuilder::runAsNobody([&] {
                     const QList<RemovalFailure> failures = flatpaks.remove(*system);
                     return failures.size() == 1 && !failures[0].reason.isEmpty() ? 0 : 1;
                 }),
                 0);
        QVERIFY(FlatpakFixture::listed(true).contains(kDemo));
    }
};

SORVI_TEST_MAIN(TestLinuxApps)
#include "tst_linux_apps.moc"
