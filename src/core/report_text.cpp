#include "core/report_text.h"

#include <algorithm>

namespace ReportText {
namespace {

QString failureBlock(const QStringList& failures, qsizetype listed)
{
    return QStringLiteral("\n\nKhông xoá được ") + QString::number(failures.size()) +
           QStringLiteral(" mục:\n") +
           failures.first(std::clamp<qsizetype>(listed, 0, failures.size())).join(u'\n');
}

} // namespace

QString clean(const CleanReport& report, const Category& category, qsizetype listed)
{
    QString text = QStringLiteral("Đã giải phóng ") + formatBytes(report.freed) + u'.';
    if (category.deletion == DeletionMode::trash)
        text += QStringLiteral(" Các mục đã được chuyển vào Thùng rác.");
    if (!report.failures.isEmpty()) text += failureBlock(report.failures, listed);
    return text;
}

QString uninstall(const QString& appName, const CleanReport& report, Removal removal,
                  qsizetype listed)
{
    // An application that its installer removed is not in the Trash, whatever went with it.
    if (report.failures.isEmpty() && removal == Removal::Transaction)
        return QStringLiteral("Đã gỡ ") + appName + QStringLiteral(" và giải phóng ") +
               formatBytes(report.freed) + u'.';
    if (report.failures.isEmpty())
        return QStringLiteral("Đã gỡ ") + appName + QStringLiteral(" và chuyển ") +
               formatBytes(report.freed) + QStringLiteral(" vào Thùng rác.");
    return QStringLiteral("Gỡ ") + appName + QStringLiteral(" chưa hoàn tất.") +
           failureBlock(report.failures, listed);
}

QString cleanRefused(const QString& id)
{
    const Category* running = Category::find(id);
    return QStringLiteral("Đang dọn ") + (running ? running->title : id) +
           QStringLiteral(". Hãy đợi lần dọn này xong rồi thử lại.");
}

QString uninstallRefused(const QString& appName)
{
    return QStringLiteral("Đang gỡ ") + appName +
           QStringLiteral(". Hãy đợi lần gỡ này xong rồi thử lại.");
}

QString notQuit(const QString& appName)
{
    return appName + QStringLiteral(" không thoát được. Hãy thoát app thủ công rồi thử lại.");
}

QString replaced(const QString& appName)
{
    return appName + QStringLiteral(" đã bị thay đổi trên đĩa từ lúc được liệt kê, nên không có gì "
                                    "bị gỡ. Hãy tải lại danh sách rồi thử lại.");
}

} // namespace ReportText
