#include "update/feed.h"

#include <QStringDecoder>
#include <functional>

namespace Feed {

namespace {

// Enough for any real feed; bounds the recursion on hostile input.
constexpr int maxDepth = 512;

enum class Kind { Object, Array, String, Number, Bool, Null, Invalid };

// A strict JSON reader driven by the expected shape of the feed. QJsonDocument cannot be used:
// it stores 7.0 as the integer 7 and clamps integers beyond 64 bits, so a fractional or huge
// `build` would pass unnoticed.
class Reader
{
public:
    explicit Reader(QStringView text) : m_text(text) {}

    QString error() const { return m_error; }

    /// The kind of the next value, after white space; Invalid at the end or at a bad character.
    Kind peek()
    {
        skipSpace();
        if (m_pos >= m_text.size()) return Kind::Invalid;
        const char16_t c = m_text[m_pos].unicode();
        switch (c) {
        case u'{':
            return Kind::Object;
        case u'[':
            return Kind::Array;
        case u'"':
            return Kind::String;
        case u't':
        case u'f':
            return Kind::Bool;
        case u'n':
            return Kind::Null;
        default:
            return (c == u'-' || (c >= u'0' && c <= u'9')) ? Kind::Number : Kind::Invalid;
        }
    }

    bool atEnd()
    {
        skipSpace();
        return m_pos >= m_text.size();
    }

    /// Reads an object; `member` is called with each key and must consume its value.
    bool object(const QString& path, const std::function<bool(const QString&)>& member)
    {
        if (!expect(Kind::Object, path) || !enter()) return false;
        if (peekChar(u'}')) return leave();
        while (true) {
            if (peek() != Kind::String) return syntax(QStringLiteral("thiếu tên khoá"));
            QString key;
            if (!parseString(key)) return false;
            if (!peekChar(u':')) return syntax(QStringLiteral("thiếu dấu ':'"));
            if (!member(key)) return false;
            if (peekChar(u',')) continue;
            if (peekChar(u'}')) return leave();
            return syntax(QStringLiteral("thiếu dấu ',' hoặc '}'"));
        }
    }

    /// Reads an array; `element` is called with each index and must consume the element.
    bool array(const QString& path, const std::function<bool(qsizetype)>& element)
    {
        if (!expect(Kind::Array, path) || !enter()) return false;
        if (peekChar(u']')) return leave();
        for (qsizetype index = 0;; ++index) {
            if (!element(index)) return false;
            if (peekChar(u',')) continue;
            if (peekChar(u']')) return leave();
            return syntax(QStringLiteral("thiếu dấu ',' hoặc ']'"));
        }
    }

    bool string(const QString& path, QString& out)
    {
        return expect(Kind::String, path) && parseString(out);
    }

    bool integer(const QString& path, qint64& out)
    {
        if (!expect(Kind::Number, path)) return false;
        QStringView raw;
        bool integral = false;
        if (!parseNumber(raw, integral)) return false;
        if (!integral) return shape(QStringLiteral("%1 không phải số nguyên").arg(path));
        bool ok = false;
        out = raw.toLongLong(&ok);
        if (!ok) return shape(QStringLiteral("%1 vượt quá 64 bit").arg(path));
        return true;
    }

    bool null() { return literal(QLatin1String("null")); }

    /// Reads and discards any value.
    bool skip()
    {
        switch (peek()) {
        case Kind::Object:
            return object({}, [this](const QString&) { return skip(); });
        case Kind::Array:
            return array({}, [this](qsizetype) { return skip(); });
        case Kind::String: {
            QString ignored;
            return parseString(ignored);
        }
        case Kind::Number: {
            QStringView raw;
            bool integral = false;
            return parseNumber(raw, integral);
        }
        case Kind::Bool:
            return m_text[m_pos] == u't' ? literal(QLatin1String("true"))
                                         : literal(QLatin1String("false"));
        case Kind::Null:
            return null();
        case Kind::Invalid:
            break;
        }
        return syntax(atEnd() ? QStringLiteral("dữ liệu kết thúc giữa chừng")
                              : QStringLiteral("thiếu giá trị"));
    }

    bool missing(const QString& path, const char* key)
    {
        return shape(QStringLiteral("%1 thiếu khoá \"%2\"").arg(path, QLatin1String(key)));
    }

    bool syntax(const QString& what)
    {
        if (m_error.isEmpty())
            m_error = QStringLiteral("Dữ liệu cập nhật không phải JSON hợp lệ: %1 ở vị trí %2.")
                          .arg(what)
                          .arg(m_pos);
        return false;
    }

private:
    bool shape(const QString& what)
    {
        if (m_error.isEmpty())
            m_error = QStringLiteral("Dữ liệu cập nhật không đúng cấu trúc: %1.").arg(what);
        return false;
    }

    bool expect(Kind kind, const QString& path)
    {
        const Kind found = peek();
        if (found == kind) return true;
        if (found == Kind::Invalid) return skip(); // records the syntax error
        static const char* const names[] = {"một đối tượng", "một mảng",          "một chuỗi",
                                            "một số",        "một giá trị logic", "null"};
        return shape(QStringLiteral("%1 không phải %2")
                         .arg(path, QString::fromUtf8(names[static_cast<int>(kind)])));
    }

    bool enter()
    {
        ++m_pos;
        if (++m_depth > maxDepth)
            return syntax(QStringLiteral("lồng sâu quá %1 cấp").arg(maxDepth));
        return true;
    }

    bool leave()
    {
        --m_depth;
        return true;
    }

    void skipSpace()
    {
        while (m_pos < m_text.size()) {
            const char16_t c = m_text[m_pos].unicode();
            if (c != u' ' && c != u'\t' && c != u'\n' && c != u'\r') return;
            ++m_pos;
        }
    }

    /// Consumes `c` when it is the next character after white space.
    bool peekChar(char16_t c)
    {
        skipSpace();
        if (m_pos < m_text.size() && m_text[m_pos] == c) {
            ++m_pos;
            return true;
        }
        return false;
    }

    bool literal(QLatin1String word)
    {
        if (!m_text.sliced(m_pos).startsWith(word)) return syntax(QStringLiteral("thiếu giá trị"));
        m_pos += word.size();
        return true;
    }

    bool digitAt(qsizetype at) const
    {
        return at < m_text.size() && m_text[at] >= u'0' && m_text[at] <= u'9';
    }

    bool parseNumber(QStringView& raw, bool& integral)
    {
        const qsizetype start = m_pos;
        if (m_text[m_pos] == u'-') ++m_pos;
        if (!digitAt(m_pos)) return syntax(QStringLiteral("số không hợp lệ"));
        if (m_text[m_pos] == u'0')
            ++m_pos;
        else
            while (digitAt(m_pos))
                ++m_pos;
        integral = true;
        if (m_pos < m_text.size() && m_text[m_pos] == u'.') {
            integral = false;
            if (!digitAt(++m_pos)) return syntax(QStringLiteral("số không hợp lệ"));
            while (digitAt(m_pos))
                ++m_pos;
        }
        if (m_pos < m_text.size() && (m_text[m_pos] == u'e' || m_text[m_pos] == u'E')) {
            integral = false;
            ++m_pos;
            if (m_pos < m_text.size() && (m_text[m_pos] == u'+' || m_text[m_pos] == u'-')) ++m_pos;
            if (!digitAt(m_pos)) return syntax(QStringLiteral("số không hợp lệ"));
            while (digitAt(m_pos))
                ++m_pos;
        }
        raw = m_text.sliced(start, m_pos - start);
        return true;
    }

    bool hexDigits(char16_t& code)
    {
        code = 0;
        for (int i = 0; i < 4; ++i, ++m_pos) {
            if (m_pos >= m_text.size()) return false;
            const int digit = hexValue(m_text[m_pos].unicode());
            if (digit < 0) return false;
            code = static_cast<char16_t>(code * 16 + digit);
        }
        return true;
    }

    static int hexValue(char16_t c)
    {
        if (c >= u'0' && c <= u'9') return c - u'0';
        if (c >= u'a' && c <= u'f') return c - u'a' + 10;
        if (c >= u'A' && c <= u'F') return c - u'A' + 10;
        return -1;
    }

    bool parseString(QString& out)
    {
        out.clear();
        ++m_pos; // opening quote
        while (true) {
            if (m_pos >= m_text.size()) return syntax(QStringLiteral("chuỗi thiếu dấu đóng"));
            const char16_t c = m_text[m_pos].unicode();
            if (c == u'"') {
                ++m_pos;
                break;
            }
            if (c < 0x20) return syntax(QStringLiteral("ký tự điều khiển trong chuỗi"));
            if (c != u'\\') {
                out.append(QChar(c));
                ++m_pos;
                continue;
            }
            if (++m_pos >= m_text.size()) return syntax(QStringLiteral("chuỗi thiếu dấu đóng"));
            const char16_t escaped = m_text[m_pos++].unicode();
            switch (escaped) {
            case u'"':
                out.append(u'"');
                break;
            case u'\\':
                out.append(u'\\');
                break;
            case u'/':
                out.append(u'/');
                break;
            case u'b':
                out.append(u'\b');
                break;
            case u'f':
                out.append(u'\f');
                break;
            case u'n':
                out.append(u'\n');
                break;
            case u'r':
                out.append(u'\r');
                break;
            case u't':
                out.append(u'\t');
                break;
            case u'u': {
                char16_t code = 0;
                if (!hexDigits(code)) return syntax(QStringLiteral("mã thoát \\u không hợp lệ"));
                out.append(QChar(code));
                break;
            }
            default:
                return syntax(QStringLiteral("mã thoát không hợp lệ"));
            }
        }
        // Escapes can spell half a surrogate pair, which is no text at all.
        for (qsizetype i = 0; i < out.size(); ++i) {
            if (out[i].isHighSurrogate() && i + 1 < out.size() && out[i + 1].isLowSurrogate())
                ++i;
            else if (out[i].isSurrogate())
                return syntax(QStringLiteral("ký tự UTF-16 thiếu nửa cặp trong chuỗi"));
        }
        return true;
    }

    QStringView m_text;
    qsizetype m_pos = 0;
    int m_depth = 0;
    QString m_error;
};

bool readRelease(Reader& reader, const QString& path, Release& release)
{
    bool haveVersion = false;
    bool haveBuild = false;
    const bool ok = reader.object(path, [&](const QString& key) {
        if (key == QLatin1String("version")) {
            haveVersion = true;
            return reader.string(path + QLatin1String(".version"), release.version);
        }
        if (key == QLatin1String("build")) {
            haveBuild = true;
            return reader.integer(path + QLatin1String(".build"), release.build);
        }
        if (key == QLatin1String("notes")) {
            release.notes.clear();
            if (reader.peek() == Kind::Null) return reader.null();
            const QString notesPath = path + QLatin1String(".notes");
            return reader.array(notesPath, [&](qsizetype index) {
                QString line;
                if (!reader.string(QStringLiteral("%1[%2]").arg(notesPath).arg(index), line))
                    return false;
                release.notes.append(line);
                return true;
            });
        }
        return reader.skip();
    });
    if (!ok) return false;
    if (!haveVersion) return reader.missing(path, "version");
    if (!haveBuild) return reader.missing(path, "build");
    return true;
}

bool readEntry(Reader& reader, const QString& path, Entry& entry)
{
    bool haveId = false;
    bool haveVersions = false;
    const bool ok = reader.object(path, [&](const QString& key) {
        if (key == QLatin1String("id")) {
            haveId = true;
            return reader.string(path + QLatin1String(".id"), entry.id);
        }
        if (key == QLatin1String("versions")) {
            haveVersions = true;
            entry.versions.clear();
            const QString versionsPath = path + QLatin1String(".versions");
            return reader.array(versionsPath, [&](qsizetype index) {
                Release release;
                if (!readRelease(reader, QStringLiteral("%1[%2]").arg(versionsPath).arg(index),
                                 release))
                    return false;
                entry.versions.append(release);
                return true;
            });
        }
        return reader.skip();
    });
    if (!ok) return false;
    if (!haveId) return reader.missing(path, "id");
    if (!haveVersions) return reader.missing(path, "versions");
    return true;
}

} // namespace

Decoded decode(const QByteArray& body)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(body);
    if (utf8.hasError())
        return {std::nullopt, QStringLiteral("Dữ liệu cập nhật không phải UTF-8 hợp lệ.")};

    Reader reader(text);
    Document document;
    bool haveApps = false;
    const QString top = QStringLiteral("tài liệu");
    bool ok = reader.object(top, [&](const QString& key) {
        if (key != QLatin1String("apps")) return reader.skip();
        haveApps = true;
        document.apps.clear();
        return reader.array(QStringLiteral("apps"), [&](qsizetype index) {
            Entry entry;
            if (!readEntry(reader, QStringLiteral("apps[%1]").arg(index), entry)) return false;
            document.apps.append(entry);
            return true;
        });
    });
    if (ok && !haveApps) ok = reader.missing(top, "apps");
    if (ok && !reader.atEnd()) ok = reader.syntax(QStringLiteral("còn dữ liệu thừa sau tài liệu"));
    if (!ok) return {std::nullopt, reader.error()};
    return {std::move(document), {}};
}

} // namespace Feed
