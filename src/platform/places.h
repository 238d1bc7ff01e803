#pragma once

#include <QList>
#include <QString>
#include <QStringList>

/// Where the junk of each cleaning category lives: one table per operating system, the only
/// knowledge of folder layouts in the program. Places taken from the environment are checked
/// before they are used: one that is relative, "/", the home folder or above it, or that holds
/// another category's folder is replaced by its default, or dropped when that fails too.
namespace Places {

/// The folders of one category, in search order.
struct Row
{
    QString id;        ///< caches, logs, dev, trash, ios or large
    QStringList roots; ///< absolute paths (relative to the home folder in macOSTable())
    friend bool operator==(const Row&, const Row&) = default;
};

/// This system's table, six rows in catalogue order, built once (thread-safely) on first use from
/// the home folder and the environment. Reads a few paths (realpath). Any thread.
const QList<Row>& table();

/// The roots of the category `id` in table(); empty for an unknown id.
QStringList roots(const QString& id);

/// The freedesktop home trash ($XDG_DATA_HOME/Trash, by default ~/.local/share/Trash), read once.
QString homeTrash();

/// The table of a macOS home, relative to the home folder. Data only; any thread.
QList<Row> macOSTable();

/// One place as the environment names it, with the default used when that place is unsafe.
struct Candidate
{
    QString place;    ///< what the environment says, possibly empty or relative
    QString fallback; ///< the default; empty when there is none
};

/// A category's candidates, in search order.
struct CandidateRow
{
    QString id;
    QList<Candidate> candidates;
};

/// True when `path` may hold junk: absolute, neither "/" nor `home` nor a folder above it, also
/// once its links are resolved.
bool isSafePlace(const QString& path, const QString& home);

/// The table made safe: each candidate's place, or its fallback when the place is unsafe, or
/// nothing; then a root that equals or holds another category's root is replaced by its fallback
/// or dropped (categories in order, so of two equal roots only the first goes); finally a root
/// inside another root of its own row is dropped, as that one covers it. Standardised paths.
QList<Row> sanitized(const QList<CandidateRow>& rows, const QString& home);

} // namespace Places
