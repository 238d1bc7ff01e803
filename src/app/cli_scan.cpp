#include "app/cli_commands.h"
#include "app/cli_json.h"
#include "app/cli_output.h"
#include "core/scanner.h"
#include "platform/vocabulary.h"

#include <vector>

namespace Cli {
namespace {

using CliOutput::err;
using CliOutput::out;
using CliOutput::shown;

void printItems(const QList<CleanItem>& items, CliOutput::Stream stream)
{
    for (const CleanItem& item : items)
        CliOutput::line(stream, QStringLiteral("  ") + CliOutput::sizeColumn(item.size) +
                                    QStringLiteral("  ") + shown(item.url, stream));
}

void printScan(const Category& category, const ScanResult& result)
{
    out(category.title + QStringLiteral(" [") + category.id + QStringLiteral("] · ") +
        countAndSize(result.items));
    if (category.roots.isEmpty()) out(QStringLiteral("  ") + Vocabulary::words().noPlaces);
    for (const QString& root : category.roots)
        out(QStringLiteral("  Tìm trong: ") + shown(root));
    if (result.unreadable) out(QStringLiteral("  Không đọc được một số thư mục (không đủ quyền)."));
    printItems(result.items, CliOutput::Stream::out);
    out();
}

QString planHeading(DeletionMode mode, const QList<CleanItem>& items)
{
    if (mode == DeletionMode::trash)
        return QStringLiteral("Sẽ chuyển ") + countAndSize(items) +
               QStringLiteral(" vào Thùng rác:");
    return QStringLiteral("Sẽ xoá vĩnh viễn ") + countAndSize(items) + u':';
}

/// The categories named on the command line, each once, in the order given; all six when none
/// is named. nullopt when one does not exist.
std::optional<QList<Category>> chosenCategories(const QStringList& ids)
{
    if (ids.isEmpty()) return Category::all();
    QList<Category> chosen;
    for (const QString& id : ids) {
        const Category* category = categoryOrComplain(id);
        if (category == nullptr) return std::nullopt;
        if (!chosen.contains(*category)) chosen.append(*category);
    }
    return chosen;
}

} // namespace

const Category* categoryOrComplain(const QString& id)
{
    const Category* category = Category::find(id);
    if (category != nullptr) return category;
    QStringList ids;
    for (const Category& each : Category::all())
        ids.append(each.id);
    err(QStringLiteral("Không có danh mục “") + shown(id, CliOutput::Stream::err) +
        QStringLiteral("”. Các danh mục: ") + ids.join(QStringLiteral(", ")) + u'.');
    return nullptr;
}

QCoro::Task<QList<ScanResult>> scanAll(QList<Category> categories)
{
    // Every scan starts before the first is awaited, so their file-system work overlaps.
    std::vector<QCoro::Task<ScanResult>> scans;
    for (const Category& category : categories)
        scans.push_back(Scanner::scan(category));
    QList<ScanResult> results;
    for (QCoro::Task<ScanResult>& scan : scans) {
        ScanResult result = co_await scan;
        results.append(std::move(result));
    }
    co_return results;
}

QString countAndSize(const QList<CleanItem>& items)
{
    return QString::number(items.size()) + QStringLiteral(" mục · ") +
           formatBytes(CliOutput::totalSize(items));
}

void printPlan(DeletionMode mode, const QList<CleanItem>& items, bool json)
{
    if (json) {
        CliOutput::raw(CliJson::plan(items));
        return;
    }
    out(planHeading(mode, items));
    printItems(items, CliOutput::Stream::out);
    out(QStringLiteral("Chạy thử: không xoá gì."));
}

void printReport(const CleanReport& report, bool json,
                 const std::function<QString(const CleanReport&)>& message)
{
    if (json) {
        CliOutput::raw(CliJson::report(report));
        return;
    }
    CleanReport display = report;
    for (QString& failure : display.failures)
        failure = shown(failure);
    out(message(display));
}

bool confirmed(const Arguments& args, DeletionMode mode, const QList<CleanItem>& items,
               const QString& question)
{
    if (args.yes) return true;
    if (!CliOutput::canAsk()) {
        err(QStringLiteral("Không xoá gì: cần xác nhận mà đầu vào không phải terminal. Thêm "
                           "--yes để xoá không cần hỏi."));
        return false;
    }
    err(planHeading(mode, items));
    printItems(items, CliOutput::Stream::err);
    if (CliOutput::agreed(question)) return true;
    err(QStringLiteral("Đã huỷ, không xoá gì."));
    return false;
}

QCoro::Task<int> scan(Arguments args)
{
    const std::optional<QList<Category>> categories = chosenCategories(args.positional);
    if (!categories) co_return kUsage;
    auto scanning = scanAll(*categories);
    const QList<ScanResult> results = co_await scanning;

    if (args.json) {
        QList<CliJson::CategoryScan> scans;
        for (qsizetype i = 0; i < categories->size(); ++i)
            scans.append({categories->at(i), results.at(i)});
        CliOutput::raw(CliJson::scan(scans));
        co_return kSuccess;
    }
    qint64 total = 0;
    for (qsizetype i = 0; i < categories->size(); ++i) {
        printScan(categories->at(i), results.at(i));
        total += CliOutput::totalSize(results.at(i).items);
    }
    if (categories->size() > 1) out(QStringLiteral("Tổng cộng: ") + formatBytes(total));
    co_return kSuccess;
}

} // namespace Cli
