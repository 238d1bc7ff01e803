#include "monitor/system_info.h"
#include "platform/system_facts.h"
#include "support/test_home.h"

#include <QtTest>

class TestSystemInfo : public QObject
{
    Q_OBJECT
private slots:
    // This kernel has none of the first-choice names: the facts come from its own files.
    void runningSystem()
    {
        QCOMPARE(SystemInfo::chip(), SystemFacts::processorName());
        QCOMPARE(SystemInfo::model(), SystemFacts::machineModel());
        QVERIFY(!SystemInfo::osVersion().isEmpty() && SystemInfo::uptime() > 0);
    }
};

SORVI_TEST_MAIN(TestSystemInfo)
#include "tst_system_info.moc"
