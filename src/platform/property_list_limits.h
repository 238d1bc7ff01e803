#pragma once

#include <QByteArrayView>

namespace PropertyList {

inline constexpr qint64 kMaxBytes = qint64(2) * 1024 * 1024;
/// Nodes on the longest path from the top-level value to a leaf, both included.
inline constexpr int kMaxDepth = 128;
inline constexpr qint64 kMaxNodes = qint64(256) * 1024;

} // namespace PropertyList

/// The checks that a property list's bytes pass before libplist 2.2 may read them. That
/// library recurses without a bound over what it builds, expands shared binary objects into
/// copies, and Debian's build asserts (aborting the process) on a string that holds a NUL.
/// Pure; any thread; never throws.
namespace PropertyListLimits {

/// Whether libplist may parse `data`: at most PropertyList::kMaxBytes; for XML (anything not
/// starting with "bplist00") no NUL byte, every "&#" reference a well-formed one to a character
/// other than U+0000, and the tree that libplist's own tokenizer would build no deeper than
/// PropertyList::kMaxDepth, counted over every prefix it would read before giving up; for a
/// binary list a readable object graph without cycles, no deeper than kMaxDepth, at most
/// PropertyList::kMaxNodes nodes once shared objects are copied, and no string holding U+0000.
bool admits(QByteArrayView data);

/// The depth of the tree (the top-level value counts 1) that libplist 2.2's XML reader builds
/// from `data` before it stops, read with that reader's own tokenizing rules; -1 where it would
/// give up on the markup. Meaningful for text without NUL bytes.
int xmlTreeDepth(QByteArrayView data);

} // namespace PropertyListLimits
