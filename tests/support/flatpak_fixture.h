#pragma once

#include <QString>
#include <QStringList>

/// A real Flatpak repository built offline with the flatpak and ostree tools: a hand-made
/// runtime (a shell and the C library copied from the host) and small applications, each with
/// an exported desktop entry, icons and AppStream data as the test asks. The repository is added
/// as the remote "sorvi-test" of the user installation ($FLATPAK_USER_DIR, inside the temporary
/// home) and, when we run as root, of the system installation at $FLATPAK_SYSTEM_DIR, which
/// prepare() points into the temporary home. Everything runs once per test program.
namespace FlatpakFixture {

/// An application to build. Empty fields are left out of the build.
struct AppShape
{
    QString id;
    QString desktopName;   ///< Name= of the exported desktop entry ("" = no entry, no icon)
    QString desktopNameVi; ///< Name[vi]=
    QString appstreamName; ///< <name> of the AppStream data ("" = no AppStream data)
    QString version;       ///< the AppStream release
    QList<int> iconSizes;  ///< exported PNG icons, one per size
};

/// Points FLATPAK_SYSTEM_DIR into the temporary home. Call before anything uses libflatpak.
void prepareEnvironment();

/// Builds the runtime and `apps` into a repository below the temporary home and adds it to the
/// user installation (and the system one when root). Returns "" or what failed.
QString build(const QList<AppShape>& apps);

/// Installs the applications `ids` (with the runtime) from the repository; "" or what failed.
QString install(const QStringList& ids, bool system = false);

/// The applications `flatpak list` shows for one installation.
QStringList listed(bool system = false);

/// "" when a sandbox can start here (`flatpak run` of a shell that exits at once), else why not.
QString sandboxRefusal(const QString& id);

/// True when the system installation can be written here (we run as root).
bool hasSystemInstallation();

} // namespace FlatpakFixture
