// Shows the monitor screen with the real counter source for a while and prints the CPU time it
// costs, as a share of one core: the whole process (sampling on its worker thread plus drawing)
// and the GUI thread alone (applying the samples and redrawing the screen). The first samples
// are left out: they build the rows that later samples only update.
// Usage: monitor_screen_cpu [SECONDS] [WARMUP_SECONDS] [PNG]
//   PNG  also saves what the screen showed at the end, to check that it drew the samples
// Runs on the offscreen platform unless QT_QPA_PLATFORM names another one.
#include "monitor/monitor_model.h"
#include "ui/monitor_view.h"

#include <QApplication>
#include <QEvent>
#include <QPixmap>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
#include <time.h>

namespace {

double seconds(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

double processCpu()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Counts the widget repaints, to show that the screen really draws on this platform.
class PaintCounter : public QObject
{
public:
    int paints = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) ++paints;
        return QObject::eventFilter(watched, event);
    }
};

struct Mark
{
    double wall = 0;
    double process = 0;
    double gui = 0;
    int samples = 0;
    int paints = 0;
};

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    const int measured = argc > 1 ? std::atoi(argv[1]) : 60;
    const int warmup = argc > 2 ? std::atoi(argv[2]) : 6;
    QApplication app(argc, argv);
    PaintCounter counter;
    app.installEventFilter(&counter);

    MonitorModel model;
    MonitorView view(&model);
    view.resize(1000, 900);
    view.show();

    int samples = 0;
    QObject::connect(&model, &MonitorModel::historyChanged, [&] { ++samples; });
    const auto mark = [&] {
        return Mark{seconds(CLOCK_MONOTONIC), processCpu(), seconds(CLOCK_THREAD_CPUTIME_ID),
                    samples, counter.paints};
    };
    Mark start;
    QTimer::singleShot(warmup * 1000, [&] { start = mark(); });
    QTimer::singleShot((warmup + measured) * 1000, [&] {
        const Mark end = mark();
        const double wall = end.wall - start.wall;
        std::printf("monitor screen, %d samples and %d widget paints in %.1f s (%lld processes "
                    "listed)\n",
                    end.samples - start.samples, end.paints - start.paints, wall,
                    static_cast<long long>(model.snapshot().processes.size()));
        std::printf("  whole process: %.2f %% of one core\n",
                    (end.process - start.process) / wall * 100);
        std::printf("  GUI thread:    %.2f %% of one core\n", (end.gui - start.gui) / wall * 100);
        if (argc > 3 && !view.grab().save(QString::fromLocal8Bit(argv[3])))
            std::fprintf(stderr, "monitor_screen_cpu: cannot write %s\n", argv[3]);
        app.quit();
    });
    return app.exec();
}
