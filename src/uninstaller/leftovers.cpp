#include "core/scanner.h"
#include "platform/file_system.h"
#include "uninstaller/app_catalog.h"

#include <QTextBoundaryFinder>
#include <algorithm>

namespace AppCatalog {
namespace {

qsizetype graphemeCount(const QString& text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() > 0)
        ++count;
    return count;
}

// A folder that is, or holds, something other than one application's leftover: a leftover
// folder (~/.config/autostart is a child of ~/.config), a shared folder (the trash, the user's
// Flatpak installation), the application itself or one of its own files.
bool holdsOtherThings(const QString& path, const QStringList& kept)
{
    return std::any_of(kept.begin(), kept.end(),
                       [&](const QString& other) { return FileSystem::isWithin(other, path); });
}

QStringList keptFolders(const Folders& folders)
{
    QStringList kept = folders.sharedFolders;
    for (const LeftoverFolder& folder : folders.leftoverFolders)
        kept.append(folder.path);
    for (QString& path : kept)
        path = FileSystem::standardized(path);
    return kept;
}

enum class Match { none, identifier, name };

Match matchOf(const QString& n, const QString& bid, const QString& nm, bool nameLongEnough,
              const LeftoverFolder& folder)
{
    if (n == bid || n.startsWith(bid + u'.')) return Match::identifier;
    if (folder.byGroupPrefix && n.endsWith(u'.' + bid)) return Match::identifier;
    return folder.byName && nameLongEnough && n == nm ? Match::name : Match::none;
}

} // namespace

QList<Leftover> leftovers(const InstalledApp& app)
{
    return leftovers(app, Folders::standard());
}

QList<Leftover> leftovers(const InstalledApp& app, const Folders& folders)
{
    const QString bid = app.bundleID.toLower();
    const QString nm = app.name.toLower();
    const bool nameLongEnough = graphemeCount(nm) >= 3;
    QList<Leftover> found;
    // An empty identifier would make every dot-file a match; the catalogue never lists such an
    // application, but a record can be built elsewhere.
    if (bid.isEmpty()) return found;
    QStringList kept = keptFolders(folders);
    kept.append(FileSystem::standardized(app.url));
    for (const QString& own : app.ownFiles)
        kept.append(FileSystem::standardized(own));
    for (const LeftoverFolder& folder : folders.leftoverFolders) {
        const std::optional<QStringList> children = FileSystem::children(folder.path);
        if (!children) continue;
        for (const QString& child : *children) {
            const Match match = matchOf(FileSystem::lastComponent(child).toLower(), bid, nm,
                                        nameLongEnough, folder);
            if (match == Match::none || holdsOtherThings(FileSystem::standardized(child), kept))
                continue;
            found.append(Leftover{child, Scanner::allocatedSize(child), match == Match::name});
        }
    }
    // The application's private data first: it is its own by construction.
    const auto rank = [&](const Leftover& leftover) {
        return app.privateData.contains(leftover.url) ? 0 : 1;
    };
    std::stable_sort(found.begin(), found.end(), [&](const Leftover& a, const Leftover& b) {
        return rank(a) != rank(b) ? rank(a) < rank(b) : a.size > b.size;
    });
    return found;
}

bool isAllowedTarget(const QString& url, const InstalledApp& app)
{
    return isAllowedTarget(url, app, Folders::standard());
}

bool isAllowedTarget(const QString& url, const InstalledApp& app, const Folders& folders)
{
    if (url == app.url) {
        const bool trashed = app.kind == ApplicationKind::Bundle
                                 ? FileSystem::extension(url) == u"app"
                                 : app.removal == Removal::Trash;
        return trashed && !app.isProtected;
    }
    const QString p = FileSystem::standardized(url);
    // "Preferences/ByHost" is itself a direct child of "Preferences", ~/.config/autostart of
    // ~/.config, the trash of ~/.local/share: such folders are refused before the direct-child
    // test.
    if (holdsOtherThings(p, keptFolders(folders))) return false;
    for (const LeftoverFolder& folder : folders.leftoverFolders) {
        const QString base = FileSystem::standardized(folder.path) + u'/';
        if (p.startsWith(base) && !p.mid(base.size()).contains(u'/')) return true;
    }
    return false;
}

} // namespace AppCatalog
