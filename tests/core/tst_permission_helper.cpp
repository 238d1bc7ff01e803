#include "core/permission_helper.h"
#include "platform/file_system.h"
#include "platform/path_codec.h"
#include "platform/script_runner.h"
#include "platform/trash.h"
#include "support/test_home.h"
#include "support/tree_builder.h"

#include <QCoro/QCoroTask>
#include <QFile>
#include <QStandardPaths>
#include <QThread>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

using namespace TreeBuilder;
using namespace Qt::Literals::StringLiterals;

namespace {

const QString kAutomation = QStringLiteral(
    "\n\nHãy cho phép SorviClean điều khiển Finder trong System Settings > Privacy & Security > "
    "Automation.");

// Answers every script with a fixed result and notes what it was asked, and where. The test reads
// the notes only after the task finished, which orders them after the writes.
struct RecordingRunner final : ScriptRunner
{
    explicit RecordingRunner(Result result) : result(std::move(result)) {}
    Result run(const QString& source) override
    {
        sources.append(source);
        onGuiThread = QThread::currentThread() == QCoreApplication::instance()->thread();
        return result;
    }
    Result result;
    QStringList sources;
    bool onGuiThread = true;
};

mode_t modeOf(const QString& path)
{
    struct stat st;
    return ::lstat(PathCodec::encode(path).constData(), &st) == 0 ? st.st_mode & 07777 : mode_t(-1);
}

void setMode(const QString& path, mode_t mode)
{
    ::chmod(PathCodec::encode(path).constData(), mode);
}

QStringList entries(const QString& folder)
{
    QStringList names;
    for (const QString& path : FileSystem::children(folder).value_or(QStringList()))
        names.append(FileSystem::lastComponent(path));
    names.sort();
    return names;
}

bool hasOsascript()
{
    return !QStandardPaths::findExecutable(QStringLiteral("osascript")).isEmpty();
}

// Empties the home trash with XDG_DATA_HOME set to `dataHome`, then puts the test's value back.
QString emptiedWithDataHome(const QByteArray& dataHome)
{
    const QByteArray old = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", dataHome);
    const QString text = PermissionHelper::emptyHomeTrash();
    qputenv("XDG_DATA_HOME", old);
    return text;
}

} // namespace

class TestPermissionHelper : public QObject
{
    Q_OBJECT
private slots:
    void finderScriptOutcomes_data()
    {
        QTest::addColumn<bool>("ok");
        QTest::addColumn<std::optional<QString>>("error");
        QTest::addColumn<QString>("expected");
        const QString denied =
            QStringLiteral("Not authorized to send Apple events to Finder. (-1743)");
        QTest::newRow("emptied") << true << std::optional<QString>() << "Đã dọn Thùng rác.";
        QTest::newRow("emptied, message ignored")
            << true << std::optional<QString>("noise") << "Đã dọn Thùng rác.";
        QTest::newRow("refused with a message")
            << false << std::optional<QString>(denied)
            << "Không dọn được Thùng rác: " + denied + kAutomation;
        QTest::newRow("refused without a message")
            << false << std::optional<QString>()
            << "Không dọn được Thùng rác: Lỗi không xác định" + kAutomation;
        QTest::newRow("refused with an empty message")
            << false << std::optional<QString>(QString())
            << "Không dọn được Thùng rác: Lỗi không xác định" + kAutomation;
    }
    void finderScriptOutcomes()
    {
        QFETCH(bool, ok);
        QFETCH(std::optional<QString>, error);
        QFETCH(QString, expected);
        RecordingRunner runner({ok, error});

        const QString text = QCoro::waitFor(PermissionHelper::emptyTrashViaFinder(runner));

        QCOMPARE(text, expected);
        QCOMPARE(runner.sources,
                 QStringList{QStringLiteral("tell application \"Finder\" to empty the trash")});
        QVERIFY(!runner.onGuiThread);
    }

    void osascriptRunnerWithoutOsascriptFails()
    {
        if (hasOsascript()) QSKIP("osascript exists here; the Finder would really be asked");
        OsascriptRunner runner;
        QCOMPARE(QCoro::waitFor(PermissionHelper::emptyTrashViaFinder(runner)),
                 "Không dọn được Thùng rác: Lỗi không xác định" + kAutomation);
    }

    void homeTrashIsEmptiedWithoutFollowingLinks()
    {
        if (hasOsascript())
            QSKIP("osascript exists here; the Finder path is taken instead of the home trash");
        const QString downloads = TestHome::path() + "/Downloads";
        QTemporaryDir outside;
        QVERIFY(writeFile(outside.filePath("ro/keep"), 100));
        setMode(outside.filePath("ro"), 0555);
        QVERIFY(writeFile(outside.filePath("target"), 100));

        QVERIFY(writeFile(downloads + "/plain.txt", 100));
        QVERIFY(writeFileRaw(PathCodec::encode(downloads) + "/caf\xE9", 100));
        QVERIFY(writeFile(downloads + "/tree/ro/inner/file", 5000));
        QVERIFY(makeLink(outside.filePath("ro"), downloads + "/tree/link"));
        setMode(downloads + "/tree/ro/inner", 0555);
        setMode(downloads + "/tree/ro", 0500);
        QVERIFY(makeLink(outside.filePath("target"), downloads + "/link"));
        for (const QString& name : FileSystem::children(downloads).value_or(QStringList()))
            QVERIFY(FileSystem::moveToTrash(name).ok());
        QCOMPARE(entries(TestHome::trashPath() + "/files").size(), 4);

        const QString text = QCoro::waitFor(PermissionHelper::emptyTrashViaFinder());

        QCOMPARE(text, QStringLiteral("Đã dọn Thùng rác."));
        QCOMPARE(entries(TestHome::trashPath() + "/files"), QStringList());
        QCOMPARE(entries(TestHome::trashPath() + "/info"), QStringList());
        QVERIFY(FileSystem::exists(outside.filePath("ro/keep")));
        QVERIFY(FileSystem::exists(outside.filePath("target")));
        QCOMPARE(modeOf(outside.filePath("ro")), mode_t(0555));
        setMode(outside.filePath("ro"), 0755);
    }

    void missingTrashCountsAsEmpty()
    {
        QTemporaryDir data;
        QCOMPARE(emptiedWithDataHome(QFile::encodeName(data.path())), u"Đã dọn Thùng rác."_s);
    }

    void relativeDataHomeIsIgnored()
    {
        // A relative XDG_DATA_HOME would be taken from the working folder; it must be ignored.
        QTemporaryDir cwd;
        const QString decoy = cwd.filePath("data/Trash/files/decoy");
        QVERIFY(writeFile(decoy, 100));
        QVERIFY(writeFile(TestHome::trashPath() + "/files/real", 100));
        const QString oldCwd = QDir::currentPath();
        QVERIFY(QDir::setCurrent(cwd.path()));
        const QString text = emptiedWithDataHome("data");
        QDir::setCurrent(oldCwd);
        QCOMPARE(text, QStringLiteral("Đã dọn Thùng rác."));
        QVERIFY(FileSystem::exists(decoy));
        QVERIFY(!FileSystem::exists(TestHome::trashPath() + "/files/real"));
    }

    void entryThatStaysKeepsItsRecord()
    {
        if (!canDropPrivileges())
            QSKIP("needs root to drop to an unprivileged user and to own a folder as another user");
        QTemporaryDir base;
        setMode(base.path(), 0777);
        const QString data = base.path() + "/data";
        const QString trash = data + "/Trash";
        QVERIFY(writeFile(trash + "/files/gone/file", 100));
        QVERIFY(writeFile(trash + "/files/blocked/foreign/file", 100));
        QVERIFY(writeFile(trash + "/info/gone.trashinfo", 10));
        QVERIFY(writeFile(trash + "/info/blocked.trashinfo", 10));
        QVERIFY(writeFile(trash + "/info/orphan.trashinfo", 10));
        // Everything belongs to 65534 but "foreign", which root keeps.
        for (const QString& path :
             {data, trash, trash + "/files", trash + "/info", trash + "/files/gone",
              trash + "/files/gone/file", trash + "/files/blocked", trash + "/info/gone.trashinfo",
              trash + "/info/blocked.trashinfo", trash + "/info/orphan.trashinfo"})
            QVERIFY(::chown(PathCodec::encode(path).constData(), 65534, 65534) == 0);

        const int code = runAsNobody([&] {
            const QString expected =
                "Không dọn được Thùng rác: blocked: " + FileSystem::Outcome::failure(EACCES).error +
                kAutomation;
            return emptiedWithDataHome(PathCodec::encode(data)) == expected ? 0 : 10;
        });
        QCOMPARE(code, 0);
        QCOMPARE(entries(trash + "/files"), QStringList{"blocked"});
        QCOMPARE(entries(trash + "/info"), QStringList{"blocked.trashinfo"});
        QVERIFY(FileSystem::exists(trash + "/files/blocked/foreign/file"));
    }

    void openFullDiskAccessReturnsWithoutAHandler() { PermissionHelper::openFullDiskAccess(); }
};

SORVI_TEST_MAIN(TestPermissionHelper)
#include "tst_permission_helper.moc"
