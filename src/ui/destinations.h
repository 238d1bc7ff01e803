#pragma once

#include "ui/models.h"

#include <QString>

class QWidget;

/// Destination identifiers of the window, besides each category's id.
namespace Destination {
inline const QString overview = QStringLiteral("overview");
inline const QString uninstaller = QStringLiteral("uninstaller");
inline const QString monitor = QStringLiteral("monitor");
} // namespace Destination

/// The screens of the "uninstaller" and "monitor" destinations. The window creates the screen
/// afresh each time its destination is selected and deletes it when another one is: a screen
/// starts and stops its model's work from its show and hide events.
QWidget* createUninstallerScreen(const Models& models, QWidget* parent);
QWidget* createMonitorScreen(const Models& models, QWidget* parent);
