#pragma once

#include "core/category.h"

#include <QString>

/// The messages that turn a removal report into text for the user, shared by the window's models
/// and the command line. Pure; any thread.
namespace ReportText {

/// How many failure lines a message lists; the count in it still covers all of them.
inline constexpr qsizetype kListedFailures = 5;

/// "Đã giải phóng " + the freed bytes + ".", the Trash note for a category that trashes, then
/// "\n\nKhông xoá được N mục:\n" and the first `listed` failure lines when there are failures.
QString clean(const CleanReport& report, const Category& category,
              qsizetype listed = kListedFailures);

/// "Đã gỡ NAME và chuyển … vào Thùng rác." without failures; otherwise "Gỡ NAME chưa hoàn tất."
/// followed by the same failure block as clean().
QString uninstall(const QString& appName, const CleanReport& report,
                  qsizetype listed = kListedFailures);

/// A clean asked for while the clean of category `id` still runs: nothing was removed.
QString cleanRefused(const QString& id);

/// An uninstall asked for while that of `appName` still runs: nothing was removed.
QString uninstallRefused(const QString& appName);

/// The application did not quit when asked: NAME + " không thoát được. …".
QString notQuit(const QString& appName);

} // namespace ReportText
