#include "app/cli.h"
#include "core/app_model.h"
#include "monitor/monitor_model.h"
#include "ui/main_window.h"
#include "ui/screenshot.h"
#include "uninstaller/uninstaller_model.h"
#include "update/update_checker.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <cstdio>
#include <cstdlib>

namespace {

QIcon applicationIcon()
{
    QIcon icon;
    for (const char* size : {"48x48", "128x128", "256x256"})
        icon.addFile(
            QStringLiteral(":/icons/%1/apps/vn.sorvi.SorviClean.png").arg(QLatin1String(size)));
    return QIcon::fromTheme(QStringLiteral("vn.sorvi.SorviClean"), icon);
}

bool wantsScreenshot(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i)
        if (qstrcmp(argv[i], "--screenshot") == 0 || qstrncmp(argv[i], "--screenshot=", 13) == 0)
            return true;
    return false;
}

} // namespace

int main(int argc, char* argv[])
{
    // Commands need no display: they run on a QCoreApplication, over SSH too.
    if (Cli::wanted(argc, argv)) return Cli::run(argc, argv);

    // A screenshot needs no screen: without a display, render off-screen.
    if (wantsScreenshot(argc, argv) && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
        qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("SorviClean"));
    QApplication::setApplicationDisplayName(QStringLiteral("SorviClean"));
    QApplication::setDesktopFileName(QStringLiteral("vn.sorvi.SorviClean"));
    QApplication::setWindowIcon(applicationIcon());

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Dọn rác, gỡ ứng dụng và theo dõi hệ thống."));
    parser.addHelpOption();
    const QCommandLineOption screenshot(
        QStringLiteral("screenshot"),
        QStringLiteral("Chụp cửa sổ vào tệp PNG khi lần quét đầu xong, rồi thoát."),
        QStringLiteral("FILE"));
    const QCommandLineOption page(
        QStringLiteral("page"),
        QStringLiteral("Mục hiện khi mở: overview, caches, logs, dev, trash, ios, large, "
                       "uninstaller hoặc monitor."),
        QStringLiteral("ID"));
    parser.addOptions({screenshot, page});
    parser.process(app);

    // Created once, in this order, for the life of the process; the window only borrows them.
    AppModel model;
    UninstallerModel uninstaller;
    MonitorModel monitor;
    UpdateChecker updater;

    MainWindow window(Models{&model, &uninstaller, &monitor, &updater});
    if (parser.isSet(page)) window.setSelection(parser.value(page));
    if (parser.isSet(screenshot)) {
        const QString path = parser.value(screenshot);
        saveScreenshotWhenReady(window, path, [path](bool written) {
            if (!written) std::fprintf(stderr, "sorviclean: cannot write %s\n", qPrintable(path));
            QCoreApplication::exit(written ? EXIT_SUCCESS : EXIT_FAILURE);
        });
    }
    window.show();
    return QApplication::exec();
}
