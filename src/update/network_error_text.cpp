#include "update/network_error_text.h"

namespace NetworkErrorText {

QString of(QNetworkReply::NetworkError error)
{
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
        return QStringLiteral("Máy chủ từ chối kết nối");
    case QNetworkReply::RemoteHostClosedError:
        return QStringLiteral("Máy chủ đóng kết nối giữa chừng");
    case QNetworkReply::HostNotFoundError:
        return QStringLiteral("Không tìm thấy máy chủ");
    case QNetworkReply::TimeoutError:
        return QStringLiteral("Hết thời gian chờ máy chủ");
    case QNetworkReply::OperationCanceledError:
        return QStringLiteral("Yêu cầu đã bị huỷ");
    case QNetworkReply::SslHandshakeFailedError:
        return QStringLiteral("Không thiết lập được kết nối bảo mật (TLS)");
    case QNetworkReply::TemporaryNetworkFailureError:
        return QStringLiteral("Mạng tạm thời gián đoạn");
    case QNetworkReply::NetworkSessionFailedError:
        return QStringLiteral("Không kết nối được mạng");
    case QNetworkReply::TooManyRedirectsError:
        return QStringLiteral("Bị chuyển hướng quá nhiều lần");
    case QNetworkReply::InsecureRedirectError:
        return QStringLiteral("Bị chuyển hướng sang địa chỉ không an toàn");
    case QNetworkReply::ProxyConnectionRefusedError:
        return QStringLiteral("Máy chủ trung gian (proxy) từ chối kết nối");
    case QNetworkReply::ProxyConnectionClosedError:
        return QStringLiteral("Máy chủ trung gian (proxy) đóng kết nối");
    case QNetworkReply::ProxyNotFoundError:
        return QStringLiteral("Không tìm thấy máy chủ trung gian (proxy)");
    case QNetworkReply::ProxyTimeoutError:
        return QStringLiteral("Hết thời gian chờ máy chủ trung gian (proxy)");
    case QNetworkReply::ProxyAuthenticationRequiredError:
        return QStringLiteral("Máy chủ trung gian (proxy) yêu cầu đăng nhập");
    case QNetworkReply::ContentAccessDenied:
        return QStringLiteral("Không có quyền truy cập nội dung");
    case QNetworkReply::ContentNotFoundError:
        return QStringLiteral("Không tìm thấy nội dung");
    case QNetworkReply::AuthenticationRequiredError:
        return QStringLiteral("Máy chủ yêu cầu đăng nhập");
    case QNetworkReply::ContentGoneError:
        return QStringLiteral("Nội dung không còn trên máy chủ");
    case QNetworkReply::ProtocolUnknownError:
        return QStringLiteral("Giao thức không được hỗ trợ");
    case QNetworkReply::ProtocolFailure:
        return QStringLiteral("Máy chủ trả lời sai giao thức");
    case QNetworkReply::InternalServerError:
        return QStringLiteral("Máy chủ gặp lỗi nội bộ");
    case QNetworkReply::ServiceUnavailableError:
        return QStringLiteral("Dịch vụ tạm thời không khả dụng");
    default:
        return QStringLiteral("Lỗi mạng (mã %1)").arg(int(error));
    }
}

} // namespace NetworkErrorText
