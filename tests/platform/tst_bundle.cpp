#include "platform/bundle.h"
#include "support/bundle_fixture.h"
#include "support/rows.h"
#include "support/test_home.h"
#include "support/tree_builder.h"

#include <QThread>
#include <QtEndian>
#include <fcntl.h>
#include <sys/stat.h>

using namespace BundleFixture;

namespace {

QString freshFolder()
{
    static int counter = 0;
    QString dir = TestHome::path() + QStringLiteral("/bundles/%1").arg(++counter);
    TreeBuilder::makeDir(dir);
    return dir;
}

QByteArray bigEndian(quint64 value, int bytes)
{
    const quint64 big = qToBigEndian(value);
    return QByteArray(reinterpret_cast<const char*>(&big) + 8 - bytes, bytes);
}

// A binary list built by hand from raw objects (2-byte references), for shapes plistutil never
// writes.
QByteArray binaryList(const QList<QByteArray>& objects)
{
    QByteArray data("bplist00");
    QByteArray table;
    for (const QByteArray& object : objects) {
        table += bigEndian(quint64(data.size()), 4);
        data += object;
    }
    const quint64 tableAt = quint64(data.size());
    return data + table + QByteArray(6, '\0') + char(4) + char(2) +
           bigEndian(quint64(objects.size()), 8) + bigEndian(0, 8) + bigEndian(tableAt, 8);
}

QByteArray arrayOf(const QList<quint64>& refs)
{
    QByteArray object(1, char(0xA0 | refs.size()));
    for (quint64 ref : refs)
        object += bigEndian(ref, 2);
    return object;
}

// An ASCII (0x5) or UTF-16 (0x6) string object of fewer than 15 characters.
QByteArray text(const QByteArray& bytes, bool utf16 = false)
{
    return char((utf16 ? 0x60 : 0x50) | (bytes.size() >> (utf16 ? 1 : 0))) + bytes;
}

// The top-level dictionary: key object 1, value object 2.
const QByteArray dictOfOne = QByteArray("\xD1", 1) + bigEndian(1, 2) + bigEndian(2, 2);

QByteArray xmlAround(const QByteArray& prolog, const QByteArray& open, const QByteArray& close,
                     int depth, const QByteArray& inner = {})
{
    return prolog + "<plist><dict><key>k</key>" + open.repeated(depth) + inner +
           close.repeated(depth) + "</dict></plist>";
}

} // namespace

class TestBundle : public QObject
{
    Q_OBJECT
private slots:
    // An empty identifier would match every dot-file as a leftover; a FIFO is not waited for; a
    // plain file is no bundle.
    void opensBothLayoutsAndIgnoresUnusableIdentifiers()
    {
        const QString folder = freshFolder();
        const QString nested = makeBundle(folder, QStringLiteral("N.app"), QStringLiteral("a.b"));
        QVERIFY(writePlist(folder + "/Flat.app/Info.plist",
                           plistDocument(stringEntry("CFBundleIdentifier", "c.d")),
                           Format::Binary));
        QVERIFY(writeBytes(folder + "/Empty.app/Contents/Info.plist",
                           plistDocument(stringEntry("CFBundleIdentifier", ""))));
        QVERIFY(TreeBuilder::makeDir(folder + "/Fifo.app/Contents")); // never waited for
        QCOMPARE(mkfifo(QFile::encodeName(folder + "/Fifo.app/Contents/Info.plist"), 0644), 0);
        QVERIFY(TreeBuilder::writeFile(folder + QStringLiteral("/File.app"), 10));
        QList<std::optional<QString>> identifiers;
        for (const QString& name :
             {nested, folder + "/Flat.app", folder + "/Empty.app", folder + "/Fifo.app"})
            identifiers << Bundle::open(name)->identifier();
        QCOMPARE(identifiers,
                 (QList<std::optional<QString>>{"a.b", "c.d", std::nullopt, std::nullopt}));
        QVERIFY(!Bundle::open(folder + QStringLiteral("/File.app")));
    }

    // Every unreadable row crashed, aborted or exhausted memory in an unguarded reader: each must
    // give no record, on a small stack as well as through a bundle; lists within the limits read.
    void hostileLists_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("readable");
        const auto row = [](const char* name, const QByteArray& content, bool readable = false) {
            QTest::newRow(name) << content << readable;
        };
        const int depth = PropertyList::kMaxDepth;
        row("xml at the depth limit", xmlAround({}, "<array>", "</array>", depth - 1), true);
        row("binary shared, not cyclic",
            binaryList({dictOfOne, text("k"), arrayOf({3, 3, 3}), text("same")}), true);
        row("xml one past the depth limit", xmlAround({}, "<array>", "</array>", depth));
        row("attribute holding />", xmlAround({}, "<array a=\"/>\">", "</array>", 20000));
        row("DOCTYPE with a quoted [", xmlAround("<!DOCTYPE plist \"[\">", "<array>", "</array>",
                                                 20000, "<string>]></string>"));
        row("xml string holding NUL",
            plistDocument(QStringLiteral("<key>k</key><string>a") + QChar(u'\0') + "b</string>"));
        row("binary string holding U+0000",
            binaryList({dictOfOne, text("k"), text(QByteArray("\0a\0\0", 4), true)}));
        row("binary key holding U+0000",
            binaryList({dictOfOne, text(QByteArray("\0\0", 2), true), text("v")}));
        QList<QByteArray> chain{dictOfOne, text("k")};
        for (quint64 k = 2; k < 5000; ++k)
            chain.append(arrayOf({k + 1}));
        row("binary 5000 deep", binaryList(chain + QList<QByteArray>{arrayOf({})}));
        // Each array holds its successor twice: 2^40 nodes once the references are copied.
        QList<QByteArray> laughs{dictOfOne, text("k")};
        for (quint64 k = 2; k < 42; ++k)
            laughs.append(k + 1 < 42 ? arrayOf({k + 1, k + 1}) : text("x"));
        row("binary shared references", binaryList(laughs));
        row("binary cycle", binaryList({dictOfOne, text("k"), arrayOf({2})}));
        row("binary reference out of range", binaryList({dictOfOne, text("k"), arrayOf({9})}));
        row("binary count beyond the file",
            binaryList({dictOfOne, text("k"),
                        QByteArray("\xAF\x13\x7F\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 10)}));
        row("too large",
            plistDocument(stringEntry("Padding", QString(int(PropertyList::kMaxBytes), u'x'))));
    }
    void hostileLists()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, readable);
        // A pool thread of a busy program may have a small stack: a recursion that the input can
        // deepen overflows it long before it would overflow the main thread's.
        std::optional<QVariantMap> result;
        const std::unique_ptr<QThread> thread(
            QThread::create([&] { result = PropertyList::parse(content); }));
        thread->setStackSize(256 * 1024);
        thread->start();
        QVERIFY2(thread->wait(QDeadlineTimer(30000)), "the parse on a small stack");
        QCOMPARE(result.has_value(), readable);
        const QString bundle = freshFolder() + QStringLiteral("/Hostile.app");
        QVERIFY(writeBytes(bundle + QStringLiteral("/Contents/Info.plist"), content));
        QCOMPARE(Bundle::open(bundle)->infoDictionary().isEmpty(), !readable);
    }

    // Names from the dictionary never lead out of the bundle.
    void executableAndIconNamesStayInside_data()
    {
        // executable; icon name; icon file made; icon expected ("" for none)
        Rows::add({"executable", "icon", "iconFile", "expectIcon"},
                  {"icns appended;main;AppIcon;AppIcon.icns;AppIcon.icns",
                   "missing icon;main;Nothing;Other.icns;",
                   "escaping names;../../../bin/sh;../../../etc/hostname;x.icns;"});
    }
    void executableAndIconNamesStayInside()
    {
        QFETCH(QString, executable);
        QFETCH(QString, icon);
        QFETCH(QString, iconFile);
        QFETCH(QString, expectIcon);
        BundleShape shape{.identifier = "com.example.icon",
                          .executable = executable,
                          .extraEntries = stringEntry("CFBundleIconFile", icon)};
        const QString bundle = makeBundle(freshFolder(), QStringLiteral("Icon.app"), shape);
        const QString resources = bundle + QStringLiteral("/Contents/Resources/");
        QVERIFY(TreeBuilder::writeFile(resources + iconFile, 100));
        const std::optional<Bundle> opened = Bundle::open(bundle);
        QCOMPARE(opened->executablePath().isEmpty(), executable.contains(u'/'));
        QCOMPARE(opened->iconPath(), expectIcon.isEmpty() ? QString() : resources + expectIcon);
    }
};

SORVI_TEST_MAIN(TestBundle)
#include "tst_bundle.moc"
