#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

/// Reading small files that another program wrote (desktop entries, file lists, magic bytes).
/// Nothing blocks on a FIFO or a device, nothing larger than the caller's bound is read.
/// Any thread; never throws.
namespace BoundedFile {

enum class Links { Follow, Refuse };

/// The whole content of a regular file of at most `maxBytes` bytes; nullopt when the path is
/// missing, not a regular file, a link (when refused), unreadable, or larger than the bound.
std::optional<QByteArray> read(const QString& path, qint64 maxBytes, Links links = Links::Follow);

/// read() of the entry `name` of the directory `dirFd`, its own link never followed.
std::optional<QByteArray> readAt(int dirFd, const char* name, qint64 maxBytes);

/// Up to `count` bytes from the start of a regular file, the path's own link not followed;
/// nullopt when it is not a regular file or cannot be read.
std::optional<QByteArray> head(const QString& path, qint64 count);

} // namespace BoundedFile
