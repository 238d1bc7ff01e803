#pragma once

// The parallel allocated-size walk behind FileSystem::allocatedSize and FileSystem::walkFiles.
// Internal to the platform library.

#include <QtGlobal>
#include <functional>
#include <string_view>

namespace TreeWalk {

/// A regular file whose allocated size reached the report threshold.
/// `dir` is its folder relative to the walk's root ("" for the root itself).
using Report = std::function<void(std::string_view dir, const char* name, qint64 allocated)>;

struct Options
{
    bool skipHidden = false;
    qint64 reportAtLeast = 0; ///< files this large or larger are reported
    const Report* report = nullptr;
    int threads = 0; ///< 0: the default (walkerThreads(), cores while CPU-bound)
};

/// Walks every directory below the open directory `rootFd` (which stays owned by the caller),
/// descriptor-relative, never following a link and skipping whatever cannot be read. Returns the
/// sum of st_blocks × 512 over the regular files met. The calling thread walks too; up to
/// `threads - 1` helper threads join once there are folders to spare, and a walker that runs out
/// of work takes the shallowest folder still waiting in another walker's stack, so one huge
/// subtree never serialises the walk. `report` may be called from several threads at once.
/// Holds at most threads × 24 directory descriptors however deep the tree is.
qint64 walk(int rootFd, const Options& options);

/// Threads a walk uses by default: twice the cores, at least 8, since a walk with a cold cache
/// spends most of its time waiting for the disk and gains from many requests in flight.
int walkerThreads();

} // namespace TreeWalk
