#include "core/category.h"
#include "support/test_home.h"

#include <QSet>
#include <optional>
#include <sys/statvfs.h>

using namespace Qt::Literals::StringLiterals;

Q_DECLARE_METATYPE(DeletionMode)
Q_DECLARE_METATYPE(std::optional<QString>)

class TestCategory : public QObject
{
    Q_OBJECT
private slots:
    // Every text exactly as the user must see it; roots relative to the home folder, in order.
    void catalogue_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("symbol");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<std::optional<QString>>("warning");
        QTest::addColumn<QStringList>("relativeRoots");
        QTest::addColumn<qint64>("minBytes");
        QTest::addColumn<DeletionMode>("deletion");
        QTest::newRow("caches") << 0 << u"caches"_s << u"Bộ nhớ đệm ứng dụng"_s
                                << u"internaldrive"_s
                                << u"File tạm do ứng dụng tạo ra. Ứng dụng sẽ tự tạo lại khi cần."_s
                                << std::optional<QString>() << QStringList{u"Library/Caches"_s}
                                << qint64(0) << DeletionMode::permanent;
        QTest::newRow("logs") << 1 << u"logs"_s << u"Nhật ký & báo lỗi"_s << u"doc.text"_s
                              << u"File log và báo cáo lỗi của ứng dụng."_s
                              << std::optional<QString>() << QStringList{u"Library/Logs"_s}
                              << qint64(0) << DeletionMode::permanent;
        QTest::newRow("dev")
            << 2 << u"dev"_s << u"Công cụ lập trình"_s << u"hammer"_s
            << u"Xcode DerivedData, simulator cache, npm, Gradle... Sẽ được tải/build lại khi cần."_s
            << std::optional<QString>(
                   u"Lần build tiếp theo có thể chậm hơn vì phải tạo lại cache."_s)
            << QStringList{u"Library/Developer/Xcode/DerivedData"_s,
                           u"Library/Developer/CoreSimulator/Caches"_s, u".npm/_cacache"_s,
                           u".gradle/caches"_s}
            << qint64(0) << DeletionMode::permanent;
        QTest::newRow("trash") << 3 << u"trash"_s << u"Thùng rác"_s << u"trash"_s
                               << u"Các file bạn đã xoá nhưng chưa dọn hẳn."_s
                               << std::optional<QString>(u"Xoá vĩnh viễn, không thể khôi phục."_s)
                               << QStringList{u".Trash"_s} << qint64(0) << DeletionMode::permanent;
        QTest::newRow("ios")
            << 4 << u"ios"_s << u"Bản sao lưu iPhone/iPad"_s << u"iphone"_s
            << u"Bản sao lưu thiết bị iOS tạo bởi Finder, thường rất nặng."_s
            << std::optional<QString>(
                   u"Chỉ xoá nếu bạn chắc chắn không cần khôi phục thiết bị từ bản sao lưu này."_s)
            << QStringList{u"Library/Application Support/MobileSync/Backup"_s} << qint64(0)
            << DeletionMode::trash;
        QTest::newRow("large")
            << 5 << u"large"_s << u"Tệp lớn"_s << u"externaldrive"_s
            << u"File từ 100 MB trở lên trong Downloads, Documents, Desktop, Movies."_s
            << std::optional<QString>(
                   u"Kiểm tra kỹ trước khi chọn. File được chuyển vào Thùng rác nên vẫn khôi phục được."_s)
            << QStringList{u"Downloads"_s, u"Documents"_s, u"Desktop"_s, u"Movies"_s}
            << qint64(104857600) << DeletionMode::trash;
    }
    void catalogue()
    {
        QFETCH(int, index);
        QFETCH(QString, id);
        QFETCH(QString, title);
        QFETCH(QString, symbol);
        QFETCH(QString, detail);
        QFETCH(std::optional<QString>, warning);
        QFETCH(QStringList, relativeRoots);
        QFETCH(qint64, minBytes);
        QFETCH(DeletionMode, deletion);

        QCOMPARE(Category::all().size(), 6);
        const Category& category = Category::all().at(index);
        QCOMPARE(category.id, id);
        QCOMPARE(category.title, title);
        QCOMPARE(category.symbol, symbol);
        QCOMPARE(category.detail, detail);
        QCOMPARE(category.warning, warning);
        QStringList roots;
        for (const QString& relative : relativeRoots)
            roots.append(TestHome::path() + u'/' + relative);
        QCOMPARE(category.roots, roots);
        // The large-file threshold is 100 × 1024 × 1024, although the text says "100 MB".
        QCOMPARE(category.kind,
                 minBytes > 0 ? ScanKind::largeFiles(minBytes) : ScanKind::children());
        QCOMPARE(category.deletion, deletion);
        QCOMPARE(Category::find(id), &category);
        QCOMPARE(Category::find(id.toUpper()), nullptr);
    }

    // Two items with the same location are the same item, but only equal with equal sizes.
    void cleanItemIdentityAndEquality()
    {
        const CleanItem a{u"/home/u/Library/Caches/com.app"_s, 4096};
        const CleanItem sameUrl{u"/home/u/Library/Caches/com.app"_s, 8192};
        const CleanItem same{u"/home/u/Library/Caches/com.app"_s, 4096};
        QVERIFY(a != sameUrl);
        QCOMPARE(a, same);
        QCOMPARE(QSet<CleanItem>({a, same, sameUrl}).size(), 2);
    }

    void cleanItemName_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("name");
        QTest::newRow("folder") << u"/h/Library/Caches/com.apple.Safari"_s << u"com.apple.Safari"_s;
        QTest::newRow("hidden") << u"/h/.Trash/.old"_s << u".old"_s;
        QTest::newRow("vietnamese") << u"/h/Documents/Bản sao lưu.zip"_s << u"Bản sao lưu.zip"_s;
    }
    void cleanItemName()
    {
        QFETCH(QString, url);
        QFETCH(QString, name);
        QCOMPARE((CleanItem{url, 1}).name(), name);
    }

    void diskUsageUsed_data()
    {
        QTest::addColumn<qint64>("total");
        QTest::addColumn<qint64>("available");
        QTest::addColumn<qint64>("used");
        QTest::newRow("more available than total") << qint64(100) << qint64(150) << qint64(0);
        QTest::newRow("ordinary") << qint64(150) << qint64(100) << qint64(50);
        QTest::newRow("no total, some available") << qint64(0) << qint64(4096) << qint64(0);
        QTest::newRow("large volume")
            << qint64(8) * 1000'000'000'000 << qint64(3) * 1000'000'000'000
            << qint64(5) * 1000'000'000'000;
    }
    void diskUsageUsed()
    {
        QFETCH(qint64, total);
        QFETCH(qint64, available);
        QFETCH(qint64, used);
        QCOMPARE((DiskUsage{total, available}).used(), used);
    }

    // Compared with an independent reading of the same volume; the free space moves while other
    // programs write, so only its order of magnitude is compared.
    void diskUsageReadsTheStartupVolume()
    {
        struct statvfs vfs;
        QCOMPARE(::statvfs("/", &vfs), 0);
        const DiskUsage usage = DiskUsage::current();
        QCOMPARE(usage.total, qint64(vfs.f_blocks) * qint64(vfs.f_frsize));
        QVERIFY(usage.available >= 0 && usage.available <= usage.total);
        const qint64 expectedAvailable = qint64(vfs.f_bavail) * qint64(vfs.f_frsize);
        QVERIFY2(qAbs(usage.available - expectedAvailable) <= usage.total / 20,
                 qPrintable(u"%1 against %2"_s.arg(usage.available).arg(expectedAvailable)));
        QCOMPARE(usage.used(), usage.total - usage.available);
    }

    // Decimal units (1 kB = 1000 bytes), numbers in the user's locale.
    void formatBytesUsesDecimalUnits_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<double>("number");
        QTest::addColumn<QString>("unit");
        QTest::newRow("one kilobyte") << qint64(1000) << 1.0 << u"kB"_s;
        QTest::newRow("1024 is not a kilobyte of 1024") << qint64(1024) << 1.0 << u"kB"_s;
        QTest::newRow("one and a half") << qint64(1500) << 1.5 << u"kB"_s;
        QTest::newRow("rounds up into the next unit") << qint64(999'999) << 1.0 << u"MB"_s;
        QTest::newRow("large-file threshold") << qint64(104'857'600) << 104.9 << u"MB"_s;
        QTest::newRow("gigabyte") << qint64(1000'000'000) << 1.0 << u"GB"_s;
        QTest::newRow("terabytes") << qint64(1500'000'000'000) << 1.5 << u"TB"_s;
        QTest::newRow("negative") << qint64(-1500) << -1.5 << u"kB"_s;
    }
    void formatBytesUsesDecimalUnits()
    {
        QFETCH(qint64, bytes);
        QFETCH(double, number);
        QFETCH(QString, unit);
        QCOMPARE(formatBytes(bytes), QLocale::system().toString(number, 'f', 1) + u' ' + unit);
    }

    void formatBytesBelowOneKilobyte_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::newRow("zero") << qint64(0);
        QTest::newRow("999") << qint64(999);
    }
    void formatBytesBelowOneKilobyte()
    {
        QFETCH(qint64, bytes);
        const QString text = formatBytes(bytes);
        QVERIFY2(text.startsWith(QLocale::system().toString(bytes) + u' '), qPrintable(text));
        QVERIFY2(!text.contains(u"kB"_s), qPrintable(text));
    }
};

SORVI_TEST_MAIN(TestCategory)
#include "tst_category.moc"
