#pragma once

#include "platform/application_source.h"

/// AppImages: regular files carrying the AppImage marker (an ELF header with "AI" and the type
/// 1 or 2 in its padding), found in ~/Applications, ~/AppImages and ~/.local/bin and one folder
/// below each, or launched by one of the user's desktop entries from anywhere below the home.
/// They are never run to learn about them. The name and version come from the desktop entry
/// that integrated the file (its Exec or TryExec names it), else from the file name; removal
/// moves the file, those entries and the icons only they name to the Trash.
///
/// A running AppImage is a process whose executable is the file (a type 1 image, or the FUSE
/// side of a type 2 runtime) or whose environment holds APPIMAGE=<the file's real path> (what a
/// type 2 runtime runs from its mount, whose /proc/PID/exe lies in /tmp/.mount_*). The second
/// are listed first, so the application is asked to quit before the mount it runs from.
class AppImageSource final : public ApplicationSource
{
public:
    explicit AppImageSource(ApplicationPlaces places);

    ApplicationKind kind() const override { return ApplicationKind::AppImage; }
    QList<SourcedApplication> applications() override;
    QList<RemovalFailure> remove(const SourcedApplication& app) override;

    /// True when the first bytes of `header` are an ELF header with the AppImage marker.
    static bool hasMarker(QByteArrayView header);
    /// The same for a regular file (its own link not followed).
    static bool isAppImage(const QString& path);
    /// A name and a version read from a file name: "Foo-1.2.3-x86_64.AppImage" gives "Foo" and
    /// "1.2.3". The extension, then architecture suffixes, then one version suffix are removed;
    /// a name is never emptied.
    static std::pair<QString, QString> nameFromFile(const QString& fileName);

private:
    ApplicationPlaces m_places;
};
