#pragma once

#include "support/test_home.h"
#include "support/tree_builder.h"
#include "uninstaller/app_catalog.h"

#include <QFile>
#include <QProcess>
#include <QStringList>
#include <memory>
#include <optional>

/// Real application bundles: Info.plist as XML or binary (by plistutil), optionally with a copy
/// of /bin/sleep as the executable.
namespace BundleFixture {

enum class Format { Xml, Binary };

/// One `<key>…</key><string>…</string>` pair, its texts escaped.
inline QString stringEntry(const QString& key, const QString& value)
{
    return QStringLiteral("<key>%1</key><string>%2</string>")
        .arg(key.toHtmlEscaped(), value.toHtmlEscaped());
}

/// A whole XML property list whose top-level dictionary holds `body`.
inline QByteArray plistDocument(const QString& body)
{
    return ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n" + body +
            "\n</dict>\n</plist>\n")
        .toUtf8();
}

inline bool writePlist(const QString& path, const QByteArray& xml, Format format)
{
    if (format == Format::Xml) return TreeBuilder::putFile(path, xml);
    if (!TreeBuilder::putFile(path + ".xml", xml)) return false;
    QProcess plistutil;
    plistutil.start("plistutil", {"-i", path + ".xml", "-o", path, "-f", "bin"});
    const bool converted = plistutil.waitForFinished(10000) && plistutil.exitCode() == 0;
    QFile::remove(path + ".xml");
    QFile file(path);
    return converted && file.open(QIODevice::ReadOnly) && file.read(8) == "bplist00";
}

struct BundleShape
{
    QString identifier = {}, version = {}; ///< null: no entry
    QString executable = QStringLiteral("main");
    QString extraEntries = {};
    Format format = Format::Xml;
    bool withExecutable = false; ///< a copy of sleep: its processes have /proc/PID/exe inside
};

/// Builds `folder`/`fileName` with Contents/Info.plist. Returns its path, or "".
inline QString makeBundle(const QString& folder, const QString& fileName, const BundleShape& shape)
{
    const QString bundle = folder + u'/' + fileName;
    QString body = shape.extraEntries + stringEntry("CFBundleExecutable", shape.executable);
    if (!shape.identifier.isNull()) body += stringEntry("CFBundleIdentifier", shape.identifier);
    if (!shape.version.isNull()) body += stringEntry("CFBundleShortVersionString", shape.version);
    if (!writePlist(bundle + "/Contents/Info.plist", plistDocument(body), shape.format)) return {};
    const QString exe = bundle + "/Contents/MacOS/" + shape.executable;
    const bool copied = !shape.withExecutable ||
                        (TreeBuilder::makeDir(QFileInfo(exe).path()) &&
                         QFile::copy("/bin/sleep", exe) && TreeBuilder::setPermissions(exe, 0755));
    return copied ? bundle : QString();
}

inline QString makeBundle(const QString& folder, const QString& fileName, const QString& identifier)
{
    return makeBundle(folder, fileName, BundleShape{.identifier = identifier});
}

/// The record the catalogue makes of the bundle at `url`, named after its file.
inline InstalledApp appRecord(const QString& url, const QString& bundleID,
                              std::optional<qint64> size = std::nullopt)
{
    InstalledApp app;
    app.url = url;
    app.name = QFileInfo(url).completeBaseName();
    app.bundleID = bundleID;
    app.size = size;
    return app;
}

/// A fresh folder of the temporary home: `apps` (created), `userApps` and `library` (not).
struct AppLayout
{
    QString root, apps, userApps, library;
    AppCatalog::Folders folders;

    /// `apps`/`name`.app with an executable, `payload` more bytes and `version` ("": none).
    QString bundle(const QString& name, const QString& id, qint64 payload = 0,
                   const QString& version = {}) const
    {
        BundleShape shape{.identifier = id, .withExecutable = true};
        if (!version.isEmpty()) shape.version = version;
        const QString url = makeBundle(apps, name + ".app", shape);
        if (payload > 0) TreeBuilder::writeFile(url + "/Contents/Resources/payload", payload);
        return url;
    }
    QString leftover(const QString& relative, qint64 size = 5000) const
    {
        TreeBuilder::writeFile(library + u'/' + relative, size);
        return library + u'/' + relative;
    }
};

inline AppLayout freshAppLayout(const QString& prefix = QStringLiteral("apps"))
{
    static int counter = 0;
    const QString root = TestHome::path() + QStringLiteral("/%1-%2").arg(prefix).arg(++counter);
    AppLayout l{
        root, root + "/Applications", root + "/home/Applications", root + "/home/Library", {}};
    TreeBuilder::makeDir(l.apps);
    l.folders = AppCatalog::Folders::bundles({l.apps, l.userApps}, l.library);
    return l;
}

inline QStringList names(const QList<InstalledApp>& apps)
{
    QStringList list;
    for (const InstalledApp& app : apps)
        list.append(app.name);
    return list;
}

inline QStringList urls(const QList<Leftover>& leftovers)
{
    QStringList list;
    for (const Leftover& leftover : leftovers)
        list.append(leftover.url);
    return list;
}

/// Starts `executable` (for 60 s) through sh, which can ignore SIGTERM across the exec. Returns
/// once /proc/PID/exe is the executable, or nullptr.
inline std::unique_ptr<QProcess> startProcess(const QString& executable, bool ignoreTerm)
{
    auto process = std::make_unique<QProcess>();
    const QString trap = ignoreTerm ? QStringLiteral("trap '' TERM; ") : QString();
    process->start("/bin/sh", {"-c", trap + "exec \"$0\" 60", executable});
    if (!process->waitForStarted(5000)) return nullptr;
    const QString exe = QStringLiteral("/proc/%1/exe").arg(process->processId());
    if (!QTest::qWaitFor([&] { return QFile::symLinkTarget(exe) == executable; }, 5000))
        return nullptr;
    return process;
}

} // namespace BundleFixture
