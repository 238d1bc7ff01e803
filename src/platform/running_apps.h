#pragma once

#include "platform/sourced_application.h"

#include <QList>
#include <QString>
#include <memory>
#include <optional>
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
    /// The running instances of `app`, pinned against PID reuse; possibly empty. nullopt when
    /// the application's location is no longer the one it was listed with (`app.identity`): it
    /// was replaced, by a link or another object, and nothing found through it may be signalled.
    /// Blocking (it reads the process table).
    virtual std::optional<QList<RunningApplicationPtr>>
    instances(const SourcedApplication& app) = 0;
};

/// The process-wide registry of the platform built for.
RunningApps& defaultRunningApps();
