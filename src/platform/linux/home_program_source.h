#pragma once

#include "platform/application_source.h"

/// Programs installed in the home folder and launched by one of the user's desktop entries (a
/// tarball unpacked in ~/opt, a JetBrains Toolbox application): an entry that menus show whose
/// TryExec or Exec program lies below the home and is not an AppImage. The application's
/// location is the program's own folder (the folder holding it, or the one above a "bin"
/// folder); when that folder is the home, a base folder (~/.local, ~/.config, ~/opt, the XDG
/// and user folders…), lies above one, or holds another entry's program, the location is the
/// program file alone. Entries that share a location are one application. Removal moves the
/// location and its entries (with the icons only they name) to the Trash.
class HomeProgramSource final : public ApplicationSource
{
public:
    explicit HomeProgramSource(ApplicationPlaces places);

    ApplicationKind kind() const override { return ApplicationKind::HomeProgram; }
    QList<SourcedApplication> applications() override;
    QList<RemovalFailure> remove(const SourcedApplication& app) override;

    /// Whether `folder` may never be an application's location: the home, a base folder, a
    /// folder above one, or a folder outside the home.
    bool isBaseFolder(const QString& folder) const;

private:
    QStringList baseFolders() const;
    bool isUsableLocation(const QString& location) const;

    ApplicationPlaces m_places;
};
