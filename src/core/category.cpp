#include "core/category.h"

#include "platform/byte_count.h"
#include "platform/file_system.h"

namespace {

QStringList under(const QStringList& relative)
{
    // Standardised, so a home of "/" or with a trailing slash gives no doubled slash.
    QStringList roots;
    for (const QString& path : relative)
        roots.append(FileSystem::standardized(Category::home() + u'/' + path));
    return roots;
}

QList<Category> buildCatalogue()
{
    return {
        {QStringLiteral("caches"), QStringLiteral("Bộ nhớ đệm ứng dụng"),
         QStringLiteral("internaldrive"),
         QStringLiteral("File tạm do ứng dụng tạo ra. Ứng dụng sẽ tự tạo lại khi cần."),
         std::nullopt, under({QStringLiteral("Library/Caches")}), ScanKind::children(),
         DeletionMode::permanent},
        {QStringLiteral("logs"), QStringLiteral("Nhật ký & báo lỗi"), QStringLiteral("doc.text"),
         QStringLiteral("File log và báo cáo lỗi của ứng dụng."), std::nullopt,
         under({QStringLiteral("Library/Logs")}), ScanKind::children(), DeletionMode::permanent},
        {QStringLiteral("dev"), QStringLiteral("Công cụ lập trình"), QStringLiteral("hammer"),
         QStringLiteral(
             "Xcode DerivedData, simulator cache, npm, Gradle... Sẽ được tải/build lại khi cần."),
         QStringLiteral("Lần build tiếp theo có thể chậm hơn vì phải tạo lại cache."),
         under({QStringLiteral("Library/Developer/Xcode/DerivedData"),
                QStringLiteral("Library/Developer/CoreSimulator/Caches"),
                QStringLiteral(".npm/_cacache"), QStringLiteral(".gradle/caches")}),
         ScanKind::children(), DeletionMode::permanent},
        {QStringLiteral("trash"), QStringLiteral("Thùng rác"), QStringLiteral("trash"),
         QStringLiteral("Các file bạn đã xoá nhưng chưa dọn hẳn."),
         QStringLiteral("Xoá vĩnh viễn, không thể khôi phục."), under({QStringLiteral(".Trash")}),
         ScanKind::children(), DeletionMode::permanent},
        {QStringLiteral("ios"), QStringLiteral("Bản sao lưu iPhone/iPad"), QStringLiteral("iphone"),
         QStringLiteral("Bản sao lưu thiết bị iOS tạo bởi Finder, thường rất nặng."),
         QStringLiteral(
             "Chỉ xoá nếu bạn chắc chắn không cần khôi phục thiết bị từ bản sao lưu này."),
         under({QStringLiteral("Library/Application Support/MobileSync/Backup")}),
         ScanKind::children(), DeletionMode::trash},
        {QStringLiteral("large"), QStringLiteral("Tệp lớn"), QStringLiteral("externaldrive"),
         QStringLiteral("File từ 100 MB trở lên trong Downloads, Documents, Desktop, Movies."),
         QStringLiteral(
             "Kiểm tra kỹ trước khi chọn. File được chuyển vào Thùng rác nên vẫn khôi phục được."),
         under({QStringLiteral("Downloads"), QStringLiteral("Documents"), QStringLiteral("Desktop"),
                QStringLiteral("Movies")}),
         ScanKind::largeFiles(104'857'600), DeletionMode::trash},
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
