#pragma once

// Descriptor-relative building blocks shared by the tree walk, the removal and the permission
// repair. Internal to the platform library. Errors are positive errno values, 0 meaning none.

#include "platform/file_system.h"
#include "platform/unique_fd.h"

#include <QString>
#include <optional>
#include <string>
#include <string_view>

namespace AnchoredTree {

/// A descriptor just opened, or the errno of the refusal (then `fd` is invalid).
struct Opened
{
    UniqueFd fd;
    int error = 0;
};

/// Opens the relative path `rel` below the directory `dirFd` with `flags`, refusing every link on
/// the way and every escape by "..". An empty `rel` duplicates `dirFd`.
Opened openBeneath(int dirFd, std::string_view rel, int flags);

/// The directory that holds an item, opened beneath the root that allowed it.
struct Location
{
    UniqueFd parent;
    std::string name; ///< last component of the item
    int error = 0;    ///< errno when the item could not be located
};

/// Opens `root` (following links, as the user set them up) and, below it, the parent of `item`
/// without crossing any link. `item` must lie strictly below `root` after standardisation. A root
/// that is not the `pinned` object, when one is given, is refused with ESTALE.
Location locate(const QString& root, const QString& item,
                const std::optional<FileSystem::Identity>& pinned = std::nullopt);

/// A visitor's answer for one entry: stop with `error`, or go on, descending into the entry
/// when `descend` is set.
struct Verdict
{
    int error = 0;
    bool descend = false;
};

/// What a traversal does with each directory and entry it meets.
class Visitor
{
public:
    virtual ~Visitor() = default;

    /// Opens the directory `name` of `parentFd` for reading.
    virtual Opened openDirectory(int parentFd, const char* name) = 0;
    /// Called when openDirectory() failed with `error`; returns 0 to go on or an errno to stop.
    virtual int openFailed(int parentFd, const char* name, int error) = 0;
    /// A non-directory entry, or a directory when `type` says so.
    virtual Verdict entry(int dirFd, const char* name, unsigned char type) = 0;
    /// After every entry of the directory `name` was handled; returns 0 or an errno.
    virtual int leave(int parentFd, const char* name) = 0;
};

/// Depth-first traversal of the directory `name` inside `parentFd`, never following a link and
/// holding a bounded number of descriptors however deep the tree is: ancestors closed on the way
/// down are reopened through ".." and checked against the device and inode they had. Memory does
/// not grow with the depth beyond a small record per level: listings go through one buffer, and
/// only the names of subfolders still to visit are kept. A directory is handled part by part as
/// it is listed; one that leave() finds not empty (ENOTEMPTY) is listed again from its start, at
/// most twice, for the entries a listing of a changing directory may miss. Returns 0, or the
/// errno that stopped it.
int traverse(int parentFd, const char* name, Visitor& visitor);

} // namespace AnchoredTree
