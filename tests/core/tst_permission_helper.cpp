#include "core/permission_helper.h"
#include "platform/file_system.h"
#include "platform/path_codec.h"
#include "platform/trash.h"
#include "support/await.h"
#include "support/recording_runner.h"
#include "support/test_home.h"
#include "support/tree_builder.h"

#include <QStandardPaths>
#include <cerrno>
#include <unistd.h>

using namespace TreeBuilder;

namespace {

const QString kFailed = QStringLiteral("Không dọn được Thùng rác: ");
const QString kAutomation = QStringLiteral(
    "\n\nHãy cho phép SorviClean điều khiển Finder trong System Settings > Privacy & Security > "
    "Automation.");
const QString kEmptied = QStringLiteral("Đã dọn Thùng rác.");

QStringList entries(const QString& folder)
{
    QStringList names;
    for (const QString& path : FileSystem::children(folder).value_or(QStringList()))
        names.append(FileSystem::lastComponent(path));
    names.sort();
    return names;
}

} // namespace

class TestPermissionHelper : public QObject
{
    Q_OBJECT
    const bool m_osascript = !QStandardPaths::findExecutable(QStringLiteral("osascript")).isEmpty();

private slots:
    void finderScriptOutcomes_data()
    {
        QTest::addColumn<bool>("ok");
        QTest::addColumn<std::optional<QString>>("error");
        QTest::addColumn<QString>("expected");
        QTest::newRow("emptied") << true << std::optional<QString>("noise") << kEmptied;
        QTest::newRow("refused with a message")
            << false << std::optional<QString>("Not authorized (-1743)")
            << kFailed + "Not authorized (-1743)" + kAutomation;
        QTest::newRow("refused without a message")
            << false << std::optional<QString>() << kFailed + "Lỗi không xác định" + kAutomation;
        QTest::newRow("refused with an empty message")
            << false << std::optional<QString>("") << kFailed + "Lỗi không xác định" + kAutomation;
    }
    void finderScriptOutcomes()
    {
        QFETCH(bool, ok);
        QFETCH(std::optional<QString>, error);
        QFETCH(QString, expected);
        RecordingRunner runner({ok, error});
        AWAIT_VALUE(text, PermissionHelper::emptyTrashViaFinder(runner), "emptying the Trash");
        QCOMPARE(text, expected);
        QCOMPARE(runner.sources(), QStringList{"tell application \"Finder\" to empty the trash"});
        QVERIFY(!runner.ranOnGuiThread);
    }

    void osascriptRunnerWithoutOsascriptFails()
    {
        if (m_osascript) QSKIP("osascript exists here; the Finder would really be asked");
        OsascriptRunner runner;
        AWAIT_VALUE(text, PermissionHelper::emptyTrashViaFinder(runner), "the osascript run");
        QCOMPARE(text, kFailed + "Lỗi không xác định" + kAutomation);
    }

    // Without osascript the freedesktop home trash is emptied: files/ and info/, links removed
    // as links, read-only folders of the user's own opened up.
    void homeTrashIsEmptiedWithoutFollowingLinks()
    {
        if (m_osascript) QSKIP("osascript exists here; the Finder path is taken instead");
        const QString downloads = TestHome::path() + "/Downloads";
        QTemporaryDir outside;
        QVERIFY(writeFile(outside.filePath("ro/keep"), 100));
        setPermissions(outside.filePath("ro"), 0555);
        QVERIFY(makeDir(downloads));
        QVERIFY(writeFileRaw(PathCodec::encode(downloads) + "/caf\xE9", 100));
        QVERIFY(writeFile(downloads + "/tree/ro/inner/file", 5000));
        QVERIFY(makeLink(outside.filePath("ro"), downloads + "/tree/link"));
        setPermissions(downloads + "/tree/ro/inner", 0555);
        setPermissions(downloads + "/tree/ro", 0500);
        QVERIFY(makeLink(outside.filePath("ro/keep"), downloads + "/link"));
        for (const QString& name : FileSystem::children(downloads).value_or(QStringList()))
            QVERIFY(FileSystem::moveToTrash(name).ok());
        QCOMPARE(entries(TestHome::trashPath() + "/files").size(), 3);

        AWAIT_VALUE(text, PermissionHelper::emptyTrashViaFinder(), "emptying the home trash");
        QCOMPARE(text, kEmptied);
        QCOMPARE(entries(TestHome::trashPath() + "/files"), QStringList());
        QCOMPARE(entries(TestHome::trashPath() + "/info"), QStringList());
        QVERIFY(FileSystem::exists(outside.filePath("ro/keep")));
        QCOMPARE(permissionsOf(outside.filePath("ro")), mode_t(0555));
        setPermissions(outside.filePath("ro"), 0755);
    }

    void missingTrashIsEmpty()
    {
        QCOMPARE(PermissionHelper::emptyHomeTrash(TestHome::path() + "/none/Trash"), kEmptied);
    }

    // An entry that cannot go keeps its record (it stays restorable) and names the reason.
    void entryThatStaysKeepsItsRecord()
    {
        if (!canDropPrivileges()) QSKIP("needs root to own a folder as another user");
        QTemporaryDir base;
        setPermissions(base.path(), 0777);
        const QString data = base.path() + "/data";
        const QString trash = data + "/Trash";
        QVERIFY(writeFile(trash + "/files/gone/file", 100));
        QVERIFY(writeFile(trash + "/files/blocked/foreign/file", 100)); // root keeps "foreign"
        for (const char* info : {"gone", "blocked", "orphan"})
            QVERIFY(writeFile(trash + "/info/" + info + ".trashinfo", 10));
        for (const QString& path :
             {data, trash, trash + "/files", trash + "/info", trash + "/files/gone",
              trash + "/files/gone/file", trash + "/files/blocked", trash + "/info/gone.trashinfo",
              trash + "/info/blocked.trashinfo", trash + "/info/orphan.trashinfo"})
            QVERIFY(::chown(PathCodec::encode(path).constData(), 65534, 65534) == 0);
        const int code = runAsNobody([&] {
            const QString reason = "blocked: " + FileSystem::Outcome::failure(EACCES).error;
            return PermissionHelper::emptyHomeTrash(trash) == kFailed + reason + kAutomation ? 0
                                                                                             : 1;
        });
        QCOMPARE(code, 0);
        QCOMPARE(entries(trash + "/files"), QStringList{"blocked"});
        QCOMPARE(entries(trash + "/info"), QStringList{"blocked.trashinfo"});
    }

    void openFullDiskAccessReturnsWithoutAHandler() { PermissionHelper::openFullDiskAccess(); }
};

SORVI_TEST_MAIN(TestPermissionHelper)
#include "tst_permission_helper.moc"
