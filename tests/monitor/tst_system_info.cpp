#include "monitor/system_info.h"
#include "platform/system_facts.h"
#include "support/test_home.h"

#include <QtConcurrent/QtConcurrentMap>

class TestSystemInfo : public QObject
{
    Q_OBJECT
private slots:
    void runningSystem()
    {
        QCOMPARE(SystemInfo::sysctlString("kernel.ostype"), QStringLiteral("Linux"));
        // The facts are worked out once, whichever thread asks first.
        const QList<QStringList> seen = QtConcurrent::blockingMapped(QList<int>(64), [](int) {
            return QStringList{SystemInfo::chip(), SystemInfo::model(), SystemInfo::osVersion()};
        });
        for (const QStringList& facts : seen)
            QCOMPARE(facts, seen.first());
        QCOMPARE(SystemInfo::chip(), SystemFacts::processorName());
        QVERIFY(!SystemInfo::osVersion().isEmpty());
        QVERIFY(SystemInfo::uptime() > 0);
        const ThermalState state = SystemInfo::thermalState();
        QVERIFY(state >= ThermalState::unknown && state <= ThermalState::critical);
    }
};

SORVI_TEST_MAIN(TestSystemInfo)
#include "tst_system_info.moc"
