#pragma once

#include "platform/running_apps.h"

/// Linux has no application registry: an instance is a process of the current user, found by
/// what /proc says of it, per kind of application. A bundle's or a home program's: its
/// executable (or, for a script, its first two arguments) lies inside the location's real path;
/// an AppImage's: its executable is the file, or its APPIMAGE variable names it (the runtime's
/// child runs from a mount); a Flatpak application's: the application process in each of its
/// sandboxes from Flatpak's instance list. A system package's entry has none. PIDs 0, 1, our own
/// and our parent's are never listed.
class LinuxRunningApps final : public RunningApps
{
public:
    std::optional<QList<RunningApplicationPtr>> instances(const SourcedApplication& app) override;
};
