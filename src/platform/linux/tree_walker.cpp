#include "platform/linux/anchored_tree_p.h"
#include "platform/linux/tree_walker_p.h"

#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace TreeWalk::detail {
namespace {

// One getdents64 call lists a typical folder whole.
constexpr size_t kListingBuffer = size_t{32} * 1024;
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
// How often a walker compares its CPU time with the time that passed, in nanoseconds.
constexpr qint64 kPaceWindow = 5'000'000;

bool isDotOrDotDot(const char* name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

void appendComponent(std::string& path, const char* name)
{
    if (!path.empty()) path.push_back('/');
    path.append(name);
}

qint64 nanoseconds(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return qint64(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

} // namespace

Walker::Walker(Shared& shared)
    : m_shared(shared), m_options(*shared.options),
      m_buffer(std::make_unique<char[]>(kListingBuffer))
{
}

void Walker::run(Job job)
{
    AnchoredTree::Opened opened =
        AnchoredTree::openBeneath(m_shared.rootFd, job, O_RDONLY | O_DIRECTORY);
    if (!opened.fd) return;
    {
        std::lock_guard lock(m_mutex);
        m_path = std::move(job);
    }
    startPaceWindow();
    enter(0, std::move(opened.fd));
    while (descendNext())
        checkPace();
    closeFrom(0);
}

int Walker::spareLevel()
{
    std::lock_guard lock(m_mutex);
    return m_pending.size() - m_bottom >= 2 ? m_pending[m_bottom].level : -1;
}

std::optional<Job> Walker::steal()
{
    std::lock_guard lock(m_mutex);
    if (m_pending.size() - m_bottom < 2) return std::nullopt;
    const Pending pending = m_pending[m_bottom++];
    Job job(m_path, 0, m_pathLengths[size_t(pending.level)]);
    appendComponent(job, m_names.data() + pending.name);
    return job;
}

void Walker::startPaceWindow()
{
    m_windowWall = nanoseconds(CLOCK_MONOTONIC);
    m_windowCpu = nanoseconds(CLOCK_THREAD_CPUTIME_ID);
}

// A walker that spends less than half of a few milliseconds on the CPU is waiting for the disk
// (or for a busy machine): then the walk may start all of its walkers.
void Walker::checkPace()
{
    if (m_shared.allowedWalkers() == m_shared.maxWalkers) return;
    const qint64 wall = nanoseconds(CLOCK_MONOTONIC);
    if (wall - m_windowWall < kPaceWindow) return;
    const qint64 cpu = nanoseconds(CLOCK_THREAD_CPUTIME_ID);
    if (2 * (cpu - m_windowCpu) < wall - m_windowWall)
        m_shared.waitingForDisk.store(true, std::memory_order_relaxed);
    m_windowWall = wall;
    m_windowCpu = cpu;
}

void Walker::enter(int level, UniqueFd fd)
{
    m_fds[size_t(level)] = std::move(fd);
    m_pathLengths[size_t(level)] = m_path.size();
    m_depth = level + 1;
    list(level);
}

// Closes the open folders from `level` down.
void Walker::closeFrom(int level)
{
    for (int i = level; i < m_depth; ++i)
        m_fds[size_t(i)].reset();
    m_depth = std::min(m_depth, level);
}

// Takes the next folder off the stack into m_name and m_path; false when the stack is empty.
bool Walker::popPending(int& level)
{
    std::lock_guard lock(m_mutex);
    if (m_pending.size() == m_bottom) {
        m_pending.clear();
        m_names.clear();
        m_bottom = 0;
        return false;
    }
    const Pending pending = m_pending.back();
    m_pending.pop_back();
    level = pending.level;
    const size_t length = std::strlen(m_names.data() + pending.name);
    std::memcpy(m_name.data(), m_names.data() + pending.name, length + 1);
    m_names.resize(pending.name);
    m_path.resize(m_pathLengths[size_t(level)]);
    appendComponent(m_path, m_name.data());
    return true;
}

bool Walker::descendNext()
{
    int level = 0;
    if (!popPending(level)) return false;
    // The stack's levels never decrease from bottom to top, so nothing waiting refers to a
    // folder deeper than `level`.
    closeFrom(level + 1);
    if (level + 1 == kMaxDepth) {
        m_shared.pushDeep(m_path);
        return true;
    }
    UniqueFd fd(openat(m_fds[size_t(level)].get(), m_name.data(), kFolderFlags));
    if (fd) enter(level + 1, std::move(fd));
    return true;
}

void Walker::list(int level)
{
    const int fd = m_fds[size_t(level)].get();
    size_t waiting = 0;
    for (;;) {
        const ssize_t n = getdents64(fd, m_buffer.get(), kListingBuffer);
        if (n <= 0) break;
        m_folders.clear();
        for (size_t pos = 0; pos < size_t(n);) {
            const auto* entry = reinterpret_cast<const dirent64*>(m_buffer.get() + pos);
            pos += entry->d_reclen;
            visit(fd, entry->d_name, entry->d_type);
        }
        if (!m_folders.empty()) waiting = queue(level);
    }
    // A single waiting folder is the owner's next step; handing it over would only add a
    // wake-up.
    if (waiting >= 2) m_shared.offer();
}

void Walker::visit(int dirFd, const char* name, unsigned char type)
{
    if (isDotOrDotDot(name) || (m_options.skipHidden && name[0] == '.')) return;
    if (type == DT_REG || type == DT_UNKNOWN) {
        struct stat st = {};
        if (fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return;
        if (S_ISREG(st.st_mode)) return count(name, qint64(st.st_blocks) * 512);
        if (!S_ISDIR(st.st_mode)) return;
        type = DT_DIR;
    }
    if (type == DT_DIR) m_folders.push_back(name);
}

void Walker::count(const char* name, qint64 allocated)
{
    m_total += allocated;
    if (m_options.report && allocated >= m_options.reportAtLeast)
        (*m_options.report)(m_path, name, allocated);
}

// Subfolders of one listing buffer go onto the stack under one lock. Returns how many folders
// wait in the stack.
size_t Walker::queue(int level)
{
    std::lock_guard lock(m_mutex);
    for (const char* name : m_folders) {
        const size_t offset = m_names.size();
        m_names.insert(m_names.end(), name, name + std::strlen(name) + 1);
        m_pending.push_back(Pending{offset, level});
    }
    return m_pending.size() - m_bottom;
}

} // namespace TreeWalk::detail
