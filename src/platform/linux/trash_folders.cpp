#include "platform/linux/trash_p.h"
#include "platform/path_codec.h"
#include "platform/places.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace TrashFolders {
namespace {

constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
// More levels than any path can have below PATH_MAX.
constexpr int kMaxLevels = PATH_MAX / 2;

// Where a directory lives. A rename works only within one mount, which the mount id tells
// (a bind mount shares the device of another); kernels without it leave the id 0.
struct Mount
{
    dev_t device = 0;
    quint64 id = 0;
    ino_t inode = 0;
    bool known = false;
};

Mount mountOf(int fd)
{
    struct statx info = {};
    unsigned int mask = STATX_INO;
#ifdef STATX_MNT_ID
    mask |= STATX_MNT_ID;
#endif
    if (statx(fd, "", AT_EMPTY_PATH, mask, &info) != 0) return {};
    Mount mount{makedev(info.stx_dev_major, info.stx_dev_minor), 0, info.stx_ino, true};
#ifdef STATX_MNT_ID
    if ((info.stx_mask & STATX_MNT_ID) != 0) mount.id = info.stx_mnt_id;
#endif
    return mount;
}

bool sameMount(const Mount& a, const Mount& b)
{
    return a.known && b.known && a.device == b.device && a.id == b.id;
}

// A folder of a trash, created 0700 when missing, as the freedesktop rules ask.
UniqueFd makeFolder(int dirFd, const char* name, bool followLink)
{
    if (mkdirat(dirFd, name, 0700) != 0 && errno != EEXIST) return UniqueFd();
    return UniqueFd(openat(dirFd, name, kDirectoryFlags | (followLink ? 0 : O_NOFOLLOW)));
}

// The user's own folder, which nobody else may write to: a per-mount trash that another user
// prepared could hand our items to them.
bool isOurs(int fd)
{
    struct stat info = {};
    return fstat(fd, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == getuid() &&
           (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

Opened inside(UniqueFd trash)
{
    Opened opened;
    if (trash) opened.files = makeFolder(trash.get(), "files", false);
    if (opened.files) opened.info = makeFolder(trash.get(), "info", false);
    if (!opened.info) opened.outcome = FileSystem::Outcome::failure(errno);
    return opened;
}

// The home trash, every missing folder of it created (a data folder that does not exist yet is
// no reason to put the record anywhere else). Links are followed, as the user set them up.
UniqueFd homeTrash()
{
    UniqueFd folder(open("/", kDirectoryFlags));
    for (const QByteArray& component : PathCodec::encode(Places::homeTrash()).split('/')) {
        if (component.isEmpty() || !folder) continue;
        folder = makeFolder(folder.get(), component.constData(), true);
    }
    return folder;
}

// The top directory of the mount holding `dirFd`: climbs ".." until the mount changes.
UniqueFd topOf(int dirFd)
{
    UniqueFd current(fcntl(dirFd, F_DUPFD_CLOEXEC, 0));
    Mount here = mountOf(dirFd);
    for (int level = 0; current && level < kMaxLevels; ++level) {
        UniqueFd up(openat(current.get(), "..", kDirectoryFlags));
        if (!up) return up;
        const Mount above = mountOf(up.get());
        if (!sameMount(above, here) || above.inode == here.inode) return current;
        current = std::move(up);
        here = above;
    }
    return UniqueFd();
}

UniqueFd topTrash(int top)
{
    const QByteArray uid = QByteArray::number(getuid());
    const UniqueFd shared(openat(top, ".Trash", kDirectoryFlags | O_NOFOLLOW));
    struct stat info = {};
    if (shared && fstat(shared.get(), &info) == 0 && (info.st_mode & S_ISVTX) != 0) {
        UniqueFd own = makeFolder(shared.get(), uid.constData(), false);
        if (own && isOurs(own.get())) return own;
    }
    UniqueFd own = makeFolder(top, (".Trash-" + uid).constData(), false);
    return own && isOurs(own.get()) ? std::move(own) : UniqueFd();
}

} // namespace

Opened forItemsIn(int parentFd)
{
    Opened home = inside(homeTrash());
    if (!home.outcome.ok()) return home;
    const Mount item = mountOf(parentFd);
    if (sameMount(mountOf(home.files.get()), item)) return home;
    const UniqueFd top = topOf(parentFd);
    UniqueFd trash = top ? topTrash(top.get()) : UniqueFd();
    if (!trash) return Opened{{}, {}, {QStringLiteral("không có Thùng rác dùng được trên ổ này")}};
    return inside(std::move(trash));
}

} // namespace TrashFolders
