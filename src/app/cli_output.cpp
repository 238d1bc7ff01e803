#include "app/cli_output.h"

#include "platform/path_codec.h"

#include <cstdio>
#include <unistd.h>

namespace CliOutput {
namespace {

FILE* file(Stream stream)
{
    return stream == Stream::out ? stdout : stderr;
}

bool isTerminal(Stream stream)
{
    return ::isatty(stream == Stream::out ? STDOUT_FILENO : STDERR_FILENO) == 1;
}

bool unsafeOnTerminal(QChar c)
{
    const char16_t u = c.unicode();
    // C0 and C1 controls and DEL, and the lone surrogates that stand for bytes that are not UTF-8.
    return u < 0x20 || (u >= 0x7f && u < 0xa0) || c.isSurrogate();
}

} // namespace

void line(Stream stream, const QString& text)
{
    QByteArray bytes = PathCodec::encode(text);
    bytes.append('\n');
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), file(stream));
}

void raw(const QByteArray& bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
}

QString shown(const QString& text, Stream stream)
{
    if (!isTerminal(stream)) return text;
    QString safe = text;
    for (qsizetype i = 0; i < safe.size(); ++i) {
        // A valid pair is one character; only a lone half stands for a raw byte.
        if (safe[i].isHighSurrogate() && i + 1 < safe.size() && safe[i + 1].isLowSurrogate()) {
            ++i;
            continue;
        }
        if (unsafeOnTerminal(safe[i])) safe[i] = u'?';
    }
    return safe;
}

QString wrapped(const QString& text, qsizetype width)
{
    QString result;
    qsizetype lineLength = 0;
    for (const QString& word : text.split(u' ', Qt::SkipEmptyParts)) {
        if (lineLength > 0 && lineLength + 1 + word.size() > width) {
            result += u'\n';
            lineLength = 0;
        } else if (lineLength > 0) {
            result += u' ';
            ++lineLength;
        }
        result += word;
        lineLength += word.size();
    }
    return result;
}

QString sizeColumn(qint64 bytes)
{
    return formatBytes(bytes).rightJustified(10);
}

qint64 totalSize(const QList<CleanItem>& items)
{
    qint64 total = 0;
    for (const CleanItem& item : items)
        total += item.size;
    return total;
}

bool canAsk()
{
    return ::isatty(STDIN_FILENO) == 1;
}

bool agreed(const QString& question)
{
    const QByteArray prompt = PathCodec::encode(question);
    std::fwrite(prompt.constData(), 1, size_t(prompt.size()), stderr);
    std::fflush(stderr);
    char answer[64] = {};
    if (std::fgets(answer, sizeof answer, stdin) == nullptr) {
        std::fputc('\n', stderr);
        return false;
    }
    const QString word = QString::fromUtf8(answer).trimmed().toLower();
    return word == u"c" || word == u"có" || word == u"co" || word == u"y" || word == u"yes";
}

} // namespace CliOutput
