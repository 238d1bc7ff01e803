#include "platform/linux/linux_running_apps.h"

#include "platform/file_system.h"
#include "platform/path_codec.h"
#include "platform/process_signal.h"
#include "platform/unique_dir.h"

#include <array>
#include <climits>
#include <cstdlib>
#include <unistd.h>

namespace {

class LinuxInstance final : public RunningApplication
{
public:
    LinuxInstance(pid_t pid, ProcessSignal::Handle handle) : m_pid(pid), m_handle(std::move(handle))
    {
    }

    pid_t pid() const override { return m_pid; }
    bool terminate() override { return m_handle.terminate() == 0; }
    bool isTerminated() const override { return m_handle.hasExited(); }

private:
    pid_t m_pid;
    ProcessSignal::Handle m_handle;
};

std::optional<pid_t> pidFromName(const char* name)
{
    char* end = nullptr;
    const long value = std::strtol(name, &end, 10);
    if (end == name || *end != '\0' || value <= 0 || value > INT_MAX) return std::nullopt;
    return pid_t(value);
}

QByteArray executableOf(pid_t pid)
{
    std::array<char, PATH_MAX> target{};
    const QByteArray link = "/proc/" + QByteArray::number(pid) + "/exe";
    const ssize_t n = readlink(link.constData(), target.data(), target.size());
    return n > 0 ? QByteArray(target.data(), n) : QByteArray();
}

} // namespace

QList<RunningApplicationPtr> LinuxRunningApps::instances(const QString& bundlePath,
                                                         const QString& /*bundleID*/)
{
    QList<RunningApplicationPtr> found;
    // /proc/PID/exe is always the real location, so the bundle's is compared.
    const QByteArray inside = PathCodec::encode(FileSystem::resolved(bundlePath)) + '/';
    const UniqueDir proc(opendir("/proc"));
    if (!proc) return found;
    const uid_t me = getuid();
    while (const dirent* entry = readdir(proc.get())) {
        const std::optional<pid_t> pid = pidFromName(entry->d_name);
        if (!pid || ProcessSignal::isProtected(*pid)) continue;
        // Most processes fail this first, cheapest test. A match is then pinned (identity, pidfd,
        // identity checked again) and its executable read once more, so a PID reused between
        // the first reading and the pinning is not taken for the bundle's process.
        if (!executableOf(*pid).startsWith(inside)) continue;
        const std::optional<ProcessSignal::Identity> identity = ProcessSignal::identify(*pid);
        if (!identity || identity->owner != me) continue;
        ProcessSignal::Handle handle(*identity);
        if (handle.valid() && executableOf(*pid).startsWith(inside))
            found.append(std::make_shared<LinuxInstance>(*pid, std::move(handle)));
    }
    return found;
}

RunningApps& defaultRunningApps()
{
    static LinuxRunningApps registry;
    return registry;
}
