#include "platform/bundle.h"

#include "platform/file_system.h"
#include "platform/path_codec.h"
#include "platform/unique_fd.h"

#include <QTimeZone>
#include <QVariantList>
#include <fcntl.h>
#include <memory>
#include <plist/plist.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace PropertyList {
namespace {

// ---- limits checked before libplist parses anything ----------------------------------------

qsizetype find(QByteArrayView data, qsizetype from, QByteArrayView needle)
{
    const qsizetype at = data.indexOf(needle, from);
    return at < 0 ? data.size() : at + needle.size();
}

// The deepest element nesting of an XML list. Markup that libplist skips (processing
// instructions, comments, CDATA, the DOCTYPE) is skipped the same way; text never nests. Where
// the markup is broken libplist stops with an error, so counting further can only over-count.
int xmlDepth(QByteArrayView data)
{
    int depth = 0;
    int deepest = 0;
    qsizetype i = 0;
    while ((i = data.indexOf('<', i)) >= 0) {
        const QByteArrayView rest = data.sliced(i);
        if (rest.startsWith("<?")) {
            i = find(data, i + 2, "?>");
        } else if (rest.startsWith("<!--")) {
            i = find(data, i + 4, "-->");
        } else if (rest.startsWith("<![CDATA[")) {
            i = find(data, i + 9, "]]>");
        } else if (rest.startsWith("<!")) {
            const qsizetype close = data.indexOf('>', i);
            const qsizetype bracket = data.indexOf('[', i);
            i = (bracket >= 0 && (close < 0 || bracket < close)) ? find(data, bracket, "]>")
                                                                 : find(data, i, ">");
        } else if (rest.startsWith("</")) {
            depth = std::max(0, depth - 1);
            i = find(data, i, ">");
        } else {
            const qsizetype close = data.indexOf('>', i);
            if (close < 0) break;
            if (data[close - 1] != '/') deepest = std::max(deepest, ++depth);
            i = close + 1;
        }
    }
    return deepest;
}

quint64 bigEndian(const uchar* p, int bytes)
{
    quint64 value = 0;
    for (int k = 0; k < bytes; ++k)
        value = (value << 8) | p[k];
    return value;
}

// The object graph of a binary list, read only as far as needed to bound what libplist will
// build from it: its depth, and the node count after shared objects are copied (a few bytes of
// shared references can otherwise expand exponentially).
class BinaryGraph
{
public:
    explicit BinaryGraph(QByteArrayView data)
        : m_data(reinterpret_cast<const uchar*>(data.data())), m_size(quint64(data.size()))
    {
    }

    bool withinLimits()
    {
        if (!readTrailer()) return false;
        return walk();
    }

private:
    struct Frame
    {
        quint64 index = 0;
        std::vector<quint64> children;
        size_t next = 0;
        int depth = 1;
        qint64 nodes = 1;
    };

    bool readTrailer()
    {
        if (m_size < 8 + 32) return false;
        const uchar* trailer = m_data + m_size - 32;
        m_offsetSize = trailer[6];
        m_refSize = trailer[7];
        m_count = bigEndian(trailer + 8, 8);
        m_top = bigEndian(trailer + 16, 8);
        m_table = bigEndian(trailer + 24, 8);
        m_end = m_size - 32;
        if (m_offsetSize < 1 || m_offsetSize > 8 || m_refSize < 1 || m_refSize > 8) return false;
        if (m_count == 0 || m_top >= m_count || m_table < 8 || m_table > m_end) return false;
        return m_count <= (m_end - m_table) / quint64(m_offsetSize);
    }

    // False when the object cannot be read the way libplist would read it.
    bool childrenOf(quint64 index, std::vector<quint64>& children) const
    {
        children.clear();
        const quint64 offset = bigEndian(m_data + m_table + index * m_offsetSize, m_offsetSize);
        if (offset < 8 || offset >= m_end) return false;
        const uchar marker = m_data[offset];
        const int type = marker >> 4;
        if (type != 0xA && type != 0xC && type != 0xD) return true;
        quint64 position = offset + 1;
        quint64 count = marker & 0xF;
        if (count == 0xF) {
            if (position >= m_end || (m_data[position] >> 4) != 0x1) return false;
            const int bytes = 1 << (m_data[position] & 0xF);
            if (bytes > 8 || position + 1 + bytes > m_end) return false;
            count = bigEndian(m_data + position + 1, bytes);
            position += 1 + bytes;
        }
        const quint64 available = (m_end - position) / quint64(m_refSize);
        if (count > available || (type == 0xD && count > available / 2)) return false;
        const quint64 refs = type == 0xD ? 2 * count : count;
        children.reserve(refs);
        for (quint64 k = 0; k < refs; ++k) {
            const quint64 ref = bigEndian(m_data + position + k * m_refSize, m_refSize);
            if (ref >= m_count) return false;
            children.push_back(ref);
        }
        return true;
    }

    // Depth-first, with an explicit stack bounded by kMaxDepth; each object is measured once
    // (memoised), a cycle refuses the list.
    bool walk()
    {
        enum : uchar { Unseen, Open, Done };
        std::vector<uchar> state(m_count, Unseen);
        std::vector<int> depths(m_count, 0);
        std::vector<qint64> nodes(m_count, 0);
        std::vector<Frame> stack;
        stack.emplace_back();
        stack.back().index = m_top;
        state[m_top] = Open;
        if (!childrenOf(m_top, stack.back().children)) return false;
        while (!stack.empty()) {
            Frame& frame = stack.back();
            if (frame.next < frame.children.size()) {
                const quint64 child = frame.children[frame.next++];
                if (state[child] == Open) return false;
                if (state[child] == Done) {
                    frame.depth = std::max(frame.depth, depths[child] + 1);
                    frame.nodes = std::min(kMaxNodes + 1, frame.nodes + nodes[child]);
                    continue;
                }
                if (int(stack.size()) >= kMaxDepth) return false;
                Frame next;
                next.index = child;
                if (!childrenOf(child, next.children)) return false;
                state[child] = Open;
                stack.push_back(std::move(next));
                continue;
            }
            if (frame.nodes > kMaxNodes) return false;
            const quint64 index = frame.index;
            state[index] = Done;
            depths[index] = frame.depth;
            nodes[index] = frame.nodes;
            stack.pop_back();
            if (!stack.empty()) {
                Frame& parent = stack.back();
                parent.depth = std::max(parent.depth, depths[index] + 1);
                parent.nodes = std::min(kMaxNodes + 1, parent.nodes + nodes[index]);
            }
        }
        return true;
    }

    const uchar* m_data;
    quint64 m_size;
    int m_offsetSize = 0;
    int m_refSize = 0;
    quint64 m_count = 0;
    quint64 m_top = 0;
    quint64 m_table = 0;
    quint64 m_end = 0;
};

// ---- conversion of the parsed tree ------------------------------------------------------------

struct PlistDeleter
{
    void operator()(void* node) const { plist_free(plist_t(node)); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

struct MallocDeleter
{
    void operator()(char* text) const { free(text); }
};
using CText = std::unique_ptr<char, MallocDeleter>;

QVariant convert(plist_t node);

QVariantMap convertDict(plist_t dict)
{
    QVariantMap map;
    plist_dict_iter iter = nullptr;
    plist_dict_new_iter(dict, &iter);
    if (!iter) return map;
    for (;;) {
        char* rawKey = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(dict, iter, &rawKey, &value);
        const CText key(rawKey);
        if (!value) break;
        if (!key) continue;
        const QVariant converted = convert(value);
        if (converted.isValid()) map.insert(QString::fromUtf8(key.get()), converted);
    }
    free(iter);
    return map;
}

QVariant convert(plist_t node)
{
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t value = 0;
        plist_get_bool_val(node, &value);
        return bool(value);
    }
    case PLIST_UINT: {
        // libplist 2.2 keeps every integer as 64 bits without its sign; negative values are far
        // more common in the wild than unsigned ones above 2^63, so the bits are read as signed.
        uint64_t value = 0;
        plist_get_uint_val(node, &value);
        return qint64(value);
    }
    case PLIST_REAL: {
        double value = 0;
        plist_get_real_val(node, &value);
        return value;
    }
    case PLIST_STRING: {
        char* raw = nullptr;
        plist_get_string_val(node, &raw);
        const CText text(raw);
        return text ? QString::fromUtf8(text.get()) : QString();
    }
    case PLIST_DATE: {
        int32_t seconds = 0;
        int32_t micros = 0;
        plist_get_date_val(node, &seconds, &micros);
        // Property-list dates count from 2001-01-01 UTC.
        static const QDateTime epoch(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc());
        return epoch.addMSecs(qint64(seconds) * 1000 + micros / 1000);
    }
    case PLIST_DATA: {
        char* raw = nullptr;
        uint64_t length = 0;
        plist_get_data_val(node, &raw, &length);
        const CText bytes(raw);
        return bytes ? QByteArray(bytes.get(), qsizetype(length)) : QByteArray();
    }
    case PLIST_ARRAY: {
        QVariantList list;
        const uint32_t size = plist_array_get_size(node);
        for (uint32_t k = 0; k < size; ++k) {
            const QVariant converted = convert(plist_array_get_item(node, k));
            if (converted.isValid()) list.append(converted);
        }
        return list;
    }
    case PLIST_DICT:
        return convertDict(node);
    default:
        return {};
    }
}

} // namespace

std::optional<QVariantMap> parse(QByteArrayView data)
{
    if (data.isEmpty() || data.size() > kMaxBytes) return std::nullopt;
    const auto length = uint32_t(data.size());
    if (plist_is_binary(data.data(), length)) {
        if (!BinaryGraph(data).withinLimits()) return std::nullopt;
    } else if (xmlDepth(data) > kMaxDepth) {
        return std::nullopt;
    }
    // A terminated copy: a view need not end in NUL, and the parser's number conversions look
    // for one.
    const QByteArray terminated(data.data(), data.size());
    plist_t raw = nullptr;
    plist_from_memory(terminated.constData(), length, &raw);
    const PlistPtr root(raw);
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT) return std::nullopt;
    return convertDict(root.get());
}

std::optional<QVariantMap> read(const QString& path)
{
    // O_NONBLOCK: a FIFO planted at the path must not hang the reader.
    const UniqueFd fd(
        ::open(PathCodec::encode(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat st;
    if (!fd || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxBytes)
        return std::nullopt;
    QByteArray content;
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        content.append(buffer, n);
        // The file may have grown since fstat.
        if (content.size() > kMaxBytes) return std::nullopt;
    }
    return parse(content);
}

} // namespace PropertyList

namespace {

bool isDirectory(const QString& path)
{
    struct stat st;
    return stat(PathCodec::encode(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A name from the dictionary is used only as one file name inside the bundle.
bool isPlainName(const QString& name)
{
    return !name.isEmpty() && !name.contains(u'/') && name != u"." && name != u"..";
}

} // namespace

std::optional<Bundle> Bundle::open(const QString& path)
{
    if (!isDirectory(path)) return std::nullopt;
    Bundle bundle;
    bundle.m_path = path;
    const QString contents = path + QStringLiteral("/Contents");
    if (FileSystem::exists(contents + QStringLiteral("/Info.plist"))) {
        bundle.m_contents = contents;
    } else if (FileSystem::exists(path + QStringLiteral("/Info.plist"))) {
        bundle.m_contents = path;
        bundle.m_flat = true;
    } else {
        bundle.m_contents = contents;
    }
    bundle.m_info = PropertyList::read(bundle.m_contents + QStringLiteral("/Info.plist"))
                        .value_or(QVariantMap());
    return bundle;
}

std::optional<QString> Bundle::identifier() const
{
    const QString id = stringValue(QStringLiteral("CFBundleIdentifier"));
    return id.isEmpty() ? std::nullopt : std::optional<QString>(id);
}

QString Bundle::stringValue(const QString& key) const
{
    const QVariant value = m_info.value(key);
    return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

QString Bundle::executablePath() const
{
    const QString name = stringValue(QStringLiteral("CFBundleExecutable"));
    if (!isPlainName(name)) return {};
    return m_flat ? m_contents + u'/' + name : m_contents + QStringLiteral("/MacOS/") + name;
}

QString Bundle::iconPath() const
{
    const QString name = stringValue(QStringLiteral("CFBundleIconFile"));
    if (!isPlainName(name)) return {};
    const QString base = m_contents + QStringLiteral("/Resources/") + name;
    if (FileSystem::exists(base) && !isDirectory(base)) return base;
    const QString icns = base + QStringLiteral(".icns");
    if (FileSystem::extension(name).isEmpty() && FileSystem::exists(icns) && !isDirectory(icns))
        return icns;
    return {};
}

std::optional<QDateTime> Bundle::lastUsed() const
{
    const QString executable = executablePath();
    if (executable.isEmpty()) return std::nullopt;
    struct stat st;
    if (stat(PathCodec::encode(executable).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    const auto asNanos = [](const timespec& t) {
        return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
    };
    if (asNanos(st.st_atim) <= asNanos(st.st_mtim)) return std::nullopt;
    return QDateTime::fromMSecsSinceEpoch(asNanos(st.st_atim) / 1000000, QTimeZone::utc());
}
