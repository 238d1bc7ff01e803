#include "platform/linux/appimage_source.h"
#include "platform/linux/home_program_source.h"
#include "platform/linux/system_package_source.h"
#include "support/await.h"
#include "support/test_home.h"
#include "support/tree_builder.h"

#include <QProcess>
#include <memory>

namespace {

QString home(const QString& relative = QString())
{
    return relative.isEmpty() ? TestHome::path() : TestHome::path() + u'/' + relative;
}

bool writeText(const QString& relative, const QByteArray& text)
{
    TreeBuilder::makeDir(home(relative).section(u'/', 0, -2));
    QFile file(home(relative));
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

bool entry(const QString& id, const QByteArray& lines)
{
    QByteArray text = "[Desktop Entry]\nType=Application\n" + lines + '\n';
    text.replace("~", QFile::encodeName(home()));
    return writeText(QStringLiteral(".local/share/applications/") + id + QStringLiteral(".desktop"),
                     text);
}

// An executable that really runs: a copy of sleep, optionally marked as an AppImage (the kernel
// ignores the ELF header's padding, as real type 2 runtimes rely on).
bool program(const QString& relative, char appImageType = 0)
{
    TreeBuilder::makeDir(home(relative).section(u'/', 0, -2));
    QFile::remove(home(relative));
    if (!QFile::copy(QFileInfo(QStringLiteral("/bin/sleep")).canonicalFilePath(), home(relative)))
        return false;
    QFile file(home(relative));
    if (!file.open(QIODevice::ReadWrite)) return false;
    if (appImageType && (!file.seek(8) || file.write(QByteArray("AI") + appImageType) != 3))
        return false;
    return file.setPermissions(file.permissions() | QFile::ExeOwner);
}

bool fakeAppImage(const QString& relative, char type)
{
    return writeText(relative, QByteArray("\x7f"
                                          "ELF\x02\x01\x01\x00"
                                          "AI",
                                          10) +
                                   type + QByteArray(64, '\0'));
}

ApplicationPlaces places()
{
    ApplicationPlaces places;
    places.home = home();
    places.dataHome = home(QStringLiteral(".local/share"));
    places.dataDirs = {home(QStringLiteral("sys1")), home(QStringLiteral("sys2"))};
    places.homePath = {home(QStringLiteral(".local/bin"))};
    places.dpkgInfo = home(QStringLiteral("dpkg"));
    places.systemFlatpak = false;
    return places;
}

std::optional<SourcedApplication> at(const QList<SourcedApplication>& apps, const QString& location)
{
    for (const SourcedApplication& app : apps)
        if (app.location == location) return app;
    return std::nullopt;
}

bool inTrash(const QString& name)
{
    return QFile::exists(TestHome::trashPath() + QStringLiteral("/files/") + name);
}

std::unique_ptr<QProcess> start(const QString& executable, const QString& appImageVariable = {})
{
    auto process = std::make_unique<QProcess>();
    if (!appImageVariable.isEmpty()) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("APPIMAGE"), appImageVariable);
        process->setProcessEnvironment(environment);
    }
    process->start(executable, {QStringLiteral("60")});
    return process->waitForStarted() ? std::move(process) : nullptr;
}

} // namespace

class TestDesktopApps : public QObject
{
    Q_OBJECT
    AppImageSource m_appImages{places()};
    HomeProgramSource m_programs{places()};

private slots:
    void initTestCase()
    {
        const QByteArray png(200, 'p');
        QVERIFY(fakeAppImage(QStringLiteral("Applications/Foo-1.0-x86_64.AppImage"), 2));
        QVERIFY(fakeAppImage(QStringLiteral("Applications/sub/Bar.AppImage"), 1));
        QVERIFY(fakeAppImage(QStringLiteral("Applications/a/b/Deep.AppImage"), 2));
        QVERIFY(fakeAppImage(QStringLiteral("AppImages/Three.AppImage"), 3));
        QVERIFY(TreeBuilder::makeLink(home(QStringLiteral("Applications/Foo-1.0-x86_64.AppImage")),
                                      home(QStringLiteral("Applications/Link.AppImage"))));
        QVERIFY(fakeAppImage(QStringLiteral(".local/bin/tool"), 2));
        QVERIFY(entry(QStringLiteral("appimagekit-tool"),
                      "Exec=~/.local/bin/tool %U\nName=Tool\nName[vi]=Công cụ\n"
                      "X-AppImage-Version=3.1\nIcon=appimagekit_tool"));
        QVERIFY(writeText(
            QStringLiteral(".local/share/icons/hicolor/256x256/apps/appimagekit_tool.png"), png));
        QVERIFY(writeText(
            QStringLiteral(".local/share/icons/hicolor/64x64/apps/appimagekit_tool.png"), png));
        QVERIFY(fakeAppImage(QStringLiteral("Downloads/Dl-2.0.AppImage"), 2));
        QVERIFY(entry(QStringLiteral("dl"), "Exec=\"~/Downloads/Dl-2.0.AppImage\"\nIcon=shared"));
        QVERIFY(entry(QStringLiteral("system"), "Exec=/usr/bin/true\nIcon=shared\nName=Sys"));
        QVERIFY(writeText(QStringLiteral(".local/share/icons/hicolor/48x48/apps/shared.png"), png));

        QVERIFY(program(QStringLiteral("opt/Editor App/bin/editor")));
        QVERIFY(entry(QStringLiteral("editor"),
                      "Exec=\"~/opt/Editor App/bin/editor\" %F\nName=Editor\nIcon=editor-icon"));
        QVERIFY(writeText(QStringLiteral(".local/share/icons/hicolor/128x128/apps/editor-icon.png"),
                          png));
        QVERIFY(writeText(QStringLiteral(".local/share/JetBrains/Toolbox/apps/idea/bin/idea.sh"),
                          "#!/bin/sh\n"));
        QVERIFY(entry(QStringLiteral("idea"),
                      "Exec=~/.local/share/JetBrains/Toolbox/apps/idea/bin/idea.sh"));
        QVERIFY(writeText(QStringLiteral(".local/bin/mytool"), "#!/bin/sh\n"));
        QVERIFY(entry(QStringLiteral("mytool"), "Exec=mytool --go"));
        QVERIFY(writeText(QStringLiteral("run.sh"), "#!/bin/sh\n"));
        QVERIFY(entry(QStringLiteral("run"), "Exec=~/run.sh"));
        QVERIFY(writeText(QStringLiteral("tools/run.sh"), "#!/bin/sh\n"));
        QVERIFY(entry(QStringLiteral("tools"), "Exec=~/tools/run.sh"));
        QVERIFY(writeText(QStringLiteral("tools/x/bin/x"), "#!/bin/sh\n"));
        QVERIFY(entry(QStringLiteral("x"), "Exec=~/tools/x/bin/x"));
        QVERIFY(writeText(QStringLiteral("opt/suite/bin/a"), "#!/bin/sh\n"));
        QVERIFY(writeText(QStringLiteral("opt/suite/bin/b"), "#!/bin/sh\n"));
        QVERIFY(entry(QStringLiteral("suite-a"), "Exec=~/opt/suite/bin/a"));
        QVERIFY(entry(QStringLiteral("suite-b"), "Exec=~/opt/suite/bin/b"));
        QVERIFY(writeText(QStringLiteral("opt/hid/bin/h"), "#!/bin/sh\n"));
        QVERIFY(entry(QStringLiteral("hidden"), "Exec=~/opt/hid/bin/h\nHidden=true"));
        QVERIFY(entry(QStringLiteral("nodisplay"), "Exec=~/opt/hid/bin/h\nNoDisplay=true"));
        QVERIFY(program(QStringLiteral("opt/Linked/bin/linked")));
        QVERIFY(TreeBuilder::makeLink(home(QStringLiteral("opt/Linked/bin/linked")),
                                      home(QStringLiteral(".local/bin/linked"))));
        QVERIFY(entry(QStringLiteral("linked"), "Exec=~/.local/bin/linked"));
    }

    void appImagesListed_data()
    {
        QTest::addColumn<QString>("location");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("version");
        QTest::addColumn<int>("ownFiles");
        QTest::addColumn<QString>("icon");
        QTest::newRow("type 2, name from the file")
            << QStringLiteral("Applications/Foo-1.0-x86_64.AppImage") << QStringLiteral("Foo")
            << QStringLiteral("1.0") << 0 << QString();
        QTest::newRow("type 1, one folder down")
            << QStringLiteral("Applications/sub/Bar.AppImage") << QStringLiteral("Bar") << QString()
            << 0 << QString();
        QTest::newRow("integrated: entry, two icons")
            << QStringLiteral(".local/bin/tool") << QStringLiteral("Công cụ")
            << QStringLiteral("3.1") << 3 << QStringLiteral("256x256/apps/appimagekit_tool.png");
        QTest::newRow("named by an entry elsewhere; shared icon not its own")
            << QStringLiteral("Downloads/Dl-2.0.AppImage") << QStringLiteral("Dl")
            << QStringLiteral("2.0") << 1 << QString();
    }

    void appImagesListed()
    {
        QFETCH(QString, location);
        QFETCH(QString, name);
        QFETCH(QString, version);
        QFETCH(int, ownFiles);
        QFETCH(QString, icon);
        const QList<SourcedApplication> apps = m_appImages.applications();
        // Deeper than one folder, without the marker, or a link: not listed.
        QCOMPARE(apps.size(), 4);
        const std::optional<SourcedApplication> app = at(apps, home(location));
        QVERIFY(app);
        QCOMPARE(app->name, name);
        QCOMPARE(app->version, version);
        QCOMPARE(app->ownFiles.size(), ownFiles);
        QVERIFY2(app->iconPath.endsWith(icon) && app->iconPath.isEmpty() == icon.isEmpty(),
                 qPrintable(app->iconPath));
        QCOMPARE(app->removal, Removal::Trash);
    }

    void appImageNamesFromFiles_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("version");
        QTest::newRow("arch word") << QStringLiteral("balenaEtcher-1.18.11-x64.AppImage")
                                   << QStringLiteral("balenaEtcher") << QStringLiteral("1.18.11");
        QTest::newRow("pre-release, lower-case extension")
            << QStringLiteral("Krita-5.2.0-beta1-x86_64.appimage") << QStringLiteral("Krita")
            << QStringLiteral("5.2.0-beta1");
        QTest::newRow("v prefix, underscores") << QStringLiteral("MyApp_v2.0_amd64.AppImage")
                                               << QStringLiteral("MyApp") << QStringLiteral("2.0");
        QTest::newRow("never emptied")
            << QStringLiteral("2048-x86_64.AppImage") << QStringLiteral("2048") << QString();
        QTest::newRow("no suffixes")
            << QStringLiteral("nvim") << QStringLiteral("nvim") << QString();
    }

    void appImageNamesFromFiles()
    {
        QFETCH(QString, file);
        QFETCH(QString, name);
        QFETCH(QString, version);
        QCOMPARE(AppImageSource::nameFromFile(file), std::make_pair(name, version));
    }

    void runningAppImages()
    {
        QVERIFY(program(QStringLiteral("Applications/Run.AppImage"), 2));
        const std::optional<SourcedApplication> app =
            at(m_appImages.applications(), home(QStringLiteral("Applications/Run.AppImage")));
        QVERIFY(app);
        // A type 2 image runs its application from a mount; the runtime names the image in the
        // APPIMAGE variable. That process comes first, the image's own process after it.
        auto image = start(app->location);
        auto mounted = start(QStringLiteral("/bin/sleep"), app->location);
        auto other = start(QStringLiteral("/bin/sleep"));
        QVERIFY(image && mounted && other);
        QList<RunningApplicationPtr> instances;
        AWAIT_UNTIL((instances = m_appImages.instances(*app)).size() == 2,
                    "both AppImage processes");
        QCOMPARE(instances[0]->pid(), pid_t(mounted->processId()));
        QCOMPARE(instances[1]->pid(), pid_t(image->processId()));
        for (const RunningApplicationPtr& instance : instances)
            QVERIFY(instance->terminate());
        AWAIT_UNTIL(instances[0]->isTerminated() && instances[1]->isTerminated(), "both to quit");
        QCOMPARE(other->state(), QProcess::Running);
        other->kill();
        QVERIFY(other->waitForFinished());
    }

    void removesAppImageWithItsIntegration()
    {
        const QList<SourcedApplication> apps = m_appImages.applications();
        const std::optional<SourcedApplication> tool =
            at(apps, home(QStringLiteral(".local/bin/tool")));
        const std::optional<SourcedApplication> dl =
            at(apps, home(QStringLiteral("Downloads/Dl-2.0.AppImage")));
        QVERIFY(tool && dl);
        QCOMPARE(m_appImages.remove(*tool), QList<RemovalFailure>());
        QCOMPARE(m_appImages.remove(*dl), QList<RemovalFailure>());
        for (const QString& gone :
             {QStringLiteral("tool"), QStringLiteral("appimagekit-tool.desktop"),
              QStringLiteral("dl.desktop")})
            QVERIFY2(inTrash(gone), qPrintable(gone));
        QVERIFY(!QFile::exists(tool->location) && !QFile::exists(tool->iconPath));
        QVERIFY(QFile::exists(
            home(QStringLiteral(".local/share/icons/hicolor/48x48/apps/shared.png"))));
        // A file without the marker is refused even when a record says otherwise.
        SourcedApplication forged = *tool;
        forged.location = home(QStringLiteral("AppImages/Three.AppImage"));
        QCOMPARE(m_appImages.remove(forged).size(), 1);
        QVERIFY(QFile::exists(forged.location));
    }

    void homeProgramLocations_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("location"); // below the home; "" = not listed
        QTest::newRow("tarball in ~/opt") << "editor"
                                          << "opt/Editor App";
        QTest::newRow("toolbox app") << "idea"
                                     << ".local/share/JetBrains/Toolbox/apps/idea";
        QTest::newRow("bare name in ~/.local/bin") << "mytool"
                                                   << ".local/bin/mytool";
        QTest::newRow("file at the top of the home") << "run"
                                                     << "run.sh";
        QTest::newRow("folder holding another program") << "tools"
                                                        << "tools/run.sh";
        QTest::newRow("the other program") << "x"
                                           << "tools/x";
        QTest::newRow("two entries, one folder") << "suite-b"
                                                 << "opt/suite";
        QTest::newRow("link to the real program") << "linked"
                                                  << "opt/Linked";
        QTest::newRow("hidden") << "hidden"
                                << "";
        QTest::newRow("no display") << "nodisplay"
                                    << "";
        QTest::newRow("outside the home") << "system"
                                          << "";
        QTest::newRow("an AppImage") << "appimagekit-tool"
                                     << "";
    }

    void homeProgramLocations()
    {
        QFETCH(QString, id);
        QFETCH(QString, location);
        const QString path =
            home(QStringLiteral(".local/share/applications/") + id + QStringLiteral(".desktop"));
        QString found;
        int sameLocation = 0;
        const QList<SourcedApplication> apps = m_programs.applications();
        for (const SourcedApplication& app : apps)
            if (app.ownFiles.contains(path)) found = app.location;
        for (const SourcedApplication& app : apps)
            sameLocation += app.location == found ? 1 : 0;
        QCOMPARE(found, location.isEmpty() ? QString() : home(location));
        QCOMPARE(sameLocation, found.isEmpty() ? 0 : 1);
    }

    void runningHomeProgram()
    {
        const std::optional<SourcedApplication> app =
            at(m_programs.applications(), home(QStringLiteral("opt/Linked")));
        QVERIFY(app);
        auto process = start(home(QStringLiteral(".local/bin/linked")));
        QVERIFY(process);
        QList<RunningApplicationPtr> instances;
        AWAIT_UNTIL((instances = m_programs.instances(*app)).size() == 1, "the program's process");
        QVERIFY(instances[0]->terminate());
        AWAIT_UNTIL(instances[0]->isTerminated(), "the program to quit");
    }

    void removesHomeProgramButNeverABaseFolder()
    {
        const std::optional<SourcedApplication> editor =
            at(m_programs.applications(), home(QStringLiteral("opt/Editor App")));
        QVERIFY(editor);
        QCOMPARE(editor->name, QStringLiteral("Editor"));
        QVERIFY(editor->iconPath.endsWith(QStringLiteral("editor-icon.png")));
        for (const QString& base : {QString(), QStringLiteral("opt"), QStringLiteral(".local"),
                                    QStringLiteral(".local/share"), QStringLiteral("Downloads")}) {
            SourcedApplication forged = *editor;
            forged.location = home(base);
            QCOMPARE(m_programs.remove(forged).size(), 1);
            QVERIFY(QFile::exists(home(base)));
        }
        QCOMPARE(m_programs.remove(*editor), QList<RemovalFailure>());
        QVERIFY(inTrash(QStringLiteral("Editor App")) && inTrash(QStringLiteral("editor.desktop")));
        QVERIFY(inTrash(QStringLiteral("editor-icon.png")) &&
                QFile::exists(home(QStringLiteral("opt"))));
    }

    void systemPackagesAreProtected()
    {
        QVERIFY(entry(QStringLiteral("over"), "Exec=/usr/bin/over\nName=User copy"));
        const QByteArray app = "[Desktop Entry]\nType=Application\nExec=/usr/bin/a\nName=Alpha\n";
        QVERIFY(
            writeText(QStringLiteral("sys1/applications/alpha.desktop"), app + "Name[vi]=Anpha\n"));
        QVERIFY(
            writeText(QStringLiteral("sys2/applications/alpha.desktop"), app + "Name=Second\n"));
        QVERIFY(
            writeText(QStringLiteral("sys1/applications/kde/beta.desktop"), app + "Icon=beta\n"));
        QVERIFY(
            writeText(QStringLiteral("sys1/applications/quiet.desktop"), app + "NoDisplay=true\n"));
        QVERIFY(writeText(QStringLiteral("sys2/applications/over.desktop"), app));
        QVERIFY(writeText(QStringLiteral("dpkg/other.list"), "/usr/bin/x\n"));
        QVERIFY(writeText(
            QStringLiteral("dpkg/alpha-tools:amd64.list"),
            "/usr\n" + QFile::encodeName(home(QStringLiteral("sys1/applications/alpha.desktop"))) +
                "\n"));
        SystemPackageSource source(places());
        QList<SourcedApplication> apps = source.applications();
        std::sort(apps.begin(), apps.end(),
                  [](const auto& a, const auto& b) { return a.id < b.id; });
        QCOMPARE(apps.size(), 2);
        QCOMPARE(apps[0].id, QStringLiteral("alpha"));
        QCOMPARE(apps[0].name, QStringLiteral("Anpha"));
        QCOMPARE(apps[0].location, home(QStringLiteral("sys1/applications/alpha.desktop")));
        QCOMPARE(apps[1].id, QStringLiteral("kde-beta"));
        QCOMPARE(apps[1].iconName, QStringLiteral("beta"));
        for (const SourcedApplication& listed : apps) {
            QVERIFY(listed.isProtected && listed.removal == Removal::Never);
            QCOMPARE(source.remove(listed).size(), 1);
            QVERIFY(QFile::exists(listed.location));
        }
        QCOMPARE(source.owningPackage(apps[0]),
                 std::optional<QString>(QStringLiteral("alpha-tools")));
        QCOMPARE(source.owningPackage(apps[1]), std::nullopt);
    }
};

SORVI_TEST_MAIN(TestDesktopApps)
#include "tst_desktop_apps.moc"
