#include "platform/property_list_limits.h"

#include <algorithm>
#include <vector>

namespace PropertyListLimits {
namespace {

using PropertyList::kMaxDepth;
using PropertyList::kMaxNodes;

// libplist would turn "&#0;" into a NUL inside a string, and a raw NUL makes the string's
// recorded length disagree with its C length: both end in an assertion.
bool hasNoNulCharacter(QByteArrayView data)
{
    if (data.contains('\0')) return false;
    for (qsizetype at = data.indexOf("&#"); at >= 0; at = data.indexOf("&#", at + 2)) {
        qsizetype i = at + 2;
        const bool hex = i < data.size() && (data[i] == 'x' || data[i] == 'X');
        i += hex ? 1 : 0;
        quint32 value = 0;
        const qsizetype digits = i;
        for (; i < data.size() && i - digits < 8; ++i) {
            const char c = data[i];
            const int digit = (c >= '0' && c <= '9')          ? c - '0'
                              : hex && (c >= 'a' && c <= 'f') ? c - 'a' + 10
                              : hex && (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                                              : -1;
            if (digit < 0) break;
            value = value * (hex ? 16 : 10) + quint32(digit);
        }
        if (i == digits || i >= data.size() || data[i] != ';' || value == 0 || value > 0x10FFFF)
            return false;
    }
    return true;
}

quint64 bigEndian(const uchar* p, int bytes)
{
    quint64 value = 0;
    for (int k = 0; k < bytes; ++k)
        value = (value << 8) | p[k];
    return value;
}

// The object graph of a binary list, read only as far as needed to bound what libplist will
// build from it: its depth, the node count after shared objects are copied (a few bytes of
// shared references can otherwise expand exponentially), and its strings.
class BinaryGraph
{
public:
    explicit BinaryGraph(QByteArrayView data)
        : m_data(reinterpret_cast<const uchar*>(data.data())), m_size(quint64(data.size()))
    {
    }

    bool withinLimits() { return readTrailer() && walk(); }

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

    // The length that follows an object's marker: its low nibble, or an integer object after it.
    bool readLength(quint64& position, quint64& length) const
    {
        if (length != 0xF) return true;
        if (position >= m_end || (m_data[position] >> 4) != 0x1) return false;
        const int bytes = 1 << (m_data[position] & 0xF);
        if (bytes > 8 || position + 1 + bytes > m_end) return false;
        length = bigEndian(m_data + position + 1, bytes);
        position += 1 + bytes;
        return true;
    }

    // An ASCII (0x5) or UTF-16 (0x6) string: libplist asserts on one that holds U+0000.
    bool stringIsClean(int type, quint64 position, quint64 length) const
    {
        const quint64 unit = type == 0x6 ? 2 : 1;
        if (length > (m_end - position) / unit) return false;
        for (quint64 k = 0; k < length; ++k) {
            const uchar* p = m_data + position + k * unit;
            if (p[0] == 0 && (unit == 1 || p[1] == 0)) return false;
        }
        return true;
    }

    // The references of a container object, none for other objects. False when the object
    // cannot be read the way libplist would read it, or must not be handed to it.
    bool inspect(quint64 index, std::vector<quint64>& children) const
    {
        children.clear();
        const quint64 offset = bigEndian(m_data + m_table + index * m_offsetSize, m_offsetSize);
        if (offset < 8 || offset >= m_end) return false;
        const int type = m_data[offset] >> 4;
        quint64 position = offset + 1;
        quint64 count = m_data[offset] & 0xF;
        if (type == 0x5 || type == 0x6)
            return readLength(position, count) && stringIsClean(type, position, count);
        if (type != 0xA && type != 0xC && type != 0xD) return true;
        if (!readLength(position, count)) return false;
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

    // Adds a measured child to its parent frame.
    static void absorb(Frame& parent, int depth, qint64 nodes)
    {
        parent.depth = std::max(parent.depth, depth + 1);
        parent.nodes = std::min(kMaxNodes + 1, parent.nodes + nodes);
    }

    // Depth-first, with an explicit stack bounded by kMaxDepth; each object is measured once
    // (memoised), a cycle refuses the list.
    bool walk()
    {
        enum : uchar { Unseen, Open, Done };
        std::vector<uchar> state(m_count, Unseen);
        std::vector<int> depths(m_count, 0);
        std::vector<qint64> nodes(m_count, 0);
        std::vector<Frame> stack(1);
        stack.back().index = m_top;
        state[m_top] = Open;
        if (!inspect(m_top, stack.back().children)) return false;
        while (!stack.empty()) {
            Frame& frame = stack.back();
            if (frame.next < frame.children.size()) {
                const quint64 child = frame.children[frame.next++];
                if (state[child] == Open) return false;
                if (state[child] == Done) {
                    absorb(frame, depths[child], nodes[child]);
                    continue;
                }
                if (int(stack.size()) >= kMaxDepth) return false;
                Frame next;
                next.index = child;
                if (!inspect(child, next.children)) return false;
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
            if (!stack.empty()) absorb(stack.back(), depths[index], nodes[index]);
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

} // namespace

bool admits(QByteArrayView data)
{
    if (data.isEmpty() || data.size() > PropertyList::kMaxBytes) return false;
    // libplist's own test for its binary format.
    if (data.startsWith("bplist00")) return BinaryGraph(data).withinLimits();
    if (!hasNoNulCharacter(data)) return false;
    const int depth = xmlTreeDepth(data);
    return depth >= 0 && depth <= kMaxDepth;
}

} // namespace PropertyListLimits
