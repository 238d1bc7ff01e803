#pragma once

#include "platform/property_list.h"

#include <QDateTime>
#include <QString>
#include <QVariantMap>
#include <optional>

/// An application bundle: a directory with `Contents/Info.plist` (or `Info.plist` at its top).
/// A value; opening reads the information dictionary once. Any thread; never throws.
class Bundle
{
public:
    /// The bundle at `path` (a link at the path is followed). nullopt when the path is not a
    /// directory. A directory without a readable information dictionary opens with an empty one.
    static std::optional<Bundle> open(const QString& path);

    /// The path the bundle was opened with, unchanged.
    const QString& path() const { return m_path; }
    /// CFBundleIdentifier when it is a non-empty string; an empty identifier would match every
    /// dot-file as a leftover, so it counts as none.
    std::optional<QString> identifier() const;
    /// The whole top-level dictionary of Info.plist; empty when missing or damaged.
    const QVariantMap& infoDictionary() const { return m_info; }
    /// The value under `key` when it is a string, else "".
    QString stringValue(const QString& key) const;

    /// The main executable (CFBundleExecutable, a single file name, inside Contents/MacOS, or at
    /// the top of a flat bundle); "" when the dictionary names none or names a path.
    QString executablePath() const;
    /// The icon file (CFBundleIconFile in Contents/Resources, ".icns" appended when the name has
    /// no extension and the bare name does not exist); "" when none exists.
    QString iconPath() const;
    /// When the application was last used: Linux has no metadata index, so this is the access
    /// time of the main executable when the file system recorded one later than its modification
    /// time (it was run, or read, after it was installed); nullopt otherwise.
    std::optional<QDateTime> lastUsed() const;

private:
    QString m_path;
    QString m_contents; ///< the folder holding Info.plist: path + "/Contents", or path itself
    bool m_flat = false;
    QVariantMap m_info;
};
