#pragma once

#include "core/category.h"

#include <QCoro/QCoroTask>
#include <QList>
#include <QStringList>
#include <functional>

/// The commands behind the dispatcher in cli.cpp, and what they share. Each runs on the main
/// thread of a QCoreApplication, sends its file-system work to the I/O pool, and yields the exit
/// code.
namespace Cli {

enum ExitCode : int { kSuccess = 0, kFailures = 1, kUsage = 2 };

/// The parsed arguments of one command. A value, so that the commands (coroutines) take it by
/// value.
struct Arguments
{
    QStringList positional; ///< file names decoded from the raw argument bytes
    bool json = false;
    bool yes = false;
    bool dryRun = false;
    bool all = false;
    bool keepLeftovers = false;
    bool once = false;
};

QCoro::Task<int> scan(Arguments args);
QCoro::Task<int> clean(Arguments args);
QCoro::Task<int> apps(Arguments args);
QCoro::Task<int> uninstall(Arguments args);
QCoro::Task<int> monitor(Arguments args);

/// The category with this id; nullptr after telling the user which ids exist.
const Category* categoryOrComplain(const QString& id);

/// Scans the categories at once, as the window does at start-up; results in the same order.
QCoro::Task<QList<ScanResult>> scanAll(QList<Category> categories);

/// "N mục · X" for a list of items.
QString countAndSize(const QList<CleanItem>& items);

/// Prints what a dry run would remove in the given way: the JSON plan, or a heading ("Sẽ xoá
/// vĩnh viễn N mục · X:"), one line per item, and that nothing was removed.
void printPlan(DeletionMode mode, const QList<CleanItem>& items, bool json);

/// Prints the report of a removal: the JSON document, or the text `message` builds from the
/// report with every failure line made safe for the terminal (and all of them listed).
void printReport(const CleanReport& report, bool json,
                 const std::function<QString(const CleanReport&)>& message);

/// Unless --yes was given: shows the plan and asks `question` on the terminal. False, after
/// saying why and that nothing was removed, when the user declined or could not be asked.
bool confirmed(const Arguments& args, DeletionMode mode, const QList<CleanItem>& items,
               const QString& question);

} // namespace Cli
