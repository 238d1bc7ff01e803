#pragma once

#include "platform/application_source.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

/// One installed application. A value; every field is set when the record is made, except
/// `size`, which the uninstaller model fills in later (a Flatpak application's is known at once).
struct InstalledApp
{
    /// The application's location as listed (links not resolved): a bundle, a Flatpak
    /// deployment folder, an AppImage file, a home program's folder (or file), or the desktop
    /// entry of a system package. Its identity everywhere in the uninstaller.
    QString url;
    QString name;             ///< display name (a bundle's file name without its extension)
    QString bundleID;         ///< bundle identifier, Flatpak id or desktop-file id; never empty
    QString version;          ///< "" when unknown
    bool isProtected = false; ///< never removed
    std::optional<QDateTime> lastUsed; ///< absent when unknown
    std::optional<qint64> size; ///< allocated bytes of the whole application; absent until measured

    ApplicationKind kind = ApplicationKind::Bundle;
    Removal removal = Removal::Trash;
    QString iconPath;        ///< an image file of the application's own; "" when none
    QString iconName;        ///< a theme icon name, when there is no iconPath; may be ""
    QString installation;    ///< Flatpak: "user" or the system installation's id
    QString ref;             ///< Flatpak: the full ref
    QStringList ownFiles;    ///< desktop entries and icons removed with the application
    QStringList privateData; ///< leftovers that are the application's own by construction
    QString desktopEntry;    ///< a system package's desktop entry (to find its package)
    std::optional<LocationIdentity> identity; ///< the location as listed (see RunningApps)

    /// Whether the model measures `size` on disk: not for a size known when listed (Flatpak)
    /// nor for a system package's entry, whose file says nothing of the application's size.
    bool isMeasured() const;
    /// The record in the platform's terms, for its sources and its registry.
    SourcedApplication sourced() const;

    friend bool operator==(const InstalledApp&, const InstalledApp&) = default;
};
size_t qHash(const InstalledApp& app, size_t seed = 0);

/// One file or folder an application left behind: a direct child of one leftover folder.
struct Leftover
{
    QString url;     ///< the item; its identity
    qint64 size = 0; ///< allocated bytes when it was found; 0 when unreadable
    /// Matched by the application's name alone: other programs may use the same name (an
    /// application "Pulse" and ~/.config/pulse), so it is offered for review, not chosen.
    bool byName = false;

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

/// The locations and sources the catalogue works on. The public functions use the platform's
/// own (standard()); tests pass their own. A value: copies share the sources.
struct Folders
{
    QStringList appRoots;                  ///< searched for bundles
    QList<LeftoverFolder> leftoverFolders; ///< searched for leftovers, in this order
    QStringList sharedFolders;             ///< never leftovers, nor allowed targets
    /// Applications with this identifier are never listed: the program itself.
    std::optional<QString> ownIdentifier;
    /// One source for each kind of application other than bundles.
    QList<std::shared_ptr<ApplicationSource>> sources;

    /// This platform's: on Linux no bundle folder, the Linux sources and leftover folders of
    /// ApplicationPlaces::standard(). Built once.
    static const Folders& standard();
    /// The Linux sources and leftover folders of `places`, no bundle folder.
    static Folders inPlaces(const ApplicationPlaces& places);
    /// Bundles in `appRoots` and the thirteen folders of the Library at `library`; no source.
    static Folders bundles(const QStringList& appRoots, const QString& library);

    /// The source of `kind`, or nullptr.
    ApplicationSource* source(ApplicationKind kind) const;
};

/// The bundles at the top of each application folder and one level down inside ordinary
/// subfolders, then the applications of every source, sorted by name (Vietnamese collation,
/// case-insensitive, stable). Every `size` is absent but a Flatpak application's.
QList<InstalledApp> installedApps();
QList<InstalledApp> installedApps(const Folders& folders);

/// What `app` left in the leftover folders, each measured now: its private data first, then
/// largest first (stable). A folder that holds the application itself, one of its own files, a
/// leftover folder or a shared folder is never a leftover.
QList<Leftover> leftovers(const InstalledApp& app);
QList<Leftover> leftovers(const InstalledApp& app, const Folders& folders);

/// Whether the uninstaller may move `url` to the Trash on behalf of `app`: the application's own
/// location when it is unprotected and goes to the Trash (a bundle: with the extension "app"),
/// or a direct child of one of the leftover folders (by standardised path). The leftover
/// folders themselves, the shared folders, anything deeper and anything elsewhere are refused.
bool isAllowedTarget(const QString& url, const InstalledApp& app);
bool isAllowedTarget(const QString& url, const InstalledApp& app, const Folders& folders);

/// The protection test of one bundle location: protected when its real location lies outside
/// every application folder, or on a read-only volume.
bool isProtected(const QString& url, const Folders& folders);

} // namespace AppCatalog
