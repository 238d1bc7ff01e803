#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

/// Lossless conversion between file-name bytes and QString.
///
/// Linux names are arbitrary bytes; a QString decoded with replacement characters would make two
/// different files look alike, and a removal by that name could hit the wrong one. Bytes that are
/// not valid UTF-8 are therefore kept as lone low surrogates U+DC80..U+DCFF (the "surrogateescape"
/// scheme), which valid UTF-8 can never produce, so every name decodes to a distinct QString and
/// encodes back to exactly its bytes. Every conversion between a path QString and the bytes given
/// to the kernel goes through these two functions, never through QFile::encodeName.
namespace PathCodec {

/// Bytes -> text. Valid UTF-8 is decoded normally; each byte of an invalid sequence becomes
/// U+DC00 + byte. Pure; any thread.
QString decode(QByteArrayView bytes);

/// Text -> bytes, the inverse of decode(). Lone surrogates that decode() cannot produce are
/// written in their three-byte form, which no valid UTF-8 name holds. Pure; any thread.
QByteArray encode(const QString& text);

} // namespace PathCodec
