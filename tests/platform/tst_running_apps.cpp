#include "platform/running_apps.h"
#include "support/await.h"
#include "support/bundle_fixture.h"
#include "support/rows.h"
#include "support/test_home.h"
#include "support/tree_builder.h"

#include <QProcess>
#include <memory>

using BundleFixture::startProcess;

namespace {

QString bundleWithSleep(const QString& name, const QString& folder = TestHome::path() + "/Apps")
{
    BundleFixture::BundleShape shape;
    shape.identifier = "com.example." + name;
    shape.withExecutable = true;
    return BundleFixture::makeBundle(folder, name.contains(u'.') ? name : name + ".app", shape);
}

// The record the catalogue makes of a bundle: its location as it is now.
SourcedApplication listed(const QString& location)
{
    SourcedApplication app;
    app.location = location;
    app.identity = LocationIdentity::of(location);
    return app;
}

QList<pid_t> pids(const std::optional<QList<RunningApplicationPtr>>& instances)
{
    QList<pid_t> list;
    for (const RunningApplicationPtr& instance : instances.value_or(QList<RunningApplicationPtr>()))
        list.append(instance->pid());
    std::sort(list.begin(), list.end());
    return list;
}

} // namespace

class TestRunningApps : public QObject
{
    Q_OBJECT
private slots:
    // Instances are the processes inside the bundle's real location: Foo.app-copy, the same
    // prefix without the slash, is not inside Foo.app. (tst_uninstaller_model quits them, SIGTERM
    // only.)
    void findsTheProcessesInsideTheBundle()
    {
        const QString foo = bundleWithSleep("Foo");
        const QString fooBar = bundleWithSleep("Foo.app-copy");
        QVERIFY(!foo.isEmpty() && !fooBar.isEmpty());
        auto first = startProcess(foo + "/Contents/MacOS/main", false);
        auto second = startProcess(foo + "/Contents/MacOS/main", true);
        auto other = startProcess(fooBar + "/Contents/MacOS/main", false);
        QVERIFY(first && second && other);
        RunningApps& registry = defaultRunningApps();
        QList<pid_t> expected{pid_t(first->processId()), pid_t(second->processId())};
        std::sort(expected.begin(), expected.end());
        QCOMPARE(pids(registry.instances(listed(foo))), expected);
        QCOMPARE(pids(registry.instances(listed(fooBar))), QList<pid_t>{pid_t(other->processId())});
        QCOMPARE(registry.instances(listed(TestHome::path() + "/Nowhere.app")), std::nullopt);
        for (auto* process : {first.get(), second.get(), other.get()}) {
            process->kill();
            QVERIFY(process->waitForFinished(5000));
        }
    }

    // A location replaced since it was listed leads elsewhere: nothing found through it may be
    // signalled, though a process runs there (a bystander) and the application's own still runs.
    void replacedLocationIsRefused_data()
    {
        Rows::add({"change"}, {"now a link to another program's folder;link",
                               "another folder of the same name;folder",
                               "a link when it was listed;listedLink"});
    }
    void replacedLocationIsRefused()
    {
        QFETCH(QString, change);
        const QString folder = TestHome::path() + "/Replaced-" + change;
        const QString app = bundleWithSleep("App", folder);
        const QString bystanderBundle = bundleWithSleep("Bystander", folder + "/elsewhere");
        auto own = startProcess(app + "/Contents/MacOS/main", false);
        auto bystander = startProcess(bystanderBundle + "/Contents/MacOS/main", false);
        QVERIFY(own && bystander);
        SourcedApplication record = listed(app);
        QVERIFY(QDir().rename(app, folder + "/moved.app"));
        if (change == u"folder") {
            QVERIFY(QDir().rename(bystanderBundle, app));
        } else {
            QVERIFY(TreeBuilder::makeLink(bystanderBundle, app));
            if (change == u"listedLink") record = listed(app);
        }
        QCOMPARE(defaultRunningApps().instances(record), std::nullopt);
        for (auto* process : {own.get(), bystander.get()}) {
            QCOMPARE(process->state(), QProcess::Running);
            process->kill();
            QVERIFY(process->waitForFinished(5000));
        }
    }
};

SORVI_TEST_MAIN(TestRunningApps)
#include "tst_running_apps.moc"
