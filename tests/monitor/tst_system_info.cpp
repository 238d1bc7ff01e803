#include "monitor/system_info.h"
#include "platform/linux_system_facts.h"
#include "support/test_home.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentMap>

namespace {

bool put(const QTemporaryDir& dir, const QString& path, const QByteArray& content)
{
    const QString full = dir.filePath(path);
    QDir().mkpath(QFileInfo(full).path());
    QFile file(full);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

} // namespace

class TestSystemInfo : public QObject
{
    Q_OBJECT
private slots:
    void sysctlString_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected");
        QTest::newRow("known") << "kernel.ostype"
                               << "Linux";
        QTest::newRow("unknown") << "machdep.cpu.brand_string"
                                 << "";
        QTest::newRow("value with a NUL") << "kernel.nul"
                                          << "abc";
        QTest::newRow("several lines") << "kernel.lines"
                                       << "one\ntwo";
        QTest::newRow("not UTF-8") << "kernel.latin" << QString::fromUtf8("caf\xe9");
        QTest::newRow("slash in the name") << "kernel/ostype"
                                           << "";
        QTest::newRow("dots only") << ".."
                                   << "";
        QTest::newRow("empty part") << "kernel..ostype"
                                    << "";
        QTest::newRow("trailing dot") << "kernel."
                                      << "";
        QTest::newRow("empty") << ""
                               << "";
    }

    void sysctlString()
    {
        QFETCH(QString, name);
        QFETCH(QString, expected);
        QTemporaryDir root;
        QVERIFY(put(root, "proc/sys/kernel/ostype", "Linux\n"));
        QVERIFY(put(root, "proc/sys/kernel/nul", QByteArray("abc\0def\n", 8)));
        QVERIFY(put(root, "proc/sys/kernel/lines", "one\ntwo\n"));
        QVERIFY(put(root, "proc/sys/kernel/latin", "caf\xe9\n"));
        QVERIFY(put(root, "etc/passwd", "secret\n"));
        QCOMPARE(LinuxSystemFacts::sysctlString(root.path(), name), expected);
    }

    void sysctlStringOfTheRunningKernel()
    {
        QCOMPARE(SystemInfo::sysctlString("kernel.ostype"), QStringLiteral("Linux"));
        QCOMPARE(SystemInfo::sysctlString("kernel.no_such_variable"), QString());
    }

    void processorName_data()
    {
        QTest::addColumn<QByteArray>("cpuinfo");
        QTest::addColumn<QByteArray>("deviceTree");
        QTest::addColumn<QString>("expected");
        QTest::newRow("model name")
            << QByteArray(
                   "processor\t: 0\nvendor_id\t: GenuineIntel\nmodel name\t: Intel(R) Core(TM) "
                   "i7 CPU @ 2.00GHz\n\nprocessor\t: 1\nmodel name\t: Other\n")
            << QByteArray() << "Intel(R) Core(TM) i7 CPU @ 2.00GHz";
        QTest::newRow("hardware line")
            << QByteArray("Processor\t: ARMv7\nHardware\t: BCM2835\n") << QByteArray() << "BCM2835";
        QTest::newRow("device tree")
            << QByteArray("processor\t: 0\nBogoMIPS\t: 108.00\n")
            << QByteArray("Raspberry Pi 4 Model B\0", 23) << "Raspberry Pi 4 Model B";
        QTest::newRow("nothing") << QByteArray("garbage") << QByteArray() << "";
    }

    void processorName()
    {
        QFETCH(QByteArray, cpuinfo);
        QFETCH(QByteArray, deviceTree);
        QFETCH(QString, expected);
        QTemporaryDir root;
        QVERIFY(put(root, "proc/cpuinfo", cpuinfo));
        if (!deviceTree.isEmpty()) QVERIFY(put(root, "proc/device-tree/model", deviceTree));
        QCOMPARE(LinuxSystemFacts::processorName(root.path()), expected);
    }

    void machineModel()
    {
        QTemporaryDir root;
        QCOMPARE(LinuxSystemFacts::machineModel(root.path()), QString());
        QVERIFY(put(root, "proc/device-tree/model", QByteArray("Pine64 PinePhone\0", 17)));
        QCOMPARE(LinuxSystemFacts::machineModel(root.path()), QStringLiteral("Pine64 PinePhone"));
        QVERIFY(put(root, "sys/devices/virtual/dmi/id/product_name", "20KHCTO1WW\n"));
        QCOMPARE(LinuxSystemFacts::machineModel(root.path()), QStringLiteral("20KHCTO1WW"));
    }

    void osVersion_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("expected");
        QTest::newRow("quoted")
            << "etc/os-release"
            << QByteArray("NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 "
                          "(bookworm)\"\nID=debian\n")
            << "Debian GNU/Linux 12 (bookworm)";
        QTest::newRow("single quotes")
            << "etc/os-release" << QByteArray("PRETTY_NAME='Arch Linux'\n") << "Arch Linux";
        QTest::newRow("bare") << "etc/os-release" << QByteArray("PRETTY_NAME=Gentoo\n") << "Gentoo";
        QTest::newRow("vendor copy")
            << "usr/lib/os-release" << QByteArray("PRETTY_NAME=\"Fedora 39\"\n") << "Fedora 39";
        QTest::newRow("no pretty name") << "etc/os-release" << QByteArray("NAME=x\n") << "";
        QTest::newRow("missing") << "etc/other" << QByteArray("PRETTY_NAME=x\n") << "";
    }

    void osVersion()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, content);
        QFETCH(QString, expected);
        QTemporaryDir root;
        QVERIFY(put(root, path, content));
        QCOMPARE(LinuxSystemFacts::osVersion(root.path()), expected);
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
        const QString zone = "sys/class/thermal/thermal_zone0/";
        QVERIFY(put(root, zone + "temp", temperature));
        QVERIFY(put(root, zone + "trip_point_0_type", "passive\n"));
        QVERIFY(put(root, zone + "trip_point_0_temp", "80000\n"));
        QVERIFY(put(root, zone + "trip_point_1_type", "hot\n"));
        QVERIFY(put(root, zone + "trip_point_1_temp", "90000\n"));
        QVERIFY(put(root, zone + "trip_point_2_type", "critical\n"));
        QVERIFY(put(root, zone + "trip_point_2_temp", "100000\n"));
        // A zone without trip points says nothing either way.
        QVERIFY(put(root, "sys/class/thermal/thermal_zone1/temp", "150000\n"));
        QCOMPARE(LinuxSystemFacts::thermalState(root.path()), expected);
    }

    void thermalStateWorstZoneWins()
    {
        QTemporaryDir root;
        QCOMPARE(LinuxSystemFacts::thermalState(root.path()), -1);
        for (const auto& [zone, temp] : {std::pair{"0", "30000\n"}, std::pair{"1", "96000\n"}}) {
            const QString dir = QStringLiteral("sys/class/thermal/thermal_zone%1/").arg(zone);
            QVERIFY(put(root, dir + "temp", temp));
            QVERIFY(put(root, dir + "trip_point_0_type", "hot\n"));
            QVERIFY(put(root, dir + "trip_point_0_temp", "95000\n"));
        }
        QCOMPARE(LinuxSystemFacts::thermalState(root.path()), 2);
    }

    void factsAreComputedOnceFromAnyThread()
    {
        QList<int> calls(64);
        const QList<QStringList> seen = QtConcurrent::blockingMapped(calls, [](int) {
            return QStringList{SystemInfo::chip(), SystemInfo::model(), SystemInfo::osVersion()};
        });
        for (const QStringList& facts : seen)
            QCOMPARE(facts, seen.first());
        QCOMPARE(SystemInfo::chip(), LinuxSystemFacts::processorName("/"));
        QCOMPARE(SystemInfo::osVersion(), LinuxSystemFacts::osVersion("/"));
        QVERIFY(!SystemInfo::osVersion().isEmpty());
    }

    void liveFacts()
    {
        QVERIFY(SystemInfo::uptime() > 0);
        const ThermalState state = SystemInfo::thermalState();
        QVERIFY(state >= ThermalState::unknown && state <= ThermalState::critical);
    }
};

SORVI_TEST_MAIN(TestSystemInfo)
#include "tst_system_info.moc"
