#pragma once

#include <QString>

/// The product's own Vietnamese words for the errno values of file operations and process signals
/// that reach the user. The system's texts follow the system's locale, often English, so none of
/// them is ever shown. Pure; any thread.
namespace ErrorText {

/// The text of a positive errno value, without a final full stop ("Không có quyền truy cập");
/// a code the table does not know gives "Lỗi hệ thống (mã N)".
QString ofErrno(int errorNumber);

} // namespace ErrorText
