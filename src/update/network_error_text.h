#pragma once

#include <QNetworkReply>
#include <QString>

/// The product's own Vietnamese words for the HTTP client's network errors: Qt's texts follow
/// the system's locale, often English, so none of them is ever shown. Pure; any thread.
namespace NetworkErrorText {

/// The text of a network error, without a final full stop; one the table does not know gives
/// "Lỗi mạng (mã N)".
QString of(QNetworkReply::NetworkError error);

} // namespace NetworkErrorText
