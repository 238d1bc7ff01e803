#include "monitor/scripted_source.h"
#include "ui/monitor_text.h"
#include "ui/monitor_view.h"
#include "ui/monitor_widgets.h"
#include "ui/process_panel.h"
#include "ui/process_table_model.h"
#include "window_fixture.h"

#include <QProcess>
#include <QTableView>
#include <csignal>
#include <functional>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

constexpr quint64 kGiB = 1024ull * 1024 * 1024;

// (pid, name, CPU ticks a sample) of sample i.
using Processes = QList<std::tuple<qint32, QByteArray, quint64>>;
using Script = std::function<Processes(int)>;

// Cores half and a quarter busy; 1.5 of 8 GiB used, 0.5 of 2 GiB swap; 1000 bytes/s received.
Frame frameOf(int i, const Script& processes)
{
    Frame frame;
    const quint32 step = quint32(i) * 100;
    frame.ticks = QList<ProcessorTicks>{{step / 2, 0, step / 2, 0}, {step / 4, 0, step * 3 / 4, 0}};
    frame.physical = 8 * kGiB;
    frame.pages = VmPageCounts{262144, 0, 131072, 0, 65536};
    frame.swap = SwapUsage{2 * kGiB, 512ull << 20};
    frame.interfaces = QList<InterfaceCounters>{{"eth0", false, quint64(i) * 2000, 0}};
    frame.power = QList<QVariant>();
    frame.clock = quint64(i + 1) * 2'000'000'000;
    frame.processes.emplace();
    for (const auto& [pid, name, ticks] : processes ? processes(i) : Processes())
        frame.processes->append({pid, ticks * quint64(i), 0, 1, name, std::nullopt});
    return frame;
}

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
    ~Rig() // no sampling coroutine may stay suspended at exit
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
    QTableView* table() const { return view->findChild<QTableView*>("processTable"); }

    MonitorModel model;
    std::unique_ptr<MonitorView> view;
    int loops = 0;
};

} // namespace

class TestMonitorView : public QObject
{
    Q_OBJECT

private slots:
    // Each figure from its own field; sampling only while the screen is shown.
    void firstSamples()
    {
        Rig rig({}, 50ms);
        QVERIFY(rig.view->findChild<QWidget*>("batteryCard")->isHidden()); // a desktop
        QVERIFY(!rig.model.isSampling());
        QVERIFY(rig.samples(3));
        const auto label = [&](const char* name) {
            return rig.view->findChild<TabularLabel*>(name)->text();
        };
        QCOMPARE((QStringList{rig.card("cpuCard").value, rig.card("cpuCard").detail,
                              rig.card("networkCard").value, rig.card("memoryCard").value,
                              label("infoSwap"), label("coreValue-1")}),
                 (QStringList{"38%", "Người dùng 38% · Hệ thống 0%", "↓ 1,0 kB/s",
                              "1,5 GB / 8,0 GB", "512,0 MB / 2,0 GB", "25%"}));
        rig.view->hide();
        QVERIFY(!rig.model.isSampling());
        rig.view->show();
        rig.view.reset(); // deleted while shown
        QVERIFY(!rig.model.isSampling());
    }

    // The selection follows pid 7 as it moves and leaves: a quit never reaches another process.
    void selectionFollowsPid()
    {
        Rig rig([](int i) {
            Processes list{{5, "a", 30}, {6, "b", 20}};
            if (i != 6 && i != 7) list.append({7, "seven", quint64(i % 2 ? 40 : 10)});
            return list;
        });
        QVERIFY(rig.samples(1));
        auto* rows = static_cast<ProcessTableModel*>(rig.table()->model());
        rig.table()->selectRow(rows->rowOfPid(7));
        QSet<int> rowsSeen;
        connect(&rig.model, &MonitorModel::topProcessesChanged, rig.view.get(), [&] {
            const int row = rows->rowOfPid(7);
            rowsSeen.insert(row);
            QList<int> selected;
            for (const QModelIndex& index : rig.table()->selectionModel()->selectedRows())
                selected << index.row();
            QCOMPARE(selected, row < 0 ? QList<int>() : QList<int>{row});
            QCOMPARE(rig.view->processes()->selectedPid(), 7);
        });
        AWAIT_UNTIL(rig.model.history().size() >= 9, "nine samples");
        QVERIFY2(rowsSeen.contains(-1) && rowsSeen.size() >= 3, "process 7 never moved or left");
    }

    // SIGTERM, never SIGKILL, after the confirmation; a refusal is shown until dismissed.
    void quitSelectedProcess()
    {
        QProcess sleeper;
        sleeper.start(QStringLiteral("sleep"), {QStringLiteral("600")});
        QVERIFY(sleeper.waitForStarted(5000));
        const auto pid = qint32(sleeper.processId());
        Rig rig(
            [pid](int) {
                return Processes{{pid, "sleeper&<b>", 2}, {getpid(), "me", 1}};
            },
            100ms);
        QVERIFY(rig.samples(1));
        auto* quit = rig.view->findChild<QPushButton*>("quitProcessButton");
        QVERIFY(!quit->isEnabled());
        const auto confirm = [&](int row) {
            rig.table()->selectRow(row);
            quit->click();
            QMessageBox* dialog = shownBox(*rig.view, QStringLiteral("quitConfirmation"));
            QStringList texts{dialog->windowTitle(), dialog->informativeText(),
                              buttonOf(dialog, "confirmButton")->text()};
            buttonOf(dialog, "confirmButton")->click();
            return texts;
        };
        QCOMPARE(confirm(1).first(), QStringLiteral("Thoát me?"));
        QVERIFY(rig.model.message()->startsWith("Không thoát được me: "));
        QMessageBox* alert = shownBox(*rig.view, QStringLiteral("processAlert"));
        QVERIFY(alert);
        QCOMPARE((QStringList{alert->windowTitle(), alert->informativeText()}),
                 (QStringList{"Tiến trình", *rig.model.message()}));
        buttonOf(alert, "alertOkButton")->click();
        QVERIFY(!rig.model.message());

        QCOMPARE(confirm(0),
                 (QStringList{"Thoát sleeper&<b>?",
                              "Dữ liệu chưa lưu trong tiến trình này có thể bị mất.", "Thoát"}));
        QVERIFY(sleeper.waitForFinished(5000));
        QCOMPARE(sleeper.exitStatus(), QProcess::CrashExit);
        QCOMPARE(sleeper.exitCode(), SIGTERM);
        QVERIFY(!rig.model.message());
    }
};

SORVI_TEST_GUI_MAIN(TestMonitorView)
#include "tst_monitor_view.moc"
