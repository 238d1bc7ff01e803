#include "core/category.h"
#include "support/test_home.h"

#include <QSet>
#include <sys/statvfs.h>

class TestCategory : public QObject
{
    Q_OBJECT
private slots:
    // What other code relies on: the order, the roots (case-sensitive, relative to the home), the
    // threshold of 100 × 1024 × 1024 although the text says "100 MB", and that only ios and large
    // go to the Trash.
    void catalogue_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QStringList>("roots");
        QTest::addColumn<qint64>("minBytes"); // 0: each child of a root is an item
        QTest::addColumn<bool>("toTrash");
        QTest::addColumn<bool>("warns");
        QTest::newRow("caches") << "Bộ nhớ đệm ứng dụng" << QStringList{"Library/Caches"}
                                << qint64(0) << false << false;
        QTest::newRow("logs") << "Nhật ký & báo lỗi" << QStringList{"Library/Logs"} << qint64(0)
                              << false << false;
        QTest::newRow("dev") << "Công cụ lập trình"
                             << QStringList{"Library/Developer/Xcode/DerivedData",
                                            "Library/Developer/CoreSimulator/Caches",
                                            ".npm/_cacache", ".gradle/caches"}
                             << qint64(0) << false << true;
        QTest::newRow("trash") << "Thùng rác" << QStringList{".Trash"} << qint64(0) << false
                               << true;
        QTest::newRow("ios") << "Bản sao lưu iPhone/iPad"
                             << QStringList{"Library/Application Support/MobileSync/Backup"}
                             << qint64(0) << true << true;
        QTest::newRow("large") << "Tệp lớn"
                               << QStringList{"Downloads", "Documents", "Desktop", "Movies"}
                               << qint64(104'857'600) << true << true;
    }
    void catalogue()
    {
        QFETCH(QString, title);
        QFETCH(QStringList, roots);
        QFETCH(qint64, minBytes);
        QFETCH(bool, toTrash);
        QFETCH(bool, warns);
        const QString id = QString::fromLatin1(QTest::currentDataTag());
        const QStringList order{"caches", "logs", "dev", "trash", "ios", "large"};
        const Category* c = Category::find(id);
        QVERIFY(c);
        QCOMPARE(c, &Category::all().at(order.indexOf(id)));
        QCOMPARE(Category::all().size(), order.size());
        QCOMPARE(c->title, title);
        for (QString& root : roots)
            root.prepend(TestHome::path() + u'/');
        QCOMPARE(c->roots, roots);
        QCOMPARE(c->kind, minBytes ? ScanKind::largeFiles(minBytes) : ScanKind::children());
        QCOMPARE(c->deletion, toTrash ? DeletionMode::trash : DeletionMode::permanent);
        QCOMPARE(c->warning.has_value(), warns);
    }

    // Same location, same identity; equal only with equal sizes.
    void cleanItemEquality()
    {
        const CleanItem a{"/h/x", 4096}, b{"/h/x", 8192};
        QVERIFY(a != b);
        QCOMPARE(QSet<CleanItem>({a, b, CleanItem{"/h/x", 4096}}).size(), 2);
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

    // Decimal units in the user's locale.
    void formatBytes_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<double>("number");
        QTest::addColumn<QString>("unit");
        QTest::newRow("1000") << qint64(1000) << 1.0 << "kB";
        QTest::newRow("1024 is no binary kilobyte") << qint64(1024) << 1.0 << "kB";
        QTest::newRow("rounds into the next unit") << qint64(999'999) << 1.0 << "MB";
        QTest::newRow("large-file threshold") << qint64(104'857'600) << 104.9 << "MB";
        QTest::newRow("terabytes") << qint64(1'500'000'000'000) << 1.5 << "TB";
    }
    void formatBytes()
    {
        QFETCH(qint64, bytes);
        QFETCH(double, number);
        QFETCH(QString, unit);
        QCOMPARE(::formatBytes(bytes), QLocale::system().toString(number, 'f', 1) + u' ' + unit);
    }
};

SORVI_TEST_MAIN(TestCategory)
#include "tst_category.moc"
