#pragma once

#include <QStringList>
#include <QUrl>
#include <QVariantMap>

/// Desktop services: the workspace (open a URL, reveal files, icons), running applications,
/// bundles and the program's own information dictionary. Fire-and-forget operations report
/// nothing; none throws.
namespace Desktop {

/// Opens a URL with its default handler. Nothing happens where no handler exists (the macOS
/// settings deep links, for one). Needs a QGuiApplication; GUI thread.
void openUrl(const QUrl& url);

/// Shows the items (absolute paths) selected in the desktop's file manager, or, where no file
/// manager can select items, the folders that hold them. Fire and forget; never waits for the
/// file manager. GUI thread.
void revealInFileViewer(const QStringList& paths);

/// The program's own information dictionary, compiled in: CFBundleIdentifier,
/// CFBundleShortVersionString, CFBundleVersion, and SorviUpdateFeedURL when one was configured.
QVariantMap ownInfoDictionary();

} // namespace Desktop
