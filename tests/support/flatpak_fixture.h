#pragma once

#include <QString>
#include <QStringList>

/// A real Flatpak repository built offline, the remote "sorvi-test" of the user installation and
/// (as root) of the system one at $FLATPAK_SYSTEM_DIR. Functions return "" or what failed.
namespace FlatpakFixture {

/// One application; no desktop entry when desktopName is "", no AppStream data without a name.
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
QStringList listed(bool system = false);
/// True when the system installation can be written here (as root).
bool hasSystemInstallation();

} // namespace FlatpakFixture
