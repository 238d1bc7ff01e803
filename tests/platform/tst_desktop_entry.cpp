#include "platform/linux/desktop_entry.h"
#include "platform/path_codec.h"
#include "support/test_home.h"
#include "support/tree_builder.h"

#include <QRandomGenerator>
#include <sys/stat.h>

class TestDesktopEntry : public QObject
{
    Q_OBJECT
private slots:
    void readsTheEntryGroup_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("name"); // localized(Name); "-" when the text does not parse
        QTest::newRow("vi_VN over vi over plain")
            << QByteArray("[Desktop Entry]\nName=Foo\nName[vi]=Phở\nName[vi_VN]=Bún\n")
            << QStringLiteral("Bún");
        QTest::newRow("vi over plain, empty vi_VN skipped")
            << QByteArray("[Desktop Entry]\nName[vi_VN]=\nName[vi]=Phở\nName=Foo\n")
            << QStringLiteral("Phở");
        QTest::newRow("escapes") << QByteArray("[Desktop Entry]\nName=a\\sb\\\\c\\nd\\q\n")
                                 << QStringLiteral("a b\\c\nd\\q");
        QTest::newRow("spaces around =, CRLF")
            << QByteArray("[Desktop Entry]\r\nName = Foo \r\n") << QStringLiteral("Foo");
        QTest::newRow("other groups and a second entry group ignored")
            << QByteArray("Name=before\n[Other]\nName=X\n[Desktop Entry]\nName=Y\n"
                          "[Desktop Entry]\nName=Z\n")
            << QStringLiteral("Y");
        QTest::newRow("first duplicate wins, malformed keys skipped")
            << QByteArray("[Desktop Entry]\nNa me=bad\nName[v i]=bad\n=x\nName=ok\nName=dup\n")
            << QStringLiteral("ok");
        QTest::newRow("no entry group")
            << QByteArray("[Desktop Action x]\nName=Foo\n") << QStringLiteral("-");
        QTest::newRow("too large")
            << QByteArray("[Desktop Entry]\nName=Foo\n#").append(DesktopEntry::kMaxBytes, 'x')
            << QStringLiteral("-");
    }

    void readsTheEntryGroup()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, name);
        const std::optional<DesktopEntry> entry = DesktopEntry::parse(text);
        QCOMPARE(entry ? entry->localized(QStringLiteral("Name")) : QStringLiteral("-"), name);
    }

    void splitsTheExecLine_data()
    {
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("program");
        QTest::newRow("quoted path with a blank, field codes dropped")
            << QByteArray("Exec=\"/home/u/My App/bin/app\" --new %U %i")
            << QStringList{QStringLiteral("/home/u/My App/bin/app"), QStringLiteral("--new")}
            << QStringLiteral("/home/u/My App/bin/app");
        QTest::newRow("%% kept, code inside an argument dropped")
            << QByteArray("Exec=app --ratio=100%% --file=%f")
            << QStringList{QStringLiteral("app"), QStringLiteral("--ratio=100%"),
                           QStringLiteral("--file=")}
            << QStringLiteral("app");
        // The file's string escape is undone first (\\\\ → \\), then the quoting's (\\ → \).
        QTest::newRow("two levels of escaping")
            << QByteArray("Exec=prog \"a\\\\\\\\b\" \"say \\\\\"hi\\\\\"\" \"\\\\$HOME\"")
            << QStringList{QStringLiteral("prog"), QStringLiteral("a\\b"),
                           QStringLiteral("say \"hi\""), QStringLiteral("$HOME")}
            << QStringLiteral("prog");
        QTest::newRow("unterminated quote")
            << QByteArray("Exec=\"/opt/app --x") << QStringList() << QString();
        QTest::newRow("env assignments skipped")
            << QByteArray("Exec=env GDK_BACKEND=x11 A=1 /home/u/opt/tool/tool %F")
            << QStringList{QStringLiteral("env"), QStringLiteral("GDK_BACKEND=x11"),
                           QStringLiteral("A=1"), QStringLiteral("/home/u/opt/tool/tool")}
            << QStringLiteral("/home/u/opt/tool/tool");
        QTest::newRow("TryExec over Exec")
            << QByteArray("Exec=launcher %u\nTryExec=/home/u/opt/real")
            << QStringList{QStringLiteral("launcher")} << QStringLiteral("/home/u/opt/real");
        QTest::newRow("only field codes") << QByteArray("Exec=%U %f") << QStringList() << QString();
    }

    void splitsTheExecLine()
    {
        QFETCH(QByteArray, lines);
        QFETCH(QStringList, arguments);
        QFETCH(QString, program);
        const std::optional<DesktopEntry> entry =
            DesktopEntry::parse("[Desktop Entry]\nType=Application\n" + lines + '\n');
        QVERIFY(entry);
        QCOMPARE(entry->execArguments(), arguments);
        QCOMPARE(entry->program(), program);
    }

    void pathBytesSurviveUndecoded()
    {
        // A program path that is not UTF-8 must name exactly that file again.
        const QByteArray raw = QByteArray("/home/u/caf\xe9/run");
        const std::optional<DesktopEntry> entry =
            DesktopEntry::parse("[Desktop Entry]\nExec=" + raw + " %f\n");
        QVERIFY(entry);
        QCOMPARE(PathCodec::encode(entry->program()), raw);
    }

    void listableOnlyWhenShownApplications_data()
    {
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<bool>("listable");
        QTest::newRow("application") << QByteArray("Type=Application") << true;
        QTest::newRow("link") << QByteArray("Type=Link") << false;
        QTest::newRow("hidden") << QByteArray("Type=Application\nHidden=true") << false;
        QTest::newRow("no display") << QByteArray("Type=Application\nNoDisplay=1") << false;
        QTest::newRow("no display false")
            << QByteArray("Type=Application\nNoDisplay=false") << true;
    }

    void listableOnlyWhenShownApplications()
    {
        QFETCH(QByteArray, lines);
        QFETCH(bool, listable);
        QCOMPARE(DesktopEntry::parse("[Desktop Entry]\n" + lines + '\n')->isListable(), listable);
    }

    void readsOnlyRegularFiles()
    {
        const QString dir = TestHome::path() + QStringLiteral("/entries");
        QVERIFY(TreeBuilder::makeDir(dir + QStringLiteral("/sub")));
        const QString fifo = dir + QStringLiteral("/fifo.desktop");
        QCOMPARE(::mkfifo(PathCodec::encode(fifo).constData(), 0600), 0);
        QFile file(dir + QStringLiteral("/sub/tool.desktop"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[Desktop Entry]\nType=Application\nName=Tool\n");
        file.close();
        // The FIFO is neither waited for nor listed; a subfolder gives its name to the id.
        const QList<DesktopFile> files = desktopFiles(dir);
        QCOMPARE(files.size(), 1);
        QCOMPARE(files[0].id, QStringLiteral("sub-tool"));
    }

    void survivesAnyBytes()
    {
        QRandomGenerator random(1414);
        static const char letters[] = "[]=\\\"%; \n\rabcNameExec[vi]DesktopEntry\x00\xff\xc3";
        const QByteArray alphabet(letters, sizeof letters - 1);
        for (int round = 0; round < 3000; ++round) {
            QByteArray text("[Desktop Entry]\n");
            const int length = int(random.bounded(200));
            for (int i = 0; i < length; ++i)
                text.append(alphabet[random.bounded(int(alphabet.size()))]);
            if (const std::optional<DesktopEntry> entry = DesktopEntry::parse(text)) {
                entry->execArguments();
                entry->program();
                entry->localized(QStringLiteral("Name"));
            }
        }
    }
};

SORVI_TEST_MAIN(TestDesktopEntry)
#include "tst_desktop_entry.moc"
