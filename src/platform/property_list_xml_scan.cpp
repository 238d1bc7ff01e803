#include "platform/property_list_limits.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace PropertyListLimits {
namespace {

// Reads the markup the way libplist 2.2's XML reader does (its own tokenizer, not a standard
// one: double quotes are skipped inside tags, processing instructions and the DOCTYPE, whose
// internal subset ends at the first "]>"; comments and CDATA sections may sit inside text) and
// follows the tree it would build, so that the depth found is the depth libplist reaches.
// Wherever libplist would stop with an error the scan gives up too: the deepest point reached
// until then is all that libplist ever builds.
class XmlScan
{
public:
    explicit XmlScan(QByteArrayView data) : m_pos(data.data()), m_end(data.data() + data.size()) {}

    // The depth of libplist's tree (the root counts 1); -1 where libplist gives up.
    int depth()
    {
        while (skipBlanks(), m_pos < m_end) {
            if (*m_pos != '<' || ++m_pos == m_end) return -1;
            const bool read = *m_pos == '?'   ? skipPast("?>", true)
                              : *m_pos == '!' ? skipDeclaration()
                                              : element();
            if (!read) return -1;
            if (m_done) break;
        }
        return m_deepest;
    }

private:
    enum class Kind : char { Plist, Dict, Array };

    qsizetype left() const { return m_end - m_pos; }
    bool at(QByteArrayView text) const { return QByteArrayView(m_pos, left()).startsWith(text); }

    void skipBlanks()
    {
        while (m_pos < m_end &&
               (*m_pos == ' ' || *m_pos == '\t' || *m_pos == '\r' || *m_pos == '\n'))
            ++m_pos;
    }

    // At an opening double quote: past the closing one. False when there is none.
    bool skipQuoted()
    {
        const char* close = static_cast<const char*>(memchr(m_pos + 1, '"', m_end - m_pos - 1));
        if (!close) return false;
        m_pos = close + 1;
        return true;
    }

    // To the first of `stops` (quoted parts skipped when asked). False at the end.
    bool findAny(QByteArrayView stops, bool quotes)
    {
        while (m_pos < m_end) {
            if (quotes && *m_pos == '"') {
                if (!skipQuoted()) return false;
                continue;
            }
            if (stops.contains(*m_pos)) return true;
            ++m_pos;
        }
        return false;
    }

    // Past the first `text` (quoted parts skipped when asked). False when there is none.
    bool skipPast(QByteArrayView text, bool quotes)
    {
        while (left() > text.size()) {
            if (at(text)) break;
            if (quotes && *m_pos == '"') {
                if (!skipQuoted()) return false;
                continue;
            }
            ++m_pos;
        }
        if (!at(text)) return false;
        m_pos += text.size();
        return true;
    }

    // At "!" after "<": a comment or a DOCTYPE, the only declarations libplist accepts.
    bool skipDeclaration()
    {
        if (left() > 3 && at("!--")) {
            m_pos += 3;
            return skipPast("-->", false);
        }
        if (left() <= 8 || !at("!DOCTYPE")) return false;
        m_pos += 8;
        while (m_pos < m_end) {
            if (!findAny(" \t\r\n[>", true)) return false;
            if (*m_pos == '[') return skipPast("]>", true);
            if (*m_pos == '>') {
                ++m_pos;
                return true;
            }
            skipBlanks();
        }
        return true;
    }

    // The content of a scalar element up to its closing tag: text, comments and CDATA only.
    bool skipText(QByteArrayView name)
    {
        for (;;) {
            if (!findAny("<", false) || ++m_pos == m_end) return false;
            if (*m_pos == '/') break;
            if (*m_pos != '!' || left() <= 2) return false;
            ++m_pos;
            if (at("--")) {
                m_pos += 2;
                if (!skipPast("-->", false)) return false;
            } else if (left() > 9 && at("[CDATA[")) {
                m_pos += 7;
                if (!skipPast("]]>", false)) return false;
            } else {
                return false;
            }
        }
        ++m_pos;
        if (left() <= name.size() || !at(name)) return false;
        m_pos += name.size();
        skipBlanks();
        if (m_pos == m_end || *m_pos != '>') return false;
        ++m_pos;
        return true;
    }

    bool element();
    bool place(Kind kind, bool container, bool empty);
    bool close(QByteArrayView name);

    const char* m_pos;
    const char* m_end;
    std::vector<Kind> m_path;    // the open tags that closing tags must match
    std::vector<Kind> m_parents; // the containers from the root to where the next node goes
    int m_deepest = 0;
    bool m_haveRoot = false;
    bool m_keyPending = false;
    bool m_hasContent = false;
    bool m_done = false;
};

bool XmlScan::element()
{
    const char* name = m_pos;
    if (!findAny(" \r\n\t<>", false)) return false;
    QByteArrayView tag(name, m_pos - name);
    const qsizetype nameLength = tag.size();
    if (*m_pos != '>' && !findAny("<>", true)) return false;
    if (*m_pos != '>') return false;
    const bool empty = m_pos[-1] == '/';
    if (empty && m_pos - name - 1 < nameLength) tag = tag.first(m_pos - name - 1);
    ++m_pos;

    if (tag == "plist") {
        m_hasContent = false;
        // A second top-level plist ends the reading, successfully.
        if (m_path.empty() && m_haveRoot) m_done = true;
        if (m_done) return true;
        if (empty) return false;
        m_path.push_back(Kind::Plist);
        return true;
    }
    if (tag == "/plist") {
        if (!m_hasContent || m_path.empty() || m_path.back() != Kind::Plist) return false;
        m_path.pop_back();
        return true;
    }
    m_hasContent = true;
    if (tag == "dict") return place(Kind::Dict, true, empty);
    if (tag == "array") return place(Kind::Array, true, empty);
    if (tag.startsWith('/')) return close(tag.sliced(1));
    static const QByteArrayView scalars[] = {"integer", "real", "true", "false",
                                             "string",  "key",  "data", "date"};
    if (std::find(std::begin(scalars), std::end(scalars), tag) == std::end(scalars)) return false;
    if (!empty && !skipText(QByteArrayView(name, nameLength))) return false;
    // A non-empty key directly in a dictionary names the next value instead of being one.
    const bool inDict = !m_parents.empty() && m_parents.back() == Kind::Dict;
    if (tag == "key" && !empty && !m_keyPending && inDict) {
        m_keyPending = true;
        return true;
    }
    return place(Kind::Plist, false, empty);
}

bool XmlScan::place(Kind kind, bool container, bool empty)
{
    if (!m_haveRoot) {
        m_haveRoot = true;
        m_deepest = 1;
        // A scalar root ends the reading; a container root is the parent even when empty.
        if (!container) m_done = true;
        if (m_done) return true;
        m_parents.push_back(kind);
        if (!empty) m_path.push_back(kind);
        return true;
    }
    if (m_parents.empty()) return false;
    if (m_parents.back() == Kind::Dict && !m_keyPending) return false;
    m_keyPending = false;
    m_deepest = std::max(m_deepest, int(m_parents.size()) + 1);
    if (container && !empty) {
        m_path.push_back(kind);
        m_parents.push_back(kind);
    }
    return true;
}

bool XmlScan::close(QByteArrayView name)
{
    if (m_path.empty()) return false;
    const Kind open = m_path.back();
    if ((open == Kind::Dict && name != "dict") || (open == Kind::Array && name != "array") ||
        open == Kind::Plist)
        return false;
    m_path.pop_back();
    m_keyPending = false;
    if (!m_parents.empty()) m_parents.pop_back();
    // Closing the root ends the reading, successfully.
    if (m_parents.empty()) m_done = true;
    return true;
}

} // namespace

int xmlTreeDepth(QByteArrayView data)
{
    return XmlScan(data).depth();
}

} // namespace PropertyListLimits
