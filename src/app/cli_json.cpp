#include "app/cli_json.h"

#include "app/cli_output.h"

#include <QList>
#include <cmath>

namespace CliJson {
namespace {

/// Writes one compact document. Members come out in the order they are written (QJsonObject
/// would sort them), and strings are escaped here because QJsonDocument would replace the lone
/// surrogates that stand for the bytes of a name.
class Writer
{
public:
    Writer& open(char bracket)
    {
        separate();
        m_out.append(bracket);
        m_first.append(true);
        return *this;
    }
    Writer& close(char bracket)
    {
        m_out.append(bracket);
        m_first.removeLast();
        return *this;
    }
    Writer& key(QStringView name)
    {
        separate();
        quote(name);
        m_out.append(':');
        m_afterKey = true;
        return *this;
    }
    Writer& string(QStringView text)
    {
        separate();
        quote(text);
        return *this;
    }
    Writer& integer(qint64 value) { return literal(QByteArray::number(value)); }
    Writer& number(double value)
    {
        if (!std::isfinite(value)) return literal("null");
        return literal(QString::number(value, 'g', QLocale::FloatingPointShortest).toLatin1());
    }
    Writer& boolean(bool value) { return literal(value ? "true" : "false"); }
    Writer& null() { return literal("null"); }

    QByteArray document() const { return m_out + '\n'; }

private:
    Writer& literal(const QByteArray& text)
    {
        separate();
        m_out.append(text);
        return *this;
    }
    void separate()
    {
        if (m_afterKey) {
            m_afterKey = false;
            return;
        }
        if (m_first.isEmpty()) return;
        if (!m_first.last()) m_out.append(',');
        m_first.last() = false;
    }
    void escape(char16_t unit)
    {
        static const char digits[] = "0123456789abcdef";
        m_out.append("\\u");
        for (int shift = 12; shift >= 0; shift -= 4)
            m_out.append(digits[(unit >> shift) & 0xf]);
    }
    void quote(QStringView text);

    QByteArray m_out;
    QList<bool> m_first;
    bool m_afterKey = false;
};

void Writer::quote(QStringView text)
{
    m_out.append('"');
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            m_out.append(text.mid(i, 2).toUtf8());
            ++i;
        } else if (c == u'"' || c == u'\\') {
            m_out.append('\\').append(char(c.unicode()));
        } else if (c == u'\n') {
            m_out.append("\\n");
        } else if (c.unicode() < 0x20 || c.unicode() == 0x7f || c.isSurrogate()) {
            escape(c.unicode());
        } else {
            m_out.append(QStringView(&c, 1).toUtf8());
        }
    }
    m_out.append('"');
}

void writeItems(Writer& json, const QList<CleanItem>& items)
{
    json.key(u"items").open('[');
    for (const CleanItem& item : items)
        json.open('{').key(u"path").string(item.url).key(u"size").integer(item.size).close('}');
    json.close(']');
}

void writeProcesses(Writer& json, const QList<ProcessStat>& processes)
{
    json.key(u"processes").open('[');
    for (const ProcessStat& p : processes)
        json.open('{')
            .key(u"pid")
            .integer(p.pid)
            .key(u"name")
            .string(p.name)
            .key(u"cpu")
            .number(p.cpu)
            .key(u"memory")
            .integer(qint64(std::min<quint64>(p.memory, INT64_MAX)))
            .close('}');
    json.close(']');
}

} // namespace

QByteArray scan(const QList<CategoryScan>& scans)
{
    Writer json;
    json.open('{').key(u"categories").open('[');
    for (const CategoryScan& each : scans) {
        json.open('{').key(u"id").string(each.category.id);
        json.key(u"title").string(each.category.title).key(u"roots").open('[');
        for (const QString& root : each.category.roots)
            json.string(root);
        json.close(']').key(u"unreadable").boolean(each.result.unreadable);
        json.key(u"total").integer(CliOutput::totalSize(each.result.items));
        writeItems(json, each.result.items);
        json.close('}');
    }
    json.close(']').close('}');
    return json.document();
}

QByteArray report(const CleanReport& report)
{
    Writer json;
    json.open('{').key(u"freed").integer(report.freed).key(u"failures").open('[');
    for (const QString& failure : report.failures)
        json.string(failure);
    json.close(']').close('}');
    return json.document();
}

QByteArray plan(const QList<CleanItem>& items)
{
    Writer json;
    json.open('{').key(u"total").integer(CliOutput::totalSize(items));
    writeItems(json, items);
    json.close('}');
    return json.document();
}

namespace {

QString kindName(ApplicationKind kind)
{
    switch (kind) {
    case ApplicationKind::Bundle:
        return QStringLiteral("bundle");
    case ApplicationKind::Flatpak:
        return QStringLiteral("flatpak");
    case ApplicationKind::AppImage:
        return QStringLiteral("appimage");
    case ApplicationKind::HomeProgram:
        return QStringLiteral("home-program");
    case ApplicationKind::SystemPackage:
        return QStringLiteral("system-package");
    }
    return {};
}

} // namespace

QByteArray apps(const QList<InstalledApp>& apps)
{
    Writer json;
    json.open('{').key(u"apps").open('[');
    for (const InstalledApp& app : apps) {
        json.open('{').key(u"id").string(app.bundleID).key(u"name").string(app.name);
        json.key(u"version").string(app.version).key(u"path").string(app.url);
        json.key(u"kind").string(kindName(app.kind));
        json.key(u"protected").boolean(app.isProtected).key(u"size");
        if (app.size)
            json.integer(*app.size);
        else
            json.null();
        json.close('}');
    }
    json.close(']').close('}');
    return json.document();
}

QByteArray snapshot(const SystemSnapshot& s, const QList<ProcessStat>& top)
{
    const auto u64 = [](quint64 v) { return qint64(std::min<quint64>(v, INT64_MAX)); };
    Writer json;
    json.open('{').key(u"cpu").open('{').key(u"total").number(s.cpuTotal);
    json.key(u"user").number(s.cpuUser).key(u"system").number(s.cpuSystem).key(u"cores").open('[');
    for (double core : s.cores)
        json.number(core);
    json.close(']').close('}');
    const MemoryInfo& m = s.memory;
    json.key(u"memory").open('{').key(u"used").integer(u64(m.used()));
    json.key(u"total").integer(u64(m.total)).key(u"swap_used").integer(u64(m.swapUsed));
    json.key(u"swap_total").integer(u64(m.swapTotal)).key(u"pressure").integer(m.pressure);
    json.close('}').key(u"network").open('{').key(u"down").number(s.netDown);
    json.key(u"up").number(s.netUp).close('}').key(u"battery");
    if (const std::optional<BatteryInfo>& b = s.battery) {
        json.open('{').key(u"percent").integer(b->percent).key(u"charging").boolean(b->charging);
        json.key(u"on_ac").boolean(b->onAC).key(u"minutes_left");
        b->minutesLeft ? json.integer(*b->minutesLeft) : json.null();
        json.close('}');
    } else {
        json.null();
    }
    json.key(u"load").open('[').number(s.load[0]).number(s.load[1]).number(s.load[2]).close(']');
    writeProcesses(json, top);
    json.close('}');
    return json.document();
}

} // namespace CliJson
