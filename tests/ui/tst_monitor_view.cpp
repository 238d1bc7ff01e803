#include "monitor/scripted_source.h"
#include "support/test_home.h"
#include "ui/monitor_text.h"
#include "ui/monitor_view.h"
#include "ui/monitor_widgets.h"
#include "ui/process_panel.h"
#include "ui/process_table_model.h"
#include "window_fixture.h"

#include <QProcess>
#include <QTableView>
#include <functional>

using namespace std::chrono_literals;

namespace {

constexpr quint64 kGiB = 1024ull * 1024 * 1024;

// (pid, name, CPU ticks per sample) of the processes of sample i.
using Processes = QList<std::tuple<qint32, QByteArray, quint64>>;
using Script = std::function<Processes(int)>;

Frame frameOf(int i, const Script& processes)
{
    Frame frame;
    const quint32 step = quint32(i) * 100;
    // Core 0 is half busy, core 1 a quarter.
    frame.ticks = QList<ProcessorTicks>{{step / 2, 0, step / 2, 0}, {step / 4, 0, step * 3 / 4, 0}};
    frame.physical = 8 * kGiB;
    frame.pages = VmPageCounts{262144, 0, 131072, 0, 65536}; // 1 GiB app, 512 MiB wired
    frame.swap = SwapUsage{2 * kGiB, 512ull * 1024 * 1024};
    frame.pressure = 1;
    frame.interfaces = QList<InterfaceCounters>{{"eth0", false, quint64(i) * 2000, 0}};
    frame.power = QList<QVariant>();
    frame.load = std::array<double, 3>{1.5, 0.25, 2};
    frame.clock = quint64(i + 1) * 1'000'000'000;
    QList<ProcessUsage> usages;
    for (const auto& [pid, name, ticks] : processes ? processes(i) : Processes())
        usages.append({pid, ticks * quint64(i), 0, 1, name, std::nullopt});
    frame.processes = usages;
    return frame;
}

/// A model on a scripted source and its screen.
struct Rig
{
    explicit Rig(const Script& script = {}, std::chrono::milliseconds interval = 40ms)
        : model(std::make_unique<ScriptedSource>([script](int i) { return frameOf(i, script); }),
                interval),
          view(std::make_unique<MonitorView>(&model))
    {
        QObject::connect(&model, &MonitorModel::samplingChanged, [this](bool on) { loops += on; });
        QObject::connect(&model, &MonitorModel::samplingLoopFinished, [this] { --loops; });
        view->resize(1000, 900);
    }
    // A stopped loop ends at its next check; waiting for it leaves no coroutine suspended when
    // the program exits.
    ~Rig()
    {
        view.reset();
        Await::until([this] { return loops == 0; }, "the sampling loop to end");
    }
    bool samples(int count)
    {
        view->show();
        return Await::until([&] { return model.history().size() >= count; }, "the samples");
    }
    const StatCard& card(const char* name) const
    {
        return view->findChild<StatCardWidget*>(QLatin1String(name))->card();
    }
    QString text(const char* name) const
    {
        return view->findChild<TabularLabel*>(QLatin1String(name))->text();
    }

    MonitorModel model;
    std::unique_ptr<MonitorView> view;
    int loops = 0;
};

} // namespace

class TestMonitorView : public QObject
{
    Q_OBJECT

private slots:
    void firstSamples();
    void selectionFollowsPid();
    void quitNamesSelectedProcess_data();
    void quitNamesSelectedProcess();
};

void TestMonitorView::firstSamples()
{
    Rig rig({}, 50ms);
    QCOMPARE(rig.card("cpuCard").value, QStringLiteral("0%"));
    QCOMPARE(rig.card("networkCard").detail, QStringLiteral("↑ ") + formatBytes(0) + "/s");
    // A desktop: no battery card.
    QVERIFY(rig.view->findChild<QWidget*>(QStringLiteral("batteryCard"))->isHidden());
    QWidget* collecting = rig.view->findChild<QWidget*>(QStringLiteral("collectingIndicator"));
    QList<bool> collectingAt; // index: history size - 1
    QObject::connect(&rig.model, &MonitorModel::historyChanged, rig.view.get(), [&] {
        if (collectingAt.size() < 3) collectingAt.append(collecting->isVisible());
    });
    QVERIFY(!rig.model.isSampling());
    QVERIFY(rig.samples(3));
    QCOMPARE(collectingAt, (QList<bool>{true, false, false}));
    QCOMPARE(rig.card("cpuCard").value, QStringLiteral("38%"));
    QCOMPARE(rig.card("cpuCard").detail, QStringLiteral("Người dùng 38% · Hệ thống 0%"));
    QCOMPARE(rig.card("networkCard").value, "↓ " + formatBytes(2000) + "/s");
    QCOMPARE(rig.card("memoryCard").value,
             MonitorText::memory(1536ull << 20) + " / " + MonitorText::memory(8 * kGiB));
    QCOMPARE(rig.text("coreValue-1"), QStringLiteral("25%"));
    QCOMPARE(rig.text("infoLoad"), QStringLiteral("1.50  0.25  2.00"));
    QCOMPARE(rig.text("infoSwap"),
             MonitorText::memory(512ull * 1024 * 1024) + " / " + MonitorText::memory(2 * kGiB));
    rig.view->hide();
    QVERIFY(!rig.model.isSampling());
    rig.view->show();
    rig.view.reset(); // deleted while shown
    QVERIFY(!rig.model.isSampling());
}

void TestMonitorView::selectionFollowsPid()
{
    // Process 7 swaps places with the others from sample to sample and leaves the table in
    // samples 6 and 7.
    Rig rig([](int i) {
        Processes list{{5, "a", 30}, {6, "b", 20}};
        if (i != 6 && i != 7) list.append({7, "seven", quint64(i % 2 ? 40 : 10)});
        return list;
    });
    QVERIFY(rig.samples(1));
    auto* table = rig.view->findChild<QTableView*>(QStringLiteral("processTable"));
    auto* rows = static_cast<ProcessTableModel*>(table->model());
    table->selectRow(rows->rowOfPid(7));
    QSet<int> rowsSeen;
    int absent = 0;
    QObject::connect(&rig.model, &MonitorModel::topProcessesChanged, rig.view.get(), [&] {
        const QModelIndexList selected = table->selectionModel()->selectedRows();
        const int row = rows->rowOfPid(7);
        absent += row < 0;
        if (row >= 0) rowsSeen.insert(row);
        QCOMPARE(selected.size(), row < 0 ? 0 : 1);
        if (row >= 0) QCOMPARE(selected.first().row(), row);
        QCOMPARE(rig.view->processes()->selectedPid(), 7);
    });
    AWAIT_UNTIL(rig.model.history().size() >= 9, "nine samples");
    QVERIFY(absent > 0);
    QVERIFY2(rowsSeen.size() >= 2, "the selected process never moved");
}

void TestMonitorView::quitNamesSelectedProcess_data()
{
    QTest::addColumn<bool>("goneFirst");
    QTest::newRow("running") << false;
    QTest::newRow("gone before the confirmation") << true;
}

void TestMonitorView::quitNamesSelectedProcess()
{
    QFETCH(bool, goneFirst);
    QProcess sleeper;
    sleeper.start(QStringLiteral("sleep"), {QStringLiteral("600")});
    QVERIFY(sleeper.waitForStarted(10000));
    const auto pid = qint32(sleeper.processId());
    Rig rig([pid](int) { return Processes{{pid, "sleeper&<b>", 1}}; }, 100ms);
    QVERIFY(rig.samples(1));
    auto* quit = rig.view->findChild<QPushButton*>(QStringLiteral("quitProcessButton"));
    QVERIFY(!quit->isEnabled());
    rig.view->findChild<QTableView*>(QStringLiteral("processTable"))->selectRow(0);
    quit->click();
    QMessageBox* dialog = shownBox(*rig.view, QStringLiteral("quitConfirmation"));
    QVERIFY(dialog);
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Thoát sleeper&<b>?"));
    QCOMPARE(dialog->informativeText(),
             QStringLiteral("Dữ liệu chưa lưu trong tiến trình này có thể bị mất."));
    QCOMPARE(buttonOf(dialog, "confirmButton")->text(), QStringLiteral("Thoát"));
    if (goneFirst) {
        sleeper.kill();
        QVERIFY(sleeper.waitForFinished(10000)); // reaped: the pid names nothing now
    }
    buttonOf(dialog, "confirmButton")->click();
    if (!goneFirst) {
        QVERIFY(sleeper.waitForFinished(10000));
        QCOMPARE(sleeper.exitStatus(), QProcess::CrashExit); // ended by the signal
        QVERIFY(!rig.model.message());
        return;
    }
    QVERIFY(rig.model.message()->startsWith(QStringLiteral("Không thoát được sleeper&<b>: ")));
    QMessageBox* alert = shownBox(*rig.view, QStringLiteral("processAlert"));
    QVERIFY(alert);
    QCOMPARE(alert->windowTitle(), QStringLiteral("Tiến trình"));
    QCOMPARE(alert->informativeText(), *rig.model.message());
    buttonOf(alert, "alertOkButton")->click();
    QVERIFY(!rig.model.message());
}

SORVI_TEST_GUI_MAIN(TestMonitorView)
#include "tst_monitor_view.moc"
