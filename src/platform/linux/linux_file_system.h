#pragma once

#include <QString>

/// What the Linux file system offers beyond the contract, for the benchmarks and tests of the
/// walk.
namespace LinuxFileSystem {

/// FileSystem::allocatedSize() with a fixed number of walker threads; 0 chooses as
/// FileSystem::allocatedSize() does (as many as there are cores, more once the disk is the
/// bottleneck).
qint64 allocatedSize(const QString& path, int walkers);

} // namespace LinuxFileSystem
