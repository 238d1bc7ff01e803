#include "ui/destinations.h"

#include "ui/panels.h"

#include <QLabel>
#include <QVBoxLayout>

// These two destinations get their own screens later; until then each shows its heading and a
// short notice, so the window's navigation is complete.
namespace {

QWidget* placeholder(const QString& name, const QString& symbol, const QString& title,
                     QWidget* parent)
{
    auto* screen = new QWidget(parent);
    screen->setObjectName(name);
    auto* layout = new QVBoxLayout(screen);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(12);
    QLabel* heading = nullptr;
    layout->addWidget(makeSymbolLabel(symbol, title, 32, screen, &heading));
    TextStyle::largeTitle(heading);
    layout->addStretch(1);
    auto* notice = new QLabel(QStringLiteral("Màn hình này sẽ có trong bản sau."), screen);
    TextStyle::secondary(notice);
    layout->addWidget(notice, 0, Qt::AlignHCenter);
    layout->addStretch(1);
    return screen;
}

} // namespace

QWidget* createUninstallerScreen(const Models&, QWidget* parent)
{
    return placeholder(Destination::uninstaller, QStringLiteral("xmark.app"),
                       QStringLiteral("Gỡ ứng dụng"), parent);
}

QWidget* createMonitorScreen(const Models&, QWidget* parent)
{
    return placeholder(Destination::monitor, QStringLiteral("gauge"),
                       QStringLiteral("Theo dõi hệ thống"), parent);
}
