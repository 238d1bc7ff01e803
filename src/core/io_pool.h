#pragma once

class QThreadPool;

/// The one pool for file-system work (scans, sizes, removals, catalogue, leftovers). Sized for
/// I/O rather than for the cores: most of its threads' time is spent waiting for the disk.
/// No task on it ever waits for another task of the same pool. A forked child gets a pool of its
/// own on first use (the parent's threads do not exist in it).
QThreadPool& ioPool();
