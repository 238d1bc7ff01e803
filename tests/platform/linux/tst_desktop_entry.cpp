#include "platform/linux/desktop_entry.h"
#include "platform/path_codec.h"
#include "support/rows.h"
#include "support/test_home.h"
#include "support/tree_builder.h"

#include <QRandomGenerator>

class TestDesktopEntry : public QObject
{
    Q_OBJECT
private slots:
    void parses_data()
    {
        // seen: Name#Exec arguments#program, "-" if unparsed; Exec texts get the group line. The
        // file's escape is undone before the quoting's (\\\\ → \\ → \).
        Rows::add(
            {"text", "seen"},
            {"vi_VN, vi, plain;[Desktop Entry]\nName=Foo\nName[vi]=Phở\nName[vi_VN]=Bún;Bún##",
             "empty vi_VN, escapes, CRLF;[Desktop Entry]\r\nName[vi_VN]=\r\n"
             "Name[vi] = a\\sb\\\\c\\nd\\q \r\n;a b\\c\nd\\q##",
             "other groups, second entry group, duplicate and bad keys;Name=before\n[Other]\n"
             "Name=X\n[Desktop Entry]\nNa me=bad\nName[v i]=b\n=x\nName=Y\nName=dup\n"
             "[Desktop Entry]\nName=Z;Y##",
             "no entry group;[Desktop Action x]\nName=Foo;-",
             "quoted path, field codes, %%;Exec=\"/home/u/My App/bin/app\" --r=100%% "
             "--file=%f %U;#/home/u/My App/bin/app|--r=100%|--file=#/home/u/My App/bin/app",
             "two levels of escaping;Exec=prog \"a\\\\\\\\b\" \"say \\\\\"hi\\\\\"\" "
             "\"\\\\$HOME\";#prog|a\\b|say \"hi\"|$HOME#prog",
             "unterminated quote;Exec=\"/opt/app --x;##",
             "env assignments;Exec=env A=1 /home/u/tool %F;#env|A=1|/home/u/tool#/home/u/tool",
             "TryExec over Exec;Exec=launcher %u\nTryExec=/home/u/real;#launcher#/home/u/real"});
    }

    void parses()
    {
        QFETCH(QString, text);
        QFETCH(QString, seen);
        if (text.startsWith(u"Exec")) text = "[Desktop Entry]\n" + text + '\n';
        const std::optional<DesktopEntry> e = DesktopEntry::parse(text.toUtf8());
        QCOMPARE(e ? e->localized("Name") + '#' + e->execArguments().join(u'|') + '#' + e->program()
                   : "-",
                 seen);
    }

    void hostileInput()
    {
        // A program path that is not UTF-8 names exactly that file again.
        const QByteArray raw("/home/u/caf\xe9/run");
        QCOMPARE(PathCodec::encode(DesktopEntry::parse("[Desktop Entry]\nExec=" + raw)->program()),
                 raw);
        QVERIFY(!DesktopEntry::parse(QByteArray("[Desktop Entry]\n#").append(1 << 19, 'x')));
        // A FIFO is neither waited for nor listed; a subfolder gives its name to the id.
        const QString dir = TestHome::path() + QStringLiteral("/entries");
        QVERIFY(TreeBuilder::putFile(dir + "/sub/tool.desktop", "[Desktop Entry]\n"));
        QCOMPARE(::mkfifo(PathCodec::encode(dir + QStringLiteral("/a.desktop")).constData(), 0600),
                 0);
        const QList<DesktopFile> files = desktopFiles(dir);
        QCOMPARE(files.size() == 1 ? files[0].id : QString(), QStringLiteral("sub-tool"));
        // Any bytes parse to something, or nothing, without a crash.
        static const char letters[] = "[]=\\\"%; \n\rabcNameExec[vi]DesktopEntry\x00\xff\xc3";
        QRandomGenerator random(1414);
        for (int round = 0; round < 3000; ++round) {
            QByteArray text("[Desktop Entry]\n");
            for (int i = int(random.bounded(200)); i > 0; --i)
                text.append(letters[random.bounded(int(sizeof letters - 1))]);
            if (const std::optional<DesktopEntry> entry = DesktopEntry::parse(text))
                QVERIFY(entry->program().size() <= text.size());
        }
    }
};

SORVI_TEST_MAIN(TestDesktopEntry)
#include "tst_desktop_entry.moc"
