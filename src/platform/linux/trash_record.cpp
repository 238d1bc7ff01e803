#include "platform/linux/trash_p.h"

#include <QRandomGenerator>

namespace TrashRecord {
namespace {

// Tries with a counter (".2", ".3", …) before random tags take over.
constexpr int kCountedAttempts = 100;
// A longer "extension" is just part of the name.
constexpr qsizetype kMaxExtension = 16;

bool isContinuation(char byte)
{
    return (uchar(byte) & 0xC0) == 0x80;
}

QByteArray shortened(const QByteArray& stem, qsizetype room)
{
    if (stem.size() <= room) return stem;
    qsizetype cut = room;
    while (cut > 0 && isContinuation(stem.at(cut)))
        --cut;
    return stem.left(cut > 0 ? cut : room);
}

QByteArray tag(int attempt)
{
    if (attempt == 0) return {};
    if (attempt < kCountedAttempts) return '.' + QByteArray::number(attempt + 1);
    return '.' + QByteArray::number(QRandomGenerator::global()->generate(), 16);
}

} // namespace

QByteArray text(const QByteArray& path, const QDateTime& when)
{
    // Every byte but the unreserved ones and "/" is escaped, so no line break, "%" or byte that
    // is not UTF-8 reaches the record as itself.
    return "[Trash Info]\nPath=" + path.toPercentEncoding("/") +
           "\nDeletionDate=" + when.toString(QStringLiteral("yyyy-MM-ddThh:mm:ss")).toLatin1() +
           '\n';
}

std::optional<QByteArray> originalPath(const QByteArray& record)
{
    bool inGroup = false;
    for (QByteArray line : record.split('\n')) {
        line = line.trimmed();
        if (line.startsWith('[')) {
            inGroup = line == "[Trash Info]";
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (!inGroup || equals < 0 || line.left(equals).trimmed() != "Path") continue;
        const QByteArray path = QByteArray::fromPercentEncoding(line.mid(equals + 1).trimmed());
        if (path.isEmpty() || path.contains('\0')) return std::nullopt;
        return path;
    }
    return std::nullopt;
}

QByteArray storedName(const QByteArray& name, int attempt)
{
    if (attempt == 0 && name.size() <= kMaxStoredName) return name;
    const qsizetype dot = name.lastIndexOf('.');
    const QByteArray extension =
        dot > 0 && name.size() - dot <= kMaxExtension ? name.mid(dot) : QByteArray();
    const QByteArray marker = tag(attempt);
    const QByteArray stem = name.left(name.size() - extension.size());
    return shortened(stem, kMaxStoredName - extension.size() - marker.size()) + marker + extension;
}

} // namespace TrashRecord
