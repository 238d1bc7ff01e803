#include "core/category.h"
#include "support/test_home.h"
#include "ui/display_text.h"
#include "ui/symbols.h"

#include <QApplication>
#include <QDir>
#include <QFontMetrics>
#include <QIcon>

class TestDisplayText : public QObject
{
    Q_OBJECT

private slots:
    void singleLine_data();
    void singleLine();
    void longTextIsCappedWithoutSplittingAPair();
    void digitsHaveEqualWidth();
    void everySymbolHasAnIcon();
    void everySymbolOfTheScreensIsInTheTable();
    void adwaitaHasAThemeIconForEverySymbol();
};

void TestDisplayText::singleLine_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    QTest::newRow("plain") << "Caches"
                           << "Caches";
    QTest::newRow("line feed") << "a\nb"
                               << "a↵b";
    QTest::newRow("crlf") << "a\r\nb"
                          << "a↵↵b";
    QTest::newRow("unicode separators") << "a\u2028b\u2029c\u0085d"
                                        << "a↵b↵c↵d";
    QTest::newRow("tab") << "a\tb"
                         << "a b";
    QTest::newRow("controls") << QStringLiteral("a\x01"
                                                "b\x7f"
                                                "c")
                              << "a�b�c";
    // Direction marks stay; drawing isolates them.
    QTest::newRow("override kept") << "\u202Egnp.exe"
                                   << "\u202Egnp.exe";
    QTest::newRow("vietnamese") << "Bộ nhớ đệm"
                                << "Bộ nhớ đệm";
}

void TestDisplayText::singleLine()
{
    QFETCH(QString, text);
    QFETCH(QString, shown);
    QCOMPARE(DisplayText::singleLine(text), shown);
    QCOMPARE(DisplayText::isolated(shown), QChar(0x2068) + shown + QChar(0x2069));
}

void TestDisplayText::longTextIsCappedWithoutSplittingAPair()
{
    const QString huge(5000, QLatin1Char('x'));
    const QString shown = DisplayText::singleLine(huge);
    QVERIFY(shown.size() < 500);
    QVERIFY(shown.endsWith(QChar(0x2026)));

    // A surrogate pair across the cut is dropped whole, not halved.
    QString emoji;
    while (emoji.size() < 1000)
        emoji += QStringLiteral("😀");
    const QString cut = DisplayText::singleLine(QLatin1Char('a') + emoji);
    for (qsizetype i = 0; i + 1 < cut.size(); ++i)
        if (cut.at(i).isHighSurrogate()) QVERIFY(cut.at(i + 1).isLowSurrogate());
    QVERIFY(!cut.at(cut.size() - 2).isHighSurrogate());
}

void TestDisplayText::digitsHaveEqualWidth()
{
    QFont font = QApplication::font();
    const QFontMetrics metrics(font);
    QCOMPARE(DisplayText::tabularWidth(metrics, QStringLiteral("111 kB")),
             DisplayText::tabularWidth(metrics, QStringLiteral("888 kB")));
    QCOMPARE(DisplayText::tabularWidth(metrics, QStringLiteral("1,1 GB")),
             DisplayText::tabularWidth(metrics, QStringLiteral("9,0 GB")));
    QVERIFY(DisplayText::tabularWidth(metrics, QStringLiteral("10 MB")) >
            DisplayText::tabularWidth(metrics, QStringLiteral("9 MB")));
}

void TestDisplayText::everySymbolHasAnIcon()
{
    QStringList symbols = Symbols::known();
    symbols.append(QStringLiteral("no.such.symbol"));
    for (const QString& symbol : symbols) {
        const QIcon icon = Symbols::icon(symbol);
        QVERIFY2(!icon.isNull(), qPrintable(symbol));
        QVERIFY2(!icon.pixmap(16, 16).isNull(), qPrintable(symbol));
    }
}

void TestDisplayText::everySymbolOfTheScreensIsInTheTable()
{
    const QStringList known = Symbols::known();
    QStringList used{"sparkles",
                     "xmark.app",
                     "gauge",
                     "arrow.down.circle.fill",
                     "arrow.clockwise",
                     "chevron.right",
                     "exclamationmark.triangle.fill",
                     "lock.fill",
                     "internaldrive",
                     "trash",
                     "chart.xyaxis.line",
                     "cpu",
                     "info.circle",
                     "list.bullet.rectangle",
                     "memorychip",
                     "network",
                     "battery.100.bolt",
                     "battery.75"};
    for (const Category& c : Category::all())
        used.append(c.symbol);
    for (const QString& symbol : used) {
        QVERIFY2(known.contains(symbol), qPrintable(symbol));
        QVERIFY2(!Symbols::themeNames(symbol).isEmpty(), qPrintable(symbol));
    }
}

void TestDisplayText::adwaitaHasAThemeIconForEverySymbol()
{
    if (!QDir(QStringLiteral("/usr/share/icons/Adwaita")).exists())
        QSKIP("the Adwaita icon theme is not installed");
    Symbols::icon(QStringLiteral("trash")); // sets the theme up
    for (const QString& symbol : Symbols::known()) {
        bool found = false;
        for (const QString& name : Symbols::themeNames(symbol))
            found = found || QIcon::hasThemeIcon(name);
        QVERIFY2(found, qPrintable(symbol));
    }
}

SORVI_TEST_GUI_MAIN(TestDisplayText)
#include "tst_display_text.moc"
