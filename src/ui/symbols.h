#pragma once

#include <QIcon>
#include <QString>
#include <QStringList>

/// The interface names its icons by system-symbol names ("trash", "arrow.clockwise"). This maps
/// each of them to freedesktop theme icons, with a style icon as the last resort, so that no
/// button or row is left without an icon on a desktop with only the Adwaita theme, or none.
namespace Symbols {

/// Icon for a symbol name: the first theme icon of its table row that the current theme (or the
/// Adwaita fallback) has, else a built-in style icon. Never null, also for an unknown name.
/// GUI thread; needs a QApplication.
QIcon icon(const QString& symbol);

/// Theme icon names tried for a symbol, best first; empty for an unknown name.
QStringList themeNames(const QString& symbol);

/// Every symbol name of the table.
QStringList known();

} // namespace Symbols
