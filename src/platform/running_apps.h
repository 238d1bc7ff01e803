#pragma once

#include "platform/process_signal.h"

#include <QList>
#include <QString>
#include <memory>

/// One running instance of an application, pinned so that a reused PID is never mistaken for it.
class RunningApplication
{
public:
    virtual ~RunningApplication() = default;
    virtual pid_t pid() const = 0;
    /// A polite quit request (SIGTERM); never a forced one. True when the request was delivered.
    virtual bool terminate() = 0;
    /// True once the instance has exited.
    virtual bool isTerminated() const = 0;
};

using RunningApplicationPtr = std::shared_ptr<RunningApplication>;

/// The registry of running applications. A seam: the uninstaller and its model take one, with
/// LinuxRunningApps as the default, and tests may pass their own. Any thread.
class RunningApps
{
public:
    virtual ~RunningApps() = default;
    /// The running instances of the application whose bundle lies at `bundlePath` and whose
    /// identifier is `bundleID`; possibly empty. Blocking (it reads the process table).
    virtual QList<RunningApplicationPtr> instances(const QString& bundlePath,
                                                   const QString& bundleID) = 0;
};

/// Linux has no application registry: an instance is a process of the current user whose
/// executable (/proc/PID/exe) lies inside the bundle's real location. The bundle identifier is
/// not consulted. PIDs 0, 1, our own and our parent's are never listed.
class LinuxRunningApps final : public RunningApps
{
public:
    QList<RunningApplicationPtr> instances(const QString& bundlePath,
                                           const QString& bundleID) override;
};

/// The process-wide default registry (a LinuxRunningApps).
RunningApps& defaultRunningApps();
