#include "platform/error_text.h"

#include <algorithm>
#include <cerrno>
#include <iterator>

namespace ErrorText {
namespace {

struct Entry
{
    int code;
    const char* text; // UTF-8
};

// ESTALE is what a removal reports for a folder that is no longer the one it listed (a root
// replaced since the scan, an ancestor moved meanwhile), so its text says so.
constexpr Entry kErrno[] = {
    {EPERM, "Thao tác không được phép"},
    {ENOENT, "Không tìm thấy tệp hoặc thư mục"},
    {ESRCH, "Tiến trình không còn tồn tại"},
    {EINTR, "Thao tác bị ngắt giữa chừng"},
    {EIO, "Lỗi đọc ghi trên thiết bị lưu trữ"},
    {ENXIO, "Thiết bị không tồn tại"},
    {EBADF, "Mô tả tệp không hợp lệ"},
    {EAGAIN, "Tài nguyên tạm thời chưa sẵn sàng"},
    {ENOMEM, "Không đủ bộ nhớ"},
    {EACCES, "Không có quyền truy cập"},
    {EBUSY, "Thiết bị hoặc tài nguyên đang bận"},
    {EEXIST, "Tệp đã tồn tại"},
    {EXDEV, "Không chuyển được giữa hai ổ đĩa khác nhau"},
    {ENODEV, "Không có thiết bị này"},
    {ENOTDIR, "Không phải thư mục"},
    {EISDIR, "Là một thư mục"},
    {EINVAL, "Tham số không hợp lệ"},
    {ENFILE, "Hệ thống đang mở quá nhiều tệp"},
    {EMFILE, "Chương trình đang mở quá nhiều tệp"},
    {ETXTBSY, "Tệp chương trình đang được chạy"},
    {EFBIG, "Tệp quá lớn"},
    {ENOSPC, "Ổ đĩa đã hết chỗ trống"},
    {EROFS, "Hệ thống tệp chỉ cho phép đọc"},
    {EMLINK, "Quá nhiều liên kết"},
    {EPIPE, "Đầu bên kia đã đóng kết nối"},
    {ENAMETOOLONG, "Tên tệp quá dài"},
    {ENOTEMPTY, "Thư mục không trống"},
    {ELOOP, "Đường dẫn đi qua liên kết tượng trưng không được phép theo, hoặc quá nhiều tầng "
            "liên kết"},
    {ENOSYS, "Hệ thống không hỗ trợ chức năng này"},
    {EOPNOTSUPP, "Thao tác không được hỗ trợ"},
    {ETIMEDOUT, "Hết thời gian chờ"},
    {ECONNREFUSED, "Kết nối bị từ chối"},
    {EHOSTUNREACH, "Không tới được máy chủ"},
    {ENETUNREACH, "Không tới được mạng"},
    {EDQUOT, "Đã vượt hạn mức dung lượng đĩa"},
    {ESTALE, "Thư mục đã bị thay thế hoặc di chuyển"},
    {ECANCELED, "Thao tác đã bị huỷ"},
    {EOVERFLOW, "Giá trị quá lớn"},
    {EILSEQ, "Chuỗi byte không hợp lệ"},
};

template <size_t N> const char* lookUp(const Entry (&table)[N], int code)
{
    const auto* found = std::find_if(std::begin(table), std::end(table),
                                     [code](const Entry& entry) { return entry.code == code; });
    return found == std::end(table) ? nullptr : found->text;
}

} // namespace

QString ofErrno(int errorNumber)
{
    if (const char* text = lookUp(kErrno, errorNumber)) return QString::fromUtf8(text);
    return QStringLiteral("Lỗi hệ thống (mã %1)").arg(errorNumber);
}

} // namespace ErrorText
