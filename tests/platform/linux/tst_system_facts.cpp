#include "platform/linux/linux_system_facts.h"
#include "support/rows.h"
#include "support/test_home.h"
#include "support/tree_builder.h"

using TreeBuilder::putFile;

class TestSystemFacts : public QObject
{
    Q_OBJECT
private slots:
    // Unknown facts are sysctl names. files: "|"-separated path=content; "zoneN=T": thermal zone
    // N at T with trip points at 80, 90 and 100 °C; "bareN=T": one without.
    void facts_data()
    {
        Rows::add(
            {"fact", "files", "expected"},
            {"sysctl;kernel.ostype;;Linux", "sysctl with a NUL;kernel.nul;;abc",
             "sysctl with a slash must stay below proc/sys;kernel/ostype;;",
             "chip, first wins;chip;proc/cpuinfo=model name\t: i7\n\nmodel name\t: B\n;i7",
             "model;model;sys/devices/virtual/dmi/id/product_name=20KHCTO1WW\n;20KHCTO1WW",
             "os quoted;os;etc/os-release=NAME=\"Debian\"\nPRETTY_NAME=\"Debian 12\"\n;Debian 12",
             "thermal without zones;thermal;;-1",
             "thermal at the passive point;thermal;zone0=80000\n;1",
             "thermal critical;thermal;zone0=105000\n;3",
             "worst zone, trip-less ignored;thermal;zone0=45000|bare1=150000|zone2=92000;2"});
    }
    void facts()
    {
        QFETCH(QString, fact);
        QFETCH(QString, files);
        QFETCH(QString, expected);
        QTemporaryDir root;
        files += "|proc/sys/kernel/ostype=Linux\n|proc/sys/kernel/nul=abc\\0def\n";
        for (const QString& file : files.split(u'|', Qt::SkipEmptyParts)) {
            const QString name = file.section(u'=', 0, 0);
            const bool zone = name.startsWith("zone") || name.startsWith("bare");
            const QString path =
                root.filePath(zone ? "sys/class/thermal/thermal_zone" + name.mid(4) : name);
            const QByteArray content = file.section(u'=', 1).replace("\\0", QChar(0)).toUtf8();
            QVERIFY(putFile(zone ? path + "/temp" : path, content));
            for (int i = 0; name.startsWith("zone") && i < 3; ++i) {
                const QString trip = path + QStringLiteral("/trip_point_%1_").arg(i);
                QVERIFY(putFile(trip + "type", QList<QByteArray>{"passive", "hot", "critical"}[i]));
                QVERIFY(putFile(trip + "temp", QByteArray::number(80000 + 10000 * i)));
            }
        }
        const QString r = root.path();
        QCOMPARE(fact == "chip"      ? LinuxSystemFacts::processorName(r)
                 : fact == "model"   ? LinuxSystemFacts::machineModel(r)
                 : fact == "os"      ? LinuxSystemFacts::osVersion(r)
                 : fact == "thermal" ? QString::number(LinuxSystemFacts::thermalState(r))
                                     : LinuxSystemFacts::sysctlString(r, fact),
                 expected);
    }
};

SORVI_TEST_MAIN(TestSystemFacts)
#include "tst_system_facts.moc"
