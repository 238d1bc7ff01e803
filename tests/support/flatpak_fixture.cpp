#include "support/flatpak_fixture.h"

#include "support/test_home.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <unistd.h>

namespace FlatpakFixture {
namespace {

constexpr int kToolDeadlineMs = 60000;
const char* const kRemote = "sorvi-test";
const char* const kRuntime = "org.sorvi.Platform";

QString root()
{
    return TestHome::path() + QStringLiteral("/flatpak-fixture");
}

QString repository()
{
    return root() + QStringLiteral("/repo");
}

// Runs a tool to its end; "" or the command with what it printed.
QString tool(const QString& program, const QStringList& arguments, QString* output = nullptr)
{
    QProcess process;
    process.start(program, arguments);
    const bool finished = process.waitForFinished(kToolDeadlineMs);
    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    if (output) *output = out;
    if (finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return {};
    if (!finished) process.kill();
    return program + u' ' + arguments.join(u' ') + QStringLiteral(": ") +
           (finished ? QString::fromUtf8(process.readAllStandardError()) : QStringLiteral("hung"));
}

QString flatpak(const QStringList& arguments, QString* output = nullptr)
{
    return tool(QStringLiteral("flatpak"), arguments, output);
}

bool writeText(const QString& path, const QString& text)
{
    QDir().mkpath(path.section(u'/', 0, -2));
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) == text.toUtf8().size();
}

QString runtimeRef()
{
    static const QString ref = [] {
        QString arch;
        flatpak({QStringLiteral("--default-arch")}, &arch);
        return QString::fromLatin1(kRuntime) + u'/' + arch.trimmed() + QStringLiteral("/1");
    }();
    return ref;
}

// The summary is written once for the whole repository, and nothing is synced to the disk: a
// temporary repository needs no durability, and fsync is most of the time these tools take.
QString exportBuild(const QString& dir, const QString& branch, QStringList extra = {})
{
    extra << QStringLiteral("--disable-sandbox") << QStringLiteral("--disable-fsync")
          << QStringLiteral("--no-update-summary") << repository() << dir << branch;
    return flatpak(QStringList{QStringLiteral("build-export")} + extra);
}

// A runtime holding the host's shell and the libraries it loads, which is all the fixture's
// applications run.
QString buildRuntime()
{
    const QString dir = root() + QStringLiteral("/runtime");
    QString libraries;
    if (QString failure = tool(QStringLiteral("ldd"), {QStringLiteral("/bin/sh")}, &libraries);
        !failure.isEmpty())
        return failure;
    QStringList files{QStringLiteral("/bin/sh")};
    static const QRegularExpression path(QStringLiteral("(/\\S+)"));
    for (const QString& line : libraries.split(u'\n'))
        if (const QRegularExpressionMatch match = path.match(line); match.hasMatch())
            files.append(match.captured(1));
    for (const QString& file : files) {
        const QString target = dir + QStringLiteral("/files") + file;
        QDir().mkpath(target.section(u'/', 0, -2));
        if (!QFile::copy(QFileInfo(file).canonicalFilePath(), target))
            return file + QStringLiteral(" copy");
        QFile::setPermissions(target, QFile::permissions(target) | QFile::ExeOwner);
    }
    if (!writeText(dir + QStringLiteral("/metadata"),
                   QStringLiteral("[Runtime]\nname=%1\nruntime=%2\nsdk=%2\n")
                       .arg(QLatin1String(kRuntime), runtimeRef())))
        return QStringLiteral("runtime metadata");
    return exportBuild(dir, QStringLiteral("1"),
                       {QStringLiteral("--runtime"), QStringLiteral("--files=files")});
}

QString appstream(const AppShape& shape)
{
    QString release;
    if (!shape.version.isEmpty())
        release = QStringLiteral("<releases><release version=\"%1\" timestamp=\"1700000000\"/>"
                                 "</releases>")
                      .arg(shape.version);
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                          "<components version=\"0.8\" origin=\"flatpak\">"
                          "<component type=\"desktop-application\"><id>%1</id><name>%2</name>"
                          "<summary>fixture</summary>%3</component></components>\n")
        .arg(shape.id, shape.appstreamName, release);
}

QString writeAppFiles(const QString& files, const AppShape& shape)
{
    // The command waits for a line on its standard input, so a test decides when it ends.
    if (!writeText(files + QStringLiteral("/bin/demo"), QStringLiteral("#!/bin/sh\nread line\n")) ||
        !QFile::setPermissions(files + QStringLiteral("/bin/demo"),
                               QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        return QStringLiteral("command");
    if (!shape.desktopName.isEmpty()) {
        QString entry = QStringLiteral("[Desktop Entry]\nType=Application\nExec=demo\nIcon=%1\n"
                                       "Name=%2\n")
                            .arg(shape.id, shape.desktopName);
        if (!shape.desktopNameVi.isEmpty())
            entry += QStringLiteral("Name[vi]=%1\n").arg(shape.desktopNameVi);
        if (!writeText(files + QStringLiteral("/share/applications/") + shape.id +
                           QStringLiteral(".desktop"),
                       entry))
            return QStringLiteral("desktop entry");
    }
    for (const int size : shape.iconSizes) {
        const QString icon = files + QStringLiteral("/share/icons/hicolor/%1x%1/apps/").arg(size);
        QImage image(size, size, QImage::Format_ARGB32);
        image.fill(Qt::darkCyan);
        if (!QDir().mkpath(icon) || !image.save(icon + shape.id + QStringLiteral(".png")))
            return QStringLiteral("icon");
    }
    if (shape.appstreamName.isEmpty()) return {};
    const QString xml =
        files + QStringLiteral("/share/app-info/xmls/") + shape.id + QStringLiteral(".xml");
    if (!writeText(xml, appstream(shape))) return QStringLiteral("appstream");
    return tool(QStringLiteral("gzip"), {QStringLiteral("-n"), QStringLiteral("-f"), xml});
}

QString buildApp(const AppShape& shape)
{
    const QString dir = root() + QStringLiteral("/app-") + shape.id;
    // What build-init writes, without its need for the runtime to be installed first.
    if (!writeText(dir + QStringLiteral("/metadata"),
                   QStringLiteral("[Application]\nname=%1\nruntime=%2\nsdk=%2\n")
                       .arg(shape.id, runtimeRef())))
        return QStringLiteral("application metadata");
    QString failure = writeAppFiles(dir + QStringLiteral("/files"), shape);
    if (failure.isEmpty())
        failure = flatpak({QStringLiteral("build-finish"), QStringLiteral("--command=demo"), dir});
    return failure.isEmpty() ? exportBuild(dir, QStringLiteral("stable")) : failure;
}

QString installationFlag(bool system)
{
    return system ? QStringLiteral("--system") : QStringLiteral("--user");
}

QString addRemote(bool system)
{
    const QString url = QStringLiteral("file://") + repository();
    QString failure = flatpak({installationFlag(system), QStringLiteral("remote-add"),
                               QStringLiteral("--no-gpg-verify"), QLatin1String(kRemote), url});
    const QString installation = system ? qEnvironmentVariable("FLATPAK_SYSTEM_DIR")
                                        : qEnvironmentVariable("FLATPAK_USER_DIR");
    if (failure.isEmpty())
        failure = tool(QStringLiteral("ostree"),
                       {QStringLiteral("--repo=") + installation + QStringLiteral("/repo"),
                        QStringLiteral("config"), QStringLiteral("set"),
                        QStringLiteral("core.fsync"), QStringLiteral("false")});
    return failure;
}

} // namespace

void prepareEnvironment()
{
    const QByteArray system =
        QFile::encodeName(TestHome::path() + QStringLiteral("/system-flatpak"));
    qputenv("FLATPAK_SYSTEM_DIR", system);
}

bool hasSystemInstallation()
{
    return getuid() == 0;
}

QString build(const QList<AppShape>& apps)
{
    QString failure = buildRuntime();
    for (const AppShape& shape : apps)
        if (failure.isEmpty()) failure = buildApp(shape);
    if (failure.isEmpty())
        failure = flatpak({QStringLiteral("build-update-repo"),
                           QStringLiteral("--no-update-appstream"), repository()});
    if (failure.isEmpty()) failure = addRemote(false);
    if (failure.isEmpty() && hasSystemInstallation()) failure = addRemote(true);
    return failure;
}

QString install(const QStringList& ids, bool system)
{
    return flatpak(QStringList{installationFlag(system), QStringLiteral("install"),
                               QStringLiteral("-y"), QStringLiteral("--noninteractive"),
                               QLatin1String(kRemote)} +
                   ids);
}

QStringList listed(bool system)
{
    QString output;
    flatpak({installationFlag(system), QStringLiteral("list"), QStringLiteral("--app"),
             QStringLiteral("--columns=application")},
            &output);
    return output.split(u'\n', Qt::SkipEmptyParts);
}

QString sandboxRefusal(const QString& id)
{
    return flatpak({QStringLiteral("--user"), QStringLiteral("run"), QStringLiteral("--command=sh"),
                    id, QStringLiteral("-c"), QStringLiteral("exit 0")});
}

} // namespace FlatpakFixture
