#include "platform/vocabulary.h"

namespace Vocabulary {

const Words& words()
{
    // Linux has no access settings pane to open: a folder is unreadable because of its own
    // permissions, which the user can change.
    static const Words onLinux{
        QStringLiteral("Hiện trong trình quản lý tệp"),
        QStringLiteral("SorviClean không có quyền đọc thư mục này. Hãy kiểm tra quyền của thư mục "
                       "(tài khoản của bạn cần quyền đọc và mở thư mục), rồi bấm Quét lại."),
        std::nullopt,
        QStringLiteral("Hệ điều hành"),
        QStringLiteral("Không có thư mục nào để tìm trên hệ thống này."),
        QStringLiteral("Bộ nhớ đệm tải về của npm, Gradle, Cargo, Go... Sẽ được tải/build lại khi "
                       "cần."),
        QStringLiteral("Bản sao lưu thiết bị iOS, thường rất nặng. Linux không có thư mục chuẩn "
                       "cho các bản sao lưu này."),
    };
    return onLinux;
}

} // namespace Vocabulary
