// The text files of /proc and /sys (and /etc/os-release) from any bytes, read through the
// counter source and the system facts pointed at a private root folder. The first byte picks
// the file, the rest is its content; every other file holds a plausible default, so each input
// gives the same result whatever ran before it.
#include "platform/linux/linux_counter_source.h"
#include "platform/linux/linux_system_facts.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <cstdlib>
#include <filesystem>

namespace {

struct File
{
    const char* path;
    const char* initial;
    qsizetype length = -1; ///< of `initial`, when it holds NUL bytes of its own
};

// The pid folder's name and the plain defaults of a small machine.
const File files[] = {
    {"proc/stat", "cpu  1 2 3 4 5 6 7 8 0 0\ncpu0 1 2 3 4 5 6 7 8 0 0\nintr 1\n"},
    {"proc/meminfo", "MemTotal: 16000 kB\nMemFree: 8000 kB\nMemAvailable: 9000 kB\n"
                     "Buffers: 10 kB\nCached: 100 kB\nSwapTotal: 100 kB\nSwapFree: 50 kB\n"},
    {"proc/pressure/memory", "some avg10=0.00 avg60=0.00 avg300=0.00 total=0\n"
                             "full avg10=0.00 avg60=0.00 avg300=0.00 total=0\n"},
    {"proc/net/dev", "Inter-|\n face |\n  eth0: 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16\n"},
    {"sys/class/net/eth0/flags", "0x1003\n"},
    {"sys/class/power_supply/BAT0/uevent",
     "POWER_SUPPLY_TYPE=Battery\nPOWER_SUPPLY_STATUS=Discharging\nPOWER_SUPPLY_CAPACITY=50\n"},
    {"proc/loadavg", "0.10 0.20 0.30 1/100 4242\n"},
    {"proc/4242/stat", "4242 (a long process n) S 1 4242 4242 0 -1 0 0 0 0 0 5 6 0 0 20 0 1 0 "
                       "99 1000 10 0 0 0 0 0 0 0 0 0 0 0 0 17 0 0 0 0 0 0\n"},
    {"proc/4242/statm", "100 50 20 1 0 30 0\n"},
    {"proc/4242/cmdline", "/usr/bin/a long process name\0--flag", 36},
    {"proc/4242/status", "Name:\ta\nUid:\t0\t0\t0\t0\n"},
    {"proc/cpuinfo", "processor\t: 0\nmodel name\t: Example CPU\n"},
    {"etc/os-release", "NAME=Debian\nPRETTY_NAME=\"Debian GNU/Linux 12\"\n"},
    {"sys/class/thermal/thermal_zone0/temp", "45000\n"},
    {"sys/class/thermal/thermal_zone0/trip_point_0_type", "critical\n"},
    {"sys/class/thermal/thermal_zone0/trip_point_0_temp", "90000\n"},
    {"proc/sys/kernel/ostype", "Linux\n"},
    {"sys/devices/virtual/dmi/id/product_name", "Example\n"},
};
constexpr int fileCount = int(sizeof files / sizeof files[0]);

QString g_root;

void write(const File& file, const QByteArray& content)
{
    QFile out(g_root + u'/' + QString::fromLatin1(file.path));
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        out.write(content) != content.size())
        abort();
}

QByteArray initialContent(const File& file)
{
    return QByteArray(file.initial,
                      file.length < 0 ? qsizetype(strlen(file.initial)) : file.length);
}

void readEverything()
{
    LinuxCounterSource source(g_root);
    source.beginSample();
    source.processorTicks();
    source.physicalMemory();
    source.vmPageCounts();
    source.swapUsage();
    source.pressureLevel();
    source.interfaces();
    source.powerSources();
    source.loadAverage();
    source.processes();
    LinuxSystemFacts::processorName(g_root);
    LinuxSystemFacts::machineModel(g_root);
    LinuxSystemFacts::osVersion(g_root);
    LinuxSystemFacts::thermalState(g_root);
    LinuxSystemFacts::sysctlString(g_root, QStringLiteral("kernel.ostype"));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // In memory where possible: truncating files on a journalled disk costs milliseconds.
    char folder[] = "/dev/shm/sorvi-fuzz-proc-XXXXXX";
    char fallback[] = "/tmp/sorvi-fuzz-proc-XXXXXX";
    const char* made = mkdtemp(folder);
    if (!made) made = mkdtemp(fallback);
    if (!made) abort();
    g_root = QString::fromLatin1(made);
    std::atexit([] { std::filesystem::remove_all(g_root.toStdString()); });
    for (const File& file : files) {
        const QString path = g_root + u'/' + QString::fromLatin1(file.path);
        QDir().mkpath(path.left(path.lastIndexOf(u'/')));
        write(file, initialContent(file));
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    const File& file = files[data[0] % fileCount];
    write(file, QByteArray(reinterpret_cast<const char*>(data) + 1, qsizetype(size - 1)));
    readEverything();
    write(file, initialContent(file));
    return 0;
}
