#pragma once

#include "core/category.h"
#include "core/progress.h"
#include "uninstaller/app_catalog.h"

#include <QCoro/QCoroTask>
#include <chrono>

class RunningApps;
class ScriptRunner;

/// Removes one application: asks its running instances to quit, then removes it the way its kind
/// is removed (a bundle, an AppImage or a home program to the Trash, a Flatpak application
/// through its installer) and moves the chosen leftovers to the Trash. Nothing is ever deleted
/// permanently by this program. Stateless; never throws.
namespace Uninstaller {

enum class Quit {
    done,         ///< no instance runs any more, or none ran
    stillRunning, ///< an instance was still running after 20 checks 250 ms apart
    replaced,     ///< the location is no longer the one listed: nothing was signalled
};

/// Every instance of `app` gets one polite quit request, never a forced one, and is checked
/// until it is gone. Start and await it on a thread with an event loop: the process table is
/// read on the I/O pool, the waits are timers, so no thread is blocked.
QCoro::Task<Quit> quitIfRunning(InstalledApp app);
/// The same with another registry (nullptr: the platform's) and check interval (tests).
QCoro::Task<Quit> quitIfRunning(InstalledApp app, RunningApps* registry,
                                std::chrono::milliseconds interval);

/// Removes the application (a bundle: to the Trash after the allow-list test; another kind:
/// through its source, its location first checked by the allow-list when it goes to the Trash),
/// then moves each leftover in order to the Trash after the allow-list test. What the Trash
/// refused is handed to the Finder in one script, and what still exists afterwards becomes a
/// failure line ("<name>: <reason>"): refused targets first, then the survivors. `freed` sums
/// the recorded sizes of the targets that are gone (the application counts 0 while its size is
/// absent). Blocking: call it off the GUI thread.
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
