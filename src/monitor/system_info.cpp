#include "monitor/system_info.h"

#include "platform/linux_system_facts.h"

#include <QDeadlineTimer>
#include <QMutex>

namespace SystemInfo {
namespace {

const QString& systemRoot()
{
    static const QString root = QStringLiteral("/");
    return root;
}

// The names of the system this program was first written for come first, so a kernel that
// offers them is taken at its word; Linux answers from its own files.
QString factOrFallback(const char* name, QString (*fallback)(const QString&))
{
    const QString value = sysctlString(QLatin1String(name));
    return value.isEmpty() ? fallback(systemRoot()) : value;
}

} // namespace

QString sysctlString(const QString& name)
{
    return LinuxSystemFacts::sysctlString(systemRoot(), name);
}

QString chip()
{
    // Function-local statics are initialised exactly once even when first used concurrently.
    static const QString value =
        factOrFallback("machdep.cpu.brand_string", LinuxSystemFacts::processorName);
    return value;
}

QString model()
{
    static const QString value = factOrFallback("hw.model", LinuxSystemFacts::machineModel);
    return value;
}

QString osVersion()
{
    static const QString value = LinuxSystemFacts::osVersion(systemRoot());
    return value;
}

qint64 uptime()
{
    return LinuxSystemFacts::uptimeSeconds();
}

ThermalState thermalState()
{
    static QMutex mutex;
    static QDeadlineTimer fresh;
    static ThermalState state = ThermalState::unknown;
    const QMutexLocker lock(&mutex);
    if (fresh.hasExpired()) {
        const int level = LinuxSystemFacts::thermalState(systemRoot());
        state = level >= 0 && level <= 3 ? ThermalState(level) : ThermalState::unknown;
        fresh.setRemainingTime(5000);
    }
    return state;
}

} // namespace SystemInfo
