#include "monitor/system_info.h"

#include "platform/system_facts.h"

#include <QDeadlineTimer>
#include <QMutex>

namespace SystemInfo {
namespace {

// The names of the system this program was first written for come first, so a kernel that
// offers them is taken at its word; Linux answers from its own files.
QString factOrFallback(const char* name, QString (*fallback)())
{
    const QString value = sysctlString(QLatin1String(name));
    return value.isEmpty() ? fallback() : value;
}

} // namespace

QString sysctlString(const QString& name)
{
    return SystemFacts::sysctlString(name);
}

QString chip()
{
    // Function-local statics are initialised exactly once even when first used concurrently.
    static const QString value =
        factOrFallback("machdep.cpu.brand_string", SystemFacts::processorName);
    return value;
}

QString model()
{
    static const QString value = factOrFallback("hw.model", SystemFacts::machineModel);
    return value;
}

QString osVersion()
{
    static const QString value = SystemFacts::osVersion();
    return value;
}

qint64 uptime()
{
    return SystemFacts::uptimeSeconds();
}

ThermalState thermalState()
{
    static QMutex mutex;
    static QDeadlineTimer fresh;
    static ThermalState state = ThermalState::unknown;
    const QMutexLocker lock(&mutex);
    if (fresh.hasExpired()) {
        const int level = SystemFacts::thermalState();
        state = level >= 0 && level <= 3 ? ThermalState(level) : ThermalState::unknown;
        fresh.setRemainingTime(5000);
    }
    return state;
}

} // namespace SystemInfo
