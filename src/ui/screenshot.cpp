#include "ui/screenshot.h"

#include "ui/main_window.h"

#include <QPixmap>
#include <QPointer>
#include <QTimer>

namespace {
// Long enough for layouts and a screen's own first load to settle after the scan.
constexpr int kSettleMs = 600;
// The monitor shows figures from its second sample on (a rate needs two), two seconds apart.
constexpr int kMonitorSettleMs = 4500;
} // namespace

void saveScreenshotWhenReady(MainWindow& window, const QString& path,
                             const std::function<void(bool written)>& done)
{
    QPointer<MainWindow> target(&window);
    QObject::connect(
        &window, &MainWindow::startupScanFinished, &window,
        [target, path, done] {
            // The screenshots show the content at its minimum, the size every screen is laid
            // out for.
            if (target) target->resize(target->minimumSizeHint());
            const bool monitor = target && target->selection() == u"monitor";
            QTimer::singleShot(monitor ? kMonitorSettleMs : kSettleMs, target,
                               [target, path, done] {
                                   const bool written = target && target->grab().save(path, "PNG");
                                   done(written);
                               });
        },
        Qt::SingleShotConnection);
}
