#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <sys/types.h>

/// The file operations that the cleaning core and the uninstaller call. Every function may be
/// called from any thread at the same time; none keeps state for the caller, none throws.
/// Paths are absolute local paths; their bytes are converted with PathCodec, so a name that is
/// not UTF-8 survives the round trip unchanged.
///
/// Errors inside the platform layer travel as errno values: positive, 0 meaning none, never
/// negated. Every contract of this folder that reports an errno follows that rule.
namespace FileSystem {

/// Outcome of an operation that changes the file system: success, or the error's text.
struct Outcome
{
    QString error; ///< empty on success

    bool ok() const { return error.isEmpty(); }
    static Outcome success() { return {}; }
    /// The failure that the errno value `errorNumber` (positive) describes, in ErrorText's
    /// Vietnamese words.
    static Outcome failure(int errorNumber);
    friend bool operator==(const Outcome&, const Outcome&) = default;
};

/// Which object a path named when it was opened: its device and inode. Equal identities name the
/// same object for as long as it exists; a folder renamed keeps its identity, a link or folder put
/// in its place has another.
struct Identity
{
    dev_t device = 0;
    ino_t inode = 0;
    friend bool operator==(const Identity&, const Identity&) = default;
};

/// The identity of the object at the path, links followed; nullopt when there is none.
std::optional<Identity> identity(const QString& path);

/// Home directory of the current user ($HOME), read once on first use.
QString homeDirectory();

/// True when any object, a dangling link included, exists at the path (the link is not followed).
bool exists(const QString& path);

enum class Hidden { Include, Skip };

/// Full paths of the direct children of a directory, in listing order. A link at the path itself
/// is followed; a name starting with "." is hidden. nullopt when the path is missing, unreadable
/// or not a directory. `listed`, when given, receives the identity of the directory listed.
std::optional<QStringList> children(const QString& directory, Hidden hidden = Hidden::Include,
                                    Identity* listed = nullptr);

/// Allocated size in bytes (st_blocks × 512) of a file, or of every regular file below a
/// directory. A link counts nothing and is never followed; what cannot be read counts nothing;
/// 0 when the path cannot be read at all. Blocks the caller for the whole walk, sharing the work
/// with idle walker threads when there are any.
qint64 allocatedSize(const QString& path);

/// One regular file met by walkFiles().
struct WalkedFile
{
    QString path;     ///< absolute path
    qint64 allocated; ///< st_blocks × 512
};

/// Calls `visit` for every regular file below `root` (a link at `root` itself is followed, no
/// link below it is), skipping names that start with "." when asked. Unreadable folders are
/// skipped. `visit` may be called from several threads at once and is called only for files whose
/// allocated size is at least `minAllocated`, so small files cost no path construction.
/// `walked`, when given, receives the identity of the root walked (left alone when it could not
/// be opened).
void walkFiles(const QString& root, Hidden hidden, qint64 minAllocated,
               const std::function<void(const WalkedFile&)>& visit, Identity* walked = nullptr);

/// Capacity of the volume holding a path.
struct VolumeInfo
{
    qint64 total = 0;     ///< bytes
    qint64 available = 0; ///< bytes available to an unprivileged user
    bool readOnly = false;
};
std::optional<VolumeInfo> volume(const QString& path);

/// Removes `item` and everything below it. `item` must lie strictly below `root`; `root` itself
/// is opened following links, but the path from `root` to `item` must hold no link, and nothing
/// below `item` is followed, even when a link is swapped in while the removal runs. A link at
/// `item` is removed itself. Deep trees are removed with a bounded number of descriptors and
/// memory. When `pinnedRoot` is given, the root as opened must be that object (the one a scan
/// listed), or nothing is touched and the failure is ESTALE's. The error text is ErrorText's.
Outcome removeItem(const QString& root, const QString& item,
                   std::optional<Identity> pinnedRoot = std::nullopt);

/// Adds the owner's read, write and search bits to every directory owned by `uid` at or below
/// `item` (anchored at `root`, and pinned, as removeItem is). Files, links and directories of
/// other owners are left alone; failures are ignored.
void grantOwnerAccess(const QString& root, const QString& item, uid_t uid,
                      std::optional<Identity> pinnedRoot = std::nullopt);

/// Attributes of an item; a link at the path is described itself.
struct Attributes
{
    uid_t owner = 0;
    mode_t type = 0;        ///< the S_IFMT bits
    mode_t permissions = 0; ///< the permission bits (07777)
    bool isDirectory() const;
};
std::optional<Attributes> attributes(const QString& path);

/// Sets the permission bits of a directory, through a descriptor opened without following links
/// (a path-based chmod would follow a link swapped in at the path).
Outcome setDirectoryPermissions(const QString& path, mode_t permissions);

/// "." and ".." removed, links kept, no trailing slash.
QString standardized(const QString& path);
/// Every link resolved (realpath); the standardised path when it cannot be resolved.
QString resolved(const QString& path);
/// True when `inner` is `outer` or lies below it ("/" holds every absolute path). Compares the
/// text as given, touching no file: pass both in the same form (standardized or resolved), or
/// "/a/b/.." and "/a" do not match.
bool isWithin(const QString& inner, const QString& outer);
/// The last path component.
QString lastComponent(const QString& path);
/// The extension of the last component without its dot ("app" for "Foo.app"), or empty.
QString extension(const QString& path);

} // namespace FileSystem
