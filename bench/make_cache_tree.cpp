// Builds a synthetic, cache-like folder for the size benchmarks: about FILES regular files
// (200000 by default) spread very unevenly over top-level folders, with deep and flat parts, a
// content-addressed store with thousands of near-empty folders, hidden folders, empty files and
// folders, sparse files, and links to files, to folders (one loops back to the top) and to
// nothing. The same arguments always give the same tree.
// Usage: make_cache_tree DIR [FILES]
#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct Random
{
    uint64_t state;
    uint64_t next()
    {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    }
    uint64_t below(uint64_t n) { return next() % n; }
};

Random g_random{0x9E3779B97F4A7C15ull};
std::vector<char> g_data;
long g_files = 0;
long g_links = 0;
long g_dirs = 0;

[[noreturn]] void fail(const std::string& what)
{
    std::fprintf(stderr, "make_cache_tree: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

void makeDir(const std::string& path)
{
    if (mkdir(path.c_str(), 0755) == 0)
        ++g_dirs;
    else if (errno != EEXIST)
        fail(path);
}

// Mostly small files, as in real caches; a few large ones, some of them sparse.
uint64_t pickSize()
{
    const uint64_t roll = g_random.below(1000);
    if (roll < 30) return 0;
    if (roll < 600) return 1 + g_random.below(1024);
    if (roll < 950) return 1024 + g_random.below(8 * 1024);
    if (roll < 995) return 8 * 1024 + g_random.below(56 * 1024);
    return 64 * 1024 + g_random.below(960 * 1024);
}

void writeFile(const std::string& path)
{
    const uint64_t size = pickSize();
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) fail(path);
    const bool sparse = size > 64 * 1024 && g_random.below(2) == 0;
    const uint64_t written = sparse ? 16 * 1024 : size;
    uint64_t done = 0;
    while (done < written) {
        const size_t chunk = size_t(std::min<uint64_t>(written - done, g_data.size()));
        const ssize_t n = write(fd, g_data.data(), chunk);
        if (n <= 0) fail(path);
        done += uint64_t(n);
    }
    if (sparse && ftruncate(fd, off_t(size)) != 0) fail(path);
    close(fd);
    ++g_files;
}

void makeLink(const std::string& target, const std::string& path)
{
    if (symlink(target.c_str(), path.c_str()) != 0 && errno != EEXIST) fail(path);
    ++g_links;
}

std::string hex(uint64_t value, int digits)
{
    static const char alphabet[] = "0123456789abcdef";
    std::string text(size_t(digits), '0');
    for (int i = digits - 1; i >= 0; --i, value >>= 4)
        text[size_t(i)] = alphabet[value & 15];
    return text;
}

// Spreads `files` over a tree below `dir`: up to `perDir` files here, the rest over 2 to
// `fanout` subfolders of random weight, with now and then a hidden subfolder, an empty folder
// or a link.
void spread(const std::string& dir, long files, int perDir, int fanout, int depth)
{
    makeDir(dir);
    const long here =
        depth == 0 || files <= perDir
            ? files
            : std::min<long>(files, perDir / 2 + long(g_random.below(uint64_t(perDir / 2 + 1))));
    for (long i = 0; i < here; ++i) {
        writeFile(dir + "/f" + hex(g_random.next(), 10) + (i % 5 == 0 ? ".bin" : ".dat"));
        if (g_random.below(400) == 0)
            makeLink("f-missing-" + std::to_string(i), dir + "/dangling" + std::to_string(i));
    }
    long rest = files - here;
    if (rest <= 0) return;
    const int children = 2 + int(g_random.below(uint64_t(fanout - 1)));
    std::vector<uint64_t> weights(static_cast<size_t>(children));
    uint64_t sum = 0;
    for (auto& w : weights)
        sum += (w = 1 + g_random.below(100) * g_random.below(100));
    for (int c = 0; c < children && rest > 0; ++c) {
        const long share = c == children - 1
                               ? rest
                               : long(double(rest) * double(weights[size_t(c)]) / double(sum));
        sum -= weights[size_t(c)];
        const bool hidden = g_random.below(25) == 0;
        const std::string child = dir + (hidden ? "/.h" : "/d") + hex(g_random.next(), 6);
        spread(child, share, perDir, fanout, depth - 1);
        rest -= share;
    }
    if (g_random.below(8) == 0) makeDir(dir + "/empty" + hex(g_random.next(), 4));
    if (g_random.below(10) == 0) makeLink("..", dir + "/up-link");
}

// A content-addressed store (npm's _cacache): two levels of 256 hex folders, one or two files at
// each leaf, so folders nearly outnumber files.
void contentStore(const std::string& dir, long files)
{
    makeDir(dir + "/content-v2");
    makeDir(dir + "/content-v2/sha512");
    makeDir(dir + "/index-v5");
    for (long i = 0; i < files; ++i) {
        const std::string base = (i % 4 == 0 ? dir + "/index-v5/" : dir + "/content-v2/sha512/");
        const std::string a = base + hex(g_random.below(256), 2);
        const std::string b = a + "/" + hex(g_random.below(256), 2);
        makeDir(a);
        makeDir(b);
        writeFile(b + "/" + hex(g_random.next(), 16) + hex(g_random.next(), 16));
    }
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DIR [FILES]\n", argv[0]);
        return 2;
    }
    const std::string root = argv[1];
    const long total = argc > 2 ? std::atol(argv[2]) : 200000;
    g_data.resize(1024 * 1024);
    for (auto& c : g_data)
        c = char(g_random.next());
    makeDir(root);

    // Uneven on purpose: one browser-like cache holds nearly half the files.
    spread(root + "/com.example.Browser", total * 45 / 100, 40, 12, 6);
    makeDir(root + "/npm");
    contentStore(root + "/npm", total * 20 / 100);
    makeDir(root + "/Yarn");
    spread(root + "/Yarn", total * 12 / 100, 1500, 6, 1);
    makeDir(root + "/.hidden-cache");
    spread(root + "/.hidden-cache", total * 5 / 100, 60, 8, 4);
    for (int i = 0; i < 40; ++i) {
        const std::string dir = root + "/org.medium" + std::to_string(i);
        makeDir(dir);
        spread(dir, total * 14 / 100 / 40, 30, 6, 4);
    }
    for (int i = 0; i < 300; ++i) {
        const std::string dir = root + (i % 30 == 0 ? "/.small" : "/small") + std::to_string(i);
        makeDir(dir);
        spread(dir, total * 3 / 100 / 300, 20, 3, 2);
    }
    for (long i = 0; i < total / 100; ++i)
        writeFile(root + "/loose" + std::to_string(i));
    makeLink(root + "/com.example.Browser", root + "/browser-link");
    makeLink("Yarn", root + "/yarn-relative-link");
    makeLink("loose0", root + "/file-link");
    makeLink("nowhere", root + "/dangling-link");
    makeDir(root + "/empty-folder");
    std::printf("%ld files, %ld folders, %ld links\n", g_files, g_dirs, g_links);
    return 0;
}
