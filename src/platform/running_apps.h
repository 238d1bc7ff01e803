#pragma once

#include <QList>
#include <QString>
#include <memory>
#include <sys/types.h>

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
/// the platform's own registry as the default, and tests may pass their own. Any thread.
class RunningApps
{
public:
    virtual ~RunningApps() = default;
    /// The running instances of the application whose bundle lies at `bundlePath` and whose
    /// identifier is `bundleID`; possibly empty. Blocking (it reads the process table).
    virtual QList<RunningApplicationPtr> instances(const QString& bundlePath,
                                                   const QString& bundleID) = 0;
};

/// The process-wide registry of the platform built for.
RunningApps& defaultRunningApps();
