#include "platform/file_system.h"

#include "platform/linux/linux_file_system.h"
#include "platform/linux/tree_walk_p.h"
#include "platform/path_codec.h"
#include "platform/unique_dir.h"
#include "platform/unique_fd.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <sys/statvfs.h>

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

bool isDotOrDotDot(const char* name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

} // namespace

std::optional<Identity> identity(const QString& path)
{
    struct stat st = {};
    if (stat(bytes(path).constData(), &st) != 0) return std::nullopt;
    return Identity{st.st_dev, st.st_ino};
}

bool exists(const QString& path)
{
    struct stat st = {};
    return lstat(bytes(path).constData(), &st) == 0;
}

std::optional<QStringList> children(const QString& directory, Hidden hidden, Identity* listed)
{
    const UniqueDir dir(opendir(bytes(directory).constData()));
    if (!dir) return std::nullopt;
    struct stat st = {};
    if (listed != nullptr && fstat(dir.fd(), &st) != 0) return std::nullopt;
    const QString base = standardized(directory);
    QStringList result;
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(dir.get());
        if (entry == nullptr) break;
        const char* name = entry->d_name;
        if (isDotOrDotDot(name) || (hidden == Hidden::Skip && name[0] == '.')) continue;
        result.append(joined(base, name));
    }
    if (errno != 0) return std::nullopt;
    if (listed != nullptr) *listed = Identity{st.st_dev, st.st_ino};
    return result;
}

qint64 allocatedSize(const QString& path)
{
    return LinuxFileSystem::allocatedSize(path, 0);
}

void walkFiles(const QString& root, Hidden hidden, qint64 minAllocated,
               const std::function<void(const WalkedFile&)>& visit, Identity* walked)
{
    const UniqueFd fd(open(bytes(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat st = {};
    if (!fd || fstat(fd.get(), &st) != 0) return;
    if (walked != nullptr) *walked = Identity{st.st_dev, st.st_ino};
    const QString base = standardized(root);
    const TreeWalk::Report report = [&](std::string_view dir, const char* name, qint64 allocated) {
        const QString path =
            dir.empty() ? base : joined(base, QByteArrayView(dir.data(), qsizetype(dir.size())));
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
    struct statvfs vfs = {};
    if (statvfs(bytes(path).constData(), &vfs) != 0) return std::nullopt;
    VolumeInfo info;
    info.total = qint64(vfs.f_blocks) * qint64(vfs.f_frsize);
    info.available = qint64(vfs.f_bavail) * qint64(vfs.f_frsize);
    info.readOnly = (vfs.f_flag & ST_RDONLY) != 0;
    return info;
}

std::optional<Attributes> attributes(const QString& path)
{
    struct stat st = {};
    if (lstat(bytes(path).constData(), &st) != 0) return std::nullopt;
    return Attributes{st.st_uid, mode_t(st.st_mode & S_IFMT), mode_t(st.st_mode & 07777)};
}

Outcome setDirectoryPermissions(const QString& path, mode_t permissions)
{
    const UniqueFd fd(open(bytes(path).constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) return Outcome::failure(errno);
    // fchmod refuses a path-only descriptor; its /proc/self/fd entry names exactly the object
    // opened, so no link swapped in at `path` since can be followed.
    const QByteArray procPath = "/proc/self/fd/" + QByteArray::number(fd.get());
    return chmod(procPath.constData(), permissions & 07777) == 0 ? Outcome::success()
                                                                 : Outcome::failure(errno);
}

QString resolved(const QString& path)
{
    const std::unique_ptr<char, decltype(&std::free)> real(
        realpath(bytes(path).constData(), nullptr), &std::free);
    return real ? PathCodec::decode(real.get()) : standardized(path);
}

} // namespace FileSystem

namespace LinuxFileSystem {

qint64 allocatedSize(const QString& path, int walkers)
{
    const QByteArray encoded = PathCodec::encode(path);
    struct stat st = {};
    if (lstat(encoded.constData(), &st) != 0 || S_ISLNK(st.st_mode)) return 0;
    if (!S_ISDIR(st.st_mode)) return qint64(st.st_blocks) * 512;
    const UniqueFd fd(open(encoded.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) return 0;
    TreeWalk::Options options;
    options.threads = walkers;
    return TreeWalk::walk(fd.get(), options);
}

} // namespace LinuxFileSystem
