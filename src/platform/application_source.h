#pragma once

#include "platform/running_apps.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

/// The kinds of application the uninstaller knows. Each kind has one source that lists it,
/// removes it and finds its running instances.
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

/// What one source knows about one installed application. A value; any thread.
struct SourcedApplication
{
    ApplicationKind kind = ApplicationKind::Bundle;
    Removal removal = Removal::Never;
    /// The application's identity: a Flatpak deployment folder, an AppImage file, a home
    /// program's own folder (or file), a system package's desktop entry. Links not resolved.
    QString location;
    /// Flatpak application id, or the desktop-file id ("org.foo.Bar" for org.foo.Bar.desktop).
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

    friend bool operator==(const SourcedApplication&, const SourcedApplication&) = default;
};

/// Something that could not be removed: the path (or the application's location) and why.
struct RemovalFailure
{
    QString item;
    QString reason;
    friend bool operator==(const RemovalFailure&, const RemovalFailure&) = default;
};

/// The folders the Linux sources read. standard() takes them from the environment; tests build
/// their own inside a temporary home.
struct ApplicationPlaces
{
    QString home;
    QString dataHome;          ///< $XDG_DATA_HOME (its applications/ and icons/ folders)
    QStringList dataDirs;      ///< $XDG_DATA_DIRS outside the home, in precedence order
    QStringList homePath;      ///< the $PATH folders that lie below the home
    QString dpkgInfo;          ///< the package manager's file lists (*.list)
    bool systemFlatpak = true; ///< also list the system Flatpak installations

    static ApplicationPlaces standard();
};

/// One kind of application. Every function may run on any thread, concurrently with the others;
/// all of them block while they read the disk (call them off the GUI thread). Nothing throws:
/// what cannot be read only shrinks a result, and a refused removal comes back as a failure.
class ApplicationSource
{
public:
    virtual ~ApplicationSource() = default;
    virtual ApplicationKind kind() const = 0;
    /// The installed applications of this kind, in no particular order.
    virtual QList<SourcedApplication> applications() = 0;
    /// Removes `app` (its location and own files; never its leftovers). Empty when everything
    /// is gone; a protected application is refused without touching anything.
    virtual QList<RemovalFailure> remove(const SourcedApplication& app) = 0;
    /// The running instances of `app`, pinned against PID reuse; possibly empty.
    virtual QList<RunningApplicationPtr> instances(const SourcedApplication& app) = 0;
    /// The package that installed `app`, when this kind has one and it can be found.
    virtual std::optional<QString> owningPackage(const SourcedApplication& /*app*/)
    {
        return std::nullopt;
    }
};

/// The Linux sources in listing order: Flatpak, AppImages, home programs, system packages.
std::vector<std::unique_ptr<ApplicationSource>> applicationSources(const ApplicationPlaces& places);
