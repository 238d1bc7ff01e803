#pragma once

#include "platform/unique_fd.h"

#include <dirent.h>
#include <memory>

/// Owns one directory stream (opendir, fdopendir) and closes it when it goes out of scope.
class UniqueDir
{
public:
    UniqueDir() = default;
    explicit UniqueDir(DIR* dir) : m_dir(dir) {}

    /// A stream over the open directory `fd`, which it takes over; invalid (and `fd` closed) when
    /// fdopendir refuses it.
    static UniqueDir adopt(UniqueFd fd)
    {
        DIR* dir = fd ? fdopendir(fd.get()) : nullptr;
        if (dir != nullptr) (void)fd.release();
        return UniqueDir(dir);
    }

    DIR* get() const { return m_dir.get(); }
    explicit operator bool() const { return m_dir != nullptr; }
    /// The descriptor the stream reads, for *at() calls relative to it.
    int fd() const { return dirfd(m_dir.get()); }

private:
    struct Closer
    {
        void operator()(DIR* dir) const { closedir(dir); }
    };
    std::unique_ptr<DIR, Closer> m_dir;
};
