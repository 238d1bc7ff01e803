#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

/// The update feed's JSON format and its strict decoder. Pure functions; any thread.
namespace Feed {

/// One published release.
struct Release
{
    QString version;
    qint64 build = 0;
    QStringList notes; ///< empty when the feed gives none (key absent or null)

    bool operator==(const Release&) const = default;
};

/// One application listed in the feed, releases in feed order.
struct Entry
{
    QString id;
    QList<Release> versions;

    bool operator==(const Entry&) const = default;
};

/// The whole feed, applications in feed order.
struct Document
{
    QList<Entry> apps;

    bool operator==(const Document&) const = default;
};

/// Outcome of decoding: a document, or a description of why the body is not a valid feed.
struct Decoded
{
    std::optional<Document> document;
    QString error; ///< Vietnamese sentence, set when `document` is empty
};

/// Decodes a feed body (UTF-8 JSON). A missing required key or a value of the wrong JSON type
/// anywhere fails the whole document; `build` must be an integer literal (no fraction, no
/// exponent) within 64 bits; unknown keys are ignored but must still be valid JSON. Nesting
/// deeper than 512 levels is refused.
Decoded decode(const QByteArray& body);

} // namespace Feed
