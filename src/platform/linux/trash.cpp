#include "platform/trash.h"

#include "platform/linux/anchored_tree_p.h"
#include "platform/linux/bounded_file.h"
#include "platform/linux/trash_p.h"
#include "platform/path_codec.h"
#include "platform/places.h"

#include <QRandomGenerator>
#include <QSet>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace FileSystem {
namespace {

// Names tried before giving up; the first hundred count up, the rest are random.
constexpr int kMaxAttempts = 200;
// A record is a few hundred bytes; a path of PATH_MAX bytes, all escaped, takes 12 KiB.
constexpr qint64 kMaxRecord = qint64{64} * 1024;
// One line per trashed folder.
constexpr qint64 kMaxDirectorySizes = qint64{4} * 1024 * 1024;

bool writeAll(int fd, const QByteArray& data)
{
    for (qsizetype done = 0; done < data.size();) {
        const ssize_t n = write(fd, data.constData() + done, size_t(data.size() - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += n;
    }
    return true;
}

// Renames without ever replacing what is there. File systems without RENAME_NOREPLACE fall back
// to a check first: the exclusive record already reserved the name among our own moves.
int renameNoReplace(int fromDir, const char* from, int toDir, const char* to)
{
    if (renameat2(fromDir, from, toDir, to, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    struct stat info = {};
    if (fstatat(toDir, to, &info, AT_SYMLINK_NOFOLLOW) == 0) return EEXIST;
    return renameat(fromDir, from, toDir, to) == 0 ? 0 : errno;
}

// Reserves a name by creating its record exclusively, then moves the item under that name into
// files/; the record goes again when the move fails, so no record ever names nothing.
Outcome moveInto(const TrashFolders::Opened& trash, int parentFd, const QByteArray& name,
                 const QByteArray& record)
{
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        const QByteArray stored = TrashRecord::storedName(name, attempt);
        const QByteArray info = stored + ".trashinfo";
        UniqueFd fd(openat(trash.info.get(), info.constData(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!fd && errno == EEXIST) continue;
        if (!fd) return Outcome::failure(errno);
        int error = writeAll(fd.get(), record) ? 0 : (errno != 0 ? errno : EIO);
        fd.reset();
        if (error == 0)
            error =
                renameNoReplace(parentFd, name.constData(), trash.files.get(), stored.constData());
        if (error == 0) return Outcome::success();
        unlinkat(trash.info.get(), info.constData(), 0);
        if (error != EEXIST) return Outcome::failure(error);
    }
    return Outcome::failure(EEXIST);
}

// The trash folder holding `files`: the real parent of the real files folder, where its records
// live beside it.
UniqueFd trashOf(const QString& files)
{
    const UniqueFd folder(
        open(PathCodec::encode(files).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return folder ? UniqueFd(openat(folder.get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC))
                  : UniqueFd();
}

// Rewrites directorysizes without the lines of `names`: a new file renamed over the old one, so a
// reader never sees half of it.
void dropDirectorySizes(int trashFd, const QSet<QByteArray>& names)
{
    const std::optional<QByteArray> sizes =
        BoundedFile::readAt(trashFd, "directorysizes", kMaxDirectorySizes);
    if (!sizes) return;
    QByteArray kept;
    bool dropped = false;
    for (const QByteArray& line : sizes->split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() == 3 && names.contains(QByteArray::fromPercentEncoding(fields[2]))) {
            dropped = true;
        } else if (!line.isEmpty()) {
            kept += line + '\n';
        }
    }
    if (!dropped) return;
    const QByteArray temporary =
        "directorysizes." + QByteArray::number(QRandomGenerator::global()->generate64(), 16);
    UniqueFd fd(openat(trashFd, temporary.constData(),
                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd) return;
    const bool written = writeAll(fd.get(), kept);
    fd.reset();
    if (!written || renameat(trashFd, temporary.constData(), trashFd, "directorysizes") != 0)
        unlinkat(trashFd, temporary.constData(), 0);
}

} // namespace

Outcome moveToTrash(const QString& root, const QString& item, std::optional<Identity> pinnedRoot)
{
    const QString path = standardized(item);
    const AnchoredTree::Location location = AnchoredTree::locate(root, path, pinnedRoot);
    if (location.error != 0) return Outcome::failure(location.error);
    const QByteArray name = QByteArray::fromStdString(location.name);
    struct stat info = {};
    if (fstatat(location.parent.get(), name.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return Outcome::failure(errno);
    const TrashFolders::Opened trash = TrashFolders::forItemsIn(location.parent.get());
    if (!trash.outcome.ok()) return trash.outcome;
    // The path as the user knows it, absolute: valid in the home trash and a per-mount one.
    const QByteArray record =
        TrashRecord::text(PathCodec::encode(path), QDateTime::currentDateTime());
    return moveInto(trash, location.parent.get(), name, record);
}

Outcome moveToTrash(const QString& path)
{
    const QString clean = standardized(path);
    const qsizetype slash = clean.lastIndexOf(u'/');
    if (slash < 0 || clean == u"/") return Outcome::failure(EINVAL);
    return moveToTrash(slash == 0 ? QStringLiteral("/") : clean.left(slash), clean);
}

bool isTrashFiles(const QString& folder)
{
    return standardized(folder) == Places::homeTrash() + QStringLiteral("/files");
}

std::optional<QString> trashOrigin(const QString& item)
{
    const QString path = standardized(item);
    const qsizetype slash = path.lastIndexOf(u'/');
    if (slash <= 0 || !isTrashFiles(path.left(slash))) return std::nullopt;
    const QString trash = Places::homeTrash();
    const std::optional<QByteArray> record = BoundedFile::read(
        trash + QStringLiteral("/info/") + path.mid(slash + 1) + QStringLiteral(".trashinfo"),
        kMaxRecord, BoundedFile::Links::Refuse);
    const std::optional<QByteArray> original =
        record ? TrashRecord::originalPath(*record) : std::nullopt;
    if (!original) return std::nullopt;
    // A relative path is relative to the folder that holds the trash.
    if (original->startsWith('/')) return PathCodec::decode(*original);
    return standardized(trash + QStringLiteral("/../") + PathCodec::decode(*original));
}

void forgetTrashed(const QString& files, const QStringList& items)
{
    if (items.isEmpty()) return;
    const UniqueFd trash = trashOf(files);
    if (!trash) return;
    const UniqueFd info(
        openat(trash.get(), "info", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    const QString folder = standardized(files);
    QSet<QByteArray> names;
    for (const QString& item : items) {
        // Only an item of the files folder itself has a record; one deeper does not, whatever
        // its name, and must not take the record of the folder that holds it.
        const QString path = standardized(item);
        if (path.left(path.lastIndexOf(u'/')) != folder) continue;
        const QByteArray name = PathCodec::encode(lastComponent(path));
        if (info) unlinkat(info.get(), (name + ".trashinfo").constData(), 0);
        names.insert(name);
    }
    if (!names.isEmpty()) dropDirectorySizes(trash.get(), names);
}

} // namespace FileSystem
