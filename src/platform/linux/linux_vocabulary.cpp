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

const ApplicationWords& applicationWords()
{
    // A system application belongs to the package manager: removing its files by hand would
    // leave the package database wrong, so the detail names the tool that removes it.
    static const ApplicationWords onLinux{
        QStringLiteral("Đây là ứng dụng hệ thống do trình quản lý gói cài đặt, SorviClean không "
                       "gỡ ứng dụng này."),
        QStringLiteral("Ứng dụng thuộc gói “%1”; hãy gỡ gói đó bằng trình quản lý gói của hệ "
                       "thống."),
        QStringLiteral("Hãy gỡ ứng dụng bằng trình quản lý gói của hệ thống."),
        QStringLiteral("Không tìm thấy file thừa trong thư mục cá nhân."),
    };
    return onLinux;
}

} // namespace Vocabulary
