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
    if (!state.scanned || state.scanning || !state.result.items.isEmpty()) return {};
    if (category.roots.isEmpty()) return Vocabulary::words().noPlaces;
    if (state.result.searched.isEmpty())
        return QStringLiteral("Không tìm thấy thư mục nào để quét: ") + listed(category.roots) +
               u'.';
    return QStringLiteral("Đã tìm trong ") + listed(state.result.searched) + u'.';
}

} // namespace SearchNote
