#include "app/cli_commands.h"
#include "app/cli_json.h"
#include "app/cli_output.h"
#include "monitor/system_sampler.h"
#include "ui/monitor_text.h"

#include <QCoro/QCoroFuture>
#include <QThread>
#include <QtConcurrent>
#include <algorithm>

namespace Cli {
namespace {

using CliOutput::err;
using CliOutput::out;

constexpr qsizetype kTopProcesses = 10;

QList<ProcessStat> busiest(QList<ProcessStat> processes)
{
    std::stable_sort(processes.begin(), processes.end(), [](const auto& a, const auto& b) {
        return a.cpu != b.cpu ? a.cpu > b.cpu : a.memory > b.memory;
    });
    return processes.first(std::min(kTopProcesses, processes.size()));
}

void printProcesses(const QList<ProcessStat>& top)
{
    out(QStringLiteral("Tiến trình dùng CPU nhiều nhất:"));
    out(QStringLiteral("      PID    CPU %      Bộ nhớ  Tên"));
    for (const ProcessStat& p : top)
        out(QStringLiteral("  ") + QString::number(p.pid).rightJustified(7) +
            MonitorText::oneDecimal(p.cpu).rightJustified(9) +
            MonitorText::memory(p.memory).rightJustified(12) + QStringLiteral("  ") +
            CliOutput::shown(p.name));
}

void printSnapshot(const SystemSnapshot& s, const QList<ProcessStat>& top)
{
    const MemoryInfo& m = s.memory;
    out(QStringLiteral("CPU: ") + MonitorText::percent(s.cpuTotal) +
        QStringLiteral(" · Người dùng ") + MonitorText::percent(s.cpuUser) +
        QStringLiteral(" · Hệ thống ") + MonitorText::percent(s.cpuSystem));
    out(QStringLiteral("Bộ nhớ: ") + MonitorText::memory(m.used()) + QStringLiteral(" / ") +
        MonitorText::memory(m.total) + QStringLiteral(" · Áp lực: ") +
        MonitorText::pressureWord(m.pressure));
    out(QStringLiteral("Swap: ") + MonitorText::memory(m.swapUsed) + QStringLiteral(" / ") +
        MonitorText::memory(m.swapTotal));
    out(QStringLiteral("Mạng: ↓ ") + MonitorText::rate(s.netDown) + QStringLiteral(" · ↑ ") +
        MonitorText::rate(s.netUp));
    if (s.battery)
        out(QStringLiteral("Pin: ") + QString::number(s.battery->percent) + QStringLiteral("% · ") +
            MonitorText::batteryDetail(*s.battery));
    out(QStringLiteral("Tải trung bình: ") + MonitorText::loads(s.load));
    out();
    printProcesses(top);
}

} // namespace

QCoro::Task<int> monitor(Arguments args)
{
    if (!args.once) {
        err(QStringLiteral("Thiếu --once: lệnh này in một lần số liệu rồi thoát (xem: sorviclean "
                           "monitor --help)."));
        co_return kUsage;
    }
    // The first sample only primes the counters; rates come from the difference to the second.
    auto sampling = QtConcurrent::run([] {
        SystemSampler sampler;
        sampler.sample();
        QThread::sleep(1);
        return sampler.sample();
    });
    const SystemSnapshot snapshot = co_await sampling;
    const QList<ProcessStat> top = busiest(snapshot.processes);
    if (args.json)
        CliOutput::raw(CliJson::snapshot(snapshot, top));
    else
        printSnapshot(snapshot, top);
    co_return kSuccess;
}

} // namespace Cli
