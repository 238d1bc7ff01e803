#pragma once

#include "support/test_home.h"
#include "support/tree_builder.h"
#include "uninstaller/app_catalog.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QtTest>
#include <memory>
#include <optional>
#include <sys/stat.h>

/// Real application bundles for tests: Info.plist written as XML or converted to binary by
/// plistutil, and a real executable (a copy of /bin/sleep) inside.
namespace BundleFixture {

enum class Format { Xml, Binary };

inline QString escapedXml(QString text)
{
    text.replace(u'&', QStringLiteral("&amp;"));
    text.replace(u'<', QStringLiteral("&lt;"));
    text.replace(u'>', QStringLiteral("&gt;"));
    return text;
}

inline QString stringEntry(const QString& key, const QString& value)
{
    return QStringLiteral("<key>%1</key><string>%2</string>")
        .arg(escapedXml(key), escapedXml(value));
}

/// A whole XML property list whose top-level dictionary holds `body` (raw key/value elements).
inline QByteArray plistDocument(const QString& body)
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                          "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                          "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                          "<plist version=\"1.0\">\n<dict>\n%1\n</dict>\n</plist>\n")
        .arg(body)
        .toUtf8();
}

inline bool writeBytes(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

/// Writes the XML document at `path`, converted to the binary form by plistutil when asked.
inline bool writePlist(const QString& path, const QByteArray& xml, Format format)
{
    if (format == Format::Xml) return writeBytes(path, xml);
    const QString source = path + QStringLiteral(".xml");
    if (!writeBytes(source, xml)) return false;
    const int rc = QProcess::execute(QStringLiteral("plistutil"),
                                     {QStringLiteral("-i"), source, QStringLiteral("-o"), path,
                                      QStringLiteral("-f"), QStringLiteral("bin")});
    QFile::remove(source);
    QFile file(path);
    return rc == 0 && file.open(QIODevice::ReadOnly) && file.read(8) == "bplist00";
}

/// Copies /bin/sleep to `path` (executable), so a process started from it has its
/// /proc/PID/exe there.
inline bool copySleep(const QString& path)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile::remove(path);
    return QFile::copy(QStringLiteral("/bin/sleep"), path) &&
           ::chmod(path.toUtf8().constData(), 0755) == 0;
}

struct BundleShape
{
    QString identifier; ///< null: no CFBundleIdentifier entry
    QString version;    ///< null: no CFBundleShortVersionString entry
    QString executable = QStringLiteral("main");
    QString extraEntries;
    Format format = Format::Xml;
    bool withExecutable = false;
};

/// Builds `folder`/`fileName` as a bundle with Contents/Info.plist. Returns its path, or "".
inline QString makeBundle(const QString& folder, const QString& fileName, const BundleShape& shape)
{
    const QString bundle = folder + u'/' + fileName;
    QString body = shape.extraEntries;
    if (!shape.identifier.isNull())
        body += stringEntry(QStringLiteral("CFBundleIdentifier"), shape.identifier);
    if (!shape.version.isNull())
        body += stringEntry(QStringLiteral("CFBundleShortVersionString"), shape.version);
    body += stringEntry(QStringLiteral("CFBundleExecutable"), shape.executable);
    if (!writePlist(bundle + QStringLiteral("/Contents/Info.plist"), plistDocument(body),
                    shape.format))
        return {};
    if (shape.withExecutable &&
        !copySleep(bundle + QStringLiteral("/Contents/MacOS/") + shape.executable))
        return {};
    return bundle;
}

inline QString makeBundle(const QString& folder, const QString& fileName, const QString& identifier)
{
    BundleShape shape;
    shape.identifier = identifier;
    return makeBundle(folder, fileName, shape);
}

/// One application folder (created) and a Library (not created) in a fresh folder of the
/// temporary home, and the catalogue's folders pointing at them.
struct AppLayout
{
    QString root;
    QString apps;
    QString library;
    AppCatalog::Folders folders;
};

/// `prefix` tells the layouts of one test program from another's in a kept home.
inline AppLayout freshAppLayout(const QString& prefix)
{
    static int counter = 0;
    AppLayout layout;
    layout.root = TestHome::path() + QStringLiteral("/%1-%2").arg(prefix).arg(++counter);
    layout.apps = layout.root + QStringLiteral("/Applications");
    layout.library = layout.root + QStringLiteral("/Library");
    TreeBuilder::makeDir(layout.apps);
    layout.folders.appRoots = {layout.apps};
    layout.folders.library = layout.library;
    return layout;
}

inline QStringList names(const QList<InstalledApp>& apps)
{
    QStringList list;
    for (const InstalledApp& app : apps)
        list.append(app.name);
    return list;
}

/// Starts `executable` (for 60 s) through sh, so that SIGTERM can be set to ignored before the
/// exec: an ignored signal stays ignored across exec, and /proc/PID/exe is then the executable
/// itself. Returns once the exec has happened, or nullptr.
inline std::unique_ptr<QProcess> startProcess(const QString& executable, bool ignoreTerm)
{
    auto process = std::make_unique<QProcess>();
    const QString trap = ignoreTerm ? QStringLiteral("trap '' TERM; ") : QString();
    process->start(QStringLiteral("/bin/sh"),
                   {QStringLiteral("-c"), trap + QStringLiteral("exec \"$0\" 60"), executable});
    if (!process->waitForStarted()) return nullptr;
    const QString exe = QStringLiteral("/proc/%1/exe").arg(process->processId());
    if (!QTest::qWaitFor([&] { return QFile::symLinkTarget(exe) == executable; }, 5000))
        return nullptr;
    return process;
}

} // namespace BundleFixture
