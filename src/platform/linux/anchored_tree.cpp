#include "platform/linux/anchored_tree_p.h"
#include "platform/path_codec.h"

#include <QDir>
#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace AnchoredTree {
namespace {

// Ancestors beyond this many open descriptors are closed and reopened through "..".
constexpr int kMaxOpenDirectories = 32;
constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

Opened failed(int error)
{
    return Opened{UniqueFd(), error};
}

Opened duplicate(int dirFd)
{
    UniqueFd fd(fcntl(dirFd, F_DUPFD_CLOEXEC, 0));
    return fd ? Opened{std::move(fd), 0} : failed(errno);
}

Opened openComponentwise(int dirFd, std::string_view rel, int flags)
{
    Opened current = duplicate(dirFd);
    if (!current.fd) return current;
    size_t start = 0;
    while (start <= rel.size()) {
        size_t end = rel.find('/', start);
        if (end == std::string_view::npos) end = rel.size();
        const std::string component(rel.substr(start, end - start));
        start = end + 1;
        if (component.empty() || component == ".") continue;
        if (component == "..") return failed(EXDEV);
        const bool last = start > rel.size();
        const int componentFlags = last ? flags : O_RDONLY | O_DIRECTORY;
        UniqueFd next(
            openat(current.fd.get(), component.c_str(), componentFlags | O_NOFOLLOW | O_CLOEXEC));
        if (!next) return failed(errno);
        current.fd = std::move(next);
    }
    return current;
}

bool isDotOrDotDot(const char* name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// One getdents64 call lists a typical folder whole.
constexpr size_t kListingBuffer = size_t{32} * 1024;
// Listings of one directory after the first, when leaving it finds it not empty.
constexpr int kRelistings = 2;

// A directory on the current path. What it costs does not depend on the size of its listing:
// the listing goes through the traversal's one buffer, and only the names of subfolders still
// to visit are kept, on the traversal's name stack.
struct Frame
{
    UniqueFd fd; // closed when too many are open; then reopened through ".." of its child
    dev_t dev = 0;
    ino_t ino = 0;
    std::string name;
    off_t resume = 0;    // where the listing goes on, in a reopened descriptor too
    size_t names = 0;    // where its names start on the name stack
    bool listed = false; // the listing reached its end
    int relistings = 0;
};

class Traversal
{
public:
    Traversal(int parentFd, Visitor& visitor)
        : m_parentFd(parentFd), m_visitor(visitor),
          m_buffer(std::make_unique<char[]>(kListingBuffer))
    {
    }

    int run(const char* name)
    {
        if (const int error = push(m_parentFd, name)) return error;
        while (!m_stack.empty())
            if (const int error = step()) return error;
        return 0;
    }

private:
    // The top frame's descriptor is always open.
    int step()
    {
        Frame& top = m_stack.back();
        if (m_names.size() > top.names) {
            const size_t start = m_names.rfind('\0', m_names.size() - 2);
            const size_t from =
                start == std::string::npos || start < top.names ? top.names : start + 1;
            const std::string name = m_names.substr(from, m_names.size() - 1 - from);
            m_names.resize(from);
            return push(top.fd.get(), name.c_str());
        }
        return top.listed ? leave() : list(top);
    }

    // Reads the next part of the listing; subfolders the visitor descends into wait on the name
    // stack.
    int list(Frame& top)
    {
        const int fd = top.fd.get();
        const ssize_t n = getdents64(fd, m_buffer.get(), kListingBuffer);
        if (n < 0) return errno;
        if (n == 0) {
            top.listed = true;
            return 0;
        }
        for (size_t pos = 0; pos < size_t(n);) {
            const auto* entry = reinterpret_cast<const dirent64*>(m_buffer.get() + pos);
            pos += entry->d_reclen;
            if (isDotOrDotDot(entry->d_name)) continue;
            const Verdict verdict = m_visitor.entry(fd, entry->d_name, entry->d_type);
            if (verdict.error != 0) return verdict.error;
            if (verdict.descend) m_names.append(entry->d_name, std::strlen(entry->d_name) + 1);
        }
        top.resume = lseek(fd, 0, SEEK_CUR);
        return top.resume < 0 ? errno : 0;
    }

    // Opens a directory and makes it the top frame, unless the visitor skips it.
    int push(int parentFd, const char* name)
    {
        closeOldestIfNeeded();
        Opened opened = m_visitor.openDirectory(parentFd, name);
        if (!opened.fd) return m_visitor.openFailed(parentFd, name, opened.error);
        Frame frame;
        frame.fd = std::move(opened.fd);
        struct stat st = {};
        if (fstat(frame.fd.get(), &st) != 0) return errno;
        frame.dev = st.st_dev;
        frame.ino = st.st_ino;
        frame.name = name;
        frame.names = m_names.size();
        m_stack.push_back(std::move(frame));
        ++m_open;
        return 0;
    }

    // A directory that is still not empty when left is listed again from its start: a listing
    // of a directory that changes meanwhile may miss entries, and a reopened descriptor may not
    // resume exactly where the listing stopped on every file system.
    int leave()
    {
        Frame& top = m_stack.back();
        int parentFd = m_parentFd;
        if (m_stack.size() > 1) {
            if (const int error = reopen(m_stack[m_stack.size() - 2], top)) return error;
            parentFd = m_stack[m_stack.size() - 2].fd.get();
        }
        const int error = m_visitor.leave(parentFd, top.name.c_str());
        if (error == ENOTEMPTY && top.relistings < kRelistings) {
            ++top.relistings;
            top.listed = false;
            top.resume = 0;
            return lseek(top.fd.get(), 0, SEEK_SET) < 0 ? errno : 0;
        }
        m_stack.pop_back();
        --m_open;
        return error;
    }

    // A closed ancestor is reopened through ".." of its child; the device and inode must match
    // what it had, or a directory moved meanwhile would be worked on in the wrong place.
    int reopen(Frame& parent, const Frame& child)
    {
        if (parent.fd) return 0;
        UniqueFd fd(openat(child.fd.get(), "..", kDirectoryFlags));
        if (!fd) return errno;
        struct stat st = {};
        if (fstat(fd.get(), &st) != 0) return errno;
        if (st.st_dev != parent.dev || st.st_ino != parent.ino) return ESTALE;
        if (!parent.listed && lseek(fd.get(), parent.resume, SEEK_SET) < 0) return errno;
        parent.fd = std::move(fd);
        ++m_open;
        m_lowestOpen = std::min(m_lowestOpen, m_stack.size() - 2);
        return 0;
    }

    void closeOldestIfNeeded()
    {
        while (m_open >= kMaxOpenDirectories && m_lowestOpen < m_stack.size()) {
            Frame& oldest = m_stack[m_lowestOpen++];
            if (oldest.fd) {
                oldest.fd.reset();
                --m_open;
            }
        }
    }

    int m_parentFd;
    Visitor& m_visitor;
    std::unique_ptr<char[]> m_buffer;
    std::vector<Frame> m_stack;
    std::string m_names; // waiting subfolders of every frame, each name followed by a NUL
    int m_open = 0;
    size_t m_lowestOpen = 0;
};

} // namespace

namespace {

Opened openBeneathShort(int dirFd, std::string_view rel, int flags)
{
    const std::string path(rel);
    open_how how{};
    how.flags = uint64_t(flags | O_NOFOLLOW | O_CLOEXEC);
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    for (int attempt = 0; attempt < 8; ++attempt) {
        const long fd = syscall(SYS_openat2, dirFd, path.c_str(), &how, sizeof how);
        if (fd >= 0) return Opened{UniqueFd(int(fd)), 0};
        if (errno == EAGAIN || errno == EINTR) continue;
        // Older kernels, or a filter that forbids the call: resolve one component at a time.
        if (errno == ENOSYS || errno == EPERM) return openComponentwise(dirFd, rel, flags);
        return failed(errno);
    }
    return openComponentwise(dirFd, rel, flags);
}

} // namespace

// The kernel refuses a path of PATH_MAX bytes or more, so a folder deeper than that below the
// directory is reached in pieces, each one resolved beneath the folder the previous one opened.
Opened openBeneath(int dirFd, std::string_view rel, int flags)
{
    if (rel.empty()) return duplicate(dirFd);
    constexpr size_t kPiece = PATH_MAX - 1;
    std::optional<Opened> current;
    while (rel.size() > kPiece) {
        const size_t cut = rel.rfind('/', kPiece);
        // A component is at most NAME_MAX bytes, so a piece always ends at a slash.
        if (cut == 0 || cut == std::string_view::npos) return failed(ENAMETOOLONG);
        Opened next = openBeneathShort(current ? current->fd.get() : dirFd, rel.substr(0, cut),
                                       O_RDONLY | O_DIRECTORY);
        if (!next.fd) return next;
        current = std::move(next);
        rel.remove_prefix(cut + 1);
    }
    return openBeneathShort(current ? current->fd.get() : dirFd, rel, flags);
}

Location locate(const QString& root, const QString& item,
                const std::optional<FileSystem::Identity>& pinned)
{
    Location location;
    const QString cleanRoot = QDir::cleanPath(root);
    const QString cleanItem = QDir::cleanPath(item);
    const QString prefix = cleanRoot.endsWith(u'/') ? cleanRoot : cleanRoot + u'/';
    if (!cleanItem.startsWith(prefix) || cleanItem.size() == prefix.size()) {
        location.error = EXDEV;
        return location;
    }
    const QByteArray rel = PathCodec::encode(cleanItem.mid(prefix.size()));
    const qsizetype slash = rel.lastIndexOf('/');
    const std::string_view parentRel =
        slash < 0 ? std::string_view() : std::string_view(rel.constData(), size_t(slash));
    location.name = rel.mid(slash + 1).toStdString();

    const UniqueFd rootFd(
        open(PathCodec::encode(cleanRoot).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!rootFd) {
        location.error = errno;
        return location;
    }
    struct stat st = {};
    if (pinned &&
        (fstat(rootFd.get(), &st) != 0 || FileSystem::Identity{st.st_dev, st.st_ino} != *pinned)) {
        location.error = ESTALE;
        return location;
    }
    Opened parent = openBeneath(rootFd.get(), parentRel, O_RDONLY | O_DIRECTORY);
    location.parent = std::move(parent.fd);
    location.error = parent.error;
    return location;
}

int traverse(int parentFd, const char* name, Visitor& visitor)
{
    return Traversal(parentFd, visitor).run(name);
}

} // namespace AnchoredTree
