#include "core/category.h"
#include "platform/file_system.h"
#include "platform/path_codec.h"
#include "support/await.h"
#include "support/rows.h"
#include "support/test_home.h"
#include "support/tree_builder.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

using TreeBuilder::putFile;
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
    if (!rawLast.isNull()) { // bash hands the bytes of standard input on as one argument
        arguments = QStringList{"-c", R"x(exec "$0" "$@" "$(cat)")x", program} + arguments;
        program = "/bin/bash";
    }
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(workingDirectory);
    process.start(program, arguments);
    process.write(rawLast);
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
    QString m_caches, m_logs;
    qint64 m_total = 0;     // of the caches root, which no row of the table may change
    QTemporaryDir m_system; // the system data folders are never below the home
    const QString m_home = TestHome::path(), m_location = m_home + "/opt/CliFixture";
    const QString m_entry = m_home + "/.local/share/applications/org.example.CliFixture.desktop";
    const QString m_leftover = m_home + "/.config/org.example.CliFixture";

private slots:
    void initTestCase()
    {
        const auto freshRoot = [](const char* id) { // the first root of a category, emptied
            QString root = Category::find(id)->roots.first();
            QDir(root).removeRecursively();
            TreeBuilder::makeDir(root);
            return root;
        };
        m_caches = freshRoot("caches"), m_logs = freshRoot("logs");
        for (const auto& [name, size] :
             {std::pair{"/tree/deep/a", 120000}, {"/tree/.hidden", 9000}, {"/file", 10000}})
            QVERIFY(writeFile(m_caches + name, size));
        m_total = TreeBuilder::expectedAllocated(m_caches);
        for (const QString& path : {m_logs + "/crash.log", m_caches + "Old/x", m_caches + "/../e"})
            QVERIFY(writeFile(QDir::cleanPath(path), 3000));
        QVERIFY(writeFile(m_location + "/bin/clifixture", 20000));
        QVERIFY(TestHome::putEntry(
            "org.example.CliFixture",
            "Name=CliFixture\nX-Version=2.5\nExec=~/opt/CliFixture/bin/clifixture"));
        QVERIFY(writeFile(m_leftover + "/state", 30000));
        QVERIFY(putFile(m_system.path() + "/applications/org.example.System.desktop",
                        "[Desktop Entry]\nType=Application\nName=Hệ thống\nExec=/usr/bin/true\n"));
        qputenv("XDG_DATA_DIRS", QFile::encodeName(m_system.path()));
    }

    // Run in the caches root; %C stands for it, %L for the logs root. None removes anything.
    void cli_data()
    {
        Rows::add(
            {"args", "code", "text"},
            {"help;--help;0;Cách dùng: sorviclean [LỆNH]",
             "version;--version;0;SorviClean ",
             "command help;clean --help;0;--dry-run",
             "unknown command;scna;2;Không có lệnh “scna”",
             "unknown option;scan --bogus;2;Tuỳ chọn không rõ: bogus",
             "unknown category;scan caches nope;2;Không có danh mục “nope”",
             "clean of nothing;clean caches;2;Thiếu",
             "paths and --all;clean caches --all /x;2;không dùng cả hai",
             "unknown app;uninstall org.example.Missing;2;Không có ứng dụng “org.example.Missing”",
             "monitor without --once;monitor;2;--once",
             "monitor once;monitor --once --json;0;\"processes\":[{\"pid\":",
             "dry run;clean caches tree/ --dry-run;0;Chạy thử: không xoá gì.",
             "dry run, relative path;clean caches tree/ --dry-run;0;%C/tree\n",
             "unconfirmed;clean caches --all;2;không phải terminal",
             "the root itself;clean caches %C/file %C --yes;2;%C: nằm ngoài vùng cho phép",
             "sibling named like the root;clean caches %C/file %COld/x --yes;2;%COld/x: nằm ngoài",
             "climb out;clean caches %C/file %C/../e --yes;2;%C/../e: nằm ngoài",
             "other category;clean caches %C/file %L/crash.log --yes;2;crash.log: nằm ngoài",
             "one refusal, nothing removed;clean caches %C/file %C --yes;2;Không xoá gì.",
             "system app;apps;0;Hệ thống · org.example.System · ứng dụng hệ thống, không gỡ được",
             "system refused;uninstall org.example.System --yes;2;Hệ thống là ứng dụng hệ thống"});
    }
    void cli()
    {
        QFETCH(QString, args);
        QFETCH(QString, code);
        QFETCH(QString, text);
        const auto fill = [&](QString s) {
            return s.replace("%C", m_caches).replace("%L", m_logs);
        };
        QStringList arguments = args.split(u' ');
        std::transform(arguments.begin(), arguments.end(), arguments.begin(), fill);
        RUN(run, arguments, {}, m_caches);
        QCOMPARE(run.code, code.toInt());
        QVERIFY2(QString::fromUtf8(run.out + run.err).contains(fill(text)),
                 (run.out + run.err).constData());
        QCOMPARE(TreeBuilder::expectedAllocated(m_caches), m_total);
    }

    void scanThenClean()
    {
        RUN(scan, {"scan", "logs", "caches", "--json"});
        QCOMPARE(scan.code, 0);
        const QJsonArray categories = parsed(scan.out)[u"categories"].toArray();
        QCOMPARE((QStringList{categories[0][u"id"].toString(), categories[1][u"id"].toString()}),
                 (QStringList{"logs", "caches"}));
        QCOMPARE(categories[1][u"total"].toInteger(), m_total);
        QCOMPARE(itemsOf(categories[1][u"items"].toArray()).keys(),
                 (QStringList{m_caches + "/file", m_caches + "/tree"}));
        RUN(run, {"clean", "caches", "--all", "--yes", "--json"});
        QCOMPARE(run.code, 0);
        QCOMPARE(run.out,
                 QByteArray("{\"freed\":" + QByteArray::number(m_total) + ",\"failures\":[]}\n"));
        QCOMPARE(QDir(m_caches).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList());
    }

    // A name that is not UTF-8 is printed, escaped (\udcXX) and taken back with its own bytes.
    void nameThatIsNotUtf8RoundTrips()
    {
        const QByteArray root = PathCodec::encode(m_caches);
        const QByteArray name = root + "/caf\xe9-\xff";
        QVERIFY(TreeBuilder::writeFileRaw(name, 5000));
        RUN(text, {"scan", "caches"});
        QVERIFY(text.out.contains("  " + name + '\n'));
        RUN(json, {"scan", "caches", "--json"});
        QVERIFY2(json.out.contains("/caf\\udce9-\\udcff\""), json.out.constData());
        QVERIFY(!parsed(json.out).isEmpty());
        const qint64 size = TreeBuilder::blocksOf(PathCodec::decode(name));
        RUN(run, {"clean", "caches", "--yes", "--json"}, name);
        QCOMPARE(parsed(run.out)[u"freed"].toInteger(), size);
        QVERIFY(!FileSystem::exists(PathCodec::decode(name)));
    }

    // A home program is listed, planned and removed with its entry.
    void appsListsAndUninstalls()
    {
        RUN(list, {"apps", "--json"});
        QJsonObject app;
        for (const auto& each : parsed(list.out)[u"apps"].toArray())
            if (each[u"id"].toString() == u"org.example.CliFixture") app = each.toObject();
        QCOMPARE(app, parsed(QString(R"({"id":"org.example.CliFixture","name":"CliFixture",)"
                                     R"("version":"2.5","path":"%1","kind":"home-program",)"
                                     R"("protected":false,"size":%2})")
                                 .arg(m_location)
                                 .arg(TreeBuilder::expectedAllocated(m_location))
                                 .toUtf8()));
        RUN(plan, {"uninstall", "org.example.CliFixture", "--dry-run", "--json"});
        const QMap<QString, qint64> targets = itemsOf(parsed(plan.out)[u"items"].toArray());
        QCOMPARE(targets.keys(), (QStringList{m_leftover, m_location}));
        QCOMPARE(targets.value(m_leftover), TreeBuilder::expectedAllocated(m_leftover));
        RUN(run, {"uninstall", "org.example.CliFixture", "--keep-leftovers", "--yes"});
        QCOMPARE(run.code, 0);
        QVERIFY2(run.out.startsWith("Đã gỡ CliFixture và chuyển "), run.out.constData());
        QVERIFY(!FileSystem::exists(m_location) && !FileSystem::exists(m_entry));
        QVERIFY(QFileInfo::exists(m_leftover));
    }
};

SORVI_TEST_MAIN(TestCli)
#include "tst_cli.moc"
