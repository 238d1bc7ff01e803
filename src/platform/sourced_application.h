#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <optional>

/// The kinds of application the uninstaller knows. Each kind has one source that lists and
/// removes it; the registry of running applications finds its processes.
enum class ApplicationKind {
    Bundle,        ///< a directory with an information dictionary (the macOS layout)
    Flatpak,       ///< an application of a Flatpak installation, removed through libflatpak
    AppImage,      ///< a self-contained executable file in one of the user's program folders
    HomeProgram,   ///< a program in the home folder that a desktop entry launches
    SystemPackage, ///< a desktop entry of the package manager: listed, never removed
};

/// How an application leaves the disk.
enum class Removal {
    Trash,       ///< its location and its own files go to the Trash
    Transaction, ///< its installer removes it (a Flatpak uninstall transaction)
    Never,       ///< protected: the package manager removes it, not this program
};

/// Which object a path named when it was read: its device and inode, the path's last component
/// not followed. A location that no longer has the identity it was listed with has been
/// replaced (by a link, by another folder) and is not the application any more.
struct LocationIdentity
{
    quint64 device = 0;
    quint64 inode = 0;
    bool isLink = false;

    /// The identity of the object at `path` now; nullopt when nothing is there. Any thread.
    static std::optional<LocationIdentity> of(const QString& path);
    friend bool operator==(const LocationIdentity&, const LocationIdentity&) = default;
};

/// What one source knows about one installed application. A value; any thread.
struct SourcedApplication
{
    ApplicationKind kind = ApplicationKind::Bundle;
    Removal removal = Removal::Never;
    /// The application's identity: a bundle, a Flatpak deployment folder, an AppImage file, a
    /// home program's own folder (or file), a system package's desktop entry. Links not resolved.
    QString location;
    /// Bundle identifier, Flatpak application id, or the desktop-file id ("org.foo.Bar" for
    /// org.foo.Bar.desktop).
    QString id;
    QString name;     ///< display name, Vietnamese where the application provides one
    QString version;  ///< "" when unknown
    QString iconPath; ///< an image file; "" when none was found (see iconName)
    QString iconName; ///< the entry's theme icon name when iconPath is empty; may be ""
    std::optional<qint64> installedSize; ///< bytes, when the installer records it
    std::optional<QDateTime> lastUsed;   ///< access time of the program, when later than its change
    bool isProtected = false;

    /// Flatpak: the installation ("user", or the system installation's id) and the full ref.
    QString installation;
    QString ref;
    /// Files that belong to the application outside its location and go with it: the desktop
    /// entries that launch it and the icons only those entries name.
    QStringList ownFiles;
    /// Leftovers that belong to this application by construction, not by a name match (a
    /// Flatpak application's private home ~/.var/app/<id>): safe to preselect.
    QStringList privateData;
    /// The desktop entry that names a system package's application (to find its package).
    QString desktopEntry;
    /// The location as it was listed; running instances are looked for only while the location
    /// still has it.
    std::optional<LocationIdentity> identity;

    friend bool operator==(const SourcedApplication&, const SourcedApplication&) = default;
};

/// Something that could not be removed: the path (or the application's location) and why.
struct RemovalFailure
{
    QString item;
    QString reason;
    friend bool operator==(const RemovalFailure&, const RemovalFailure&) = default;
};
