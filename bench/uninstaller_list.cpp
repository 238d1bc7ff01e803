// Shows the uninstaller screen over N applications, sorted by size, and measures what the GUI
// thread pays while the list loads and every size arrives: the longest gap of the event loop
// (time between two turns; a timer of interval 0 runs once per turn) and the GUI thread's CPU
// time. The catalogue is scripted: N bundles written to a temporary folder (each an Info.plist
// and a payload of a varying size, so that every arriving size moves its row).
// Usage: uninstaller_list [N...]   (default: 300 3000 10000)
// Runs on the offscreen platform unless QT_QPA_PLATFORM names another one.
#include "ui/destinations.h"
#include "ui/models.h"
#include "uninstaller/uninstaller_model.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

double threadCpu()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

bool writeFile(const QByteArray& path, const QByteArray& content)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const bool ok = fd >= 0 && ::write(fd, content.constData(), size_t(content.size())) ==
                                   ssize_t(content.size());
    if (fd >= 0) ::close(fd);
    return ok;
}

// N bundles "App <k>.app" with identifiers app.k and payloads of 1 to 64 KiB in a scrambled
// order, so that sorting by size moves nearly every row.
bool writeCatalogue(const QString& folder, int count)
{
    for (int k = 0; k < count; ++k) {
        const QByteArray bundle =
            QFile::encodeName(folder) + "/App " + QByteArray::number(k) + ".app/Contents";
        if (::mkdir(bundle.chopped(9).constData(), 0755) != 0 ||
            ::mkdir(bundle.constData(), 0755) != 0)
            return false;
        const QByteArray plist =
            "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleIdentifier</key>"
            "<string>app." +
            QByteArray::number(k) + "</string></dict></plist>";
        const int kib = 1 + int((quint64(k) * 2654435761U) % 64);
        if (!writeFile(bundle + "/Info.plist", plist) ||
            !writeFile(bundle + "/payload", QByteArray(qsizetype(kib) * 1024, 'x')))
            return false;
    }
    return true;
}

// The longest time between two turns of the event loop while it runs.
class GapMeter : public QObject
{
public:
    GapMeter()
    {
        m_timer.setInterval(0);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            const double cpu = threadCpu();
            if (qEnvironmentVariableIsSet("GAPS") && now - m_last > 20000000)
                std::printf("gap %.1f ms (GUI thread CPU %.1f ms) ending at %.1f ms\n",
                            double(now - m_last) / 1e6, (cpu - m_lastCpu) * 1000,
                            double(now) / 1e6);
            if (now - m_last > m_longest) m_longestCpu = cpu - m_lastCpu;
            m_longest = std::max(m_longest, now - m_last);
            m_last = now;
            m_lastCpu = cpu;
        });
    }
    void start()
    {
        m_clock.start();
        m_last = 0;
        m_longest = 0;
        m_lastCpu = threadCpu();
        m_timer.start();
    }
    double longestMs() const { return double(m_longest) / 1e6; }
    /// The GUI thread's CPU time during the longest gap: less than the gap when the thread
    /// waited for a core (the machine busy) rather than worked.
    double longestCpuMs() const { return m_longestCpu * 1000; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
    double m_lastCpu = 0;
    double m_longestCpu = 0;
};

bool measure(int count)
{
    QTemporaryDir dir;
    const QString folder = dir.path() + QStringLiteral("/Applications");
    if (!dir.isValid() || !QDir().mkpath(folder) || !writeCatalogue(folder, count)) {
        std::fprintf(stderr, "uninstaller_list: cannot write %d bundles\n", count);
        return false;
    }
    UninstallerModel::Services services;
    AppCatalog::Folders folders;
    folders.appRoots = {folder};
    services.folders = folders;
    UninstallerModel model(services);
    model.setSort(UninstallerModel::SortMode::size);
    std::unique_ptr<QWidget> screen(createUninstallerScreen({nullptr, &model}, nullptr));
    screen->resize(960, 620);

    GapMeter gaps;
    QElapsedTimer wall;
    double cpuStart = 0;
    bool listed = false;
    double listedAt = 0;
    QObject::connect(&model, &UninstallerModel::loadingChanged, [&] {
        if (model.loading()) return;
        listed = true;
        listedAt = double(wall.nsecsElapsed()) / 1e6;
    });
    gaps.start();
    wall.start();
    cpuStart = threadCpu();
    screen->show(); // starts the load
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const QList<InstalledApp>& apps = model.apps();
        if (listed && std::all_of(apps.begin(), apps.end(),
                                  [](const InstalledApp& app) { return app.size.has_value(); }))
            loop.quit();
    });
    poll.start();
    loop.exec();
    const double cpu = threadCpu() - cpuStart;
    const double total = double(wall.nsecsElapsed()) / 1e6;
    std::printf("%6d applications: listed after %7.0f ms, all sizes after %7.0f ms; "
                "longest event-loop gap %6.1f ms (%5.1f ms on the CPU); GUI thread CPU %7.0f ms\n",
                count, listedAt, total, gaps.longestMs(), gaps.longestCpuMs(), cpu * 1000);
    std::fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QList<int> counts;
    for (int i = 1; i < argc; ++i)
        counts.append(std::atoi(argv[i]));
    if (counts.isEmpty()) counts = {300, 3000, 10000};
    for (const int count : counts)
        if (count <= 0 || !measure(count)) return 1;
    return 0;
}
