#include "support/rows.h"
#include "support/test_home.h"
#include "ui/palette.h"

#include <QStyle>
#include <QStyleFactory>
#include <memory>

class TestPalette : public QObject
{
    Q_OBJECT

private slots:
    // Each role reaches its AA contrast on each of its surfaces, light and dark themes alike.
    void everyRoleMeetsItsContrast_data()
    {
        // Window, list and highlight colours (none: Fusion's own).
        Rows::add({"window", "base", "highlight", "dark"},
                  {"Fusion;;;;", "white, pale highlight;#ffffff;#ffffff;#99c9ef;",
                   "grey;#d6d6d6;#ffffff;#1b3f6e;", "dark;#353535;#2a2a2a;#2a82da;dark",
                   "black;#121212;#000000;#1b3f6e;dark"});
    }
    void everyRoleMeetsItsContrast()
    {
        QFETCH(QString, window);
        QFETCH(QString, base);
        QFETCH(QString, highlight);
        QFETCH(QString, dark);
        const std::unique_ptr<QStyle> fusion(QStyleFactory::create(QStringLiteral("Fusion")));
        QPalette palette = window.isEmpty() ? fusion->standardPalette() : QPalette(QColor(window));
        if (!window.isEmpty()) {
            for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
                palette.setColor(role,
                                 dark.isEmpty() ? QColor(Qt::black) : QColor(0xee, 0xee, 0xee));
            palette.setColor(QPalette::Base, QColor(base));
            palette.setColor(QPalette::Highlight, QColor(highlight));
        }
        QCOMPARE(qRound(Palette::contrast(QColor(0x76, 0x76, 0x76), Qt::white) * 100), 454);
        QCOMPARE(Palette::isDark(palette), !dark.isEmpty());
        using enum Palette::Role; // the roles drawn as text need 4.5 : 1, the others 3 : 1
        const QList<Palette::Role> text{secondaryText, destructive, warning, success,
                                        onDestructive};
        for (const Palette::Role role : Palette::allRoles()) {
            const double needed = text.contains(role) ? 4.5 : 3.0;
            QCOMPARE(Palette::requiredContrast(role), needed);
            for (const QColor& surface : Palette::surfaces(role, palette))
                QVERIFY2(Palette::contrast(Palette::colour(role, palette), surface) >= needed,
                         qPrintable(QString::number(int(role)) + " on " + surface.name()));
        }
    }
};

SORVI_TEST_GUI_MAIN(TestPalette)
#include "tst_palette.moc"
