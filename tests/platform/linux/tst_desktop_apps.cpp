#include "platform/linux/appimage_source.h"
#include "platform/linux/home_program_source.h"
#include "platform/linux/linux_running_apps.h"
#include "platform/linux/system_package_source.h"
#include "support/await.h"
#include "support/rows.h"
#include "support/test_home.h"
#include "support/tree_builder.h"

#include <QProcess>
#include <memory>

using TestHome::putEntry;

namespace {

// A file below the home. "AI1"..."AI3": an AppImage of that type; "RUN": a copy of sleep
// ("RUNAI": marked as a type 2 AppImage in the ELF padding); "~" stands for the home.
bool put(const QString& relative, QByteArray content)
{
    const QString path = TestHome::at(relative);
    if (content.startsWith("AI")) return TreeBuilder::putAppImage(path, content[2] - '0');
    if (content.startsWith("RUN")) {
        TreeBuilder::makeDir(path.section(u'/', 0, -2));
        QFile file(path);
        return QFile::copy(QFileInfo("/bin/sleep").canonicalFilePath(), path) &&
               file.open(QIODevice::ReadWrite) &&
               (content != "RUNAI" || (file.seek(8) && file.write("AI\x02", 3) == 3));
    }
    return TreeBuilder::putFile(path, content.replace("~", QFile::encodeName(TestHome::path())));
}

ApplicationPlaces places()
{
    ApplicationPlaces places = ApplicationPlaces::inHome(TestHome::path());
    places.dataDirs = {TestHome::at("sys1"), TestHome::at("sys2")};
    places.homePath = {TestHome::at(".local/bin")};
    places.dpkgInfo = TestHome::at("dpkg");
    return places;
}

// The record listed at `where`, with its location's identity.
std::optional<SourcedApplication> at(const QList<SourcedApplication>& apps, const QString& where)
{
    for (SourcedApplication app : apps)
        if (app.location == TestHome::at(where)) {
            app.identity = LocationIdentity::of(app.location);
            return app;
        }
    return std::nullopt;
}

std::unique_ptr<QProcess> start(const QString& executable, const QString& appImage = {})
{
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!appImage.isEmpty()) environment.insert("APPIMAGE", appImage);
    process->setProcessEnvironment(environment);
    process->start(executable, {QStringLiteral("60")});
    return process->waitForStarted() ? std::move(process) : nullptr;
}

// Every process still runs (none was signalled), then ends.
bool stopAll(std::initializer_list<QProcess*> processes)
{
    return std::all_of(processes.begin(), processes.end(), [](QProcess* process) {
        return process->state() == QProcess::Running &&
               (process->kill(), process->waitForFinished(5000));
    });
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
        const auto each = [](const QString& list, const auto& make) { // items "a" or "a=b"
            for (const QString& item : list.split(u';'))
                QVERIFY2(make(item.section(u'=', 0, 0), item.section(u'=', 1)), qPrintable(item));
        };
        each("Applications/balenaEtcher-1.18.11-x64.AppImage;Applications/a/b/Deep.AppImage;"
             ".local/bin/tool;Downloads/2048-x86_64.AppImage",
             [](const QString& path, auto) { return put(path, "AI2"); });
        QVERIFY(put("Applications/sub/Krita-5.2.0-beta1-x86_64.appimage", "AI1"));
        QVERIFY(put("AppImages/Three.AppImage", "AI3") && put("opt/Linked/bin/linked", "RUN") &&
                put("opt/Linked-copy/bin/linked", "RUN"));
        each("256x256/apps/kit_tool;64x64/apps/kit_tool;48x48/apps/shared;128x128/apps/editor-icon",
             [](auto i, auto) { return put(".local/share/icons/hicolor/" + i + ".png", "png"); });
        each("run=run.sh;tools=tools/run.sh;x=tools/x/bin/x;suite-a=opt/suite/bin/a;suite-b=opt/"
             "suite/bin/b;idea=.local/share/JetBrains/Toolbox/apps/idea/bin/idea.sh;"
             "mytool=.local/bin/mytool;hidden=opt/hid/bin/h;editor=opt/Editor App/bin/editor",
             [](const QString& id, const QString& path) {
                 return put(path, "sh") && putEntry(id, "Exec=\"~/" + path.toUtf8() + '"');
             });
        QVERIFY(
            TreeBuilder::makeLink(TestHome::at("Applications/balenaEtcher-1.18.11-x64.AppImage"),
                                  TestHome::at("Applications/Link.AppImage")));
        QVERIFY(TreeBuilder::makeLink(TestHome::at("opt/Linked/bin/linked"),
                                      TestHome::at(".local/bin/linked")));
        QVERIFY(putEntry("kit-tool", "Exec=~/.local/bin/tool %U\nName=Tool\nName[vi]=Công cụ\n"
                                     "X-AppImage-Version=3.1\nIcon=kit_tool"));
        QVERIFY(putEntry("dl", "Exec=\"~/Downloads/2048-x86_64.AppImage\"\nIcon=shared"));
        QVERIFY(putEntry("system", "Exec=/usr/bin/true\nIcon=shared"));
        QVERIFY(putEntry("editor",
                         "Exec=\"~/opt/Editor App/bin/editor\" %F\nName=Editor\nIcon=editor-icon"));
        QVERIFY(putEntry("mytool", "Exec=mytool --go") &&
                putEntry("linked", "Exec=~/.local/bin/linked"));
        QVERIFY(putEntry("hidden", "Exec=~/opt/hid/bin/h\nHidden=true") &&
                putEntry("nodisplay", "Exec=~/opt/hid/bin/h\nNoDisplay=true"));
        const QByteArray app = "[Desktop Entry]\nType=Application\nExec=/usr/bin/a\nName=Alpha\n";
        for (const auto& [path, content] : QList<std::pair<QString, QByteArray>>{
                 {"sys1/applications/alpha.desktop", app + "Name[vi]=Anpha\n"},
                 {"sys2/applications/alpha.desktop", app + "Name=Second\n"},
                 {"sys1/applications/kde/beta.desktop", app + "Icon=beta\n"},
                 {"sys1/applications/quiet.desktop", app + "NoDisplay=true\n"},
                 {"sys2/applications/over.desktop", app},
                 {".local/share/applications/over.desktop", app},
                 {"dpkg/alpha-tools:amd64.list", "/usr\n~/sys1/applications/alpha.desktop\n"}})
            QVERIFY(put(path, content));
    }

    void listed_data()
    {
        // source: AppImages, home Programs or System packages; key: a location or an entry id;
        // seen: location ("=": the key)|name|version|own files|icon[|protected|package]
        Rows::add({"source", "key", "seen"},
                  {"type 2, arch word;A;Applications/balenaEtcher-1.18.11-x64.AppImage;"
                   "=|balenaEtcher|1.18.11|0|",
                   "type 1 one folder down, pre-release;A;Applications/sub/Krita-5.2.0-beta1-x86_64"
                   ".appimage;=|Krita|5.2.0-beta1|0|",
                   "integrated: entry and two icons;A;.local/bin/tool;"
                   "=|Công cụ|3.1|3|256x256/apps/kit_tool.png",
                   "named by an entry elsewhere, shared icon not its own, name never emptied;A;"
                   "Downloads/2048-x86_64.AppImage;=|2048||1|shared"});
        // System: the first data folder wins, a subfolder joins the id, a home entry overrides.
        Rows::add(
            {},
            {"deeper than one folder;A;Applications/a/b/Deep.AppImage;",
             "a link;A;Applications/Link.AppImage;", "type 3 marker;A;AppImages/Three.AppImage;",
             "tarball in ~/opt;P;editor;opt/Editor App|Editor||2|128x128/apps/editor-icon.png",
             "toolbox app;P;idea;.local/share/JetBrains/Toolbox/apps/idea|idea||1|",
             "bare name in ~/.local/bin;P;mytool;.local/bin/mytool|mytool||1|",
             "file at the top of the home;P;run;run.sh|run||1|",
             "folder holding another program;P;tools;tools/run.sh|tools||1|",
             "the other program;P;x;tools/x|x||1|",
             "two entries, one folder;P;suite-b;opt/suite|suite-a||2|",
             "link to the real program;P;linked;opt/Linked|linked||1|", "hidden;P;hidden;",
             "no display;P;nodisplay;", "outside the home;P;system;", "an AppImage;P;dl;",
             "sys;S;alpha;sys1/applications/alpha.desktop|Anpha||0||protected|alpha-tools",
             "sub;S;kde-beta;sys1/applications/kde/beta.desktop|Alpha||0|beta|protected|-",
             "system no display;S;quiet;", "home entry;S;over;"});
    }

    void listed()
    {
        QFETCH(QString, source);
        QFETCH(QString, key);
        QFETCH(QString, seen);
        SystemPackageSource system(places());
        ApplicationSource* const sources[] = {&m_appImages, &m_programs, &system};
        ApplicationSource& from = *sources[QString("APS").indexOf(source)];
        const QString entryPath = TestHome::at(".local/share/applications/" + key + ".desktop");
        const QString location = TestHome::at(key);
        QStringList found;
        for (const SourcedApplication& app : from.applications()) {
            if (app.location != location && !app.ownFiles.contains(entryPath) && app.id != key)
                continue;
            QStringList fields{
                app.location == location ? "=" : app.location.mid(TestHome::path().size() + 1),
                app.name, app.version, QString::number(app.ownFiles.size()),
                app.iconPath.isEmpty() ? app.iconName : app.iconPath.section(u'/', -3)};
            if (app.isProtected)
                fields << (app.removal == Removal::Never ? "protected" : "REMOVABLE")
                       << from.owningPackage(app).value_or("-");
            found << fields.join(u'|');
        }
        QCOMPARE(found.join(u'\n'), seen);
    }

    void quitsRunningInstances()
    {
        QVERIFY(put("Applications/Run.AppImage", "RUNAI"));
        const auto image = at(m_appImages.applications(), "Applications/Run.AppImage");
        const auto program = at(m_programs.applications(), "opt/Linked");
        QVERIFY(image && program);
        // The mounted app (APPIMAGE set) comes before the image's runtime; then bystanders: sleep
        // itself, a look-alike folder (same prefix without the slash).
        auto own = start(image->location);
        auto mounted = start("/bin/sleep", image->location);
        auto linked = start(TestHome::at(".local/bin/linked"));
        auto other = start("/bin/sleep");
        auto copy = start(TestHome::at("opt/Linked-copy/bin/linked"));
        QVERIFY(own && mounted && linked && other && copy);
        QList<RunningApplicationPtr> found;
        LinuxRunningApps registry;
        AWAIT_UNTIL(
            (found = registry.instances(*image).value() + registry.instances(*program).value())
                    .size() == 3,
            "the three processes of the two applications");
        QList<qint64> pids{mounted->processId(), own->processId(), linked->processId()};
        for (const RunningApplicationPtr& instance : found)
            QCOMPARE(instance->pid(), pids.takeFirst());
        QVERIFY(stopAll({own.get(), mounted.get(), linked.get(), other.get(), copy.get()}));
    }

    // A location replaced since it was listed: nothing found through it may be signalled.
    void replacedLocationIsRefused_data()
    {
        Rows::add({"change"}, {"now a link to another program's folder;link",
                               "another folder of the same name;folder",
                               "a link when it was listed;listedLink"});
    }
    void replacedLocationIsRefused()
    {
        QFETCH(QString, change);
        QVERIFY(put("swap-" + change + "/App/bin/app", "RUN") &&
                put("swap-" + change + "/B/bin/app", "RUN"));
        const QString app = TestHome::at("swap-" + change + "/App"),
                      other = TestHome::at("swap-" + change + "/B");
        auto own = start(app + "/bin/app");
        auto bystander = start(other + "/bin/app");
        QVERIFY(own && bystander);
        SourcedApplication record;
        record.kind = ApplicationKind::HomeProgram;
        record.location = app;
        record.identity = LocationIdentity::of(app);
        QVERIFY(QDir().rename(app, app + "-moved"));
        QVERIFY(change == u"folder" ? QDir().rename(other, app)
                                    : TreeBuilder::makeLink(other, app));
        if (change == u"listedLink") record.identity = LocationIdentity::of(app);
        QCOMPARE(LinuxRunningApps().instances(record), std::nullopt);
        QVERIFY(stopAll({own.get(), bystander.get()}));
    }

    // An icon another entry names stays; a file without the marker is refused.
    void removesAppImageButNothingElse()
    {
        const auto dl = at(m_appImages.applications(), "Downloads/2048-x86_64.AppImage");
        QVERIFY(dl);
        QCOMPARE(m_appImages.remove(*dl), QList<RemovalFailure>());
        QVERIFY(QFile::exists(TestHome::trashPath() + "/files/2048-x86_64.AppImage") &&
                QFile::exists(TestHome::trashPath() + "/files/dl.desktop") &&
                QFile::exists(TestHome::at(".local/share/icons/hicolor/48x48/apps/shared.png")));
        SourcedApplication forged = *dl;
        forged.location = TestHome::at("AppImages/Three.AppImage");
        QCOMPARE(m_appImages.remove(forged).size(), 1);
        QVERIFY(QFile::exists(forged.location));
    }

    void neverRemovesABaseFolder()
    {
        const auto editor = at(m_programs.applications(), "opt/Editor App");
        QVERIFY(editor);
        for (const char* base : {"", "opt", ".local", ".local/share", "Downloads", "../.."}) {
            SourcedApplication forged = *editor;
            forged.location = TestHome::at(QString::fromLatin1(base));
            QCOMPARE(m_programs.remove(forged).size(), 1);
            QVERIFY(QFile::exists(forged.location));
        }
    }
};

SORVI_TEST_MAIN(TestDesktopApps)
#include "tst_desktop_apps.moc"
