#pragma once

#include <QString>
#include <optional>

/// The texts that name things of one desktop platform (its file manager, its access settings,
/// its folders and tools), in Vietnamese. Every other text of the program is the same on every
/// platform. Any thread.
namespace Vocabulary {

struct Words
{
    /// The button and menu entry that show an item in the file manager.
    QString revealInFileViewer;
    /// The notice shown when a category's folder could not be read: the cause and the remedy.
    QString unreadableNotice;
    /// The button that opens the system's access settings; none where no such pane exists.
    std::optional<QString> accessSettingsButton;
    /// The label of the monitor's line that names the operating system.
    QString operatingSystem;
    /// A category that has no folder to search on this system.
    QString noPlaces;
    /// The details of the categories whose folders are the platform's own.
    QString devDetail;
    QString iosDetail;
};

/// This platform's words.
const Words& words();

/// The uninstaller's words: who installs and removes system applications, where leftovers live.
struct ApplicationWords
{
    /// The notice of a protected application: what it is and that this program never removes it.
    QString protectedApplication;
    /// Who removes a system application when its package is known ("%1": the package).
    QString heldByPackage;
    /// The same when its package is not known.
    QString removedByPackageManager;
    /// No leftover was found: where they were looked for.
    QString noLeftovers;
};

/// This platform's words for the uninstaller.
const ApplicationWords& applicationWords();

} // namespace Vocabulary
