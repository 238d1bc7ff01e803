#include "monitor/system_info.h"
#include "platform/linux_system_facts.h"
#include "support/test_home.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtConcurrent/QtConcurrentMap>

namespace {

bool put(const QTemporaryDir& dir, const QString& path, const QByteArray& content)
{
    const QString full = dir.filePath(path);
    QDir().mkpath(QFileInfo(full).path());
    QFile file(full);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

using Files = QMap<QString, QByteArray>;

} // namespace

class TestSystemInfo : public QObject
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
        QTest::newRow("sysctl unknown") << "machdep.cpu.brand_string" << Files{} << "";
        QTest::newRow("sysctl with a NUL") << "kernel.nul" << Files{} << "abc";
        QTest::newRow("sysctl not UTF-8")
            << "kernel.latin" << Files{} << QString::fromUtf8("caf\xe9");
        // Names must not reach files outside proc/sys.
        QTest::newRow("sysctl with a slash") << "kernel/ostype" << Files{} << "";
        QTest::newRow("sysctl dots only") << ".." << Files{} << "";
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
            << Files{{cpuinfo, "processor\t: 0\nBogoMIPS\t: 108.00\n"},
                     {tree, QByteArray("Raspberry Pi 4\0", 15)}}
            << "Raspberry Pi 4";
        QTest::newRow("chip unknown") << "chip" << Files{{cpuinfo, "garbage"}} << "";
        QTest::newRow("model unknown") << "model" << Files{} << "";
        QTest::newRow("model device tree")
            << "model" << Files{{tree, QByteArray("Pine64 PinePhone\0", 17)}} << "Pine64 PinePhone";
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
        QTest::newRow("os unknown") << "os" << Files{{"etc/os-release", "NAME=x\n"}} << "";
    }

    void facts()
    {
        QFETCH(QString, fact);
        QFETCH(Files, files);
        QFETCH(QString, expected);
        QTemporaryDir root;
        files.insert("proc/sys/kernel/ostype", "Linux\n");
        files.insert("proc/sys/kernel/nul", QByteArray("abc\0def\n", 8));
        files.insert("proc/sys/kernel/latin", "caf\xe9\n");
        files.insert("etc/passwd", "secret\n");
        for (auto it = files.cbegin(); it != files.cend(); ++it)
            QVERIFY(put(root, it.key(), it.value()));
        const QString value = fact == "chip"    ? LinuxSystemFacts::processorName(root.path())
                              : fact == "model" ? LinuxSystemFacts::machineModel(root.path())
                              : fact == "os"    ? LinuxSystemFacts::osVersion(root.path())
                                                : LinuxSystemFacts::sysctlString(root.path(), fact);
        QCOMPARE(value, expected);
    }

    void thermalState_data()
    {
        QTest::addColumn<QByteArray>("temperature");
        QTest::addColumn<int>("expected");
        QTest::newRow("cool") << QByteArray("45000\n") << 0;
        QTest::newRow("at the passive point") << QByteArray("80000\n") << 1;
        QTest::newRow("hot") << QByteArray("92000\n") << 2;
        QTest::newRow("critical") << QByteArray("105000\n") << 3;
        QTest::newRow("unreadable") << QByteArray("n/a\n") << -1;
    }

    void thermalState()
    {
        QFETCH(QByteArray, temperature);
        QFETCH(int, expected);
        QTemporaryDir root;
        QCOMPARE(LinuxSystemFacts::thermalState(root.path()), -1);
        const QString zone = "sys/class/thermal/thermal_zone0/";
        QVERIFY(put(root, zone + "temp", temperature));
        const char* types[] = {"passive\n", "hot\n", "critical\n"};
        for (int i = 0; i < 3; ++i) {
            const QString trip = zone + QStringLiteral("trip_point_%1_").arg(i);
            QVERIFY(put(root, trip + "type", types[i]));
            QVERIFY(put(root, trip + "temp", QByteArray::number(80000 + 10000 * i)));
        }
        // A zone without trip points says nothing either way.
        QVERIFY(put(root, "sys/class/thermal/thermal_zone1/temp", "150000\n"));
        QCOMPARE(LinuxSystemFacts::thermalState(root.path()), expected);
        // The worst zone wins.
        QVERIFY(put(root, "sys/class/thermal/thermal_zone2/temp", "96000\n"));
        QVERIFY(put(root, "sys/class/thermal/thermal_zone2/trip_point_0_type", "hot\n"));
        QVERIFY(put(root, "sys/class/thermal/thermal_zone2/trip_point_0_temp", "95000\n"));
        QCOMPARE(LinuxSystemFacts::thermalState(root.path()), std::max(expected, 2));
    }

    void runningSystem()
    {
        QCOMPARE(SystemInfo::sysctlString("kernel.ostype"), QStringLiteral("Linux"));
        // The facts are worked out once, whichever thread asks first.
        const QList<QStringList> seen = QtConcurrent::blockingMapped(QList<int>(64), [](int) {
            return QStringList{SystemInfo::chip(), SystemInfo::model(), SystemInfo::osVersion()};
        });
        for (const QStringList& facts : seen)
            QCOMPARE(facts, seen.first());
        QCOMPARE(SystemInfo::chip(), LinuxSystemFacts::processorName("/"));
        QVERIFY(!SystemInfo::osVersion().isEmpty());
        QVERIFY(SystemInfo::uptime() > 0);
        const ThermalState state = SystemInfo::thermalState();
        QVERIFY(state >= ThermalState::unknown && state <= ThermalState::critical);
    }
};

SORVI_TEST_MAIN(TestSystemInfo)
#include "tst_system_info.moc"
