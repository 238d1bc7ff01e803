#include "core/category.h"

#include "platform/byte_count.h"
#include "platform/file_system.h"
#include "platform/places.h"
#include "platform/vocabulary.h"

namespace {

// The folders searched, named as the user sees them.
QString largeDetail(const QStringList& roots)
{
    QStringList names;
    for (const QString& root : roots)
        names.append(FileSystem::lastComponent(root));
    if (names.isEmpty()) return QStringLiteral("File từ 100 MB trở lên.");
    return QStringLiteral("File từ 100 MB trở lên trong ") + names.join(QStringLiteral(", ")) +
           u'.';
}

QList<Category> buildCatalogue()
{
    const Vocabulary::Words& words = Vocabulary::words();
    const QStringList large = Places::roots(QStringLiteral("large"));
    return {
        {QStringLiteral("caches"), QStringLiteral("Bộ nhớ đệm ứng dụng"),
         QStringLiteral("internaldrive"),
         QStringLiteral("File tạm do ứng dụng tạo ra. Ứng dụng sẽ tự tạo lại khi cần."),
         std::nullopt, Places::roots(QStringLiteral("caches")), ScanKind::children(),
         DeletionMode::permanent},
        {QStringLiteral("logs"), QStringLiteral("Nhật ký & báo lỗi"), QStringLiteral("doc.text"),
         QStringLiteral("File log và báo cáo lỗi của ứng dụng."), std::nullopt,
         Places::roots(QStringLiteral("logs")), ScanKind::children(), DeletionMode::permanent},
        {QStringLiteral("dev"), QStringLiteral("Công cụ lập trình"), QStringLiteral("hammer"),
         words.devDetail,
         QStringLiteral("Lần build tiếp theo có thể chậm hơn vì phải tạo lại cache."),
         Places::roots(QStringLiteral("dev")), ScanKind::children(), DeletionMode::permanent},
        {QStringLiteral("trash"), QStringLiteral("Thùng rác"), QStringLiteral("trash"),
         QStringLiteral("Các file bạn đã xoá nhưng chưa dọn hẳn."),
         QStringLiteral("Xoá vĩnh viễn, không thể khôi phục."),
         Places::roots(QStringLiteral("trash")), ScanKind::children(), DeletionMode::permanent},
        {QStringLiteral("ios"), QStringLiteral("Bản sao lưu iPhone/iPad"), QStringLiteral("iphone"),
         words.iosDetail,
         QStringLiteral(
             "Chỉ xoá nếu bạn chắc chắn không cần khôi phục thiết bị từ bản sao lưu này."),
         Places::roots(QStringLiteral("ios")), ScanKind::children(), DeletionMode::trash},
        {QStringLiteral("large"), QStringLiteral("Tệp lớn"), QStringLiteral("externaldrive"),
         largeDetail(large),
         QStringLiteral(
             "Kiểm tra kỹ trước khi chọn. File được chuyển vào Thùng rác nên vẫn khôi phục được."),
         large, ScanKind::largeFiles(104'857'600), DeletionMode::trash},
    };
}

} // namespace

const QList<Category>& Category::all()
{
    static const QList<Category> catalogue = buildCatalogue();
    return catalogue;
}

const Category* Category::find(const QString& id)
{
    for (const Category& category : all())
        if (category.id == id) return &category;
    return nullptr;
}

QString Category::home()
{
    return FileSystem::homeDirectory();
}

QString CleanItem::name() const
{
    return FileSystem::lastComponent(url);
}

size_t qHash(const CleanItem& item, size_t seed)
{
    return qHashMulti(seed, item.url, item.size);
}

DiskUsage DiskUsage::current()
{
    const auto volume = FileSystem::volume(QStringLiteral("/"));
    if (!volume) return {};
    return {volume->total, volume->available};
}

QString formatBytes(qint64 bytes)
{
    return ByteCount::file(bytes);
}
