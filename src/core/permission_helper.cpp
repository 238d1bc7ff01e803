#include "core/permission_helper.h"

#include "platform/desktop.h"

#include <QUrl>

namespace PermissionHelper {

void openFullDiskAccess()
{
    Desktop::openUrl(QUrl(QStringLiteral(
        "x-apple.systempreferences:com.apple.preference.security?Privacy_AllFiles")));
}

} // namespace PermissionHelper
