#include "core/scanner.h"
#include "support/test_home.h"
#include "support/tree_builder.h"

#include <QCoro/QCoroTask>

class TestScanner : public QObject
{
    Q_OBJECT
private slots:
    void smoke()
    {
        const Category& caches = *Category::find("caches");
        QVERIFY(TreeBuilder::writeFile(caches.roots[0] + "/app/a", 10000));
        QVERIFY(TreeBuilder::writeFile(caches.roots[0] + "/.DS_Store", 10000));
        const ScanResult result = QCoro::waitFor(Scanner::scan(caches));
        QCOMPARE(result.items.size(), 1);
        QCOMPARE(result.items[0].name(), QStringLiteral("app"));
    }
};

SORVI_TEST_MAIN(TestScanner)
#include "tst_scanner.moc"
