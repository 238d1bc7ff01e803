#include "monitor/monitor_model.h"
#include "monitor/scripted_source.h"
#include "monitor/system_info.h"
#include "support/test_home.h"
#include "ui/monitor_text.h"
#include "ui/monitor_view.h"
#include "ui/monitor_widgets.h"
#include "ui/process_table_model.h"
#include "window_fixture.h"

#include <QAbstractButton>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <functional>
#include <memory>

using namespace std::chrono_literals;

namespace {

constexpr quint64 kGiB = 1024ull * 1024 * 1024;

struct Proc
{
    qint32 pid;
    QByteArray name;
    quint64 ticksPerSample = 0; // one tick is 10 ms; frames are 1 s apart: its CPU percent
    quint64 memory = 0;
};

struct Script
{
    QList<QVariant> power; // the power sources; none on a desktop
    qint32 pressure = 1;
    std::array<double, 3> load{1.5, 0.25, 2};
    // Processes listed in frame i.
    std::function<QList<Proc>(int)> processes = [](int) { return QList<Proc>(); };
};

Frame frameOf(int i, const Script& script)
{
    Frame frame;
    const quint32 step = quint32(i) * 100;
    // Core 0 is half busy, core 1 a quarter.
    frame.ticks = QList<ProcessorTicks>{{step / 2, 0, step / 2, 0}, {step / 4, 0, step * 3 / 4, 0}};
    frame.physical = 8 * kGiB;
    frame.pageSize = 4096;
    frame.pages = VmPageCounts{262144, 0, 131072, 0, 65536}; // 1 GiB app, 512 MiB wired
    frame.swap = SwapUsage{2 * kGiB, 512ull * 1024 * 1024};
    frame.pressure = script.pressure;
    frame.interfaces =
        QList<InterfaceCounters>{{"eth0", false, quint64(i) * 2000, quint64(i) * 1000}};
    frame.power = script.power;
    frame.load = script.load;
    frame.clock = quint64(i + 1) * 1'000'000'000;
    QList<ProcessUsage> usages;
    for (const Proc& p : script.processes(i))
        usages.append({p.pid, p.ticksPerSample * quint64(i), 0, p.memory, p.name, std::nullopt});
    frame.processes = usages;
    return frame;
}

QVariantMap battery(qint64 current, bool charging, bool onAC, std::optional<qint64> minutes)
{
    QVariantMap map{{QStringLiteral("Type"), QStringLiteral("InternalBattery")},
                    {QStringLiteral("Current Capacity"), current},
                    {QStringLiteral("Max Capacity"), qint64(100)},
                    {QStringLiteral("Is Charging"), charging},
                    {QStringLiteral("Power Source State"),
                     onAC ? QStringLiteral("AC Power") : QStringLiteral("Battery Power")}};
    if (minutes) map.insert(QStringLiteral("Time to Empty"), *minutes);
    return map;
}

/// A model on a scripted source and its screen, shown.
struct Rig
{
    explicit Rig(Script script = {}, std::chrono::milliseconds interval = 20ms)
        : model(std::make_unique<ScriptedSource>([script](int i) { return frameOf(i, script); }),
                interval),
          view(std::make_unique<MonitorView>(&model))
    {
        QObject::connect(&model, &MonitorModel::samplingChanged, [this](bool on) {
            if (on) ++loops;
        });
        QObject::connect(&model, &MonitorModel::samplingLoopFinished, [this] { --loops; });
        view->resize(1000, 900);
    }

    // A stopped loop ends at its next check; waiting for it leaves no coroutine suspended
    // when the program exits.
    ~Rig()
    {
        view.reset();
        if (!QTest::qWaitFor([this] { return loops == 0; }, 20000))
            qWarning("a sampling loop did not end");
    }

    bool showAndWaitForSamples(int count)
    {
        view->show();
        return QTest::qWaitFor([&] { return model.history().size() >= count; }, 20000);
    }

    template <typename T = QWidget> T* find(const QString& name) const
    {
        return view->findChild<T*>(name);
    }

    StatCardWidget* card(const QString& name) const { return find<StatCardWidget>(name); }
    QString text(const QString& name) const
    {
        auto* label = find<TabularLabel>(name);
        return label ? label->text() : QStringLiteral("<missing>");
    }

    MonitorModel model;
    std::unique_ptr<MonitorView> view;
    int loops = 0;
};

QColor barColour(const StatCardWidget* card)
{
    return card->findChild<QProgressBar*>(QStringLiteral("cardBar"))
        ->palette()
        .color(QPalette::Active, QPalette::Highlight);
}

} // namespace

class TestMonitorView : public QObject
{
    Q_OBJECT

private slots:
    void beforeFirstSample();
    void cards_data();
    void cards();
    void cardGridWrapsWhenNarrow_data();
    void cardGridWrapsWhenNarrow();
    void diskTint();
    void detailsAndUptimeTexts();
    void coreAboveHundredFillsItsBar();
    void collectingUntilSecondSample();
    void selectionFollowsPid();
    void quitNamesSelectedProcess_data();
    void quitNamesSelectedProcess();
    void hugeNamesKeepLayout();
};

void TestMonitorView::beforeFirstSample()
{
    Rig rig({}, 500ms);
    const QString zero = formatBytes(0) + QStringLiteral("/s");
    QCOMPARE(rig.card(QStringLiteral("cpuCard"))->card().value, QStringLiteral("0%"));
    QCOMPARE(rig.card(QStringLiteral("networkCard"))->card().value, QStringLiteral("↓ ") + zero);
    QCOMPARE(rig.card(QStringLiteral("networkCard"))->card().detail, QStringLiteral("↑ ") + zero);
    QVERIFY(!rig.model.isSampling());
    rig.view->show();
    QVERIFY(rig.model.isSampling());
    QVERIFY(rig.find(QStringLiteral("collectingIndicator"))->isVisible());
    QCOMPARE(rig.text(QStringLiteral("infoLoad")), QStringLiteral("0.00  0.00  0.00"));
    rig.view->hide();
    QVERIFY(!rig.model.isSampling());
    rig.view->show();
    rig.view.reset(); // deleted while shown
    QVERIFY(!rig.model.isSampling());
}

void TestMonitorView::cards_data()
{
    QTest::addColumn<QVariantList>("power");
    QTest::addColumn<int>("pressure");
    QTest::addColumn<QString>("value"); // of the battery card; empty: no battery card
    QTest::addColumn<QColor>("tint");
    QTest::addColumn<QString>("detail");
    QTest::addColumn<QString>("symbol");
    QTest::addColumn<QColor>("memoryTint");
    QTest::addColumn<QString>("memoryDetail");
    const QColor green = MonitorColours::green();
    const QString normal = QStringLiteral("Áp lực: Bình thường");
    QTest::newRow("desktop, pressure 2")
        << QVariantList() << 2 << QString() << QColor() << QString() << QString()
        << MonitorColours::orange() << "Áp lực: Cảnh báo";
    QTest::newRow("desktop, pressure 4")
        << QVariantList() << 4 << QString() << QColor() << QString() << QString()
        << MonitorColours::red() << "Áp lực: Nguy cấp";
    QTest::newRow("20 % on battery") << QVariantList{battery(20, false, false, std::nullopt)} << 1
                                     << "20%" << MonitorColours::red() << "Đang dùng pin"
                                     << "battery.75" << green << normal;
    QTest::newRow("21 % on battery") << QVariantList{battery(21, false, false, std::nullopt)} << 3
                                     << "21%" << green << "Đang dùng pin"
                                     << "battery.75" << green << normal;
    QTest::newRow("15 % on mains") << QVariantList{battery(15, false, true, std::nullopt)} << 1
                                   << "15%" << green << "Đã cắm sạc"
                                   << "battery.75" << green << normal;
    QTest::newRow("charging") << QVariantList{battery(50, true, true, 30)} << 1 << "50%" << green
                              << "Đang sạc"
                              << "battery.100.bolt" << green << normal;
    QTest::newRow("125 minutes left") << QVariantList{battery(80, false, false, 125)} << 1 << "80%"
                                      << green << "Còn khoảng 2 giờ 5 phút"
                                      << "battery.75" << green << normal;
}

void TestMonitorView::cards()
{
    QFETCH(QVariantList, power);
    QFETCH(int, pressure);
    QFETCH(QString, value);
    QFETCH(QColor, tint);
    QFETCH(QString, detail);
    QFETCH(QString, symbol);
    QFETCH(QColor, memoryTint);
    QFETCH(QString, memoryDetail);
    Script script;
    script.power = power;
    script.pressure = pressure;
    Rig rig(script);
    QVERIFY(rig.showAndWaitForSamples(1));
    // Sampled rates: half and a quarter of two cores busy, 2000 and 1000 bytes a second.
    QCOMPARE(rig.card(QStringLiteral("cpuCard"))->card().value, QStringLiteral("38%"));
    QCOMPARE(rig.card(QStringLiteral("networkCard"))->card().value,
             QStringLiteral("↓ ") + formatBytes(2000) + QStringLiteral("/s"));
    StatCardWidget* memory = rig.card(QStringLiteral("memoryCard"));
    QCOMPARE(memory->card().value, MonitorText::memory(1536ull * 1024 * 1024) +
                                       QStringLiteral(" / ") + MonitorText::memory(8 * kGiB));
    QCOMPARE(memory->card().detail, memoryDetail);
    QCOMPARE(barColour(memory), memoryTint);
    QCOMPARE(memory->findChild<QProgressBar*>(QStringLiteral("cardBar"))->value(), 1875);

    StatCardWidget* card = rig.card(QStringLiteral("batteryCard"));
    QCOMPARE(card->isVisible(), !value.isEmpty());
    if (value.isEmpty()) return;
    QCOMPARE(card->card().title, QStringLiteral("Pin"));
    QCOMPARE(card->card().value, value);
    QCOMPARE(card->card().symbol, symbol);
    QCOMPARE(barColour(card), tint);
    QCOMPARE(card->findChild<QLabel*>(QStringLiteral("cardDetail"))->text(), detail);
}

void TestMonitorView::cardGridWrapsWhenNarrow_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("columns");
    QTest::newRow("wide") << 1100 << 5;
    QTest::newRow("middle") << 700 << 3;
    QTest::newRow("narrow") << 520 << 2;
}

void TestMonitorView::cardGridWrapsWhenNarrow()
{
    QFETCH(int, width);
    QFETCH(int, columns);
    Script script;
    script.power = {battery(50, false, false, std::nullopt)};
    Rig rig(script);
    rig.view->resize(width, 700);
    QVERIFY(rig.showAndWaitForSamples(1));
    auto* grid = rig.find<CardGrid>(QStringLiteral("cardGrid"));
    QWidget* chart = rig.find(QStringLiteral("chartBox"));
    const QStringList names{"cpuCard", "memoryCard", "networkCard", "diskCard", "batteryCard"};
    // Every card inside the grid, none overlapping another, and the grid above the chart.
    const auto laidOut = [&] {
        QList<QRect> boxes;
        for (const QString& name : names) {
            const QRect box = rig.card(name)->geometry();
            if (!grid->rect().contains(box) || box.width() < 190) return false;
            for (const QRect& other : boxes)
                if (other.intersects(box)) return false;
            boxes.append(box);
        }
        return grid->geometry().bottom() < chart->geometry().top();
    };
    QVERIFY(QTest::qWaitFor(laidOut, 5000));
    QCOMPARE(grid->columnsFor(grid->width()), columns);
    // The card after the last column starts the next row.
    QCOMPARE(rig.card(names.at(columns < 5 ? columns : 4))->geometry().top() > 0, columns < 5);
}

void TestMonitorView::diskTint()
{
    // Red below 10 GB free.
    QCOMPARE(MonitorCards::disk({500'000'000'000, 10'000'000'000}).tint, MonitorColours::accent());
    const StatCard card = MonitorCards::disk({500'000'000'000, 9'999'999'999});
    QCOMPARE(card.tint, MonitorColours::red());
    QCOMPARE(card.detail, QStringLiteral("Còn trống ") + formatBytes(9'999'999'999));
    QCOMPARE(card.value,
             formatBytes(490'000'000'001) + QStringLiteral(" / ") + formatBytes(500'000'000'000));
    QCOMPARE(MonitorCards::disk({}).fraction, 0.0); // no division by a zero total
}

void TestMonitorView::detailsAndUptimeTexts()
{
    Rig rig;
    QVERIFY(rig.showAndWaitForSamples(1));
    QCOMPARE(rig.text(QStringLiteral("infoLoad")), QStringLiteral("1.50  0.25  2.00"));
    QCOMPARE(rig.text(QStringLiteral("infoSwap")), MonitorText::memory(512ull * 1024 * 1024) +
                                                       QStringLiteral(" / ") +
                                                       MonitorText::memory(2 * kGiB));
    // A figure just below a unit is shown in that unit, not as 1,024 of the one below.
    QCOMPARE(MonitorText::memory(1024 * 1024 - 1), MonitorText::memory(1024 * 1024));
    QCOMPARE(MonitorText::uptime(3661), QStringLiteral("1 giờ 1 phút"));
    QCOMPARE(MonitorText::uptime(90061), QStringLiteral("1 ngày 1 giờ"));
    QCOMPARE(MonitorText::uptime(86399), QStringLiteral("23 giờ 59 phút"));
    QCOMPARE(MonitorText::uptime(86400), QStringLiteral("1 ngày 0 giờ"));
}

void TestMonitorView::coreAboveHundredFillsItsBar()
{
    CoreLoadList list;
    list.setLoads({123.4, 50, 0});
    QCOMPARE(list.count(), 3);
    auto* bar = list.findChild<QProgressBar*>(QStringLiteral("coreBar-0"));
    QCOMPARE(bar->value(), bar->maximum());
    QCOMPARE(list.findChild<TabularLabel*>(QStringLiteral("coreValue-0"))->text(),
             QStringLiteral("123%"));
    // The rows that stay are the same widgets; only the surplus goes.
    list.setLoads({10});
    QCOMPARE(list.findChild<QProgressBar*>(QStringLiteral("coreBar-0")), bar);
    QVERIFY(!list.findChild<QProgressBar*>(QStringLiteral("coreBar-1")));
    QCOMPARE(bar->value(), 10);
}

void TestMonitorView::collectingUntilSecondSample()
{
    Rig rig({}, 50ms);
    QWidget* indicator = rig.find(QStringLiteral("collectingIndicator"));
    QList<bool> shownAt; // index: history size - 1
    QObject::connect(&rig.model, &MonitorModel::historyChanged, rig.view.get(), [&] {
        if (shownAt.size() < 3) shownAt.append(indicator->isVisible());
    });
    QVERIFY(rig.showAndWaitForSamples(3));
    QCOMPARE(shownAt, (QList<bool>{true, false, false}));
    QCOMPARE(rig.find<CoreLoadList>(QStringLiteral("coreList"))
                 ->findChild<TabularLabel*>(QStringLiteral("coreValue-1"))
                 ->text(),
             QStringLiteral("25%"));
}

void TestMonitorView::selectionFollowsPid()
{
    // Process 7 swaps places with the others from sample to sample and leaves the table in
    // samples 6 and 7.
    Script script;
    script.processes = [](int i) {
        QList<Proc> list{{5, "a", 30, 1}, {6, "b", 20, 1}};
        if (i != 6 && i != 7) list.append({7, "seven", quint64(i % 2 ? 40 : 10), 1});
        return list;
    };
    Rig rig(script, 40ms);
    QVERIFY(rig.showAndWaitForSamples(1));
    auto* table = rig.find<QTableView>(QStringLiteral("processTable"));
    auto* tableModel = static_cast<ProcessTableModel*>(table->model());
    table->selectRow(tableModel->rowOfPid(7));
    QCOMPARE(rig.view->selectedPid(), 7);

    QSet<int> rowsSeen;
    int absentChecks = 0;
    QObject::connect(&rig.model, &MonitorModel::topProcessesChanged, rig.view.get(), [&] {
        const QModelIndexList selected = table->selectionModel()->selectedRows();
        const int row = tableModel->rowOfPid(7);
        if (row < 0) {
            QVERIFY(selected.isEmpty());
            ++absentChecks;
        } else {
            QCOMPARE(selected.size(), 1);
            QCOMPARE(selected.first().row(), row);
            rowsSeen.insert(row);
        }
        QCOMPARE(rig.view->selectedPid(), 7);
    });
    QVERIFY(QTest::qWaitFor([&] { return rig.model.history().size() >= 9; }, 20000));
    QVERIFY(absentChecks > 0);
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
    Script script;
    script.processes = [pid](int) { return QList<Proc>{{pid, "sleeper", 1, 1}}; };
    Rig rig(script, 100ms);
    QVERIFY(rig.showAndWaitForSamples(1));
    auto* quit = rig.find<QPushButton>(QStringLiteral("quitProcessButton"));
    QVERIFY(!quit->isEnabled());
    rig.find<QTableView>(QStringLiteral("processTable"))->selectRow(0);
    QVERIFY(quit->isEnabled());
    quit->click();
    QMessageBox* dialog = waitForBox(*rig.view, QStringLiteral("quitConfirmation"));
    QVERIFY(dialog);
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Thoát sleeper?"));
    QCOMPARE(dialog->informativeText(),
             QStringLiteral("Dữ liệu chưa lưu trong tiến trình này có thể bị mất."));
    if (goneFirst) {
        sleeper.kill();
        QVERIFY(sleeper.waitForFinished(10000)); // reaped: the pid names nothing now
    }
    dialog->findChild<QPushButton*>(QStringLiteral("confirmButton"))->click();
    if (!goneFirst) {
        QVERIFY(sleeper.waitForFinished(10000));
        QCOMPARE(sleeper.exitStatus(), QProcess::CrashExit); // ended by the signal
        QVERIFY(!rig.model.message());
        QVERIFY(!rig.view->quitConfirmation());
        return;
    }
    QVERIFY(rig.model.message());
    QVERIFY(rig.model.message()->startsWith(QStringLiteral("Không thoát được sleeper: ")));
    QMessageBox* alert = waitForBox(*rig.view, QStringLiteral("processAlert"));
    QVERIFY(alert);
    QCOMPARE(alert->windowTitle(), QStringLiteral("Tiến trình"));
    QCOMPARE(alert->informativeText(), *rig.model.message());
    alert->findChild<QPushButton*>(QStringLiteral("alertOkButton"))->click();
    QVERIFY(QTest::qWaitFor([&] { return !rig.model.message(); }, 5000));
}

void TestMonitorView::hugeNamesKeepLayout()
{
    const QByteArray huge = QByteArray("line\nbreak\t") + QByteArray(200'000, 'x');
    Script script;
    script.processes = [huge](int) {
        return QList<Proc>{{301, huge, 5, 1}, {302, "normal", 1, 1}};
    };
    Rig rig(script);
    QVERIFY(rig.showAndWaitForSamples(1));
    auto* table = rig.find<QTableView>(QStringLiteral("processTable"));
    const QString shown = table->model()->index(0, ProcessTableModel::Name).data().toString();
    QVERIFY(!shown.contains(QLatin1Char('\n')));
    QVERIFY(shown.size() < 1000);
    QVERIFY(!rig.view->horizontalScrollBar()->isVisible());
    QVERIFY(table->horizontalHeader()->sectionSize(ProcessTableModel::Name) < table->width());
    QVERIFY(table->rowHeight(0) < 60);
}

SORVI_TEST_GUI_MAIN(TestMonitorView)
#include "tst_monitor_view.moc"
