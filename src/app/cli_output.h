#pragma once

#include "core/category.h"

#include <QByteArray>
#include <QList>
#include <QString>

/// What the command line writes and reads on the terminal. Text goes out as UTF-8 with the
/// original bytes of every file name (PathCodec), so a name printed by one command and passed to
/// another names the same file.
namespace CliOutput {

enum class Stream { out, err };

/// `text` and a line break on the stream.
void line(Stream stream, const QString& text = {});
inline void out(const QString& text = {})
{
    line(Stream::out, text);
}
inline void err(const QString& text)
{
    line(Stream::err, text);
}
/// Bytes as they are (a JSON document) on standard output.
void raw(const QByteArray& bytes);

/// A name or other text from the file system or /proc, ready to be put into a line for `stream`.
/// On a terminal, control characters and bytes that are not UTF-8 are shown as "?", as ls does:
/// a name must not move the cursor, retitle the window or forge a line, and the shell's "?"
/// still matches the byte when the name is pasted back. Elsewhere (a pipe, a file) the text is
/// left alone, so its exact bytes are written.
QString shown(const QString& text, Stream stream = Stream::out);

/// A paragraph broken into lines of at most `width` characters at blanks.
QString wrapped(const QString& text, qsizetype width = 80);

/// A byte count for people, right-aligned in a column.
QString sizeColumn(qint64 bytes);
/// The sum of the items' sizes.
qint64 totalSize(const QList<CleanItem>& items);

/// Whether standard input is a terminal, where a person can be asked.
bool canAsk();
/// Asks `question` on the terminal; true for "c" or "có" (or "y", "yes"). Anything else, or the
/// end of input, declines.
bool agreed(const QString& question);

} // namespace CliOutput
