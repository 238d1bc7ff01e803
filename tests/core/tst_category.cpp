#include "core/category.h"
#include "support/test_home.h"

#include <sys/statvfs.h>

namespace {

struct Row
{
    QString title;
    QString detail;
    qint64 minBytes; // 0: each child of a root is one item
    bool toTrash;
    bool warns;
    QStringList roots; // relative to the home folder
};

Row row(const char* title, const char* detail, qint64 minBytes, bool toTrash, bool warns,
        const QStringList& roots)
{
    return Row{title, detail, minBytes, toTrash, warns, roots};
}

} // namespace

Q_DECLARE_METATYPE(Row)

class TestCategory : public QObject
{
    Q_OBJECT
private slots:
    // What other code relies on: the order, the roots of this system on a home with the default
    // places, the threshold of 100 × 1024 × 1024 although the text says "100 MB", that only ios
    // and large go to the Trash, and the details (the large one naming the folders searched).
    void catalogue_data()
    {
        QTest::addColumn<Row>("row");
        QTest::newRow("caches") << row(
            "Bộ nhớ đệm ứng dụng", "File tạm do ứng dụng tạo ra. Ứng dụng sẽ tự tạo lại khi cần.",
            0, false, false, {".cache"});
        QTest::newRow("logs") << row("Nhật ký & báo lỗi", "File log và báo cáo lỗi của ứng dụng.",
                                     0, false, false, {".local/share/xorg"});
        QTest::newRow("dev") << row(
            "Công cụ lập trình",
            "Bộ nhớ đệm tải về của npm, Gradle, Cargo, Go... Sẽ được "
            "tải/build lại khi cần.",
            0, false, true,
            {".npm/_cacache", ".gradle/caches", ".cargo/registry/cache", "go/pkg/mod"});
        QTest::newRow("trash") << row("Thùng rác", "Các file bạn đã xoá nhưng chưa dọn hẳn.", 0,
                                      false, true, {".local/share/Trash/files"});
        QTest::newRow("ios") << row("Bản sao lưu iPhone/iPad",
                                    "Bản sao lưu thiết bị iOS, thường rất nặng. Linux không có "
                                    "thư mục chuẩn cho các bản sao lưu này.",
                                    0, true, true, {});
        QTest::newRow("large") << row("Tệp lớn",
                                      "File từ 100 MB trở lên trong Downloads, Documents, Desktop, "
                                      "Videos.",
                                      104'857'600, true, true,
                                      {"Downloads", "Documents", "Desktop", "Videos"});
    }
    void catalogue()
    {
        QFETCH(Row, row);
        const QString id = QString::fromLatin1(QTest::currentDataTag());
        const QStringList order{"caches", "logs", "dev", "trash", "ios", "large"};
        QCOMPARE(Category::all().size(), order.size());
        const Category& c = Category::all().at(order.indexOf(id));
        QCOMPARE(c.id, id);
        QCOMPARE(Category::find(id), &c);
        QCOMPARE(c.title, row.title);
        QCOMPARE(c.detail, row.detail);
        for (QString& root : row.roots)
            root.prepend(TestHome::path() + u'/');
        QCOMPARE(c.roots, row.roots);
        QCOMPARE(c.kind, row.minBytes ? ScanKind::largeFiles(row.minBytes) : ScanKind::children());
        QCOMPARE(c.deletion, row.toTrash ? DeletionMode::trash : DeletionMode::permanent);
        QCOMPARE(c.warning.has_value(), row.warns);
    }

    void diskUsage()
    {
        QCOMPARE((DiskUsage{100, 150}).used(), 0);
        QCOMPARE((DiskUsage{150, 100}).used(), 50);
        struct statvfs vfs;
        QCOMPARE(::statvfs("/", &vfs), 0);
        const DiskUsage usage = DiskUsage::current();
        QCOMPARE(usage.total, qint64(vfs.f_blocks) * qint64(vfs.f_frsize));
        // Other programs write meanwhile: only the order of magnitude of the free space is fixed.
        QVERIFY(qAbs(usage.available - qint64(vfs.f_bavail) * qint64(vfs.f_frsize)) <
                usage.total / 20);
    }
};

SORVI_TEST_MAIN(TestCategory)
#include "tst_category.moc"
