#pragma once

#include <QString>

/// The uninstaller's texts that name things of one desktop platform (who installs and removes
/// system applications, where leftovers live), in Vietnamese. Any thread.
namespace Vocabulary {

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

/// This platform's words.
const ApplicationWords& applicationWords();

} // namespace Vocabulary
