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
    void singleLine();
    void longTextIsCappedWithoutSplittingAPair();
    void digitsHaveEqualWidth();
    void everySymbolHasAnIcon();
    void adwaitaHasAThemeIconForEverySymbol();
};

void TestDisplayText::singleLine()
{
    // Direction marks stay; drawing isolates them.
    const QList<QPair<QString, QString>> cases{
        {QStringLiteral("a\nb"), QStringLiteral("a↵b")},
        {QStringLiteral("a\r\nb"), QStringLiteral("a↵↵b")},
        {QStringLiteral("a\u2028b\u2029c\u0085d"), QStringLiteral("a↵b↵c↵d")},
        {QStringLiteral("a\tb"), QStringLiteral("a b")},
        {QStringLiteral("a\u0001b\u007Fc"), QStringLiteral("a�b�c")},
        {QStringLiteral("\u202Egnp.exe"), QStringLiteral("\u202Egnp.exe")},
        {QStringLiteral("Bộ nhớ đệm"), QStringLiteral("Bộ nhớ đệm")}};
    for (const auto& [text, shown] : cases) {
        QCOMPARE(DisplayText::singleLine(text), shown);
        QCOMPARE(DisplayText::isolated(shown), QChar(0x2068) + shown + QChar(0x2069));
    }
}

void TestDisplayText::longTextIsCappedWithoutSplittingAPair()
{
    const QString shown = DisplayText::singleLine(QString(5000, QLatin1Char('x')));
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
    const QFontMetrics metrics(QApplication::font());
    QCOMPARE(DisplayText::tabularWidth(metrics, QStringLiteral("111 kB")),
             DisplayText::tabularWidth(metrics, QStringLiteral("888 kB")));
    QCOMPARE(DisplayText::tabularWidth(metrics, QStringLiteral("1,1 GB")),
             DisplayText::tabularWidth(metrics, QStringLiteral("9,0 GB")));
}

void TestDisplayText::everySymbolHasAnIcon()
{
    const QStringList known = Symbols::known();
    for (const Category& c : Category::all())
        QVERIFY2(known.contains(c.symbol) && !Symbols::themeNames(c.symbol).isEmpty(),
                 qPrintable(c.symbol));
    for (const QString& symbol : known + QStringList{QStringLiteral("no.such.symbol")}) {
        const QIcon icon = Symbols::icon(symbol);
        QVERIFY2(!icon.isNull(), qPrintable(symbol));
        QVERIFY2(!icon.pixmap(16, 16).isNull(), qPrintable(symbol));
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
