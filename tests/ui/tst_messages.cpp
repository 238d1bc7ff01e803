#include "core/cleaner.h"
#include "monitor/monitor_model.h"
#include "platform/process_signal.h"
#include "support/await.h"
#include "support/child_process.h"
#include "support/http_server.h"
#include "support/rows.h"
#include "support/test_home.h"
#include "support/tree_builder.h"
#include "ui/monitor_text.h"
#include "update/update_checker.h"

#include <QRegularExpression>
#include <QTcpServer>
#include <fcntl.h>

using namespace TreeBuilder;

namespace {

// Words that give English away; the names and addresses in these cases hold none of them.
const QRegularExpression kEnglish(
    QStringLiteral("\\b(the|not|no|such|file|directory|permission|denied|error|refused|host|"
                   "found|connection|timed|out|bytes|server|invalid|expected|unexpected|process|"
                   "failed|is|of|at|offset|operation|document)\\b"),
    QRegularExpression::CaseInsensitiveOption | QRegularExpression::UseUnicodePropertiesOption);

#define QVERIFY_VIETNAMESE(message)                                                                \
    QVERIFY2(!kEnglish.match(message).hasMatch(), qPrintable(message))

} // namespace

// Every message of an error path is the product's own Vietnamese, whatever the system locale:
// CTest runs this program under LANG=C and under LANG=en_US.UTF-8.
class TestMessages : public QObject
{
    Q_OBJECT
private slots:
    // Status 0: nothing listens at the port.
    void updateCheck_data()
    {
        Rows::add({"status", "body"},
                  {"refused connection;0;", "markup;200;<html/>", "wrong form;200;{\"apps\":[{}]}",
                   "missing;404;", "too deep;200;{\"x\":[[[[[[[["});
    }
    void updateCheck()
    {
        QFETCH(QString, status);
        QFETCH(QString, body);
        HttpServer server;
        server.route("/f", HttpServer::withStatus(status.toInt(), body.repeated(100).toUtf8()));
        QTcpServer closed;
        QVERIFY(server.listen() && closed.listen(QHostAddress::LocalHost));
        QUrl feed = server.url("/f");
        if (status == "0") feed.setPort(closed.serverPort());
        closed.close();
        UpdateChecker checker({}, {}, [feed](const QString&) { return feed.toString(); });
        AWAIT(checker.check(true), "the manual check");
        QVERIFY(checker.message());
        QVERIFY_VIETNAMESE(*checker.message());
    }

    void vanishedProcess()
    {
        const pid_t pid = startSleeper();
        QVERIFY(pid > 0);
        const auto identity = ProcessSignal::identify(pid);
        killAndReap(pid);
        MonitorModel model;
        model.quit(ProcessStat{pid, "sleep", 0, 0, identity->startTime});
        QVERIFY(model.message());
        QVERIFY_VIETNAMESE(*model.message());
    }

    // Refused for real: the removal runs as an unprivileged user and sends its report back.
    void permissionRefusal()
    {
        if (!canDropPrivileges()) QSKIP("needs root to drop to an unprivileged user");
        QTemporaryDir root;
        QVERIFY(setPermissions(root.path(), 0755) && writeFile(root.path() + "/locked/item", 10));
        std::array<int, 2> pipe{};
        QVERIFY(::pipe2(pipe.data(), O_CLOEXEC) == 0);
        Category category = *Category::find("caches");
        category.roots = {root.path()};
        const int code = runAsNobody([&] {
            const QByteArray text = Cleaner::remove({{root.path() + "/locked/item", 10}}, category,
                                                    Cleaner::pinRoots(category))
                                        .failures.join(u'\n')
                                        .toUtf8();
            return ::write(pipe[1], text.constData(), size_t(text.size())) == text.size() ? 0 : 1;
        });
        ::close(pipe[1]);
        QFile reader;
        QVERIFY(reader.open(pipe[0], QIODevice::ReadOnly, QFileDevice::AutoCloseHandle));
        const QString failure = QString::fromUtf8(reader.readAll());
        QCOMPARE(code, 0);
        QVERIFY(failure.startsWith("item: "));
        QVERIFY_VIETNAMESE(failure);
    }

    // Vietnamese units and separators; a count that would round to 1000 (1024) of a unit is
    // shown in the next one.
    void byteCounts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* tag, const QString& text, const char* expected) {
            QTest::newRow(tag) << text << QString::fromUtf8(expected);
        };
        row("none", formatBytes(0), "0 byte");
        row("1024", formatBytes(1024), "1,0 kB");
        row("just below a megabyte", formatBytes(999'999), "1,0 MB");
        row("100 MiB", formatBytes(104'857'600), "104,9 MB");
        row("terabytes", formatBytes(1'500'000'000'000), "1,5 TB");
        row("memory just below a mebibyte", MonitorText::memory((1 << 20) - 1), "1,0 MB");
        row("memory 1.5 GiB", MonitorText::memory(1536ULL << 20), "1,5 GB");
    }
    void byteCounts()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(text, expected);
    }
};

SORVI_TEST_MAIN(TestMessages)
#include "tst_messages.moc"
