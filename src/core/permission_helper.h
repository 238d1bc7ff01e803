#pragma once

#include <QCoro/QCoroTask>
#include <QString>

class ScriptRunner;

/// Remedies for access that the system withholds: the Full Disk Access settings pane, and
/// emptying the Trash through the Finder. Stateless.
namespace PermissionHelper {

/// Asks the desktop to open the Full Disk Access list of the system settings. Fire and forget:
/// where nothing handles the link (any desktop but macOS) nothing happens. GUI thread.
void openFullDiskAccess();

/// Empties the user's Trash off the GUI thread and returns the text for the user: "Đã dọn Thùng
/// rác." or "Không dọn được Thùng rác: " + the reason + the Automation paragraph. Where
/// `osascript` exists the Finder does it; elsewhere the freedesktop home trash is emptied
/// (emptyHomeTrash()). Never fails; resumes on the awaiting thread.
QCoro::Task<QString> emptyTrashViaFinder();

/// The Finder path with a given script runner, for tests. `runner` must outlive the task; it is
/// called on a worker thread.
QCoro::Task<QString> emptyTrashViaFinder(ScriptRunner& runner);

/// Empties the freedesktop home trash ($XDG_DATA_HOME/Trash, default ~/.local/share/Trash):
/// every entry of files/ is removed for good, without following links, then every entry of
/// info/ except the records of files that stayed (so those stay visible and restorable); a
/// folder replaced after it was listed (by a link, say) is not entered. A missing trash counts
/// as empty. Returns the same texts as emptyTrashViaFinder(), the reason being the first entry
/// that stayed ("name: error"). Blocking; any thread but the GUI thread.
QString emptyHomeTrash();

} // namespace PermissionHelper
