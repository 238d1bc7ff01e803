// Removal and permission repair, anchored at the root that allowed them.
#include "platform/file_system.h"
#include "platform/linux/anchored_tree_p.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace FileSystem {
namespace {

using AnchoredTree::Opened;
using AnchoredTree::Verdict;

constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

Opened openDirectoryAt(int parentFd, const char* name, int flags)
{
    UniqueFd fd(openat(parentFd, name, flags));
    return fd ? Opened{std::move(fd), 0} : Opened{UniqueFd(), errno};
}

// The entry's type when the listing did not tell; DT_UNKNOWN when it is gone, with `error` set
// for any other failure.
unsigned char typeOf(int dirFd, const char* name, int& error)
{
    struct stat st = {};
    if (fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        error = errno == ENOENT ? 0 : errno;
        return DT_UNKNOWN;
    }
    return S_ISDIR(st.st_mode) ? DT_DIR : DT_REG;
}

class RemovalVisitor final : public AnchoredTree::Visitor
{
public:
    Opened openDirectory(int parentFd, const char* name) override
    {
        return openDirectoryAt(parentFd, name, kDirectoryFlags);
    }

    int openFailed(int parentFd, const char* name, int error) override
    {
        // The directory became a link or a file after it was listed: remove that instead.
        if (error == ELOOP || error == ENOTDIR) return unlinkEntry(parentFd, name);
        return error == ENOENT ? 0 : error;
    }

    Verdict entry(int dirFd, const char* name, unsigned char type) override
    {
        if (type == DT_UNKNOWN) {
            int error = 0;
            type = typeOf(dirFd, name, error);
            if (type == DT_UNKNOWN) return Verdict{error, false};
        }
        if (type == DT_DIR) return Verdict{0, true};
        const int error = unlinkEntry(dirFd, name);
        return error == EISDIR ? Verdict{0, true} : Verdict{error, false};
    }

    int leave(int parentFd, const char* name) override
    {
        if (unlinkat(parentFd, name, AT_REMOVEDIR) == 0 || errno == ENOENT) return 0;
        return errno;
    }

private:
    static int unlinkEntry(int dirFd, const char* name)
    {
        if (unlinkat(dirFd, name, 0) == 0 || errno == ENOENT) return 0;
        return errno;
    }
};

// Adds the owner's bits to the directories of one owner, pre-order, so that a directory made
// unreadable by its owner is repaired before it is listed. Failures are ignored.
class OwnerAccessVisitor final : public AnchoredTree::Visitor
{
public:
    explicit OwnerAccessVisitor(uid_t uid) : m_uid(uid) {}

    Opened openDirectory(int parentFd, const char* name) override
    {
        Opened opened = openDirectoryAt(parentFd, name, kDirectoryFlags);
        if (opened.fd) {
            grant(opened.fd.get(), true);
            return opened;
        }
        if (opened.error != EACCES) return opened;
        // Unreadable: change it through a path-only descriptor, which needs no permission.
        const Opened path =
            openDirectoryAt(parentFd, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (!path.fd) return Opened{UniqueFd(), path.error};
        grant(path.fd.get(), false);
        return openDirectoryAt(parentFd, name, kDirectoryFlags);
    }

    int openFailed(int /*parentFd*/, const char* /*name*/, int /*error*/) override { return 0; }

    Verdict entry(int dirFd, const char* name, unsigned char type) override
    {
        int error = 0;
        if (type == DT_UNKNOWN) type = typeOf(dirFd, name, error);
        return Verdict{0, type == DT_DIR};
    }

    int leave(int /*parentFd*/, const char* /*name*/) override { return 0; }

private:
    // `fd` describes the directory. One opened for reading takes fchmod; a path-only one does
    // not, so it is changed through its /proc/self/fd entry, which names exactly the object
    // already opened.
    void grant(int fd, bool openedForReading) const
    {
        struct stat st = {};
        if (fstat(fd, &st) != 0 || st.st_uid != m_uid || !S_ISDIR(st.st_mode)) return;
        const mode_t mode = (st.st_mode & 07777) | S_IRWXU;
        if (mode == (st.st_mode & 07777)) return;
        if (openedForReading) {
            (void)fchmod(fd, mode);
            return;
        }
        const QByteArray procPath = "/proc/self/fd/" + QByteArray::number(fd);
        (void)chmod(procPath.constData(), mode);
    }

    uid_t m_uid;
};

} // namespace

Outcome removeItem(const QString& root, const QString& item, std::optional<Identity> pinnedRoot)
{
    const AnchoredTree::Location location = AnchoredTree::locate(root, item, pinnedRoot);
    if (location.error != 0) return Outcome::failure(location.error);
    const int parent = location.parent.get();
    const char* name = location.name.c_str();
    struct stat st = {};
    if (fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return Outcome::failure(errno);
    if (!S_ISDIR(st.st_mode))
        return unlinkat(parent, name, 0) == 0 ? Outcome::success() : Outcome::failure(errno);
    RemovalVisitor visitor;
    const int error = AnchoredTree::traverse(parent, name, visitor);
    return error == 0 ? Outcome::success() : Outcome::failure(error);
}

void grantOwnerAccess(const QString& root, const QString& item, uid_t uid,
                      std::optional<Identity> pinnedRoot)
{
    const AnchoredTree::Location location = AnchoredTree::locate(root, item, pinnedRoot);
    if (location.error != 0) return;
    OwnerAccessVisitor visitor(uid);
    (void)AnchoredTree::traverse(location.parent.get(), location.name.c_str(), visitor);
}

} // namespace FileSystem
