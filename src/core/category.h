#pragma once

#include "platform/file_system.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

/// How the roots of a category are searched.
struct ScanKind
{
    enum class Type { largeFiles, children };

    Type type = Type::children;
    qint64 minBytes = 0; ///< allocated bytes; meaningful for largeFiles only

    static ScanKind largeFiles(qint64 minBytes) { return {Type::largeFiles, minBytes}; }
    static ScanKind children() { return {Type::children, 0}; }
    bool isLargeFiles() const { return type == Type::largeFiles; }
    friend bool operator==(const ScanKind&, const ScanKind&) = default;
};

/// How selected items are removed.
enum class DeletionMode { permanent, trash };

/// One junk category of the fixed catalogue.
struct Category
{
    QString id;
    QString title;
    QString symbol;
    QString detail;
    std::optional<QString> warning;
    QStringList roots; ///< absolute paths, in search order
    ScanKind kind;
    DeletionMode deletion = DeletionMode::permanent;

    /// The six categories in display order; built once, thread-safely, on first use.
    static const QList<Category>& all();
    /// The category with this id, or nullptr.
    static const Category* find(const QString& id);
    /// Home directory of the current user, read once.
    static QString home();

    friend bool operator==(const Category&, const Category&) = default;
};

/// One found item; its identity is `url`.
struct CleanItem
{
    // A constructor rather than aggregate initialisation: `{url, size}` stays the usual form.
    CleanItem(QString url = {}, qint64 size = 0, std::optional<QString> origin = std::nullopt)
        : url(std::move(url)), size(size), origin(std::move(origin))
    {
    }

    QString url;     ///< absolute path
    qint64 size = 0; ///< allocated bytes, as measured by the scan
    /// Where an item of the trash was trashed from, as its record says; read by the scan.
    std::optional<QString> origin;

    QString name() const;
    /// Equal when `url` and `size` are: the origin only describes the item.
    friend bool operator==(const CleanItem& a, const CleanItem& b)
    {
        return a.url == b.url && a.size == b.size;
    }
};
size_t qHash(const CleanItem& item, size_t seed = 0);

/// The identity of each root of a category as a scan listed it, by the root's standardised path.
/// A removal enters a root only while it is still that object, so a root replaced after the scan
/// (by a link to elsewhere, say) is never worked in; a root that was a link already when it was
/// scanned is pinned as the folder it led to.
using RootPins = QHash<QString, FileSystem::Identity>;

/// Outcome of one category scan.
struct ScanResult
{
    QList<CleanItem> items; ///< largest first
    bool unreadable = false;
    RootPins pinnedRoots; ///< the roots listed or walked
    friend bool operator==(const ScanResult&, const ScanResult&) = default;
};

/// Outcome of one removal run.
struct CleanReport
{
    qint64 freed = 0;
    QStringList failures;
    friend bool operator==(const CleanReport&, const CleanReport&) = default;
};

/// Capacity of the start-up volume.
struct DiskUsage
{
    qint64 total = 0;
    qint64 available = 0;

    qint64 used() const { return total - available > 0 ? total - available : 0; }
    /// A fresh reading of "/"; zeros when it cannot be read. Any thread.
    static DiskUsage current();
    friend bool operator==(const DiskUsage&, const DiskUsage&) = default;
};

/// Display text of a file, folder, disk or network byte count: decimal units (1 kB = 1000 bytes)
/// in Vietnamese, whatever the system locale. Pure; any thread.
QString formatBytes(qint64 bytes);
