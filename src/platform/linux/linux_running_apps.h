#pragma once

#include "platform/running_apps.h"

/// Linux has no application registry: an instance is a process of the current user whose
/// executable (/proc/PID/exe) lies inside the bundle's real location. The bundle identifier is
/// not consulted. PIDs 0, 1, our own and our parent's are never listed.
class LinuxRunningApps final : public RunningApps
{
public:
    QList<RunningApplicationPtr> instances(const QString& bundlePath,
                                           const QString& bundleID) override;
};
