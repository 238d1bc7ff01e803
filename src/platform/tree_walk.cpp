#include "platform/tree_walk.h"

#include "platform/anchored_tree.h"
#include "platform/unique_fd.h"

#include <QThread>
#include <QThreadPool>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace TreeWalk {
namespace {

// A walker keeps at most this many directories open; deeper ones are handed on as jobs.
constexpr int kMaxDepth = 24;
constexpr size_t kListingBuffer = 32 * 1024;

QThreadPool& helperPool()
{
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool;
        p->setMaxThreadCount(walkerThreads());
        p->setExpiryTimeout(5000);
        return p;
    }();
    return *pool;
}

// What the walkers of one walk share: a stack of subtrees (paths relative to the root) waiting
// for a walker, and the count of walkers busy with one.
struct Shared
{
    int rootFd = -1;
    const Options* options = nullptr;

    std::mutex mutex;
    std::condition_variable wake;
    std::vector<std::string> jobs;
    int busy = 0;
    int idle = 0;
    int helpers = 0;     // helpers inside work()
    bool finished = false; // the caller's own work() returned: no helper joins any more
    std::condition_variable helpersDone;

    // Read without the lock on every directory, to decide whether to hand a subtree on.
    std::atomic<int> idleHint{0};
    std::atomic<int> queuedHint{0};
    std::atomic<qint64> total{0};

    void push(std::string job)
    {
        std::lock_guard lock(mutex);
        jobs.push_back(std::move(job));
        queuedHint.store(int(jobs.size()), std::memory_order_relaxed);
        wake.notify_one();
    }

    std::optional<std::string> take()
    {
        std::unique_lock lock(mutex);
        while (jobs.empty()) {
            if (busy == 0) {
                wake.notify_all();
                return std::nullopt;
            }
            idleHint.store(++idle, std::memory_order_relaxed);
            wake.wait(lock);
            idleHint.store(--idle, std::memory_order_relaxed);
        }
        std::string job = std::move(jobs.back());
        jobs.pop_back();
        queuedHint.store(int(jobs.size()), std::memory_order_relaxed);
        ++busy;
        return job;
    }

    void finish()
    {
        std::lock_guard lock(mutex);
        if (--busy == 0 && jobs.empty())
            wake.notify_all();
    }

    bool wantsWork() const
    {
        return queuedHint.load(std::memory_order_relaxed) < idleHint.load(std::memory_order_relaxed);
    }
};

bool isDotOrDotDot(const char* name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// One thread's walk. Its buffers are allocated once and reused for every directory, so an entry
// costs no allocation: one getdents64 call serves hundreds of entries, and only regular files
// (and entries of unknown type) cost an fstatat.
class Walker
{
public:
    explicit Walker(Shared& shared) : m_shared(shared), m_options(*shared.options) {}

    void run(const std::string& job)
    {
        const int fd = AnchoredTree::openBeneath(m_shared.rootFd, job, O_RDONLY | O_DIRECTORY);
        if (fd < 0)
            return;
        m_path = job;
        m_depth = 0;
        enter(fd);
        while (m_depth > 0)
            step();
    }

    qint64 total() const { return m_total; }

private:
    struct Frame
    {
        UniqueFd fd;
        size_t pathLength = 0;
        size_t pos = 0;
        size_t length = 0;
        std::unique_ptr<char[]> buffer;
    };

    void enter(int fd)
    {
        Frame& frame = m_frames[size_t(m_depth++)];
        frame.fd.reset(fd);
        frame.pathLength = m_path.size();
        frame.pos = frame.length = 0;
        if (!frame.buffer)
            frame.buffer = std::make_unique<char[]>(kListingBuffer);
    }

    void leave()
    {
        m_frames[size_t(--m_depth)].fd.reset();
        if (m_depth > 0)
            m_path.resize(m_frames[size_t(m_depth - 1)].pathLength);
    }

    void step()
    {
        Frame& frame = m_frames[size_t(m_depth - 1)];
        if (frame.pos >= frame.length) {
            const ssize_t n = getdents64(frame.fd.get(), frame.buffer.get(), kListingBuffer);
            if (n <= 0)
                return leave();
            frame.pos = 0;
            frame.length = size_t(n);
        }
        const auto* entry = reinterpret_cast<const dirent64*>(frame.buffer.get() + frame.pos);
        frame.pos += entry->d_reclen;
        visit(frame, entry->d_name, entry->d_type);
    }

    void visit(Frame& frame, const char* name, unsigned char type)
    {
        if (isDotOrDotDot(name) || (m_options.skipHidden && name[0] == '.'))
            return;
        if (type == DT_REG || type == DT_UNKNOWN) {
            struct stat st;
            if (fstatat(frame.fd.get(), name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                return;
            if (S_ISREG(st.st_mode))
                return count(name, qint64(st.st_blocks) * 512);
            if (!S_ISDIR(st.st_mode))
                return;
            type = DT_DIR;
        }
        if (type == DT_DIR)
            descend(frame, name);
    }

    void count(const char* name, qint64 allocated)
    {
        m_total += allocated;
        if (m_options.report && allocated >= m_options.reportAtLeast)
            (*m_options.report)(m_path, name, allocated);
    }

    void descend(Frame& frame, const char* name)
    {
        if (m_depth == kMaxDepth || m_shared.wantsWork()) {
            m_shared.push(childPath(name));
            return;
        }
        const int fd = openat(frame.fd.get(), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            return;
        appendComponent(m_path, name);
        enter(fd);
    }

    std::string childPath(const char* name) const
    {
        std::string path = m_path;
        appendComponent(path, name);
        return path;
    }

    static void appendComponent(std::string& path, const char* name)
    {
        if (!path.empty())
            path.push_back('/');
        path.append(name);
    }

    Shared& m_shared;
    const Options& m_options;
    std::array<Frame, kMaxDepth> m_frames;
    int m_depth = 0;
    std::string m_path;
    qint64 m_total = 0;
};

void work(Shared& shared)
{
    Walker walker(shared);
    while (std::optional<std::string> job = shared.take()) {
        walker.run(*job);
        shared.finish();
    }
    shared.total.fetch_add(walker.total(), std::memory_order_relaxed);
}

// A helper joins only while the walk is still running; one that the pool starts late finds it
// finished and leaves at once, so the caller never waits for a helper that has not begun, and a
// busy pool never delays a walk.
void startHelpers(const std::shared_ptr<Shared>& shared, int count)
{
    for (int i = 0; i < count; ++i) {
        const bool started = helperPool().tryStart([shared] {
            {
                std::lock_guard lock(shared->mutex);
                if (shared->finished)
                    return;
                ++shared->helpers;
            }
            work(*shared);
            std::lock_guard lock(shared->mutex);
            if (--shared->helpers == 0)
                shared->helpersDone.notify_all();
        });
        if (!started)
            return;
    }
}

} // namespace

int walkerThreads()
{
    return std::max(4, 2 * QThread::idealThreadCount());
}

qint64 walk(int rootFd, const Options& options)
{
    auto shared = std::make_shared<Shared>();
    shared->rootFd = rootFd;
    shared->options = &options;
    shared->jobs.emplace_back();
    const int threads = options.threads > 0 ? options.threads : walkerThreads();
    startHelpers(shared, threads - 1);
    work(*shared);
    std::unique_lock lock(shared->mutex);
    shared->finished = true;
    shared->helpersDone.wait(lock, [&] { return shared->helpers == 0; });
    return shared->total.load();
}

} // namespace TreeWalk
