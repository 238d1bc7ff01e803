// Prints the allocated size of a folder exactly as the scanner measures it.
// Usage: allocated_size DIR [THREADS]
#include "platform/linux/linux_file_system.h"
#include "platform/path_codec.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DIR [THREADS]\n", argv[0]);
        return 2;
    }
    const int threads = argc > 2 ? std::atoi(argv[2]) : 0;
    const qint64 size = LinuxFileSystem::allocatedSize(PathCodec::decode(argv[1]), threads);
    std::printf("%lld\n", static_cast<long long>(size));
    return 0;
}
