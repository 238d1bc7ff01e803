#include "core/category.h"
#include "platform/file_system.h"
#include "platform/path_codec.h"
#include "support/await.h"
#include "support/bundle_fixture.h"
#include "support/rows.h"
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
};

/// The real executable, no display, standard input a pipe; `rawLast` one argument of raw bytes.
std::optional<Run> sorviclean(const QStringList& args, const QByteArray& rawLast = {},
                              const QString& workingDirectory = {})
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.insert("QT_QPA_PLATFORM", {});
    QStringList arguments = args;
    QString program = QStringLiteral(SORVICLEAN_EXE);
    if (!rawLast.isNull()) {
        QString escaped; // bash's printf %b turns each \xHH back into its byte
        for (const char byte : rawLast)
            escaped += QStringLiteral("\\x%1").arg(uchar(byte), 2, 16, QChar(u'0'));
        env.insert("RAW_ARGUMENT", escaped);
        arguments =
            QStringList{"-c", R"x(exec "$0" "$@" "$(printf %b "$RAW_ARGUMENT")")x", program} +
            arguments;
        program = "/bin/bash";
    }
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(workingDirectory);
    process.start(program, arguments);
    process.closeWriteChannel();
    if (!process.waitForFinished(Await::kDeadlineMs)) return std::nullopt; // then killed
    return Run{process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
               process.readAllStandardOutput(), process.readAllStandardError()};
}

/// Declares `name` with the outcome of one run; fails the test function when it hangs.
#define RUN(name, ...)                                                                             \
    const std::optional<Run> name##Run_ = sorviclean(__VA_ARGS__);                                 \
    QVERIFY2(name##Run_, "sorviclean did not finish in time");                                     \
    const Run& name = *name##Run_

/// The first root of a category, emptied and created again.
QString freshRoot(const QString& id)
{
    QString root = Category::find(id)->roots.first();
    QDir(root).removeRecursively();
    TreeBuilder::makeDir(root);
    return root;
}

QJsonObject parsed(const QByteArray& json)
{
    return QJsonDocument::fromJson(json).object(); // not JSON: empty, and every check fails
}

// Path → size of the printed items.
QMap<QString, qint64> itemsOf(const QJsonArray& items)
{
    QMap<QString, qint64> map;
    for (const auto& item : items)
        map.insert(item[u"path"].toString(), item[u"size"].toInteger());
    return map;
}
} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void usage_data()
    {
        Rows::add(
            {"args", "code", "text"},
            {"help;--help;0;Cách dùng: sorviclean [LỆNH]", "version;--version;0;SorviClean ",
             "command help;clean --help;0;--dry-run", "unknown command;scna;2;Không có lệnh “scna”",
             "unknown option;scan --bogus;2;Tuỳ chọn không rõ: bogus",
             "unknown category;scan caches nope;2;Không có danh mục “nope”",
             "clean of nothing;clean caches;2;Thiếu",
             "paths and --all;clean caches --all /x;2;không dùng cả hai",
             "unknown app;uninstall org.example.Missing;2;Không có ứng dụng “org.example.Missing”",
             "monitor without --once;monitor;2;--once",
             "monitor once;monitor --once --json;0;\"processes\":[{\"pid\":"});
    }
    void usage()
    {
        QFETCH(QString, args);
        QFETCH(QString, code);
        QFETCH(QString, text);
        RUN(run, args.split(u' '));
        QCOMPARE(run.code, code.toInt());
        QVERIFY2(QString::fromUtf8(run.out + run.err).contains(text),
                 (run.out + run.err).constData());
    }

    // clean --all frees what scan reported; a dry run or an unconfirmed run removes nothing.
    void scanThenClean_data() { Rows::add({"category"}, {"caches;caches", "trash;trash"}); }
    void scanThenClean()
    {
        QFETCH(QString, category);
        const QString root = freshRoot(category);
        for (const auto& [name, size] :
             {std::pair{"/tree/deep/a", 120000}, {"/tree/.hidden", 9000}, {"/file", 10000}})
            writeFile(root + name, size);
        writeFile(freshRoot("logs") + "/crash.log", 3000);
        RUN(scan, {"scan", "logs", category, "--json"});
        QCOMPARE(scan.code, 0);
        const QJsonArray categories = parsed(scan.out)[u"categories"].toArray();
        QCOMPARE((QStringList{categories[0][u"id"].toString(), categories[1][u"id"].toString()}),
                 (QStringList{"logs", category}));
        const qint64 total = TreeBuilder::expectedAllocated(root);
        QCOMPARE(categories[1][u"total"].toInteger(), total);
        QCOMPARE(itemsOf(categories[1][u"items"].toArray()).keys(),
                 (QStringList{root + "/file", root + "/tree"}));

        RUN(text, {"clean", category, "tree/", "--dry-run"}, {}, root); // relative: from here
        QVERIFY2(text.out.contains(PathCodec::encode(root + "/tree")) &&
                     text.out.contains("Chạy thử: không xoá gì."),
                 text.out.constData());
        RUN(unconfirmed, {"clean", category, "--all"});
        QCOMPARE(unconfirmed.code, 2);
        QVERIFY2(unconfirmed.err.contains("không phải terminal"), unconfirmed.err.constData());
        QCOMPARE(TreeBuilder::expectedAllocated(root), total);

        RUN(run, {"clean", category, "--all", "--yes", "--json"});
        QCOMPARE(run.code, 0);
        QCOMPARE(run.out,
                 QByteArray("{\"freed\":" + QByteArray::number(total) + ",\"failures\":[]}\n"));
        QCOMPARE(QDir(root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList());
    }

    // Each refused path is named (the root itself, a sibling named like it, a climb out with
    // "..", another category's item), and not even the valid item named beside them goes.
    void refusedPathRemovesNothing()
    {
        const QString root = freshRoot(QStringLiteral("caches"));
        const QStringList bad{root, root + "Old/x", root + "/../escape", freshRoot("logs") + "/i"};
        QVERIFY(writeFile(root + "/good", 4096));
        for (const QString& path : bad.mid(1))
            QVERIFY(writeFile(QDir::cleanPath(path), 4096));
        RUN(run, QStringList{"clean", "caches", root + "/good"} + bad + QStringList{"--yes"});
        QCOMPARE(run.code, 2);
        QVERIFY2(run.err.count("nằm ngoài vùng cho phép") == 4 && run.err.contains("Không xoá gì."),
                 run.err.constData());
        for (const QString& path : bad + QStringList{root + "/good"})
            QVERIFY2(QFileInfo::exists(path), qPrintable(path));
    }

    // A name that is not UTF-8 is printed, escaped (\udcXX) and taken back with its own bytes.
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
        QCOMPARE(parsed(run.out)[u"freed"].toInteger(), size);
        QVERIFY(!FileSystem::exists(PathCodec::decode(name)));
        QVERIFY(::unlink(root + "/caf\xe9-\xfe") == 0);
    }

    // A home program is listed, planned and removed with its entry; a system package is refused.
    void appsListsAndUninstalls()
    {
        const QString home = TestHome::path(), location = home + "/opt/CliFixture";
        const QString entry = home + "/.local/share/applications/org.example.CliFixture.desktop";
        QVERIFY(writeFile(location + "/bin/clifixture", 20000));
        QVERIFY(BundleFixture::writeBytes(entry,
                                          "[Desktop Entry]\nType=Application\nName=CliFixture\n"
                                          "X-Version=2.5\nExec=" +
                                              QFile::encodeName(location) + "/bin/clifixture\n"));
        const QString leftover = home + "/.config/org.example.CliFixture";
        QVERIFY(writeFile(leftover + "/state", 30000));
        QTemporaryDir system; // outside the home: the system data folders are never below it
        const QString systemEntry = system.path() + "/applications/org.example.System.desktop";
        QVERIFY(BundleFixture::writeBytes(
            systemEntry, "[Desktop Entry]\nType=Application\nName=Hệ thống\nExec=/usr/bin/true\n"));
        qputenv("XDG_DATA_DIRS", QFile::encodeName(system.path()));
        const auto cleanup = qScopeGuard([] { qunsetenv("XDG_DATA_DIRS"); });

        RUN(list, {"apps", "--json"});
        QJsonObject app;
        for (const auto& each : parsed(list.out)[u"apps"].toArray())
            if (each[u"id"].toString() == u"org.example.CliFixture") app = each.toObject();
        QCOMPARE(app, parsed(QString(R"({"id":"org.example.CliFixture","name":"CliFixture",)"
                                     R"("version":"2.5","path":"%1","kind":"home-program",)"
                                     R"("protected":false,"size":%2})")
                                 .arg(location)
                                 .arg(TreeBuilder::expectedAllocated(location))
                                 .toUtf8()));
        RUN(text, {"apps"});
        QVERIFY2(
            text.out.contains("Hệ thống · org.example.System · ứng dụng hệ thống, không gỡ được"),
            text.out.constData());
        RUN(refused, {"uninstall", "org.example.System", "--yes"});
        QCOMPARE(refused.code, 2);
        QVERIFY2(refused.err.contains("Hệ thống là ứng dụng hệ thống"), refused.err.constData());
        QVERIFY(QFileInfo::exists(systemEntry));

        RUN(plan, {"uninstall", "org.example.CliFixture", "--dry-run", "--json"});
        const QMap<QString, qint64> targets = itemsOf(parsed(plan.out)[u"items"].toArray());
        QCOMPARE(targets.keys(), (QStringList{leftover, location}));
        QCOMPARE(targets.value(leftover), TreeBuilder::expectedAllocated(leftover));
        RUN(run, {"uninstall", "org.example.CliFixture", "--keep-leftovers", "--yes"});
        QCOMPARE(run.code, 0);
        QVERIFY2(run.out.startsWith("Đã gỡ CliFixture và chuyển "), run.out.constData());
        QVERIFY(!FileSystem::exists(location) && !FileSystem::exists(entry));
        QVERIFY(QFileInfo::exists(leftover));
    }
};

SORVI_TEST_MAIN(TestCli)
#include "tst_cli.moc"
