#include "platform/linux/proc_text_p.h"
#include "platform/linux/process_table_p.h"
#include "platform/unique_dir.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>

using namespace ProcText;

namespace {

QByteArray procPath(pid_t pid, const char* file)
{
    return QByteArray::number(int(pid)) + '/' + file;
}

QByteArrayView baseName(QByteArrayView path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? path : path.sliced(slash + 1);
}

// The kernel cuts a task's name to 15 bytes; the command line usually holds it whole.
QByteArray widenedName(int procFd, pid_t pid, const QByteArray& comm)
{
    constexpr qsizetype kCommLimit = 15;
    constexpr qsizetype kNameLimit = 255;
    if (comm.size() != kCommLimit) return comm;
    const std::optional<QByteArray> cmdline =
        readSmallFile(procFd, procPath(pid, "cmdline").constData(), 4096);
    if (!cmdline || cmdline->isEmpty()) return comm;
    QByteArrayView argv0(*cmdline);
    if (const qsizetype nul = argv0.indexOf('\0'); nul >= 0) argv0 = argv0.first(nul);
    QByteArrayView beforeBlank = argv0;
    if (const qsizetype blank = argv0.indexOf(' '); blank >= 0) beforeBlank = argv0.first(blank);
    for (const QByteArrayView candidate : {baseName(argv0), baseName(beforeBlank)}) {
        if (candidate.size() > kCommLimit && candidate.startsWith(comm))
            return candidate.first(std::min(candidate.size(), kNameLimit)).toByteArray();
    }
    return comm;
}

// The real user of a process, from its status file. Not the owner of its /proc folder: that is
// root for every process that made itself undumpable (agents, sandboxes, anything that changed
// its user), our own ones included.
std::optional<uid_t> realOwner(int procFd, pid_t pid)
{
    const auto status = readSmallFile(procFd, procPath(pid, "status").constData(), kTextCap);
    return status ? parseRealUid(*status) : std::nullopt;
}

std::optional<pid_t> pidFromName(const char* name)
{
    const char* p = name;
    const char* end = p + std::strlen(p);
    quint64 pid = 0;
    if (p == end || *p == '0' || !parseNumber(p, end, pid) || p != end || pid > INT_MAX)
        return std::nullopt;
    return pid_t(pid);
}

} // namespace

ProcessTable::ProcessTable()
{
    fitBudget(0);
}

std::optional<QList<ProcessUsage>> ProcessTable::read(int rootFd)
{
    const UniqueDir dir =
        UniqueDir::adopt(UniqueFd(openat(rootFd, "proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC)));
    if (!dir) return std::nullopt;
    m_pids.clear();
    while (const dirent* entry = readdir(dir.get())) {
        if (const std::optional<pid_t> pid = pidFromName(entry->d_name)) m_pids.push_back(*pid);
    }
    if (m_pids.empty()) return std::nullopt;
    if (m_pids.size() * 2 > m_budget) fitBudget(m_pids.size());

    ++m_pass;
    QList<ProcessUsage> list;
    list.reserve(qsizetype(m_pids.size()));
    for (const pid_t pid : m_pids) {
        if (auto usage = readProcess(dir.fd(), pid)) list.append(std::move(*usage));
    }
    forgetGone();
    return list;
}

// The stat line into `text`, through the kept descriptor or a new one left in `statFd`.
bool ProcessTable::readStat(int procFd, pid_t pid, Entry& entry, UniqueFd& statFd, StatBuffer& text)
{
    // A kept descriptor of a process that ended fails with ESRCH, even when its PID has been
    // given to a newcomer meanwhile: start afresh with that one.
    if (entry.stat && !text.readFrom(entry.stat.get())) forget(entry);
    if (entry.stat) return true;
    if (m_checkOwner && realOwner(procFd, pid) != m_uid) {
        entry.foreign = true;
        return false;
    }
    statFd.reset(openat(procFd, procPath(pid, "stat").constData(), O_RDONLY | O_CLOEXEC));
    return statFd && text.readFrom(statFd.get());
}

std::optional<ProcessUsage> ProcessTable::readProcess(int procFd, pid_t pid)
{
    Entry& entry = m_procs[pid];
    entry.pass = m_pass;
    if (entry.foreign) return std::nullopt;
    StatBuffer stat;
    UniqueFd statFd;
    if (!readStat(procFd, pid, entry, statFd, stat)) return std::nullopt;
    const std::optional<StatFields> fields = parseProcessStat(stat.view());
    if (!fields) return std::nullopt;

    ReadBuffer<256> statm;
    UniqueFd statmFd;
    if (!entry.statm)
        statmFd.reset(openat(procFd, procPath(pid, "statm").constData(), O_RDONLY | O_CLOEXEC));
    const int statmSource = entry.statm ? entry.statm.get() : statmFd.get();
    const std::optional<quint64> privatePages = statmSource >= 0 && statm.readFrom(statmSource)
                                                    ? parseStatmPrivatePages(statm.view())
                                                    : std::nullopt;
    if (!privatePages) return std::nullopt;

    if (!entry.stat && size_t(m_kept) + 2 <= m_budget) {
        entry.stat = std::move(statFd);
        entry.statm = std::move(statmFd);
        m_kept += 2;
    }
    const QByteArrayView comm = stat.view().sliced(fields->nameBegin, fields->nameLength);
    if (!entry.named || entry.comm != comm) {
        entry.comm = comm.toByteArray();
        entry.name = widenedName(procFd, pid, entry.comm);
        entry.named = true;
    }
    static const auto pageBytes = quint64(sysconf(_SC_PAGESIZE));
    return ProcessUsage{
        pid,        fields->userTicks, fields->systemTicks, *privatePages * pageBytes,
        entry.name, fields->startTime};
}

void ProcessTable::forget(Entry& entry)
{
    if (entry.stat) m_kept -= 2;
    entry.stat.reset();
    entry.statm.reset();
    entry.named = false;
}

void ProcessTable::forgetGone()
{
    for (auto it = m_procs.begin(); it != m_procs.end();) {
        if (it->second.pass == m_pass) {
            ++it;
            continue;
        }
        forget(it->second);
        it = m_procs.erase(it);
    }
}

// Half the soft descriptor limit goes to kept descriptors, the rest stays for the program. When
// the processes need more, the soft limit is raised towards the hard one; what still does not
// fit is opened afresh each pass.
void ProcessTable::fitBudget(size_t processCount)
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
    const rlim_t needed = rlim_t(processCount) * 2;
    if (needed > limit.rlim_cur / 2 && limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = std::min(limit.rlim_max, needed * 4 + 1024);
        if (raised.rlim_cur > limit.rlim_cur && setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    m_budget = size_t(limit.rlim_cur / 2);
}
