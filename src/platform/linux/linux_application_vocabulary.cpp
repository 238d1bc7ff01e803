#include "platform/application_vocabulary.h"

namespace Vocabulary {

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
