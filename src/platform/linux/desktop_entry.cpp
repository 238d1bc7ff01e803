#include "platform/linux/desktop_entry.h"

#include "platform/file_system.h"
#include "platform/linux/bounded_file.h"
#include "platform/path_codec.h"

namespace {

bool isKeyChar(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

bool isLocaleChar(char c)
{
    return isKeyChar(c) || c == '_' || c == '@' || c == '.';
}

// "Name" or "Name[vi_VN]"; anything else is not a key (the line is ignored).
bool isValidKey(QByteArrayView key)
{
    const qsizetype open = key.indexOf('[');
    const QByteArrayView base = open < 0 ? key : key.first(open);
    if (base.isEmpty()) return false;
    for (const char c : base)
        if (!isKeyChar(c)) return false;
    if (open < 0) return true;
    if (!key.endsWith(']') || key.size() - open < 3) return false;
    for (const char c : key.sliced(open + 1, key.size() - open - 2))
        if (!isLocaleChar(c)) return false;
    return true;
}

QByteArrayView trimmed(QByteArrayView text)
{
    while (!text.isEmpty() && (text.front() == ' ' || text.front() == '\t'))
        text = text.sliced(1);
    while (!text.isEmpty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.chop(1);
    return text;
}

// Inside double quotes a backslash escapes only these four characters.
bool isQuotedEscape(char c)
{
    return c == '"' || c == '`' || c == '$' || c == '\\';
}

} // namespace

std::optional<DesktopEntry> DesktopEntry::parse(QByteArrayView data)
{
    if (data.size() > kMaxBytes) return std::nullopt;
    DesktopEntry entry;
    enum class Group { Before, Entry, Other } group = Group::Before;
    bool seen = false;
    for (qsizetype start = 0; start < data.size();) {
        qsizetype end = data.indexOf('\n', start);
        if (end < 0) end = data.size();
        const QByteArrayView line = trimmed(data.sliced(start, end - start));
        start = end + 1;
        if (line.isEmpty() || line.front() == '#') continue;
        if (line.front() == '[') {
            // A second [Desktop Entry] group is invalid; the first one stands.
            const bool isEntry = line == "[Desktop Entry]" && !seen;
            seen = seen || isEntry;
            group = isEntry ? Group::Entry : Group::Other;
            continue;
        }
        if (group != Group::Entry) continue;
        const qsizetype equals = line.indexOf('=');
        if (equals <= 0) continue;
        const QByteArrayView key = trimmed(line.first(equals));
        if (!isValidKey(key)) continue;
        // Duplicate keys are invalid; the first one stands, as it does for the group.
        const QByteArray name = key.toByteArray();
        if (!entry.m_values.contains(name))
            entry.m_values.insert(name, trimmed(line.sliced(equals + 1)).toByteArray());
    }
    if (!seen) return std::nullopt;
    return entry;
}

std::optional<DesktopEntry> DesktopEntry::read(const QString& path)
{
    const std::optional<QByteArray> data = BoundedFile::read(path, kMaxBytes);
    if (!data) return std::nullopt;
    return parse(*data);
}

QByteArray DesktopEntry::raw(const QString& key) const
{
    return m_values.value(key.toUtf8());
}

QString DesktopEntry::value(const QString& key) const
{
    return QString::fromUtf8(unescaped(raw(key)));
}

QString DesktopEntry::localized(const QString& key) const
{
    for (const char* locale : {"[vi_VN]", "[vi]", ""}) {
        const auto found = m_values.constFind(key.toUtf8() + locale);
        if (found != m_values.constEnd() && !found->isEmpty())
            return QString::fromUtf8(unescaped(*found));
    }
    return {};
}

bool DesktopEntry::boolean(const QString& key) const
{
    const QByteArray text = raw(key);
    return text == "true" || text == "1";
}

QStringList DesktopEntry::execArguments() const
{
    QStringList arguments;
    const std::optional<QList<QByteArray>> split =
        splitExec(unescaped(raw(QStringLiteral("Exec"))));
    if (!split) return arguments;
    for (const QByteArray& argument : *split)
        arguments.append(PathCodec::decode(argument));
    return arguments;
}

QString DesktopEntry::program() const
{
    const QByteArray tryExec = unescaped(raw(QStringLiteral("TryExec")));
    if (!tryExec.isEmpty()) return PathCodec::decode(tryExec);
    const QStringList arguments = execArguments();
    qsizetype first = 0;
    // "env VAR=value program": the program is the first argument that is not an assignment.
    if (!arguments.isEmpty() && (arguments[0] == u"env" || arguments[0] == u"/usr/bin/env")) {
        first = 1;
        while (first < arguments.size() && arguments[first].contains(u'=') &&
               !arguments[first].startsWith(u'/'))
            ++first;
    }
    return arguments.value(first);
}

bool DesktopEntry::isListable() const
{
    return raw(QStringLiteral("Type")) == "Application" && !boolean(QStringLiteral("Hidden")) &&
           !boolean(QStringLiteral("NoDisplay"));
}

QByteArray DesktopEntry::unescaped(QByteArrayView raw)
{
    QByteArray text;
    text.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c != '\\' || i + 1 == raw.size()) {
            text.append(c);
            continue;
        }
        const char next = raw[++i];
        const qsizetype known = QByteArrayView("sntr\\").indexOf(next);
        if (known >= 0)
            text.append(" \n\t\r\\"[known]);
        else
            text.append('\\').append(next);
    }
    return text;
}

std::optional<QList<QByteArray>> DesktopEntry::splitExec(QByteArrayView exec)
{
    QList<QByteArray> arguments;
    QByteArray current;
    bool literal = false; // the argument holds more than field codes
    qsizetype i = 0;
    const auto finish = [&] {
        if (literal) arguments.append(current);
        current.clear();
        literal = false;
    };
    while (i < exec.size()) {
        const char c = exec[i];
        if (c == ' ' || c == '\t' || c == '\n') {
            finish();
            ++i;
        } else if (c == '"') {
            literal = true;
            for (++i;; ++i) {
                if (i >= exec.size()) return std::nullopt;
                if (exec[i] == '"') break;
                if (exec[i] == '\\' && i + 1 < exec.size() && isQuotedEscape(exec[i + 1])) ++i;
                current.append(exec[i]);
            }
            ++i;
        } else if (c == '%') {
            // "%%" is a literal percent sign; every other code is expanded by the launcher and
            // names no part of the program.
            if (i + 1 < exec.size() && exec[i + 1] == '%') {
                current.append('%');
                literal = true;
            }
            i += 2;
        } else {
            current.append(c);
            literal = true;
            ++i;
        }
    }
    finish();
    return arguments;
}

QList<DesktopFile> desktopFiles(const QString& folder)
{
    QList<DesktopFile> found;
    const auto visit = [&](const QString& dir, const QString& prefix, auto& self,
                           int depth) -> void {
        const std::optional<QStringList> children = FileSystem::children(dir);
        if (!children) return;
        for (const QString& child : *children) {
            if (found.size() >= kMaxDesktopFiles) return;
            const QString name = FileSystem::lastComponent(child);
            const std::optional<FileSystem::Attributes> attributes = FileSystem::attributes(child);
            if (depth == 0 && attributes && attributes->isDirectory()) {
                self(child, prefix + name + u'-', self, depth + 1);
                continue;
            }
            if (!name.endsWith(u".desktop")) continue;
            if (std::optional<DesktopEntry> entry = DesktopEntry::read(child))
                found.append({child, prefix + name.chopped(8), std::move(*entry)});
        }
    };
    visit(folder, QString(), visit, 0);
    return found;
}
