// The parts of the places that are the same on every system: the macOS table as data, and the
// safety rules every system's table goes through.
#include "platform/places.h"

#include "platform/file_system.h"

namespace Places {
namespace {

// A path as written and with its links resolved: a place is judged by both, so a link cannot
// hide that it leads to "/" or into another category's folder.
struct Forms
{
    QString clean;
    QString real;
};

Forms formsOf(const QString& path)
{
    return {FileSystem::standardized(path), FileSystem::resolved(path)};
}

bool holds(const Forms& outer, const Forms& inner)
{
    return FileSystem::isWithin(inner.clean, outer.clean) ||
           FileSystem::isWithin(inner.real, outer.real);
}

struct Choice
{
    Forms path;
    QString fallback; // empty once used, or when there is none
    bool dropped = false;
};
using Choices = QList<QList<Choice>>;

bool holdsAnotherCategory(const Forms& path, qsizetype row, const Choices& chosen)
{
    for (qsizetype other = 0; other < chosen.size(); ++other) {
        if (other == row) continue;
        for (const Choice& choice : chosen[other])
            if (!choice.dropped && holds(path, choice.path)) return true;
    }
    return false;
}

QList<Choice> firstChoices(const CandidateRow& row, const QString& home)
{
    QList<Choice> choices;
    for (const Candidate& candidate : row.candidates) {
        if (isSafePlace(candidate.place, home)) {
            const bool distinct = isSafePlace(candidate.fallback, home) &&
                                  FileSystem::standardized(candidate.fallback) !=
                                      FileSystem::standardized(candidate.place);
            choices.append({formsOf(candidate.place), distinct ? candidate.fallback : QString()});
        } else if (isSafePlace(candidate.fallback, home)) {
            choices.append({formsOf(candidate.fallback), QString()});
        }
    }
    return choices;
}

// A root inside another root of the same row (or equal to an earlier one) is covered by it.
QStringList withoutNested(const QList<Choice>& choices)
{
    QStringList roots;
    for (qsizetype i = 0; i < choices.size(); ++i) {
        if (choices[i].dropped) continue;
        bool covered = false;
        for (qsizetype j = 0; j < choices.size() && !covered; ++j) {
            if (j == i || choices[j].dropped || !holds(choices[j].path, choices[i].path)) continue;
            covered = j < i || !holds(choices[i].path, choices[j].path);
        }
        if (!covered) roots.append(choices[i].path.clean);
    }
    return roots;
}

} // namespace

QStringList roots(const QString& id)
{
    for (const Row& row : table())
        if (row.id == id) return row.roots;
    return {};
}

QList<Row> macOSTable()
{
    return {
        {QStringLiteral("caches"), {QStringLiteral("Library/Caches")}},
        {QStringLiteral("logs"), {QStringLiteral("Library/Logs")}},
        {QStringLiteral("dev"),
         {QStringLiteral("Library/Developer/Xcode/DerivedData"),
          QStringLiteral("Library/Developer/CoreSimulator/Caches"), QStringLiteral(".npm/_cacache"),
          QStringLiteral(".gradle/caches")}},
        {QStringLiteral("trash"), {QStringLiteral(".Trash")}},
        {QStringLiteral("ios"), {QStringLiteral("Library/Application Support/MobileSync/Backup")}},
        {QStringLiteral("large"),
         {QStringLiteral("Downloads"), QStringLiteral("Documents"), QStringLiteral("Desktop"),
          QStringLiteral("Movies")}},
    };
}

bool isSafePlace(const QString& path, const QString& home)
{
    if (!path.startsWith(u'/')) return false;
    const Forms place = formsOf(path);
    const Forms homes = formsOf(home);
    for (const QString& form : {place.clean, place.real})
        for (const QString& homeForm : {homes.clean, homes.real})
            if (form == u"/" || FileSystem::isWithin(homeForm, form)) return false;
    return true;
}

QList<Row> sanitized(const QList<CandidateRow>& rows, const QString& home)
{
    Choices chosen;
    for (const CandidateRow& row : rows)
        chosen.append(firstChoices(row, home));
    for (qsizetype row = 0; row < chosen.size(); ++row) {
        for (Choice& choice : chosen[row]) {
            if (!holdsAnotherCategory(choice.path, row, chosen)) continue;
            const Forms fallback = formsOf(choice.fallback);
            if (choice.fallback.isEmpty() || holdsAnotherCategory(fallback, row, chosen)) {
                choice.dropped = true;
                continue;
            }
            choice.path = fallback;
            choice.fallback.clear();
        }
    }
    QList<Row> table;
    for (qsizetype row = 0; row < rows.size(); ++row)
        table.append({rows[row].id, withoutNested(chosen[row])});
    return table;
}

} // namespace Places
