#pragma once

// The process list of the Linux counter source. Internal to the platform library.

#include "platform/counter_source.h"
#include "platform/unique_fd.h"

#include <QByteArrayView>
#include <array>
#include <optional>
#include <sys/types.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

/// The first bytes of a small file, read again from its start with pread; no allocation.
template <size_t N> struct ReadBuffer
{
    std::array<char, N> bytes; // left uninitialised: read into before use
    qsizetype size = 0;

    /// False when nothing could be read.
    bool readFrom(int fd)
    {
        const ssize_t n = pread(fd, bytes.data(), N, 0);
        size = n > 0 ? qsizetype(n) : 0;
        return n > 0;
    }
    QByteArrayView view() const { return {bytes.data(), size}; }
};

/// Reads every process of /proc below a root folder. Per-process descriptors stay open between
/// passes and are re-read with pread, which costs a third of opening the file afresh; those of
/// processes that are gone are closed. Half the soft descriptor limit goes to kept descriptors
/// (raised towards the hard limit when the processes need it); what does not fit is opened
/// afresh on each pass. Without root privileges only the processes of our own real user are
/// read. Not thread-safe.
class ProcessTable
{
public:
    ProcessTable();

    /// One pass over `rootFd`'s proc folder; nullopt when it cannot be listed or lists nothing.
    std::optional<QList<ProcessUsage>> read(int rootFd);
    /// Descriptors held open between passes.
    int keptDescriptors() const { return m_kept; }

private:
    struct Entry
    {
        UniqueFd stat; // kept open between passes when the descriptor budget allows
        UniqueFd statm;
        QByteArray comm; // name as the stat line gave it last
        QByteArray name; // comm, widened from the command line
        bool named = false;
        bool foreign = false; // another user's process: listed by the system, never read
        quint64 pass = 0;
    };

    std::optional<ProcessUsage> readProcess(int procFd, pid_t pid);
    using StatBuffer = ReadBuffer<1024>;
    bool readStat(int procFd, pid_t pid, Entry& entry, UniqueFd& statFd, StatBuffer& text);
    void forget(Entry& entry);
    void forgetGone();
    void fitBudget(size_t processCount);

    std::unordered_map<pid_t, Entry> m_procs;
    std::vector<pid_t> m_pids;
    quint64 m_pass = 0;
    int m_kept = 0;
    size_t m_budget = 0;
    bool m_checkOwner = geteuid() != 0; // root lists everyone's processes
    uid_t m_uid = getuid();
};
