#pragma once

#include "core/category.h"
#include "platform/sourced_application.h"

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

/// "Đã gỡ NAME và chuyển … vào Thùng rác." without failures (for an application its installer
/// removed, "Đã gỡ NAME và giải phóng …."); otherwise "Gỡ NAME chưa hoàn tất." followed by the
/// same failure block as clean().
QString uninstall(const QString& appName, const CleanReport& report,
                  Removal removal = Removal::Trash, qsizetype listed = kListedFailures);

/// A clean asked for while the clean of category `id` still runs: nothing was removed.
QString cleanRefused(const QString& id);

/// An uninstall asked for while that of `appName` still runs: nothing was removed.
QString uninstallRefused(const QString& appName);

/// The application did not quit when asked: NAME + " không thoát được. …".
QString notQuit(const QString& appName);

/// The application's location was replaced since it was listed: nothing was asked to quit and
/// nothing removed.
QString replaced(const QString& appName);

} // namespace ReportText
