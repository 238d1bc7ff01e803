#pragma once

#include <QNetworkReply>
#include <QString>

/// The product's own Vietnamese words for the error codes that reach the user: errno values of
/// file operations and process signals, and the HTTP client's network errors. The system's texts
/// follow the system's locale, often English, so none of them is ever shown. Pure; any thread.
namespace ErrorText {

/// The text of a positive errno value, without a final full stop ("Không có quyền truy cập");
/// a code the table does not know gives "Lỗi hệ thống (mã N)".
QString ofErrno(int errorNumber);

/// The text of a network error of the HTTP client, without a final full stop; one the table does
/// not know gives "Lỗi mạng (mã N)".
QString ofNetwork(QNetworkReply::NetworkError error);

} // namespace ErrorText
