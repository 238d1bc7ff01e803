#include "platform/file_system.h"

#include "platform/anchored_tree.h"
#include "platform/path_codec.h"
#include "platform/tree_walk.h"
#include "platform/unique_fd.h"

#include <QDir>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cerrno>

namespace FileSystem {
namespace {

QByteArray bytes(const QString& path)
{
    return PathCodec::encode(path);
}

QString joined(const QString& directory, QByteArrayView name)
{
    const QString decoded = PathCodec::decode(name);
    return directory.endsWith(u'/') ? directory + decoded : directory + u'/' + decoded;
}

class RemovalVisitor final : public AnchoredTree::Visitor
{
public:
    int openDirectory(int parentFd, const char* name) override
    {
        const int fd = openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        return fd >= 0 ? fd : -errno;
    }

    int openFailed(int parentFd, const char* name, int error) override
    {
        // The directory became a link or a file after it was listed: remove that instead.
        if (error == ELOOP || error == ENOTDIR)
            return unlinkEntry(parentFd, name);
        return error == ENOENT ? 0 : -error;
    }

    int entry(int dirFd, const char* name, unsigned char type) override
    {
        if (type == DT_DIR)
            return Descend;
        if (type == DT_UNKNOWN) {
            struct stat st;
            if (fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                return errno == ENOENT ? 0 : -errno;
            if (S_ISDIR(st.st_mode))
                return Descend;
        }
        const int r = unlinkEntry(dirFd, name);
        return r == -EISDIR ? Descend : r;
    }

    int leave(int parentFd, const char* name) override
    {
        if (unlinkat(parentFd, name, AT_REMOVEDIR) == 0 || errno == ENOENT)
            return 0;
        return -errno;
    }

private:
    static int unlinkEntry(int dirFd, const char* name)
    {
        if (unlinkat(dirFd, name, 0) == 0 || errno == ENOENT)
            return 0;
        return -errno;
    }
};

// Adds the owner's bits to the directories of one owner, pre-order, so that a directory made
// unreadable by its owner is repaired before it is listed.
class OwnerAccessVisitor final : public AnchoredTree::Visitor
{
public:
    explicit OwnerAccessVisitor(uid_t uid) : m_uid(uid) {}

    int openDirectory(int parentFd, const char* name) override
    {
        constexpr int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
        int fd = openat(parentFd, name, flags);
        if (fd >= 0) {
            grant(fd, fd);
            return fd;
        }
        if (errno != EACCES)
            return -errno;
        // Unreadable: change it through a path-only descriptor, which needs no permission.
        UniqueFd pathFd(openat(parentFd, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!pathFd)
            return -errno;
        grant(pathFd.get(), -1);
        fd = openat(parentFd, name, flags);
        return fd >= 0 ? fd : -errno;
    }

    int openFailed(int, const char*, int) override { return 0; }

    int entry(int dirFd, const char* name, unsigned char type) override
    {
        if (type == DT_DIR)
            return Descend;
        if (type != DT_UNKNOWN)
            return 0;
        struct stat st;
        if (fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            return 0;
        return S_ISDIR(st.st_mode) ? Descend : 0;
    }

    int leave(int, const char*) override { return 0; }

private:
    // `fd` describes the directory; `openFd` is the same descriptor when it was opened for
    // reading (fchmod works on it), or -1 for a path-only one, which fchmod refuses: that one is
    // changed through its /proc/self/fd entry, which names exactly the object already opened.
    void grant(int fd, int openFd) const
    {
        struct stat st;
        if (fstat(fd, &st) != 0 || st.st_uid != m_uid || !S_ISDIR(st.st_mode))
            return;
        const mode_t mode = (st.st_mode & 07777) | S_IRWXU;
        if (mode == (st.st_mode & 07777))
            return;
        if (openFd >= 0) {
            (void)fchmod(openFd, mode);
            return;
        }
        const QByteArray procPath = "/proc/self/fd/" + QByteArray::number(fd);
        (void)chmod(procPath.constData(), mode);
    }

    uid_t m_uid;
};

} // namespace

Outcome Outcome::failure(int errorNumber)
{
    return Outcome{AnchoredTree::errorText(errorNumber)};
}

QString homeDirectory()
{
    static const QString home = QDir::homePath();
    return home;
}

bool exists(const QString& path)
{
    struct stat st;
    return lstat(bytes(path).constData(), &st) == 0;
}

std::optional<QStringList> children(const QString& directory, Hidden hidden)
{
    DIR* dir = opendir(bytes(directory).constData());
    if (!dir)
        return std::nullopt;
    const QString base = standardized(directory);
    QStringList result;
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(dir);
        if (!entry)
            break;
        const char* name = entry->d_name;
        if (name[0] == '.' && (hidden == Hidden::Skip || name[1] == '\0' ||
                               (name[1] == '.' && name[2] == '\0')))
            continue;
        result.append(joined(base, name));
    }
    const bool failed = errno != 0;
    closedir(dir);
    if (failed)
        return std::nullopt;
    return result;
}

qint64 allocatedSize(const QString& path)
{
    const QByteArray encoded = bytes(path);
    struct stat st;
    if (lstat(encoded.constData(), &st) != 0 || S_ISLNK(st.st_mode))
        return 0;
    if (!S_ISDIR(st.st_mode))
        return qint64(st.st_blocks) * 512;
    UniqueFd fd(open(encoded.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd)
        return 0;
    return TreeWalk::walk(fd.get(), TreeWalk::Options{});
}

void walkFiles(const QString& root, Hidden hidden, qint64 minAllocated,
               const std::function<void(const WalkedFile&)>& visit)
{
    UniqueFd fd(open(bytes(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd)
        return;
    const QString base = standardized(root);
    const TreeWalk::Report report = [&](std::string_view dir, const char* name, qint64 allocated) {
        QString path = dir.empty() ? base : joined(base, QByteArrayView(dir.data(), qsizetype(dir.size())));
        visit(WalkedFile{joined(path, name), allocated});
    };
    TreeWalk::Options options;
    options.skipHidden = hidden == Hidden::Skip;
    options.reportAtLeast = minAllocated;
    options.report = &report;
    TreeWalk::walk(fd.get(), options);
}

std::optional<VolumeInfo> volume(const QString& path)
{
    struct statvfs vfs;
    if (statvfs(bytes(path).constData(), &vfs) != 0)
        return std::nullopt;
    VolumeInfo info;
    info.total = qint64(vfs.f_blocks) * qint64(vfs.f_frsize);
    info.available = qint64(vfs.f_bavail) * qint64(vfs.f_frsize);
    info.readOnly = (vfs.f_flag & ST_RDONLY) != 0;
    return info;
}

Outcome removeItem(const QString& root, const QString& item)
{
    const AnchoredTree::Location location = AnchoredTree::locate(root, item);
    if (location.error != 0)
        return Outcome::failure(location.error);
    const int parent = location.parent.get();
    const char* name = location.name.c_str();
    struct stat st;
    if (fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return Outcome::failure(errno);
    if (!S_ISDIR(st.st_mode))
        return unlinkat(parent, name, 0) == 0 ? Outcome::success() : Outcome::failure(errno);
    RemovalVisitor visitor;
    const int r = AnchoredTree::traverse(parent, name, visitor);
    return r == 0 ? Outcome::success() : Outcome::failure(-r);
}

void grantOwnerAccess(const QString& root, const QString& item, uid_t uid)
{
    const AnchoredTree::Location location = AnchoredTree::locate(root, item);
    if (location.error != 0)
        return;
    OwnerAccessVisitor visitor(uid);
    (void)AnchoredTree::traverse(location.parent.get(), location.name.c_str(), visitor);
}

bool Attributes::isDirectory() const
{
    return type == S_IFDIR;
}

std::optional<Attributes> attributes(const QString& path)
{
    struct stat st;
    if (lstat(bytes(path).constData(), &st) != 0)
        return std::nullopt;
    return Attributes{st.st_uid, mode_t(st.st_mode & S_IFMT), mode_t(st.st_mode & 07777)};
}

Outcome setDirectoryPermissions(const QString& path, mode_t permissions)
{
    UniqueFd fd(open(bytes(path).constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd)
        return Outcome::failure(errno);
    const QByteArray procPath = "/proc/self/fd/" + QByteArray::number(fd.get());
    return chmod(procPath.constData(), permissions & 07777) == 0 ? Outcome::success()
                                                                 : Outcome::failure(errno);
}

QString standardized(const QString& path)
{
    return QDir::cleanPath(path);
}

QString resolved(const QString& path)
{
    char* real = realpath(bytes(path).constData(), nullptr);
    if (!real)
        return standardized(path);
    QString result = PathCodec::decode(real);
    free(real);
    return result;
}

QString lastComponent(const QString& path)
{
    const QString clean = standardized(path);
    if (clean == u"/")
        return clean;
    return clean.mid(clean.lastIndexOf(u'/') + 1);
}

QString extension(const QString& path)
{
    const QString name = lastComponent(path);
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot <= 0 ? QString() : name.mid(dot + 1);
}

} // namespace FileSystem
