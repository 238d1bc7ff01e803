#pragma once

/// The remedy for access that the system withholds: its access settings pane. Stateless.
namespace PermissionHelper {

/// Asks the desktop to open the Full Disk Access list of the system settings. Fire and forget:
/// where nothing handles the link (any desktop but macOS) nothing happens. GUI thread.
void openFullDiskAccess();

} // namespace PermissionHelper
