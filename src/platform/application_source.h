#pragma once

#include "platform/sourced_application.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

/// A folder searched for what applications leave behind: its direct children are matched
/// against an application's identifier (and name, where the folder allows names).
struct LeftoverFolder
{
    QString path;               ///< absolute
    bool byName = false;        ///< also matched by the application's name
    bool byGroupPrefix = false; ///< also "<prefix>.<identifier>" (macOS group containers)
    friend bool operator==(const LeftoverFolder&, const LeftoverFolder&) = default;
};

/// The folders the Linux sources read and the leftover folders. standard() takes them from the
/// environment; tests build their own inside a temporary home.
struct ApplicationPlaces
{
    QString home;
    QString dataHome;          ///< $XDG_DATA_HOME (its applications/ and icons/ folders)
    QStringList dataDirs;      ///< $XDG_DATA_DIRS outside the home, in precedence order
    QStringList homePath;      ///< the $PATH folders that lie below the home
    QString dpkgInfo;          ///< the package manager's file lists (*.list)
    bool systemFlatpak = true; ///< also list the system Flatpak installations
    QString configHome;        ///< $XDG_CONFIG_HOME
    QString cacheHome;         ///< $XDG_CACHE_HOME
    QString stateHome;         ///< $XDG_STATE_HOME
    QString flatpakUser;       ///< the user's Flatpak installation ($FLATPAK_USER_DIR)

    /// From the environment. A base folder that is not absolute, is "/", is the home or lies
    /// above it is replaced by its default below the home.
    static ApplicationPlaces standard();
    /// Relative to `home`: the XDG defaults, no system data folders, no system Flatpak.
    static ApplicationPlaces inHome(const QString& home);

    /// Where applications leave things, in search order: ~/.var/app, the XDG config, data,
    /// cache and state folders (names allowed), the autostart and applications folders.
    QList<LeftoverFolder> leftoverFolders() const;
    /// Folders that hold other things than one application's leftovers (the trash, the user's
    /// Flatpak installation, the icon theme): never a leftover, even when a name matches.
    QStringList sharedFolders() const;
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
    /// The package that installed `app`, when this kind has one and it can be found.
    virtual std::optional<QString> owningPackage(const SourcedApplication& /*app*/)
    {
        return std::nullopt;
    }
};

/// The Linux sources in listing order: Flatpak, AppImages, home programs, system packages.
std::vector<std::unique_ptr<ApplicationSource>> applicationSources(const ApplicationPlaces& places);
