#include "core/category.h"
#include "support/rows.h"
#include "support/test_home.h"

#include <sys/statvfs.h>

class TestCategory : public QObject
{
    Q_OBJECT
private slots:
    // What other code relies on: the order, the roots on a home with the default places, the
    // threshold of 100 × 1024 × 1024 although the text says "100 MB", which categories go to the
    // Trash and warn, and the texts.
    void catalogue_data()
    {
        Rows::add({"title", "detail", "roots", "minBytes", "flags"},
                  {"caches;Bộ nhớ đệm ứng dụng;File tạm do ứng dụng tạo ra. Ứng dụng sẽ tự tạo lại "
                   "khi cần.;.cache;0;",
                   "logs;Nhật ký & báo lỗi;File log và báo cáo lỗi của ứng dụng.;"
                   ".local/share/xorg;0;",
                   "dev;Công cụ lập trình;Bộ nhớ đệm tải về của npm, Gradle, Cargo, Go... Sẽ được "
                   "tải/build lại khi cần.;.npm/_cacache,.gradle/caches,.cargo/registry/cache,"
                   "go/pkg/mod;0;warns",
                   "trash;Thùng rác;Các file bạn đã xoá nhưng chưa dọn hẳn.;"
                   ".local/share/Trash/files;0;warns",
                   "ios;Bản sao lưu iPhone/iPad;Bản sao lưu thiết bị iOS, thường rất nặng. Linux "
                   "không có thư mục chuẩn cho các bản sao lưu này.;;0;warns,trash",
                   "large;Tệp lớn;File từ 100 MB trở lên trong Downloads, Documents, Desktop, "
                   "Videos.;Downloads,Documents,Desktop,Videos;104857600;warns,trash"});
    }
    void catalogue()
    {
        QFETCH(QString, title);
        QFETCH(QString, detail);
        QFETCH(QString, roots);
        QFETCH(QString, minBytes);
        QFETCH(QString, flags);
        const QString id = QString::fromLatin1(QTest::currentDataTag());
        const QStringList order{"caches", "logs", "dev", "trash", "ios", "large"};
        QCOMPARE(Category::all().size(), order.size());
        const Category& c = Category::all().at(order.indexOf(id));
        QCOMPARE(Category::find(id), &c);
        QCOMPARE(c.id, id);
        QCOMPARE(c.title, title);
        QCOMPARE(c.detail, detail);
        QStringList expected = roots.split(u',', Qt::SkipEmptyParts);
        for (QString& root : expected)
            root.prepend(TestHome::path() + u'/');
        QCOMPARE(c.roots, expected);
        const qint64 min = minBytes.toLongLong();
        QCOMPARE(c.kind, min ? ScanKind::largeFiles(min) : ScanKind::children());
        QCOMPARE(c.deletion == DeletionMode::trash, flags.contains(u"trash"));
        QCOMPARE(c.warning.has_value(), flags.contains(u"warns"));
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
