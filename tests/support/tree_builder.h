#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

/// Builds real file trees for tests and measures them independently of the code under test.
namespace TreeBuilder {

/// Creates the folders of the path. Returns false on failure.
bool makeDir(const QString& path);
/// Writes `size` bytes of real data (so blocks are allocated), creating parent folders.
bool writeFile(const QString& path, qint64 size);
/// Same, with a raw byte path (for names that are not UTF-8).
bool writeFileRaw(const QByteArray& path, qint64 size);
/// Creates a symbolic link at `link` pointing to `target`.
bool makeLink(const QString& target, const QString& link);
/// Sum of st_blocks × 512 over the regular files at or below `path`, links not followed.
qint64 expectedAllocated(const QString& path);
/// st_blocks × 512 of one file.
qint64 blocksOf(const QString& path);
/// Number of entries at or below `path` (links not followed).
int countEntries(const QString& path);

/// Runs `body` in a child process that dropped to the unprivileged user 65534, returning the
/// child's exit code, or -1 when the switch is impossible. Root ignores permissions; this gives
/// tests a real refusal.
int runAsNobody(const std::function<int()>& body);
/// True when the process can drop to another user (it runs as root).
bool canDropPrivileges();

} // namespace TreeBuilder
