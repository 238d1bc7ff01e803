#pragma once

#include "core/category.h"
#include "core/progress.h"
#include "uninstaller/app_catalog.h"

#include <QCoro/QCoroTask>
#include <chrono>

class RunningApps;
class ScriptRunner;

/// Removes one application: asks its running instances to quit, then moves the bundle and the
/// chosen leftovers to the Trash. Nothing is ever deleted permanently. Stateless; never throws.
namespace Uninstaller {

/// True when no instance of `app` runs any more (or none ran); false when one was still running
/// after 20 checks 250 ms apart. Every instance gets one polite quit request, never a forced
/// one. Start and await it on a thread with an event loop: the process table is read on the I/O
/// pool, the waits are timers, so no thread is blocked.
QCoro::Task<bool> quitIfRunning(InstalledApp app);
/// The same with another registry (nullptr: the Linux one) and check interval (tests).
QCoro::Task<bool> quitIfRunning(InstalledApp app, RunningApps* registry,
                                std::chrono::milliseconds interval);

/// Moves the bundle, then each leftover in order, to the Trash after the allow-list test; what
/// the Trash refused is handed to the Finder in one script, and what still exists afterwards
/// becomes a failure line ("<name>: <reason>"): refused targets first, then the survivors.
/// `freed` sums the recorded sizes of the targets that are gone (the bundle counts 0 while its
/// size is absent). Blocking: call it off the GUI thread.
CleanReport uninstall(const InstalledApp& app, const QList<Leftover>& leftovers);
/// The same with another script runner and folders (tests); `progress` hears the targets done
/// (the bundle, then each leftover) before each target and once at the end.
CleanReport uninstall(const InstalledApp& app, const QList<Leftover>& leftovers,
                      ScriptRunner& runner, const AppCatalog::Folders& folders,
                      const ProgressCallback& progress = {});

/// The Finder request for `paths`: `tell application "Finder" to delete {POSIX file "…", …}`,
/// each path with backslashes doubled, then double quotes escaped. Pure.
QString finderDeleteScript(const QStringList& paths);

} // namespace Uninstaller
