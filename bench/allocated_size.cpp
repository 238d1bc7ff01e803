// Prints the allocated size of a folder exactly as the scanner measures it.
// Usage: allocated_size DIR [THREADS]
#include "platform/file_system.h"
#include "platform/path_codec.h"
#include "platform/tree_walk.h"
#include "platform/unique_fd.h"

#include <fcntl.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DIR [THREADS]\n", argv[0]);
        return 2;
    }
    const int threads = argc > 2 ? std::atoi(argv[2]) : 0;
    if (threads <= 0) {
        std::printf("%lld\n", static_cast<long long>(FileSystem::allocatedSize(PathCodec::decode(argv[1]))));
        return 0;
    }
    UniqueFd fd(open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd)
        return 1;
    TreeWalk::Options options;
    options.threads = threads;
    std::printf("%lld\n", static_cast<long long>(TreeWalk::walk(fd.get(), options)));
    return 0;
}
