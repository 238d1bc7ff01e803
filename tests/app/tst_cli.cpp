#include "core/category.h"
#include "core/scanner.h"
#include "platform/file_system.h"
#include "platform/path_codec.h"
#include "support/await.h"
#include "support/bundle_fixture.h"
#include "support/test_home.h"
#include "support/tree_builder.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <unistd.h>

using TreeBuilder::writeFile;

namespace {

struct Run
{
    int code = -1; ///< -1 when the program crashed
    QByteArray out;
    QByteArray err;
    QByteArray all() const { return out + err; }
};

/// Runs the real executable with no display at all, standard input a pipe (not a terminal).
/// `rawLast`, when given, is appended as one argument of exactly these bytes (through bash, since
/// QProcess would re-encode it).
std::optional<Run> sorviclean(const QStringList& args, const QByteArray& rawLast = {},
                              const QString& workingDirectory = {})
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QString());
    QStringList arguments = args;
    QString program = QStringLiteral(SORVICLEAN_EXE);
    if (!rawLast.isNull()) {
        QString escaped; // bash's printf %b turns each \xHH back into its byte
        for (const char byte : rawLast)
            escaped += QStringLiteral("\\x%1").arg(uchar(byte), 2, 16, QChar(u'0'));
        env.insert(QStringLiteral("RAW_ARGUMENT"), escaped);
        arguments.prepend(program);
        arguments.prepend(QStringLiteral("exec \"$0\" \"$@\" \"$(printf %b \"$RAW_ARGUMENT\")\""));
        arguments.prepend(QStringLiteral("-c"));
        program = QStringLiteral("/bin/bash");
    }
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(workingDirectory);
    process.start(program, arguments);
    process.closeWriteChannel();
    if (!process.waitForFinished(Await::kDeadlineMs)) {
        process.kill();
        process.waitForFinished(Await::kDeadlineMs);
        return std::nullopt;
    }
    return Run{process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
               process.readAllStandardOutput(), process.readAllStandardError()};
}

/// Declares `name` with the outcome of one run; fails the test function when it hangs.
#define RUN(name, ...)                                                                             \
    const std::optional<Run> name##Run_ = sorviclean(__VA_ARGS__);                                 \
    QVERIFY2(name##Run_, "sorviclean did not finish in time");                                     \
    const Run& name = *name##Run_

QString firstRoot(const QString& id)
{
    return Category::find(id)->roots.first();
}

/// The first root of a category, emptied and created again.
QString freshRoot(const QString& id)
{
    QString root = firstRoot(id);
    QDir(root).removeRecursively();
    TreeBuilder::makeDir(root);
    return root;
}

QJsonObject parsed(const QByteArray& json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError) qWarning() << error.errorString() << json;
    return document.object();
}

QMap<QString, qint64> itemsOf(const QJsonArray& items)
{
    QMap<QString, qint64> map;
    for (const auto& item : items)
        map.insert(item[u"path"].toString(), item[u"size"].toInteger());
    return map;
}

QMap<QString, qint64> itemsOf(const ScanResult& result)
{
    QMap<QString, qint64> map;
    for (const CleanItem& item : result.items)
        map.insert(item.url, item.size);
    return map;
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void usage_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        QTest::newRow("help") << QStringList{"--help"} << 0 << "Cách dùng: sorviclean [LỆNH]";
        QTest::newRow("version") << QStringList{"--version"} << 0 << "SorviClean ";
        QTest::newRow("command help") << QStringList{"clean", "--help"} << 0 << "--dry-run";
        QTest::newRow("unknown command") << QStringList{"scna"} << 2 << "Không có lệnh “scna”";
        QTest::newRow("unknown option")
            << QStringList{"scan", "--bogus"} << 2 << "Tuỳ chọn không rõ: bogus";
        QTest::newRow("unknown category")
            << QStringList{"scan", "caches", "nope"} << 2 << "Không có danh mục “nope”";
        QTest::newRow("clean of nothing") << QStringList{"clean", "caches"} << 2 << "Thiếu";
        QTest::newRow("paths and --all")
            << QStringList{"clean", "caches", "--all", "/x"} << 2 << "không dùng cả hai";
        QTest::newRow("unknown app") << QStringList{"uninstall", "org.example.Missing"} << 2
                                     << "Không có ứng dụng “org.example.Missing”";
        QTest::newRow("monitor without --once") << QStringList{"monitor"} << 2 << "--once";
    }
    void usage()
    {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, text);
        RUN(run, args);
        QCOMPARE(run.code, code);
        QVERIFY2(QString::fromUtf8(run.all()).contains(text), run.all().constData());
    }

    void scanJsonEqualsTheScanner()
    {
        writeFile(freshRoot(QStringLiteral("caches")) + QStringLiteral("/app/a.bin"), 70000);
        writeFile(firstRoot(QStringLiteral("caches")) + QStringLiteral("/app/.hidden"), 9000);
        writeFile(firstRoot(QStringLiteral("caches")) + QStringLiteral("/single"), 20000);
        writeFile(freshRoot(QStringLiteral("logs")) + QStringLiteral("/crash.log"), 3000);
        RUN(run, {"scan", "logs", "caches", "--json"});
        QCOMPARE(run.code, 0);
        const QJsonArray categories = parsed(run.out)[u"categories"].toArray();
        QCOMPARE(categories.size(), 2);
        for (int i = 0; i < 2; ++i) {
            const QJsonObject entry = categories[i].toObject();
            const Category category = *Category::find(i == 0 ? u"logs"_qs : u"caches"_qs);
            AWAIT_VALUE(result, Scanner::scan(category), "the scanner");
            qint64 total = 0;
            for (const CleanItem& item : result.items)
                total += item.size;
            QVERIFY(total > 0);
            QCOMPARE(entry[u"id"].toString(), category.id);
            QCOMPARE(entry[u"title"].toString(), category.title);
            QCOMPARE(entry[u"roots"].toVariant().toStringList(), category.roots);
            QCOMPARE(entry[u"unreadable"].toBool(), result.unreadable);
            QCOMPARE(entry[u"total"].toInteger(), total);
            QCOMPARE(itemsOf(entry[u"items"].toArray()), itemsOf(result));
        }
    }

    void dryRunAndUnconfirmedRemoveNothing()
    {
        const QString root = freshRoot(QStringLiteral("caches"));
        writeFile(root + QStringLiteral("/keep/a"), 50000);
        writeFile(root + QStringLiteral("/keep too"), 8000);
        const int entries = TreeBuilder::countEntries(root);
        RUN(json, {"clean", "caches", "--all", "--dry-run", "--json"});
        QCOMPARE(json.code, 0);
        const QJsonObject plan = parsed(json.out);
        QCOMPARE(plan[u"total"].toInteger(), TreeBuilder::expectedAllocated(root));
        QCOMPARE(plan[u"items"].toArray().size(), 2);
        RUN(text, {"clean", "caches", root + QStringLiteral("/keep too"), "--dry-run"});
        QCOMPARE(text.code, 0);
        QVERIFY(text.out.contains(PathCodec::encode(root + QStringLiteral("/keep too"))));
        QVERIFY(text.out.contains("Chạy thử: không xoá gì."));
        // Without --yes a confirmation is needed, and standard input here is not a terminal.
        RUN(unconfirmed, {"clean", "caches", "--all"});
        QCOMPARE(unconfirmed.code, 2);
        QVERIFY2(unconfirmed.err.contains("không phải terminal"), unconfirmed.err.constData());
        QCOMPARE(TreeBuilder::countEntries(root), entries);
    }

    // The path is built from a category's first root and a suffix; a valid item named in the
    // same call must survive too, since every path is checked before anything is removed.
    void refusedPathRemovesNothing_data()
    {
        QTest::addColumn<QString>("category");
        QTest::addColumn<QString>("suffix");
        QTest::newRow("the root itself") << "caches"
                                         << "";
        QTest::newRow("a sibling named like the root") << "caches"
                                                       << "Old/x";
        QTest::newRow("climbing out with ..") << "caches"
                                              << "/../escape";
        QTest::newRow("another category's item") << "logs"
                                                 << "/item";
    }
    void refusedPathRemovesNothing()
    {
        QFETCH(QString, category);
        QFETCH(QString, suffix);
        const QString good = freshRoot(QStringLiteral("caches")) + QStringLiteral("/good");
        const QString bad = firstRoot(category) + suffix;
        QVERIFY(writeFile(good, 4096));
        if (!suffix.isEmpty()) QVERIFY(writeFile(QDir::cleanPath(bad), 4096));
        RUN(run, {"clean", "caches", good, bad, "--yes"});
        QCOMPARE(run.code, 2);
        QVERIFY2(run.err.contains("nằm ngoài vùng cho phép"), run.err.constData());
        QVERIFY(run.err.contains("Không xoá gì."));
        QVERIFY(QFileInfo::exists(good));
        QVERIFY(QFileInfo::exists(bad));
    }

    void cleanAllFreesWhatScanReported_data()
    {
        QTest::addColumn<QString>("category");
        QTest::newRow("caches") << "caches";
        QTest::newRow("trash") << "trash";
    }
    void cleanAllFreesWhatScanReported()
    {
        QFETCH(QString, category);
        const QString root = freshRoot(category);
        writeFile(root + QStringLiteral("/tree/deep/a"), 120000);
        writeFile(root + QStringLiteral("/file"), 10000);
        RUN(scan, {"scan", category, "--json"});
        const qint64 reported = parsed(scan.out)[u"categories"][0][u"total"].toInteger();
        QVERIFY(reported > 0);
        RUN(run, {"clean", category, "--all", "--yes", "--json"});
        QCOMPARE(run.code, 0);
        QCOMPARE(run.out,
                 QByteArray("{\"freed\":" + QByteArray::number(reported) + ",\"failures\":[]}\n"));
        QCOMPARE(QDir(root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList());
    }

    // A name that is not UTF-8: printed with its own bytes, escaped as \udcXX in JSON, and
    // passed back as bytes it removes that file and not its look-alike.
    void nameThatIsNotUtf8RoundTrips()
    {
        const QByteArray root = PathCodec::encode(freshRoot(QStringLiteral("caches")));
        const QByteArray name = root + "/caf\xe9-\xff";
        QVERIFY(TreeBuilder::writeFileRaw(name, 5000));
        QVERIFY(TreeBuilder::writeFileRaw(root + "/caf\xe9-\xfe", 5000));
        RUN(text, {"scan", "caches"});
        QVERIFY(text.out.contains("  " + name + '\n'));
        RUN(json, {"scan", "caches", "--json"});
        QVERIFY2(json.out.contains("/caf\\udce9-\\udcff\""), json.out.constData());
        QVERIFY(!parsed(json.out).isEmpty());

        const qint64 size = TreeBuilder::blocksOf(PathCodec::decode(name));
        RUN(run, {"clean", "caches", "--yes", "--json"}, name);
        QCOMPARE(run.code, 0);
        QCOMPARE(parsed(run.out)[u"freed"].toInteger(), size);
        QVERIFY(!FileSystem::exists(PathCodec::decode(name)));
        QVERIFY(::unlink(root + "/caf\xe9-\xfe") == 0);
    }

    void relativePathIsTakenFromTheWorkingFolder()
    {
        const QString root = freshRoot(QStringLiteral("caches"));
        writeFile(root + QStringLiteral("/sub/x"), 4096);
        RUN(run, {"clean", "caches", "sub/", "--yes"}, {}, root);
        QCOMPARE(run.code, 0);
        QVERIFY(run.out.startsWith("Đã giải phóng "));
        QVERIFY(!QFileInfo::exists(root + QStringLiteral("/sub")));
    }

    // A program unpacked in ~/opt with a desktop entry: listed with its kind, planned with its
    // leftover, removed with its entry.
    void appsListsAndUninstallsAHomeProgram()
    {
        const QString location = TestHome::path() + QStringLiteral("/opt/CliFixture");
        const QString entry =
            TestHome::path() +
            QStringLiteral("/.local/share/applications/org.example.CliFixture.desktop");
        QVERIFY(writeFile(location + QStringLiteral("/bin/clifixture"), 20000));
        QVERIFY(BundleFixture::writeBytes(
            entry, "[Desktop Entry]\nType=Application\nName=CliFixture\nX-Version=2.5\n"
                   "Exec=" +
                       QFile::encodeName(location) + "/bin/clifixture\n"));
        const QString leftover =
            TestHome::path() + QStringLiteral("/.config/org.example.CliFixture");
        QVERIFY(writeFile(leftover + QStringLiteral("/state"), 30000));

        RUN(list, {"apps", "--json"});
        QCOMPARE(list.code, 0);
        QJsonObject app;
        for (const auto& each : parsed(list.out)[u"apps"].toArray())
            if (each[u"id"].toString() == u"org.example.CliFixture") app = each.toObject();
        QCOMPARE(QStringList({app[u"name"].toString(), app[u"version"].toString(),
                              app[u"path"].toString(), app[u"kind"].toString()}),
                 (QStringList{"CliFixture", "2.5", location, "home-program"}));
        QCOMPARE(app[u"protected"].toBool(true), false);
        QCOMPARE(app[u"size"].toInteger(), TreeBuilder::expectedAllocated(location));

        RUN(plan, {"uninstall", "org.example.CliFixture", "--dry-run", "--json"});
        QCOMPARE(plan.code, 0);
        const QMap<QString, qint64> targets = itemsOf(parsed(plan.out)[u"items"].toArray());
        QCOMPARE(targets.keys(), (QStringList{leftover, location}));
        QCOMPARE(targets.value(leftover), TreeBuilder::expectedAllocated(leftover));

        RUN(run, {"uninstall", "org.example.CliFixture", "--keep-leftovers", "--yes"});
        QCOMPARE(run.code, 0);
        QVERIFY2(run.out.startsWith("Đã gỡ CliFixture và chuyển "), run.out.constData());
        QVERIFY(!FileSystem::exists(location) && !FileSystem::exists(entry));
        QVERIFY(QFileInfo::exists(leftover));
    }

    // A system package's entry is listed as protected, and never removed.
    void protectedAppIsRefused()
    {
        QTemporaryDir system; // outside the home: the system data folders are never below it
        const QString entry =
            system.path() + QStringLiteral("/applications/org.example.System.desktop");
        QVERIFY(BundleFixture::writeBytes(
            entry, "[Desktop Entry]\nType=Application\nName=Hệ thống\nExec=/usr/bin/true\n"));
        qputenv("XDG_DATA_DIRS", QFile::encodeName(system.path()));
        RUN(list, {"apps"});
        QVERIFY2(
            list.out.contains("Hệ thống · org.example.System · ứng dụng hệ thống, không gỡ được"),
            list.out.constData());
        RUN(run, {"uninstall", "org.example.System", "--yes"});
        qunsetenv("XDG_DATA_DIRS");
        QCOMPARE(run.code, 2);
        QVERIFY2(run.err.contains("Hệ thống là ứng dụng hệ thống"), run.err.constData());
        QVERIFY(QFileInfo::exists(entry));
    }

    void monitorOnceGivesASnapshot()
    {
        RUN(run, {"monitor", "--once", "--json"});
        QCOMPARE(run.code, 0);
        const QJsonObject snapshot = parsed(run.out);
        QVERIFY(snapshot[u"memory"][u"total"].toInteger() > 0);
        QVERIFY(!snapshot[u"cpu"][u"cores"].toArray().isEmpty());
        QVERIFY(!snapshot[u"processes"].toArray().isEmpty());
        QVERIFY(snapshot[u"load"].toArray().size() == 3);
    }

    void completion_data()
    {
        QTest::addColumn<QString>("words");
        QTest::addColumn<QString>("expected");
        QTest::newRow("commands") << "sorviclean un"
                                  << "uninstall";
        QTest::newRow("categories") << "sorviclean clean ca"
                                    << "caches";
        QTest::newRow("options") << "sorviclean monitor --o"
                                 << "--once";
        QTest::newRow("pages") << "sorviclean --page mon"
                               << "monitor";
    }
    void completion()
    {
        QFETCH(QString, words);
        QFETCH(QString, expected);
        QProcess bash;
        bash.start(QStringLiteral("/bin/bash"),
                   {QStringLiteral("-c"),
                    QStringLiteral("source \"$0\"; COMP_WORDS=($1); "
                                   "COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); "
                                   "_sorviclean; echo \"${COMPREPLY[*]}\""),
                    QStringLiteral(SORVI_COMPLETION), words});
        QVERIFY2(bash.waitForFinished(Await::kDeadlineMs), "bash did not finish in time");
        QCOMPARE(QString::fromUtf8(bash.readAllStandardOutput()).trimmed(), expected);
    }
};

SORVI_TEST_MAIN(TestCli)
#include "tst_cli.moc"
