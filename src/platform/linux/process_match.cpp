#include "platform/linux/process_match.h"

#include "platform/linux/bounded_file.h"
#include "platform/process_signal.h"
#include "platform/unique_dir.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ProcessMatch {
namespace {

// The environment block of a process may be large; an APPIMAGE variable is set by the runtime
// near its start, so a bounded read finds it.
constexpr qint64 kMaxEnvironment = qint64(256) * 1024;
constexpr qint64 kMaxArguments = qint64(64) * 1024;

class PinnedProcess final : public RunningApplication
{
public:
    PinnedProcess(pid_t pid, ProcessSignal::Handle handle) : m_pid(pid), m_handle(std::move(handle))
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

} // namespace

RunningApplicationPtr pin(pid_t pid, const std::function<bool()>& stillMatches)
{
    if (ProcessSignal::isProtected(pid)) return nullptr;
    const std::optional<ProcessSignal::Identity> identity = ProcessSignal::identify(pid);
    if (!identity || identity->owner != getuid()) return nullptr;
    ProcessSignal::Handle handle(*identity);
    if (!handle.valid() || !stillMatches()) return nullptr;
    return std::make_shared<PinnedProcess>(pid, std::move(handle));
}

QList<RunningApplicationPtr> find(const Classifier& classify)
{
    QList<std::pair<int, RunningApplicationPtr>> ranked;
    const UniqueDir proc(opendir("/proc"));
    if (!proc) return {};
    while (const dirent* entry = readdir(proc.get())) {
        const std::optional<pid_t> pid = pidFromName(entry->d_name);
        // Other users' processes are never signalled; skipping them first also spares reading
        // their /proc files.
        struct stat info
        {
        };
        if (!pid || fstatat(dirfd(proc.get()), entry->d_name, &info, 0) != 0 ||
            info.st_uid != getuid())
            continue;
        const int rank = classify(*pid);
        if (rank <= 0) continue;
        if (RunningApplicationPtr pinned = pin(*pid, [&] { return classify(*pid) == rank; }))
            ranked.append({rank, std::move(pinned)});
    }
    std::stable_sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first : a.second->pid() < b.second->pid();
    });
    QList<RunningApplicationPtr> found;
    for (auto& [rank, pinned] : ranked)
        found.append(std::move(pinned));
    return found;
}

QByteArray executable(pid_t pid)
{
    char target[PATH_MAX];
    const QByteArray link = "/proc/" + QByteArray::number(pid) + "/exe";
    const ssize_t n = readlink(link.constData(), target, sizeof target);
    return n > 0 ? QByteArray(target, n) : QByteArray();
}

QList<QByteArray> arguments(pid_t pid, int count)
{
    const QString path = QStringLiteral("/proc/%1/cmdline").arg(pid);
    QList<QByteArray> found =
        BoundedFile::head(path, kMaxArguments).value_or(QByteArray()).split('\0');
    if (found.size() > count) found.resize(count);
    return found;
}

std::optional<QByteArray> environmentValue(pid_t pid, const QByteArray& name)
{
    const QString path = QStringLiteral("/proc/%1/environ").arg(pid);
    // /proc files report a size of 0, so the bound is the only limit the read needs.
    const std::optional<QByteArray> block = BoundedFile::head(path, kMaxEnvironment);
    if (!block) return std::nullopt;
    const QByteArray prefix = name + '=';
    for (const QByteArray& variable : block->split('\0'))
        if (variable.startsWith(prefix)) return variable.mid(prefix.size());
    return std::nullopt;
}

} // namespace ProcessMatch
