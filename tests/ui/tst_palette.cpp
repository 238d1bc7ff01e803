#include "support/test_home.h"
#include "ui/palette.h"

#include <QStyle>
#include <QStyleFactory>
#include <memory>

namespace {

// A palette of `window` and `base` with text that contrasts with them, and `highlight`.
QPalette theme(const QColor& window, const QColor& base, const QColor& highlight)
{
    QPalette palette(window);
    const QColor text = window.lightnessF() < 0.5 ? QColor(0xee, 0xee, 0xee) : QColor(Qt::black);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(role, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::Highlight, highlight);
    return palette;
}

} // namespace

class TestPalette : public QObject
{
    Q_OBJECT

private slots:
    void everyRoleMeetsItsContrast_data();
    void everyRoleMeetsItsContrast();
};

void TestPalette::everyRoleMeetsItsContrast_data()
{
    QTest::addColumn<QPalette>("palette");
    QTest::addColumn<int>("role");
    QTest::addColumn<bool>("dark");
    const std::unique_ptr<QStyle> fusion(QStyleFactory::create(QStringLiteral("Fusion")));
    const QList<std::tuple<const char*, QPalette, bool>> themes{
        {"Fusion", fusion->standardPalette(), false},
        {"white, pale highlight", theme(Qt::white, Qt::white, QColor(0x99, 0xc9, 0xef)), false},
        {"grey", theme(QColor(0xd6, 0xd6, 0xd6), Qt::white, QColor(0x1b, 0x3f, 0x6e)), false},
        {"dark", theme(QColor(0x35, 0x35, 0x35), QColor(0x2a, 0x2a, 0x2a), {0x2a, 0x82, 0xda}),
         true},
        {"black", theme(QColor(0x12, 0x12, 0x12), Qt::black, QColor(0x1b, 0x3f, 0x6e)), true},
    };
    for (const auto& [name, palette, dark] : themes)
        for (Palette::Role role : Palette::allRoles())
            QTest::addRow("%s, role %d", name, int(role)) << palette << int(role) << dark;
}

void TestPalette::everyRoleMeetsItsContrast()
{
    QFETCH(QPalette, palette);
    QFETCH(int, role);
    QFETCH(bool, dark);
    // The WCAG formula itself, on two known pairs.
    QCOMPARE(qRound(Palette::contrast(Qt::white, Qt::black) * 10), 210);
    QCOMPARE(qRound(Palette::contrast(QColor(0x76, 0x76, 0x76), Qt::white) * 100), 454);
    QCOMPARE(Palette::isDark(palette), dark);
    const auto r = Palette::Role(role);
    const QColor colour = Palette::colour(r, palette);
    const QList<QColor> surfaces = Palette::surfaces(r, palette);
    QVERIFY(!surfaces.isEmpty());
    for (const QColor& surface : surfaces) {
        const double ratio = Palette::contrast(colour, surface);
        QVERIFY2(ratio >= Palette::requiredContrast(r),
                 qPrintable(QStringLiteral("%1 on %2: %3 : 1")
                                .arg(colour.name(), surface.name())
                                .arg(ratio, 0, 'f', 2)));
    }
}

SORVI_TEST_GUI_MAIN(TestPalette)
#include "tst_palette.moc"
