#include "app/cli_commands.h"
#include "app/cli_json.h"
#include "app/cli_output.h"
#include "core/cleaner.h"
#include "core/io_pool.h"
#include "core/report_text.h"
#include "core/scanner.h"
#include "platform/file_system.h"
#include "platform/path_codec.h"

#include <QCoro/QCoroFuture>
#include <QtConcurrent>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <unistd.h>

namespace Cli {
namespace {

using CliOutput::err;
using CliOutput::out;
using CliOutput::shown;

/// The working folder's own bytes, decoded like every name (QDir::currentPath() is lossy).
QString currentDirectory()
{
    const std::unique_ptr<char, decltype(&std::free)> bytes(::getcwd(nullptr, 0), &std::free);
    return bytes ? PathCodec::decode(QByteArrayView(bytes.get())) : QString();
}

/// An argument that names a thing to remove by itself: not empty and not "." or ".." (like rm,
/// which will not remove the folder it stands in through those names).
bool namesAnItem(const QString& argument)
{
    const QString last = FileSystem::lastComponent(argument);
    return !argument.isEmpty() && last != u"." && last != u"..";
}

/// The named paths made absolute and standardised, each once; a path below another named one is
/// dropped (it goes with that one). nullopt when any path is refused: every refusal is named and
/// nothing at all is removed.
std::optional<QStringList> allowedPaths(const QStringList& named, const Category& category)
{
    QStringList paths;
    bool refused = false;
    for (const QString& argument : named) {
        const QString path = FileSystem::standardized(
            argument.startsWith(u'/') ? argument : currentDirectory() + u'/' + argument);
        if (!namesAnItem(argument) || !Cleaner::isAllowed(path, category)) {
            err(shown(argument, CliOutput::Stream::err) +
                QStringLiteral(": nằm ngoài vùng cho phép"));
            refused = true;
        } else if (!paths.contains(path)) {
            paths.append(path);
        }
    }
    if (refused) {
        const QString where =
            category.roots.isEmpty()
                ? QStringLiteral(" không có thư mục nào trên hệ thống này")
                : QStringLiteral(" chỉ xoá những gì nằm bên trong: ") +
                      shown(category.roots.join(QStringLiteral(", ")), CliOutput::Stream::err);
        err(QStringLiteral("Danh mục ") + category.id + where + QStringLiteral(". Không xoá gì."));
        return std::nullopt;
    }
    const QStringList all = paths;
    paths.removeIf([&](const QString& path) {
        return std::any_of(all.begin(), all.end(),
                           [&](const QString& other) { return path.startsWith(other + u'/'); });
    });
    return paths;
}

// The items with their roots pinned: by the scan, or for named paths when they are measured, so
// a root replaced while the user confirms is not entered.
QCoro::Task<std::optional<ScanResult>> chosenItems(Category category, QStringList named, bool all)
{
    if (all) {
        auto scanning = Scanner::scan(category);
        ScanResult result = co_await scanning;
        co_return result;
    }
    const std::optional<QStringList> paths = allowedPaths(named, category);
    if (!paths) co_return std::nullopt;
    // Measured like a scan measures, so the report frees what a scan would have shown.
    auto measuring = QtConcurrent::run(&ioPool(), [paths = *paths, category] {
        ScanResult chosen{{}, false, Cleaner::pinRoots(category)};
        for (const QString& path : paths)
            chosen.items.append({path, Scanner::allocatedSize(path)});
        return chosen;
    });
    ScanResult chosen = co_await measuring;
    co_return chosen;
}

QCoro::Task<int> removeItems(Arguments args, Category category, ScanResult chosen)
{
    const QList<CleanItem> items = chosen.items;
    const bool json = args.json;
    const bool dryRun = args.dryRun;
    if (items.isEmpty()) {
        if (json)
            CliOutput::raw(dryRun ? CliJson::plan({}) : CliJson::report({}));
        else
            out(QStringLiteral("Không có gì để dọn."));
        co_return kSuccess;
    }
    if (dryRun) {
        printPlan(category.deletion, items, json);
        co_return kSuccess;
    }
    const QString amount = countAndSize(items);
    const QString question =
        category.deletion == DeletionMode::trash
            ? QStringLiteral("Chuyển ") + amount + QStringLiteral(" vào Thùng rác? [c/K] ")
            : QStringLiteral("Xoá vĩnh viễn ") + amount + QStringLiteral("? [c/K] ");
    if (!confirmed(args, category.deletion, items, question)) co_return kUsage;

    auto removal = QtConcurrent::run(&ioPool(), [items, category, pins = chosen.pinnedRoots] {
        return Cleaner::remove(items, category, pins);
    });
    const CleanReport report = co_await removal;
    printReport(report, json, [&](const CleanReport& shownReport) {
        return ReportText::clean(shownReport, category, shownReport.failures.size());
    });
    co_return report.failures.isEmpty() ? kSuccess : kFailures;
}

} // namespace

QCoro::Task<int> clean(Arguments args)
{
    const QStringList positional = args.positional;
    if (positional.isEmpty()) {
        err(QStringLiteral("Thiếu DANH-MỤC (xem: sorviclean clean --help)."));
        co_return kUsage;
    }
    const Category* found = categoryOrComplain(positional.first());
    if (found == nullptr) co_return kUsage;
    const Category category = *found;
    const QStringList named = positional.mid(1);
    const bool all = args.all;
    if (all == !named.isEmpty()) {
        err(all ? QStringLiteral("Dùng ĐƯỜNG-DẪN… hoặc --all, không dùng cả hai.")
                : QStringLiteral("Thiếu ĐƯỜNG-DẪN… hoặc --all (xem: sorviclean clean --help)."));
        co_return kUsage;
    }
    auto choosing = chosenItems(category, named, all);
    const std::optional<ScanResult> chosen = co_await choosing;
    if (!chosen) co_return kUsage;
    auto removing = removeItems(args, category, *chosen);
    const int code = co_await removing;
    co_return code;
}

} // namespace Cli
