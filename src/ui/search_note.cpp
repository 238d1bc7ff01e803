#include "ui/search_note.h"

#include "platform/file_system.h"
#include "platform/vocabulary.h"
#include "ui/checkable_list_model.h"

namespace SearchNote {
namespace {

QString listed(const QStringList& folders)
{
    QStringList shown;
    for (const QString& folder : folders)
        shown.append(CheckableListModel::abbreviateHome(folder, FileSystem::homeDirectory()));
    return shown.join(QStringLiteral(", "));
}

} // namespace

QString text(const Category& category, const AppModel::State& state)
{
    // An unreadable root has its own notice, which says why.
    if (!state.scanned || state.scanning || !state.result.items.isEmpty() ||
        state.result.unreadable)
        return {};
    if (category.roots.isEmpty()) return Vocabulary::words().noPlaces;
    // The roots the scan entered, in the category's order.
    QStringList searched;
    for (const QString& root : category.roots)
        if (state.result.pinnedRoots.contains(FileSystem::standardized(root)))
            searched.append(root);
    if (searched.isEmpty())
        return QStringLiteral("Không tìm thấy thư mục nào để quét: ") + listed(category.roots) +
               u'.';
    return QStringLiteral("Đã tìm trong ") + listed(searched) + u'.';
}

} // namespace SearchNote
