#include "core/category.h"
#include "support/rows.h"
#include "support/test_home.h"

class TestCategory : public QObject
{
    Q_OBJECT
private slots:
    // The threshold is 100 × 1024 × 1024 although the text says "100 MB".
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
        const Category& c = Category::all().at(order.indexOf(id));
        QCOMPARE(Category::all().size(), order.size());
        QCOMPARE(Category::find(id), &c);
        QCOMPARE((QStringList{c.id, c.title, c.detail}), (QStringList{id, title, detail}));
        QStringList expected = roots.split(u',', Qt::SkipEmptyParts);
        for (QString& root : expected)
            root.prepend(TestHome::path() + u'/');
        QCOMPARE(c.roots, expected);
        const qint64 min = minBytes.toLongLong();
        QCOMPARE(c.kind, min ? ScanKind::largeFiles(min) : ScanKind::children());
        QCOMPARE(c.deletion == DeletionMode::trash, flags.contains(u"trash"));
        QCOMPARE(c.warning.has_value(), flags.contains(u"warns"));
    }

    void diskUsedNeverNegative()
    {
        QCOMPARE(QList({DiskUsage{100, 150}.used(), DiskUsage{150, 100}.used()}),
                 QList<qint64>({0, 50}));
    }
};

SORVI_TEST_MAIN(TestCategory)
#include "tst_category.moc"
