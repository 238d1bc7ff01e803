#pragma once

#include "platform/property_list_limits.h"

#include <QByteArrayView>
#include <QString>
#include <QVariantMap>
#include <optional>

/// Property lists (XML or binary, read with libplist). Input is untrusted: a list larger than
/// kMaxBytes, whose tree would be deeper than kMaxDepth, or whose binary object graph would
/// expand to more than kMaxNodes nodes is refused before libplist sees it, and so is any list
/// that would make libplist fail an assertion (see PropertyListLimits::admits). Pure; any
/// thread; never throws.
namespace PropertyList {

/// The top-level dictionary of a property list as a map of its readable values: strings as
/// QString, booleans as bool, integers as qint64, reals as double,
/// dates as UTC QDateTime, data as QByteArray, arrays as QVariantList, dictionaries as
/// QVariantMap; UIDs are left out. nullopt when the bytes are not a property list, are refused
/// by the limits above, or their top level is not a dictionary.
std::optional<QVariantMap> parse(QByteArrayView data);

/// parse() of a regular file's content (a link at the path is followed). nullopt when the file
/// is missing, not a regular file, larger than kMaxBytes, or not a property list.
std::optional<QVariantMap> read(const QString& path);

} // namespace PropertyList
