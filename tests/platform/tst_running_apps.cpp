#include "platform/running_apps.h"
#include "support/test_home.h"
#include "support/tree_builder.h"
#include "uninstaller/bundle_fixture.h"

#include <QProcess>
#include <memory>

namespace {

QString bundleWithSleep(const QString& name)
{
    BundleFixture::BundleShape shape;
    shape.identifier = QStringLiteral("com.example.") + name;
    shape.withExecutable = true;
    const QString folder = TestHome::path() + QStringLiteral("/Applications");
    TreeBuilder::makeDir(folder);
    return BundleFixture::makeBundle(folder, name + QStringLiteral(".app"), shape);
}

using BundleFixture::startProcess;

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
        const QString foo = bundleWithSleep(QStringLiteral("Foo"));
        const QString fooBar = bundleWithSleep(QStringLiteral("FooBar"));
        QVERIFY(!foo.isEmpty() && !fooBar.isEmpty());
        auto first = startProcess(foo + QStringLiteral("/Contents/MacOS/main"), false);
        auto second = startProcess(foo + QStringLiteral("/Contents/MacOS/main"), false);
        // Same prefix without the slash: FooBar.app is not inside Foo.app.
        auto other = startProcess(fooBar + QStringLiteral("/Contents/MacOS/main"), false);
        QVERIFY(first && second && other);

        RunningApps& registry = defaultRunningApps();
        QList<pid_t> expected{pid_t(first->processId()), pid_t(second->processId())};
        std::sort(expected.begin(), expected.end());
        QCOMPARE(pids(registry.instances(foo, QStringLiteral("ignored"))), expected);
        QCOMPARE(pids(registry.instances(fooBar, QString())),
                 QList<pid_t>{pid_t(other->processId())});

        // A link to the bundle names the same processes: the real location is compared.
        const QString link = TestHome::path() + QStringLiteral("/LinkedFoo.app");
        QVERIFY(TreeBuilder::makeLink(foo, link));
        QCOMPARE(pids(registry.instances(link, QString())), expected);

        for (auto* process : {first.get(), second.get(), other.get()}) {
            process->kill();
            process->waitForFinished();
        }
        QVERIFY(registry.instances(foo, QString()).isEmpty());
    }

    void terminateIsPolite()
    {
        const QString bundle = bundleWithSleep(QStringLiteral("Polite"));
        auto quitter = startProcess(bundle + QStringLiteral("/Contents/MacOS/main"), false);
        auto stubborn = startProcess(bundle + QStringLiteral("/Contents/MacOS/main"), true);
        QVERIFY(quitter && stubborn);

        const pid_t quitterPid = pid_t(quitter->processId());
        const QList<RunningApplicationPtr> instances =
            defaultRunningApps().instances(bundle, QString());
        QCOMPARE(instances.size(), 2);
        const RunningApplicationPtr quit =
            instances.value(instances[0]->pid() == quitterPid ? 0 : 1);
        const RunningApplicationPtr kept =
            instances.value(instances[0]->pid() == quitterPid ? 1 : 0);
        for (const RunningApplicationPtr& instance : instances) {
            QVERIFY(!instance->isTerminated());
            QVERIFY(instance->terminate());
        }
        QVERIFY(quitter->waitForFinished(5000));
        QCOMPARE(quitter->exitStatus(), QProcess::CrashExit);
        QVERIFY(QTest::qWaitFor([&] { return quit->isTerminated(); }, 5000));
        // SIGTERM only: the process that ignores it is still there.
        QTest::qWait(200);
        QVERIFY(!kept->isTerminated());
        QCOMPARE(stubborn->state(), QProcess::Running);
        stubborn->kill();
        QVERIFY(stubborn->waitForFinished(5000));
        QVERIFY(QTest::qWaitFor([&] { return kept->isTerminated(); }, 5000));
    }

    void missingBundleHasNoInstances()
    {
        QVERIFY(defaultRunningApps()
                    .instances(TestHome::path() + QStringLiteral("/Nowhere.app"), QString())
                    .isEmpty());
    }
};

SORVI_TEST_MAIN(TestRunningApps)
#include "tst_running_apps.moc"
