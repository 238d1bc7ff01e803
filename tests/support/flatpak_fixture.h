#pragma once

#include <QString>
#include <QStringList>

/// A real Flatpak repository built offline (a runtime of the host's shell, small applications),
/// the remote "sorvi-test" of the user installation in the temporary home and, as root, of the
/// system installation at $FLATPAK_SYSTEM_DIR. Functions return "" or what failed.
namespace FlatpakFixture {

/// One application: its exported desktop entry (none when desktopName is ""), icons, and
/// AppStream data (none when appstreamName is "") with a release `version`.
struct AppShape
{
    QString id, desktopName, desktopNameVi, appstreamName, version;
    QList<int> iconSizes;
};

/// Points FLATPAK_SYSTEM_DIR into a temporary folder. Call before anything uses libflatpak.
void prepareEnvironment();
/// Builds the runtime and `apps` and adds the repository to the installations.
QString build(const QList<AppShape>& apps);
QString install(const QStringList& ids, bool system = false);
/// The applications `flatpak list` shows.
QStringList listed(bool system = false);
/// True when the system installation can be written here (we run as root).
bool hasSystemInstallation();

} // namespace FlatpakFixture
