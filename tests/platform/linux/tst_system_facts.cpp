#include "platform/linux/linux_system_facts.h"
#include "support/test_home.h"
#include "support/tree_builder.h"

#include <QTemporaryDir>

namespace {

using Files = QMap<QString, QByteArray>;

// One thermal zone at `temperature` with passive, hot and critical trip points at 80, 90 and
// 100 °C.
Files zone(int index, const QByteArray& temperature)
{
    const QString dir = QStringLiteral("sys/class/thermal/thermal_zone%1/").arg(index);
    Files files{{dir + "temp", temperature}};
    const char* types[] = {"passive\n", "hot\n", "critical\n"};
    for (int i = 0; i < 3; ++i) {
        const QString trip = dir + QStringLiteral("trip_point_%1_").arg(i);
        files.insert(trip + "type", types[i]);
        files.insert(trip + "temp", QByteArray::number(80000 + 10000 * i));
    }
    return files;
}

} // namespace

class TestSystemFacts : public QObject
{
    Q_OBJECT
private slots:
    void facts_data()
    {
        // "fact" names the reading; anything else is a sysctl name.
        QTest::addColumn<QString>("fact");
        QTest::addColumn<Files>("files");
        QTest::addColumn<QString>("expected");
        QTest::newRow("sysctl") << "kernel.ostype" << Files{} << "Linux";
        QTest::newRow("sysctl with a NUL") << "kernel.nul" << Files{} << "abc";
        // Names must not reach other files than those below proc/sys.
        QTest::newRow("sysctl with a slash") << "kernel/ostype" << Files{} << "";
        QTest::newRow("sysctl empty part") << "kernel..ostype" << Files{} << "";
        const QString cpuinfo = "proc/cpuinfo", tree = "proc/device-tree/model";
        QTest::newRow("chip model name")
            << "chip"
            << Files{{cpuinfo, "processor\t: 0\nvendor_id\t: Intel\nmodel name\t: Intel(R) i7\n"
                               "\nprocessor\t: 1\nmodel name\t: Other\n"}}
            << "Intel(R) i7";
        QTest::newRow("chip hardware line")
            << "chip" << Files{{cpuinfo, "Processor\t: ARMv7\nHardware\t: BCM2835\n"}} << "BCM2835";
        QTest::newRow("chip device tree")
            << "chip"
            << Files{{cpuinfo, "processor\t: 0\n"}, {tree, QByteArray("Raspberry Pi 4\0", 15)}}
            << "Raspberry Pi 4";
        QTest::newRow("model product name first")
            << "model"
            << Files{{tree, "Pine64"}, {"sys/devices/virtual/dmi/id/product_name", "20KHCTO1WW\n"}}
            << "20KHCTO1WW";
        QTest::newRow("os quoted")
            << "os"
            << Files{{"etc/os-release", "NAME=\"Debian\"\nPRETTY_NAME=\"Debian 12\"\nID=x\n"}}
            << "Debian 12";
        QTest::newRow("os single quotes")
            << "os" << Files{{"etc/os-release", "PRETTY_NAME='Arch Linux'\n"}} << "Arch Linux";
        QTest::newRow("os vendor copy")
            << "os" << Files{{"usr/lib/os-release", "PRETTY_NAME=Fedora\n"}} << "Fedora";
        QTest::newRow("thermal without zones") << "thermal" << Files{} << "-1";
        QTest::newRow("thermal at the passive point") << "thermal" << zone(0, "80000\n") << "1";
        QTest::newRow("thermal critical") << "thermal" << zone(0, "105000\n") << "3";
        // A zone without trip points says nothing either way; the worst zone wins.
        Files zones = zone(0, "45000\n");
        zones.insert("sys/class/thermal/thermal_zone1/temp", "150000\n");
        zones.insert(zone(2, "92000\n"));
        QTest::newRow("thermal worst zone") << "thermal" << zones << "2";
    }
    void facts()
    {
        QFETCH(QString, fact);
        QFETCH(Files, files);
        QFETCH(QString, expected);
        QTemporaryDir root;
        files.insert("proc/sys/kernel/ostype", "Linux\n");
        files.insert("proc/sys/kernel/nul", QByteArray("abc\0def\n", 8));
        for (auto it = files.cbegin(); it != files.cend(); ++it)
            QVERIFY(TreeBuilder::putFile(root.filePath(it.key()), it.value()));
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
