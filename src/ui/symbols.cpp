#include "ui/symbols.h"

#include <QApplication>
#include <QStandardPaths>
#include <QStyle>
#include <array>

namespace Symbols {
namespace {

struct Row
{
    const char* symbol;
    // Full-colour names come first: Adwaita ships them as PNG, which needs no SVG icon engine;
    // the symbolic variants are SVG only.
    std::array<const char*, 3> themeNames; // unused places stay null
    QStyle::StandardPixmap fallback;
};

const std::array kTable{
    Row{"sparkles", {"starred", "emblem-favorite", "starred-symbolic"}, QStyle::SP_DesktopIcon},
    Row{"internaldrive", {"drive-harddisk", "drive-harddisk-symbolic"}, QStyle::SP_DriveHDIcon},
    Row{"doc.text",
        {"text-x-generic", "x-office-document", "text-x-generic-symbolic"},
        QStyle::SP_FileIcon},
    Row{"hammer",
        {"applications-development", "applications-engineering", "system-run"},
        QStyle::SP_ComputerIcon},
    Row{"trash", {"user-trash", "edit-delete", "user-trash-symbolic"}, QStyle::SP_TrashIcon},
    Row{"iphone", {"phone", "pda", "phone-symbolic"}, QStyle::SP_DriveFDIcon},
    Row{"externaldrive",
        {"drive-removable-media", "drive-multidisk", "drive-harddisk"},
        QStyle::SP_DriveHDIcon},
    Row{"xmark.app",
        {"system-software-install", "application-x-executable"},
        QStyle::SP_DialogDiscardButton},
    Row{"gauge",
        {"utilities-system-monitor", "preferences-system", "computer"},
        QStyle::SP_ComputerIcon},
    Row{"arrow.down.circle.fill",
        {"software-update-available", "emblem-downloads", "go-down"},
        QStyle::SP_ArrowDown},
    Row{"arrow.clockwise", {"view-refresh", "view-refresh-symbolic"}, QStyle::SP_BrowserReload},
    Row{"chevron.right", {"go-next", "go-next-symbolic"}, QStyle::SP_ArrowRight},
    Row{"exclamationmark.triangle.fill",
        {"dialog-warning", "dialog-warning-symbolic"},
        QStyle::SP_MessageBoxWarning},
    Row{"lock.fill",
        {"changes-prevent", "system-lock-screen", "emblem-readonly"},
        QStyle::SP_MessageBoxCritical},
    Row{"chart.xyaxis.line",
        {"utilities-system-monitor", "x-office-spreadsheet"},
        QStyle::SP_FileDialogContentsView},
    Row{"cpu", {"applications-system", "computer"}, QStyle::SP_ComputerIcon},
    Row{"info.circle", {"dialog-information", "help-about"}, QStyle::SP_MessageBoxInformation},
    Row{"list.bullet.rectangle",
        {"view-list", "x-office-document", "text-x-generic"},
        QStyle::SP_FileDialogListView},
    Row{"memorychip", {"media-flash", "drive-removable-media"}, QStyle::SP_DriveCDIcon},
    Row{"network", {"network-wired", "network-workgroup", "network-idle"}, QStyle::SP_DriveNetIcon},
    Row{"battery.100.bolt",
        {"battery-full-charging", "battery-full", "battery"},
        QStyle::SP_ComputerIcon},
    Row{"battery.75", {"battery-good", "battery-full", "battery"}, QStyle::SP_ComputerIcon},
};

const Row* find(const QString& symbol)
{
    for (const Row& row : kTable)
        if (symbol == QLatin1String(row.symbol)) return &row;
    return nullptr;
}

void ensureTheme()
{
    // Without a desktop session (the offscreen platform, a bare X server) there is no theme, or
    // only "hicolor", which has almost nothing; Adwaita is the one the project installs.
    static const bool once = [] {
        const QString theme = QIcon::themeName();
        if (theme.isEmpty() || theme == u"hicolor") {
            // Such platforms do not even look in the freedesktop icon folders.
            QStringList paths = QIcon::themeSearchPaths();
            const QStringList dataIcons =
                QStandardPaths::locateAll(QStandardPaths::GenericDataLocation,
                                          QStringLiteral("icons"), QStandardPaths::LocateDirectory);
            for (const QString& folder : dataIcons)
                if (!paths.contains(folder)) paths.append(folder);
            QIcon::setThemeSearchPaths(paths);
            QIcon::setThemeName(QStringLiteral("Adwaita"));
        } else if (QIcon::fallbackThemeName().isEmpty() || QIcon::fallbackThemeName() == u"hicolor")
            QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
        return true;
    }();
    Q_UNUSED(once);
}

} // namespace

QIcon icon(const QString& symbol)
{
    ensureTheme();
    const Row* row = find(symbol);
    if (row) {
        for (const char* name : row->themeNames) {
            if (!name) continue;
            const QString themeName = QLatin1String(name);
            if (QIcon::hasThemeIcon(themeName)) return QIcon::fromTheme(themeName);
        }
    }
    const QStyle::StandardPixmap fallback = row ? row->fallback : QStyle::SP_FileIcon;
    return QApplication::style()->standardIcon(fallback);
}

QStringList themeNames(const QString& symbol)
{
    QStringList names;
    if (const Row* row = find(symbol))
        for (const char* name : row->themeNames)
            if (name) names.append(QLatin1String(name));
    return names;
}

QStringList known()
{
    QStringList symbols;
    for (const Row& row : kTable)
        symbols.append(QLatin1String(row.symbol));
    return symbols;
}

} // namespace Symbols
