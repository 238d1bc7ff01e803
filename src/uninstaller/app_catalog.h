#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

/// One application bundle. A value; every field is set when the record is made, except `size`,
/// which the uninstaller model fills in later.
struct InstalledApp
{
    QString url;      ///< the bundle directory as the folder listing gave it (links not resolved)
    QString name;     ///< the bundle's file name without its extension
    QString bundleID; ///< never empty: bundles without an identifier are not listed
    QString version;  ///< CFBundleShortVersionString, or "" when absent or not a string
    bool isProtected = false;          ///< never removed
    std::optional<QDateTime> lastUsed; ///< absent when unknown
    std::optional<qint64> size; ///< allocated bytes of the whole bundle; absent until measured

    friend bool operator==(const InstalledApp&, const InstalledApp&) = default;
};
size_t qHash(const InstalledApp& app, size_t seed = 0);

/// One file or folder an application left behind: a direct child of one leftover folder.
struct Leftover
{
    QString url;     ///< the item; its identity
    qint64 size = 0; ///< allocated bytes when it was found; 0 when unreadable

    const QString& id() const { return url; }
    friend bool operator==(const Leftover&, const Leftover&) = default;
};
size_t qHash(const Leftover& leftover, size_t seed = 0);

/// Where applications live and what they leave behind. Stateless: every function may run on any
/// thread, concurrently with the others, and blocks while it reads the file system (call it off
/// the GUI thread). Nothing reports an error: what cannot be read only shrinks the result.
namespace AppCatalog {

/// One folder of the user's Library searched for leftovers.
struct LeftoverDir
{
    QString path;        ///< relative to library()
    bool byName = false; ///< also matched by the application's name
};

/// ~/Library (home read once).
const QString& library();
/// "/Applications", then ~/Applications.
const QStringList& appRoots();
/// The thirteen leftover folders, in search order.
const QList<LeftoverDir>& leftoverDirs();

/// The locations the catalogue works on. The public functions use the fixed ones; tests pass
/// their own.
struct Folders
{
    QStringList appRoots;
    QString library;
    /// Applications with this identifier are never listed: the program itself.
    std::optional<QString> ownIdentifier;

    static Folders standard();
};

/// The bundles at the top of each application folder and one level down inside ordinary
/// subfolders, sorted by name (localised, case-insensitive, stable). Every `size` is absent.
QList<InstalledApp> installedApps();
QList<InstalledApp> installedApps(const Folders& folders);

/// What `app` left in the leftover folders, each measured now, largest first (stable).
QList<Leftover> leftovers(const InstalledApp& app);
QList<Leftover> leftovers(const InstalledApp& app, const Folders& folders);

/// Whether the uninstaller may move `url` to the Trash on behalf of `app`: the unprotected bundle
/// itself, or a direct child of one of the leftover folders (by standardised path). The leftover
/// folders themselves, anything deeper and anything elsewhere are refused.
bool isAllowedTarget(const QString& url, const InstalledApp& app);
bool isAllowedTarget(const QString& url, const InstalledApp& app, const Folders& folders);

/// The protection test of one bundle location: protected when its real location lies outside
/// every application folder, or on a read-only volume.
bool isProtected(const QString& url, const Folders& folders);

} // namespace AppCatalog
