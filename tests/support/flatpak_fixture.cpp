#include "support/flatpak_fixture.h"

#include "support/tree_builder.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <unistd.h>

namespace FlatpakFixture {
namespace {

// In memory where possible: removing thousands of folders from a "discard" disk takes seconds.
QString root(const QString& relative)
{
    static const QTemporaryDir dir(TreeBuilder::scratchPath() + "/sorvi-flatpak-XXXXXX");
    return dir.path() + u'/' + relative;
}

// Runs a command line (the fixture's paths hold no blank); "" or the command and its errors.
QString run(const QString& line, QString* output = nullptr)
{
    QStringList words = line.split(u' ', Qt::SkipEmptyParts);
    QProcess process;
    process.start(words.takeFirst(), words);
    const bool finished = process.waitForFinished(60000);
    if (output) *output = QString::fromUtf8(process.readAllStandardOutput());
    if (finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return {};
    process.kill();
    return line + ": " + QString::fromUtf8(process.readAllStandardError());
}

QString write(const QString& path, const QString& text, mode_t mode = 0644)
{
    const bool ok =
        TreeBuilder::putFile(path, text.toUtf8()) && TreeBuilder::setPermissions(path, mode);
    return ok ? QString() : path;
}

QString runtimeRef()
{
    static const QString ref = [] {
        QString arch;
        run("flatpak --default-arch", &arch);
        return "org.sorvi.Platform/" + arch.trimmed() + "/1";
    }();
    return ref;
}

// Writes the metadata as build-init would (without the runtime installed) and exports the
// build, unsynced and without a summary: fsync is most of these tools' time.
QString exportBuild(const QString& name, const QString& group, const QString& id,
                    const QString& options, const QString& branch)
{
    const QString dir = root(name);
    QString failure =
        write(dir + "/metadata",
              QString("[%1]\nname=%2\nruntime=%3\nsdk=%3\n").arg(group, id, runtimeRef()));
    if (group == u"Application") failure += run("flatpak build-finish --command=demo " + dir);
    const QString line = QStringLiteral("flatpak build-export --disable-sandbox --disable-fsync "
                                        "--no-update-summary %1 %2 %3 %4");
    return failure + run(line.arg(options, root("repo"), dir, branch));
}

// The host's shell and the libraries it loads: all the applications run on it.
QString buildRuntime()
{
    QString libraries;
    QString failure = run("ldd /bin/sh", &libraries);
    static const QRegularExpression path("(/\\S+)");
    for (auto it = path.globalMatch("/bin/sh " + libraries); it.hasNext();) {
        const QString file = it.next().captured(1);
        const QString target = root("runtime/files") + file;
        QDir().mkpath(target.section(u'/', 0, -2));
        if (!QFile::copy(QFileInfo(file).canonicalFilePath(), target)) failure += file;
    }
    return failure + exportBuild("runtime", "Runtime", runtimeRef().section(u'/', 0, 0),
                                 "--runtime --files=files", "1");
}

QString buildApp(const AppShape& app)
{
    const QString files = root(app.id + "/files/");
    // It waits for a line on its standard input: the test decides when it ends.
    QString failure = write(files + "bin/demo", "#!/bin/sh\nread line\n", 0755);
    if (!app.desktopName.isEmpty())
        failure += write(files + QString("share/applications/%1.desktop").arg(app.id),
                         QString("[Desktop Entry]\nType=Application\nExec=demo\nIcon=%1\nName=%2\n"
                                 "Name[vi]=%3\n")
                             .arg(app.id, app.desktopName, app.desktopNameVi));
    for (const int size : app.iconSizes) {
        const QString icons = files + QString("share/icons/hicolor/%1x%1/apps/").arg(size);
        QImage image(size, size, QImage::Format_ARGB32);
        image.fill(Qt::darkCyan);
        if (!QDir().mkpath(icons) || !image.save(icons + app.id + ".png")) failure += icons;
    }
    if (!app.appstreamName.isEmpty()) {
        const QString xml = files + QString("share/app-info/xmls/%1.xml").arg(app.id);
        const QString release = app.version.isEmpty()
                                    ? QString()
                                    : QString("<releases><release version=\"%1\" timestamp="
                                              "\"1700000000\"/></releases>")
                                          .arg(app.version);
        failure += write(xml, QString("<?xml version=\"1.0\"?><components><component type="
                                      "\"desktop-application\"><id>%1</id><name>%2</name>%3"
                                      "</component></components>")
                                  .arg(app.id, app.appstreamName, release));
        failure += run("gzip -nf " + xml);
    }
    return failure + exportBuild(app.id, "Application", app.id, QString(), "stable");
}

const auto where = [](bool s) { return QString(s ? "flatpak --system " : "flatpak --user "); };

QString addRemote(bool system)
{
    const QString failure =
        run(where(system) + "remote-add --no-gpg-verify sorvi-test file://" + root("repo"));
    const QString repo = qEnvironmentVariable(system ? "FLATPAK_SYSTEM_DIR" : "FLATPAK_USER_DIR");
    return failure + run("ostree --repo=" + repo + "/repo config set core.fsync false");
}

} // namespace

void prepareEnvironment()
{
    qputenv("FLATPAK_SYSTEM_DIR", QFile::encodeName(root("system")));
}

bool hasSystemInstallation()
{
    return getuid() == 0;
}

QString build(const QList<AppShape>& apps)
{
    QString failure = buildRuntime();
    for (const AppShape& app : apps)
        if (failure.isEmpty()) failure = buildApp(app);
    if (failure.isEmpty())
        failure = run("flatpak build-update-repo --no-update-appstream " + root("repo"));
    if (failure.isEmpty()) failure = addRemote(false);
    if (failure.isEmpty() && hasSystemInstallation()) failure = addRemote(true);
    return failure;
}

QString install(const QStringList& ids, bool system)
{
    return run(where(system) + "install -y --noninteractive sorvi-test " + ids.join(u' '));
}

QStringList listed(bool system)
{
    QString output;
    run(where(system) + "list --app --columns=application", &output);
    return output.split(u'\n', Qt::SkipEmptyParts);
}

} // namespace FlatpakFixture
