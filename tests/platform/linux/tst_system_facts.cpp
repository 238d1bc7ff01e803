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
    // N at T with trip points at 80, 90 and 100 °C.
    void facts_data()
    {
        Rows::add(
            {"fact", "files", "expected"},
            {"sysctl;kernel.ostype;;Linux", "sysctl with a NUL;kernel.nul;;abc",
             "sysctl with a slash must stay below proc/sys;kernel/ostype;;",
             "chip model name;chip;proc/cpuinfo=processor\t: 0\nmodel name\t: Intel(R) i7\n\n"
             "processor\t: 1\nmodel name\t: Other\n;Intel(R) i7",
             "chip hardware line;chip;proc/cpuinfo=Processor\t: ARMv7\nHardware\t: "
             "BCM2835\n;BCM2835",
             "chip device tree;chip;proc/cpuinfo=processor\t: 0\n|"
             "proc/device-tree/model=Raspberry Pi 4\\0;Raspberry Pi 4",
             "model product name first;model;proc/device-tree/model=Pine64|"
             "sys/devices/virtual/dmi/id/product_name=20KHCTO1WW\n;20KHCTO1WW",
             "os quoted;os;etc/os-release=NAME=\"Debian\"\nPRETTY_NAME=\"Debian 12\"\n;Debian 12",
             "os single quotes;os;etc/os-release=PRETTY_NAME='Arch Linux'\n;Arch Linux",
             "os vendor copy;os;usr/lib/os-release=PRETTY_NAME=Fedora\n;Fedora",
             "thermal without zones;thermal;;-1",
             "thermal at the passive point;thermal;zone0=80000\n;1",
             "thermal critical;thermal;zone0=105000\n;3",
             "thermal: worst zone wins, one without trip points says "
             "nothing;thermal;zone0=45000|sys/class/thermal/thermal_zone1/temp=150000|"
             "zone2=92000;2"});
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
            const bool zone = name.startsWith("zone");
            const QString path = root.filePath(zone ? "sys/class/thermal/thermal_" + name : name);
            const QByteArray content = file.section(u'=', 1).replace("\\0", QChar(0)).toUtf8();
            QVERIFY(putFile(zone ? path + "/temp" : path, content));
            for (int i = 0; zone && i < 3; ++i) {
                const QString trip = path + QStringLiteral("/trip_point_%1_").arg(i);
                QVERIFY(putFile(trip + "type", QList<QByteArray>{"passive", "hot", "critical"}[i]));
                QVERIFY(putFile(trip + "temp", QByteArray::number(80000 + 10000 * i)));
            }
        }
        const QString r = root.path();
        const QString value = fact == "chip"    ? LinuxSystemFacts::processorName(r)
                              : fact == "model" ? LinuxSystemFacts::machineModel(r)
                              : fact == "os"    ? LinuxSystemFacts::osVersion(r)
                              : fact == "thermal"
                                  ? QString::number(LinuxSystemFacts::thermalState(r))
                                  : LinuxSystemFacts::sysctlString(r, fact);
        QCOMPARE(value, expected);
    }
};

SORVI_TEST_MAIN(TestSystemFacts)
#include "tst_system_facts.moc"
