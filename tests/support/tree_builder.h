#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <sys/types.h>

/// Builds real file trees for tests and measures them independently of the code under test.
/// Paths go to the kernel through PathCodec, so names that are not UTF-8 work too.
namespace TreeBuilder {

/// Creates the folders of the path. Returns false on failure.
bool makeDir(const QString& path);
/// Writes `size` bytes of real data (so blocks are allocated), creating parent folders.
bool writeFile(const QString& path, qint64 size);
/// Same, with a raw byte path (for names that are not UTF-8); the parent must exist.
bool writeFileRaw(const QByteArray& path, qint64 size);
/// Gives a new file `bytes` allocated bytes without writing them where the file system allows
/// it (100 MiB files cost no time), creating parent folders.
bool allocate(const QString& path, qint64 bytes);
/// Creates a symbolic link at `link` pointing to `target`, creating parent folders.
bool makeLink(const QString& target, const QString& link);
/// chmod of the path itself; true on success.
bool setPermissions(const QString& path, mode_t mode);
/// The permission bits (07777) of the path itself, or mode_t(-1) when it cannot be read.
mode_t permissionsOf(const QString& path);

/// Sum of st_blocks × 512 over the regular files at or below `path`, links not followed.
qint64 expectedAllocated(const QString& path);
/// st_blocks × 512 of one file, or -1.
qint64 blocksOf(const QString& path);
/// Number of entries at or below `path` (links not followed).
int countEntries(const QString& path);

/// Runs `body` in a forked child that dropped to the unprivileged user 65534, returning the
/// child's exit code, or -1 when the switch is impossible. Root ignores permissions; this gives
/// tests a real refusal. The child must not rely on thread pools the parent started.
int runAsNobody(const std::function<int()>& body);
/// True when the process can drop to another user (it runs as root).
bool canDropPrivileges();

} // namespace TreeBuilder
