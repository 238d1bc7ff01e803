#pragma once

#include "uninstaller/app_catalog.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

/// Real application bundles for tests: Info.plist written as XML or converted to binary by
/// plistutil, and optionally a real executable (a copy of /bin/sleep) inside.
namespace BundleFixture {

enum class Format { Xml, Binary };

/// `text` with &, < and > escaped for an XML property list.
QString escapedXml(QString text);
/// One `<key>…</key><string>…</string>` pair.
QString stringEntry(const QString& key, const QString& value);
/// A whole XML property list whose top-level dictionary holds `body` (raw key/value elements).
QByteArray plistDocument(const QString& body);
/// Writes `bytes` at `path`, creating parent folders.
bool writeBytes(const QString& path, const QByteArray& bytes);
/// Writes the XML document at `path`, converted to the binary form by plistutil when asked.
bool writePlist(const QString& path, const QByteArray& xml, Format format);
/// Copies /bin/sleep to `path` (executable), so a process started from it has its
/// /proc/PID/exe there.
bool copySleep(const QString& path);

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
QString makeBundle(const QString& folder, const QString& fileName, const BundleShape& shape);
QString makeBundle(const QString& folder, const QString& fileName, const QString& identifier);

/// The record the catalogue makes of the bundle at `url` (name from the file name).
InstalledApp appRecord(const QString& url, const QString& bundleID,
                       std::optional<qint64> size = std::nullopt);

/// A fresh folder of the temporary home with two application folders (`apps` created,
/// `userApps` not) and a Library (not created), and the catalogue's folders pointing at them.
struct AppLayout
{
    QString root;
    QString apps;
    QString userApps;
    QString library;
    AppCatalog::Folders folders;

    /// `apps`/`name`.app with identifier `id`, an executable, and `payload` more bytes.
    QString bundle(const QString& name, const QString& id, qint64 payload = 0,
                   const QString& version = {}) const;
    /// Writes a file of `size` bytes at `library`/`relative`; returns its path.
    QString leftover(const QString& relative, qint64 size = 5000) const;
};

/// `prefix` only names the folder.
AppLayout freshAppLayout(const QString& prefix = QStringLiteral("apps"));

QStringList names(const QList<InstalledApp>& apps);

/// Starts `executable` (for 60 s) through sh, so that SIGTERM can be set to ignored before the
/// exec: an ignored signal stays ignored across exec, and /proc/PID/exe is then the executable
/// itself. Returns once the exec has happened, or nullptr.
std::unique_ptr<QProcess> startProcess(const QString& executable, bool ignoreTerm);

} // namespace BundleFixture
