#include "core/category.h"
#include "support/test_home.h"

#include <sys/statvfs.h>

namespace {

struct Row
{
    QString title;
    qint64 minBytes; // 0: each child of a root is one item
    bool toTrash;
    bool warns;
    QStringList roots; // relative to the home folder
};

Row row(const char* title, qint64 minBytes, bool toTrash, bool warns, const QStringList& roots)
{
    return Row{title, minBytes, toTrash, warns, roots};
}

} // namespace

Q_DECLARE_METATYPE(Row)

class TestCategory : public QObject
{
    Q_OBJECT
private slots:
    // What other code relies on: the order, the roots (case-sensitive), the threshold of
    // 100 × 1024 × 1024 although the text says "100 MB", and that only ios and large go to the
    // Trash.
    void catalogue_data()
    {
        QTest::addColumn<Row>("row");
        QTest::newRow("caches") << row("Bộ nhớ đệm ứng dụng", 0, false, false, {"Library/Caches"});
        QTest::newRow("logs") << row("Nhật ký & báo lỗi", 0, false, false, {"Library/Logs"});
        QTest::newRow("dev") << row("Công cụ lập trình", 0, false, true,
                                    {"Library/Developer/Xcode/DerivedData",
                                     "Library/Developer/CoreSimulator/Caches", ".npm/_cacache",
                                     ".gradle/caches"});
        QTest::newRow("trash") << row("Thùng rác", 0, false, true, {".Trash"});
        QTest::newRow("ios") << row("Bản sao lưu iPhone/iPad", 0, true, true,
                                    {"Library/Application Support/MobileSync/Backup"});
        QTest::newRow("large") << row("Tệp lớn", 104'857'600, true, true,
                                      {"Downloads", "Documents", "Desktop", "Movies"});
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
