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
    void listsOnlyProcessesInsideTheBundle()
    {
        const QString foo = bundleWithSleep("Foo");
        const QString fooBar = bundleWithSleep("FooBar");
        QVERIFY(!foo.isEmpty() && !fooBar.isEmpty());
        auto first = startProcess(foo + "/Contents/MacOS/main", false);
        auto second = startProcess(foo + "/Contents/MacOS/main", false);
        // Same prefix without the slash: FooBar.app is not inside Foo.app.
        auto other = startProcess(fooBar + "/Contents/MacOS/main", false);
        QVERIFY(first && second && other);

        RunningApps& registry = defaultRunningApps();
        QList<pid_t> expected{pid_t(first->processId()), pid_t(second->processId())};
        std::sort(expected.begin(), expected.end());
        QCOMPARE(pids(registry.instances(foo, "ignored")), expected);
        QCOMPARE(pids(registry.instances(fooBar, QString())),
                 QList<pid_t>{pid_t(other->processId())});
        // A link to the bundle names the same processes: the real location is compared.
        QVERIFY(TreeBuilder::makeLink(foo, TestHome::path() + "/LinkedFoo.app"));
        QCOMPARE(pids(registry.instances(TestHome::path() + "/LinkedFoo.app", QString())),
                 expected);
        QVERIFY(registry.instances(TestHome::path() + "/Nowhere.app", QString()).isEmpty());

        for (auto* process : {first.get(), second.get(), other.get()}) {
            process->kill();
            process->waitForFinished();
        }
        QVERIFY(registry.instances(foo, QString()).isEmpty());
    }

    // SIGTERM only: the process that ignores it is still running once the other one is gone.
    void terminateIsPolite()
    {
        const QString bundle = bundleWithSleep("Polite");
        auto quitter = startProcess(bundle + "/Contents/MacOS/main", false);
        auto stubborn = startProcess(bundle + "/Contents/MacOS/main", true);
        QVERIFY(quitter && stubborn);
        QList<RunningApplicationPtr> instances = defaultRunningApps().instances(bundle, QString());
        QCOMPARE(instances.size(), 2);
        if (instances[0]->pid() != pid_t(quitter->processId()))
            std::swap(instances[0], instances[1]);
        for (const RunningApplicationPtr& instance : instances) {
            QVERIFY(!instance->isTerminated());
            QVERIFY(instance->terminate());
        }
        QVERIFY(quitter->waitForFinished(5000));
        QCOMPARE(quitter->exitStatus(), QProcess::CrashExit);
        AWAIT_UNTIL(instances[0]->isTerminated(), "the quitter to be seen as ended");
        QVERIFY(!instances[1]->isTerminated());
        QCOMPARE(stubborn->state(), QProcess::Running);
        stubborn->kill();
        QVERIFY(stubborn->waitForFinished(5000));
        AWAIT_UNTIL(instances[1]->isTerminated(), "the stubborn one to be seen as ended");
    }
};

SORVI_TEST_MAIN(TestRunningApps)
#include "tst_running_apps.moc"
