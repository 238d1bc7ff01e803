#include "platform/bundle.h"
#include "support/test_home.h"
#include "support/tree_builder.h"
#include "uninstaller/bundle_fixture.h"

#include <QTimeZone>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace BundleFixture;

namespace {

int g_counter = 0;

QString freshFolder()
{
    const QString dir = TestHome::path() + QStringLiteral("/bundles/%1").arg(++g_counter);
    TreeBuilder::makeDir(dir);
    return dir;
}

QByteArray bigEndian(quint64 value, int bytes)
{
    QByteArray out;
    for (int k = bytes - 1; k >= 0; --k)
        out.append(char((value >> (8 * k)) & 0xFF));
    return out;
}

// A binary list built by hand from raw objects, for shapes plistutil never writes.
QByteArray binaryList(const QList<QByteArray>& objects, quint64 top = 0, int refSize = 2)
{
    QByteArray data("bplist00");
    QList<quint64> offsets;
    for (const QByteArray& object : objects) {
        offsets.append(quint64(data.size()));
        data += object;
    }
    const quint64 table = quint64(data.size());
    for (quint64 offset : offsets)
        data += bigEndian(offset, 4);
    data += QByteArray(6, '\0');
    data += char(4);
    data += char(refSize);
    data += bigEndian(quint64(objects.size()), 8);
    data += bigEndian(top, 8);
    data += bigEndian(table, 8);
    return data;
}

QByteArray arrayOf(const QList<quint64>& refs)
{
    QByteArray object;
    if (refs.size() < 15) {
        object += char(0xA0 | refs.size());
    } else {
        object += char(0xAF);
        object += char(0x11);
        object += bigEndian(quint64(refs.size()), 2);
    }
    for (quint64 ref : refs)
        object += bigEndian(ref, 2);
    return object;
}

QByteArray asciiString(const QByteArray& text)
{
    return char(0x50 | text.size()) + text;
}

// A dictionary of one key (object 1) whose value is object 2.
QByteArray dictOfOne()
{
    return QByteArray("\xD1", 1) + bigEndian(1, 2) + bigEndian(2, 2);
}

QByteArray nestedXml(int depth)
{
    return "<?xml version=\"1.0\"?><plist><dict><key>k</key>" +
           QByteArray("<array>").repeated(depth) + QByteArray("</array>").repeated(depth) +
           "</dict></plist>";
}

} // namespace

class TestBundle : public QObject
{
    Q_OBJECT
private slots:
    void readsEveryValueType_data()
    {
        QTest::addColumn<int>("format");
        QTest::newRow("xml") << int(Format::Xml);
        QTest::newRow("binary") << int(Format::Binary);
    }
    void readsEveryValueType()
    {
        QFETCH(int, format);
        const QString path = freshFolder() + QStringLiteral("/Info.plist");
        const QString body =
            stringEntry(QStringLiteral("CFBundleIdentifier"), QStringLiteral("com.example.Bản")) +
            QStringLiteral("<key>Flag</key><true/>"
                           "<key>Count</key><integer>42</integer>"
                           "<key>Negative</key><integer>-5</integer>"
                           "<key>Ratio</key><real>1.5</real>"
                           "<key>When</key><date>2024-03-01T12:00:00Z</date>"
                           "<key>Blob</key><data>AAEC</data>"
                           "<key>List</key><array><string>a</string><integer>7</integer></array>"
                           "<key>Nested</key><dict><key>Inner</key><string>x</string></dict>");
        QVERIFY(writePlist(path, plistDocument(body), Format(format)));

        const std::optional<QVariantMap> info = PropertyList::read(path);
        QVERIFY(info);
        QCOMPARE(info->value("CFBundleIdentifier").toString(), QStringLiteral("com.example.Bản"));
        QCOMPARE(info->value("Flag"), QVariant(true));
        QCOMPARE(info->value("Count"), QVariant(qint64(42)));
        QCOMPARE(info->value("Negative"), QVariant(qint64(-5)));
        QCOMPARE(info->value("Ratio"), QVariant(1.5));
        QCOMPARE(info->value("When").toDateTime(),
                 QDateTime(QDate(2024, 3, 1), QTime(12, 0), QTimeZone::utc()));
        QCOMPARE(info->value("Blob").toByteArray(), QByteArray("\x00\x01\x02", 3));
        QCOMPARE(info->value("List").toList(), (QVariantList{QStringLiteral("a"), qint64(7)}));
        QCOMPARE(info->value("Nested").toMap().value("Inner").toString(), QStringLiteral("x"));
    }

    void opensBothLayouts()
    {
        const QString folder = freshFolder();
        const QString nested =
            makeBundle(folder, QStringLiteral("Nested.app"), QStringLiteral("com.example.nested"));
        QVERIFY(!nested.isEmpty());
        const QString flat = folder + QStringLiteral("/Flat.app");
        QVERIFY(writePlist(flat + QStringLiteral("/Info.plist"),
                           plistDocument(stringEntry(QStringLiteral("CFBundleIdentifier"),
                                                     QStringLiteral("com.example.flat"))),
                           Format::Binary));

        QCOMPARE(Bundle::open(nested)->identifier(), std::optional<QString>("com.example.nested"));
        QCOMPARE(Bundle::open(flat)->identifier(), std::optional<QString>("com.example.flat"));
        QCOMPARE(Bundle::open(flat)->path(), flat);
    }

    void missingOrUnusableIdentifier_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("no identifier") << plistDocument(stringEntry("CFBundleName", "X"));
        QTest::newRow("empty identifier") << plistDocument(stringEntry("CFBundleIdentifier", ""));
        QTest::newRow("integer identifier")
            << plistDocument("<key>CFBundleIdentifier</key><integer>3</integer>");
        QTest::newRow("not a plist") << QByteArray("hello, world\n");
        QTest::newRow("top-level array") << QByteArray(
            "<?xml version=\"1.0\"?><plist><array><string>a</string></array></plist>");
        QTest::newRow("unterminated") << QByteArray(
            "<?xml version=\"1.0\"?><plist><dict><key>CFBundleIdentifier</key><string>a");
        QTest::newRow("binary garbage") << QByteArray("bplist00\xFF\xFF\xFF\xFF", 12);
    }
    void missingOrUnusableIdentifier()
    {
        QFETCH(QByteArray, content);
        const QString bundle = freshFolder() + QStringLiteral("/X.app");
        QVERIFY(writeBytes(bundle + QStringLiteral("/Contents/Info.plist"), content));
        const std::optional<Bundle> opened = Bundle::open(bundle);
        QVERIFY(opened);
        QCOMPARE(opened->identifier(), std::nullopt);
        QCOMPARE(opened->stringValue("CFBundleShortVersionString"), QString());
    }

    void notADirectoryIsNoBundle()
    {
        const QString folder = freshFolder();
        QVERIFY(TreeBuilder::writeFile(folder + QStringLiteral("/File.app"), 10));
        QVERIFY(!Bundle::open(folder + QStringLiteral("/File.app")));
        QVERIFY(!Bundle::open(folder + QStringLiteral("/Missing.app")));
        const std::optional<Bundle> empty = Bundle::open(folder);
        QVERIFY(empty);
        QVERIFY(empty->infoDictionary().isEmpty());
    }

    // Each of these crashes or exhausts memory in an unguarded libplist; all must be refused.
    void hostileListsAreRefused_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("xml nested 20000 deep") << nestedXml(20000);
        QTest::newRow("xml nested past the limit") << nestedXml(PropertyList::kMaxDepth + 1);
        QByteArray hidden = "<?xml version=\"1.0\"?><plist><dict><key>k</key>";
        for (int k = 0; k < 20000; ++k)
            hidden += "<array><!-- </array> --><![CDATA[</array>]]>";
        QTest::newRow("closing tags hidden in comments") << hidden;

        QList<QByteArray> chain;
        for (quint64 k = 0; k < 5000; ++k)
            chain.append(k + 1 < 5000 ? arrayOf({k + 1}) : arrayOf({}));
        QTest::newRow("binary nested 5000 deep") << binaryList(chain);

        // Each array holds its successor twice: 2^40 nodes once the references are copied.
        QList<QByteArray> laughs{dictOfOne(), asciiString("k")};
        for (quint64 k = 2; k < 42; ++k)
            laughs.append(k + 1 < 42 ? arrayOf({k + 1, k + 1}) : asciiString("x"));
        QTest::newRow("binary shared references") << binaryList(laughs);

        QTest::newRow("binary cycle") << binaryList({dictOfOne(), asciiString("k"), arrayOf({2})});
        QTest::newRow("binary reference out of range")
            << binaryList({dictOfOne(), asciiString("k"), arrayOf({9})});
        QByteArray hugeCount =
            binaryList({dictOfOne(), asciiString("k"),
                        QByteArray("\xAF\x13\x7F\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 10)});
        QTest::newRow("binary count beyond the file") << hugeCount;
        QByteArray badTrailer = binaryList({dictOfOne(), asciiString("k"), asciiString("v")});
        badTrailer[badTrailer.size() - 26] = char(9); // offset size 9
        QTest::newRow("binary offset size 9") << badTrailer;
        QTest::newRow("too large")
            << plistDocument(stringEntry("Padding", QString(int(PropertyList::kMaxBytes), u'x')));
    }
    void hostileListsAreRefused()
    {
        QFETCH(QByteArray, content);
        QCOMPARE(PropertyList::parse(content), std::nullopt);
        const QString bundle = freshFolder() + QStringLiteral("/Hostile.app");
        QVERIFY(writeBytes(bundle + QStringLiteral("/Contents/Info.plist"), content));
        const std::optional<Bundle> opened = Bundle::open(bundle);
        QVERIFY(opened);
        QVERIFY(opened->infoDictionary().isEmpty());
    }

    void nestingWithinTheLimitIsRead()
    {
        QVERIFY(PropertyList::parse(nestedXml(PropertyList::kMaxDepth - 8)));
        QList<QByteArray> shared{dictOfOne(), asciiString("k"), arrayOf({3, 3, 3}),
                                 asciiString("same")};
        const std::optional<QVariantMap> map = PropertyList::parse(binaryList(shared));
        QVERIFY(map);
        QCOMPARE(map->value("k").toList().size(), 3);
        QCOMPARE(map->value("k").toList().value(2).toString(), QStringLiteral("same"));
    }

    // Every prefix of a real binary list: none may crash (run under the sanitizers).
    void truncatedBinaryNeverCrashes()
    {
        const QString path = freshFolder() + QStringLiteral("/Info.plist");
        const QString body =
            stringEntry("CFBundleIdentifier", "com.example.truncated") +
            QStringLiteral(
                "<key>A</key><array><dict><key>B</key><integer>1</integer></dict></array>");
        QVERIFY(writePlist(path, plistDocument(body), Format::Binary));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray whole = file.readAll();
        QVERIFY(PropertyList::parse(whole));
        int parsed = 0;
        for (qsizetype length = 0; length < whole.size(); ++length)
            parsed += PropertyList::parse(whole.first(length)) ? 1 : 0;
        for (qsizetype at = 8; at < whole.size(); ++at) {
            QByteArray flipped = whole;
            flipped[at] = char(flipped[at] ^ 0xFF);
            PropertyList::parse(flipped);
        }
        QCOMPARE(parsed, 0);
    }

    void fifoIsNotWaitedFor()
    {
        const QString bundle = freshFolder() + QStringLiteral("/Fifo.app");
        QVERIFY(TreeBuilder::makeDir(bundle + QStringLiteral("/Contents")));
        QCOMPARE(mkfifo(QFile::encodeName(bundle + "/Contents/Info.plist").constData(), 0644), 0);
        const std::optional<Bundle> opened = Bundle::open(bundle);
        QVERIFY(opened);
        QCOMPARE(opened->identifier(), std::nullopt);
    }

    void lastUsedIsALaterAccess_data()
    {
        QTest::addColumn<qint64>("accessed");
        QTest::addColumn<qint64>("modified");
        QTest::addColumn<bool>("known");
        QTest::newRow("used after install") << qint64(1700000500) << qint64(1700000000) << true;
        QTest::newRow("never used") << qint64(1700000000) << qint64(1700000000) << false;
        QTest::newRow("access older") << qint64(1600000000) << qint64(1700000000) << false;
    }
    void lastUsedIsALaterAccess()
    {
        QFETCH(qint64, accessed);
        QFETCH(qint64, modified);
        QFETCH(bool, known);
        BundleShape shape;
        shape.identifier = QStringLiteral("com.example.used");
        shape.withExecutable = true;
        const QString bundle = makeBundle(freshFolder(), QStringLiteral("Used.app"), shape);
        QVERIFY(!bundle.isEmpty());
        const QString executable = bundle + QStringLiteral("/Contents/MacOS/main");
        const timespec times[2] = {{time_t(accessed), 0}, {time_t(modified), 0}};
        QCOMPARE(utimensat(AT_FDCWD, executable.toUtf8().constData(), times, 0), 0);

        const std::optional<Bundle> opened = Bundle::open(bundle);
        QCOMPARE(opened->executablePath(), executable);
        const std::optional<QDateTime> used = opened->lastUsed();
        QCOMPARE(used.has_value(), known);
        if (known) QCOMPARE(used->toSecsSinceEpoch(), accessed);
    }

    void executableAndIconNamesStayInside_data()
    {
        QTest::addColumn<QString>("executable");
        QTest::addColumn<QString>("icon");
        QTest::addColumn<QString>("iconFile");
        QTest::addColumn<bool>("expectExecutable");
        QTest::addColumn<QString>("expectIcon");
        const auto row = [](const char* tag, const char* executable, const char* icon,
                            const char* iconFile, bool expectExecutable, const char* expectIcon) {
            QTest::newRow(tag) << QString(executable) << QString(icon) << QString(iconFile)
                               << expectExecutable << QString(expectIcon);
        };
        row("plain", "main", "AppIcon", "AppIcon.icns", true, "AppIcon.icns");
        row("with extension", "main", "AppIcon.icns", "AppIcon.icns", true, "AppIcon.icns");
        row("png", "main", "icon.png", "icon.png", true, "icon.png");
        row("missing icon", "main", "Nothing", "Other.icns", true, "");
        row("escaping names", "../../../bin/sh", "../../../etc/hostname", "x.icns", false, "");
    }
    void executableAndIconNamesStayInside()
    {
        QFETCH(QString, executable);
        QFETCH(QString, icon);
        QFETCH(QString, iconFile);
        QFETCH(bool, expectExecutable);
        QFETCH(QString, expectIcon);
        BundleShape shape;
        shape.identifier = QStringLiteral("com.example.icon");
        shape.executable = executable;
        shape.extraEntries = stringEntry("CFBundleIconFile", icon);
        const QString bundle = makeBundle(freshFolder(), QStringLiteral("Icon.app"), shape);
        QVERIFY(TreeBuilder::writeFile(bundle + QStringLiteral("/Contents/Resources/") + iconFile,
                                       100));
        const std::optional<Bundle> opened = Bundle::open(bundle);
        QCOMPARE(!opened->executablePath().isEmpty(), expectExecutable);
        QCOMPARE(opened->iconPath(),
                 expectIcon.isEmpty()
                     ? QString()
                     : bundle + QStringLiteral("/Contents/Resources/") + expectIcon);
    }
};

SORVI_TEST_MAIN(TestBundle)
#include "tst_bundle.moc"
