#include "platform/running_apps.h"
#include "support/await.h"
#include "support/test_home.h"
#include "support/tree_builder.h"
#include "uninstaller/bundle_fixture.h"

#include <QProcess>
#include <memory>

using BundleFixture::startProcess;

namespace {

QString bundleWithSleep(const QString& name)
{
    BundleFixture::BundleShape shape;
    shape.identifier = "com.example." + name;
    shape.withExecutable = true;
    TreeBuilder::makeDir(TestHome::path() + "/Applications");
    return BundleFixture::makeBundle(TestHome::path() + "/Applications", name + ".app", shape);
}

QList<pid_t> pids(const QList<RunningApplicationPtr>& instances)
{
    QList<pid_t> list;
    for (const RunningApplicationPtr& instance : instances)
        list.append(instance->pid());
    std::sort(list.begin(), list.end());
    return list;
}

} // namespace

class TestRunningApps : public QObject
{
    Q_OBJECT
private slots:
    // Instances are the processes inside the bundle's real location, asked to quit with SIGTERM
    // only: the one that ignores it is still running once the other is gone.
    void findsAndPolitelyQuitsTheBundlesProcesses()
    {
        const QString foo = bundleWithSleep("Foo");
        const QString fooBar = bundleWithSleep("FooBar");
        QVERIFY(!foo.isEmpty() && !fooBar.isEmpty());
        auto quitter = startProcess(foo + "/Contents/MacOS/main", false);
        auto stubborn = startProcess(foo + "/Contents/MacOS/main", true);
        // Same prefix without the slash: FooBar.app is not inside Foo.app.
        auto other = startProcess(fooBar + "/Contents/MacOS/main", false);
        QVERIFY(quitter && stubborn && other);
        RunningApps& registry = defaultRunningApps();
        QList<RunningApplicationPtr> instances = registry.instances(foo, "ignored");
        QList<pid_t> expected{pid_t(quitter->processId()), pid_t(stubborn->processId())};
        std::sort(expected.begin(), expected.end());
        QCOMPARE(pids(instances), expected);
        QCOMPARE(pids(registry.instances(fooBar, {})), QList<pid_t>{pid_t(other->processId())});
        QVERIFY(TreeBuilder::makeLink(foo, TestHome::path() + "/LinkedFoo.app"));
        QCOMPARE(pids(registry.instances(TestHome::path() + "/LinkedFoo.app", {})), expected);
        QVERIFY(registry.instances(TestHome::path() + "/Nowhere.app", {}).isEmpty());

        if (instances[0]->pid() != pid_t(quitter->processId()))
            std::swap(instances[0], instances[1]);
        for (const RunningApplicationPtr& instance : instances)
            QVERIFY(!instance->isTerminated() && instance->terminate());
        QVERIFY(quitter->waitForFinished(5000));
        QCOMPARE(quitter->exitStatus(), QProcess::CrashExit);
        AWAIT_UNTIL(instances[0]->isTerminated(), "the quitter to be seen as ended");
        QVERIFY(!instances[1]->isTerminated());
        QCOMPARE(stubborn->state(), QProcess::Running);
        for (auto* process : {stubborn.get(), other.get()}) {
            process->kill();
            QVERIFY(process->waitForFinished(5000));
        }
        AWAIT_UNTIL(instances[1]->isTerminated(), "the stubborn one to be seen as ended");
        QVERIFY(registry.instances(foo, {}).isEmpty());
    }
};

SORVI_TEST_MAIN(TestRunningApps)
#include "tst_running_apps.moc"
