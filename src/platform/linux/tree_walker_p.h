#pragma once

// The walkers of one TreeWalk::walk and what they share. Internal to the platform library.

#include "platform/linux/tree_walk_p.h"
#include "platform/unique_fd.h"

#include <array>
#include <atomic>
#include <climits>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace TreeWalk::detail {

// A walker keeps at most this many folders open (its current path); deeper folders are queued by
// path and reopened from the root, so a walk never holds more than threads × kMaxDepth
// descriptors however deep the tree is.
constexpr int kMaxDepth = 24;

// A folder for a walker to start from, by its path below the root: each walker opens it in its own
// descriptor table, never crossing a link.
using Job = std::string;

class Walker;

// What the walkers of one walk share. Work moves between walkers only when one of them is idle:
// it takes the shallowest folder still waiting in another walker's stack, which is likely the
// largest piece left, so a walk hands work over a few times per thread rather than per folder.
struct Shared : std::enable_shared_from_this<Shared>
{
    int rootFd = -1;
    const Options* options = nullptr;
    int maxWalkers = 1;
    // Walkers to start while the walk runs at CPU speed; the rest join once a walker is seen
    // waiting for the disk, where more requests in flight pay off and extra threads on a warm
    // cache would only cost CPU time.
    int eagerWalkers = 1;

    std::mutex mutex;
    std::condition_variable wake;
    std::vector<Walker*> walkers;      // every walker that joined; they live until `done`
    std::vector<std::string> deepJobs; // folders beyond a walker's depth
    std::vector<std::thread> threads;  // helpers started, joined by the caller
    int idle = 0;                      // walkers looking for work
    bool done = false;                 // every walker was idle with nothing left to take

    // Read without the lock after every folder, to decide whether to wake or start a walker.
    std::atomic<int> idleHint{0};
    std::atomic<int> helpersAsked{0};
    std::atomic<bool> waitingForDisk{false};
    std::atomic<qint64> total{0};

    std::optional<Job> next();
    void offer();
    int allowedWalkers() const
    {
        return waitingForDisk.load(std::memory_order_relaxed) ? maxWalkers : eagerWalkers;
    }
    void pushDeep(std::string path);
    void startHelper();

private:
    std::optional<Job> takeWork();
};

// One thread's walk: depth-first, with the folders still to visit on an explicit stack whose
// names live in one reused buffer, so an entry costs no allocation. Each folder is listed whole
// (one getdents64 call serves hundreds of entries) before its subfolders are visited; regular
// files (and entries of unknown type) cost one fstatat, folders one openat.
class Walker
{
public:
    explicit Walker(Shared& shared);
    Walker(const Walker&) = delete;
    Walker& operator=(const Walker&) = delete;
    ~Walker() = default;

    void run(Job job);
    // Level of the shallowest folder another walker may take, or -1 when there is none to
    // spare (the last one waiting stays with its owner, which is about to visit it anyway).
    int spareLevel();
    // Called by another walker, which opens the folder itself.
    std::optional<Job> steal();
    qint64 total() const { return m_total; }

private:
    struct Pending
    {
        size_t name; // offset into m_names
        int level;   // index of the open parent folder in m_fds
    };

    void startPaceWindow();
    void checkPace();
    void enter(int level, UniqueFd fd);
    void closeFrom(int level);
    bool descendNext();
    bool popPending(int& level);
    void list(int level);
    void visit(int dirFd, const char* name, unsigned char type);
    void count(const char* name, qint64 allocated);
    size_t queue(int level);

    Shared& m_shared;
    const Options& m_options;
    std::unique_ptr<char[]> m_buffer;
    std::vector<const char*> m_folders; // subfolders met in the current listing buffer
    std::array<char, NAME_MAX + 1> m_name{};
    qint64 m_total = 0;
    qint64 m_windowWall = 0;
    qint64 m_windowCpu = 0;

    // The open folders of the current path, m_fds[0] being the job's folder; only the owner uses
    // them. Other walkers read the path length of a level that still has entries waiting, under
    // m_mutex.
    std::array<UniqueFd, kMaxDepth> m_fds;
    std::array<size_t, kMaxDepth> m_pathLengths{};
    int m_depth = 0;

    // Guards what other walkers read: the stack, its names and the current path. The owner
    // takes it once per folder visited and once per listing buffer with subfolders; it is
    // contended only when work is taken.
    std::mutex m_mutex;
    std::string m_path; // of the folder being listed, relative to the root
    std::vector<char> m_names;
    std::vector<Pending> m_pending; // the owner pops at the back, other walkers take at m_bottom
    size_t m_bottom = 0;
};

} // namespace TreeWalk::detail
