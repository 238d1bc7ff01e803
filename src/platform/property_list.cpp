#include "platform/property_list.h"

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

struct PlistDeleter
{
    void operator()(void* node) const { plist_free(plist_t(node)); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

struct MallocDeleter
{
    void operator()(void* memory) const { free(memory); }
};
using CText = std::unique_ptr<char, MallocDeleter>;

QVariant scalar(plist_t node)
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
        // With its length: the copying getter asserts when the length and the C length differ.
        uint64_t length = 0;
        const char* text = plist_get_string_ptr(node, &length);
        return text ? QString::fromUtf8(text, qsizetype(length)) : QString();
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
        uint64_t length = 0;
        const char* bytes = plist_get_data_ptr(node, &length);
        return bytes ? QByteArray(bytes, qsizetype(length)) : QByteArray();
    }
    default:
        return {};
    }
}

// One open container of the conversion: its values so far and where its reading stands.
struct Frame
{
    plist_t node = nullptr;
    bool isDict = false;
    std::unique_ptr<void, MallocDeleter> iter;
    QString keyInParent;
    QVariantMap map;
    QVariantList list;

    Frame(plist_t container, QString key) : node(container), keyInParent(std::move(key))
    {
        void* raw = nullptr;
        isDict = plist_get_node_type(container) == PLIST_DICT;
        if (isDict)
            plist_dict_new_iter(container, reinterpret_cast<plist_dict_iter*>(&raw));
        else
            plist_array_new_iter(container, reinterpret_cast<plist_array_iter*>(&raw));
        iter.reset(raw);
    }

    // The next child and its key (for a dictionary); nullptr after the last one. Arrays are
    // walked with an iterator: libplist finds an indexed item by walking the list from the start.
    plist_t next(QString& key)
    {
        plist_t child = nullptr;
        if (!iter) return nullptr;
        if (!isDict) {
            plist_array_next_item(node, iter.get(), &child);
            return child;
        }
        // Keys were checked for NUL before parsing, so the key getter's assertion holds.
        char* rawKey = nullptr;
        plist_dict_next_item(node, iter.get(), &rawKey, &child);
        const CText owned(rawKey);
        key = owned ? QString::fromUtf8(owned.get()) : QString();
        return child;
    }

    void add(const QString& key, const QVariant& value)
    {
        if (!value.isValid()) return;
        if (isDict)
            map.insert(key, value);
        else
            list.append(value);
    }
};

// Without recursion, and no deeper than kMaxDepth whatever the tree: the limits checked before
// parsing already bound it, this bounds the conversion on its own.
std::optional<QVariantMap> convert(plist_t root)
{
    std::vector<Frame> stack;
    stack.emplace_back(root, QString());
    for (;;) {
        QString key;
        plist_t child = stack.back().next(key);
        if (!child) {
            Frame done = std::move(stack.back());
            stack.pop_back();
            if (stack.empty()) return std::move(done.map);
            stack.back().add(done.keyInParent,
                             done.isDict ? QVariant(done.map) : QVariant(done.list));
            continue;
        }
        const plist_type type = plist_get_node_type(child);
        if (type != PLIST_DICT && type != PLIST_ARRAY) {
            stack.back().add(key, scalar(child));
            continue;
        }
        if (int(stack.size()) + 1 > kMaxDepth) return std::nullopt;
        stack.emplace_back(child, std::move(key));
    }
}

} // namespace

std::optional<QVariantMap> parse(QByteArrayView data)
{
    if (!PropertyListLimits::admits(data)) return std::nullopt;
    // A terminated copy: a view need not end in NUL, and the parser's number conversions look
    // for one.
    const QByteArray terminated(data.data(), data.size());
    plist_t raw = nullptr;
    plist_from_memory(terminated.constData(), uint32_t(terminated.size()), &raw);
    const PlistPtr root(raw);
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT) return std::nullopt;
    return convert(root.get());
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
