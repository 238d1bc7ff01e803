#include "platform/bundle.h"
#include "support/bundle_fixture.h"
#include "support/test_home.h"
#include "support/tree_builder.h"

#include <QThread>
#include <QtEndian>
#include <sys/stat.h>

using namespace BundleFixture;
using TreeBuilder::putFile;

namespace {

QByteArray bigEndian(quint64 value, int bytes)
{
    const quint64 big = qToBigEndian(value);
    return QByteArray(reinterpret_cast<const char*>(&big) + 8 - bytes, bytes);
}

// A binary list of raw objects (2-byte references), for shapes plistutil never writes; object 0
// is the top dictionary {object 1: object 2}.
QByteArray binaryList(const QList<QByteArray>& objects)
{
    QByteArray data = QByteArray("bplist00\xD1\0\x01\0\x02", 13), table = bigEndian(8, 4);
    for (const QByteArray& object : objects) {
        table += bigEndian(quint64(data.size()), 4);
        data += object;
    }
    return data + table + QByteArray(6, '\0') + char(4) + char(2) +
           bigEndian(quint64(objects.size() + 1), 8) + bigEndian(0, 8) +
           bigEndian(quint64(data.size()), 8);
}

QByteArray arrayOf(const QList<quint64>& refs)
{
    QByteArray object(1, char(0xA0 | refs.size()));
    for (quint64 ref : refs)
        object += bigEndian(ref, 2);
    return object;
}

// An ASCII string object of fewer than 15 characters.
const auto text = [](const QByteArray& bytes) { return char(0x50 | bytes.size()) + bytes; };
const auto icon = [](const char* name) { return stringEntry("CFBundleIconFile", name); };

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
    // plain file is no bundle; names from the dictionary never lead out of the bundle.
    void opensBothLayoutsAndStaysInside()
    {
        const QString folder = TestHome::path() + "/bundles", res = "/Contents/Resources/";
        const QString nested = makeBundle(folder, QStringLiteral("N.app"),
                                          {.identifier = "a.b", .extraEntries = icon("AppIcon")});
        const QString out = makeBundle(
            folder, QStringLiteral("Out.app"),
            {.executable = "../../../bin/sh", .extraEntries = icon("../../../etc/hostname")});
        QVERIFY(writePlist(folder + "/Flat.app/Info.plist",
                           plistDocument(stringEntry("CFBundleIdentifier", "c.d")),
                           Format::Binary));
        QVERIFY(putFile(folder + "/Empty.app/Contents/Info.plist",
                        plistDocument(stringEntry("CFBundleIdentifier", "") + icon("None"))));
        for (const QString& file : {nested + res + "AppIcon.icns", folder + "/etc/hostname",
                                    folder + "/Empty.app" + res + "Other.icns",
                                    out + res + "x.icns", folder + "/File.app"})
            QVERIFY(TreeBuilder::writeFile(file, 10));
        QVERIFY(TreeBuilder::makeDir(folder + "/Fifo.app/Contents"));
        QCOMPARE(mkfifo(QFile::encodeName(folder + "/Fifo.app/Contents/Info.plist"), 0644), 0);
        QList<std::optional<QString>> identifiers;
        QStringList paths;
        for (const QString& name :
             {nested, folder + "/Flat.app", folder + "/Empty.app", out, folder + "/Fifo.app"}) {
            const std::optional<Bundle> bundle = Bundle::open(name);
            identifiers << bundle->identifier();
            paths << bundle->executablePath() << bundle->iconPath();
        }
        QCOMPARE(identifiers, (QList<std::optional<QString>>{"a.b", "c.d", std::nullopt,
                                                             std::nullopt, std::nullopt}));
        QCOMPARE(paths,
                 QStringList({nested + "/Contents/MacOS/main", nested + res + "AppIcon.icns"}) +
                     QStringList(8));
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
        row("binary shared, not cyclic", binaryList({text("k"), arrayOf({3, 3, 3}), text("same")}),
            true);
        row("xml one past the depth limit", xmlAround({}, "<array>", "</array>", depth));
        row("attribute holding />", xmlAround({}, "<array a=\"/>\">", "</array>", 20000));
        row("DOCTYPE with a quoted [", xmlAround("<!DOCTYPE plist \"[\">", "<array>", "</array>",
                                                 20000, "<string>]></string>"));
        row("xml string holding NUL",
            plistDocument(QStringLiteral("<key>k</key><string>a") + QChar(u'\0') + "b</string>"));
        row("binary string holding U+0000", binaryList({text("k"), QByteArray("\x62\0a\0\0", 5)}));
        row("binary key holding U+0000", binaryList({QByteArray("\x61\0\0", 3), text("v")}));
        QList<QByteArray> chain{text("k")};
        for (quint64 k = 2; k < 5000; ++k)
            chain.append(arrayOf({k + 1}));
        row("binary 5000 deep", binaryList(chain + QList<QByteArray>{arrayOf({})}));
        // Each array holds its successor twice: 2^40 nodes once the references are copied.
        QList<QByteArray> laughs{text("k")};
        for (quint64 k = 2; k < 42; ++k)
            laughs.append(k + 1 < 42 ? arrayOf({k + 1, k + 1}) : text("x"));
        row("binary shared references", binaryList(laughs));
        row("binary cycle", binaryList({text("k"), arrayOf({2})}));
        row("binary reference out of range", binaryList({text("k"), arrayOf({9})}));
        row("binary count beyond the file",
            binaryList({text("k"), QByteArray("\xAF\x13\x7F\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 10)}));
        row("too large",
            plistDocument(stringEntry("Padding", QString(int(PropertyList::kMaxBytes), u'x'))));
    }
    void hostileLists()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, readable);
        // A pool thread may have a small stack: input-driven recursion overflows it first.
        std::optional<QVariantMap> result;
        const std::unique_ptr<QThread> thread(
            QThread::create([&] { result = PropertyList::parse(content); }));
        thread->setStackSize(256 * 1024);
        thread->start();
        QVERIFY2(thread->wait(QDeadlineTimer(30000)), "the parse on a small stack");
        QCOMPARE(result.has_value(), readable);
        const QString bundle = TestHome::path() + QStringLiteral("/Hostile.app"); // overwritten
        QVERIFY(putFile(bundle + QStringLiteral("/Contents/Info.plist"), content));
        QCOMPARE(Bundle::open(bundle)->infoDictionary().isEmpty(), !readable);
    }
};

SORVI_TEST_MAIN(TestBundle)
#include "tst_bundle.moc"
