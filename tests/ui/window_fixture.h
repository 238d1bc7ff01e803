#pragma once

#include "core/app_model.h"
#include "monitor/monitor_model.h"
#include "support/await.h"
#include "support/test_home.h"
#include "support/tree_builder.h"
#include "ui/main_window.h"
#include "uninstaller/uninstaller_model.h"
#include "update/update_checker.h"

#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <memory>

/// The four models and the window, as the application creates them, on the temporary home.
struct WindowFixture
{
    explicit WindowFixture(std::unique_ptr<UpdateChecker> checker = nullptr)
        : updater(checker ? std::move(checker) : std::make_unique<UpdateChecker>()),
          window(Models{&model, &uninstaller, &monitor, updater.get()})
    {
    }
    // A load still suspended at the end would outlive the event loop.
    ~WindowFixture()
    {
        QSignalSpy loopEnded(&monitor, &MonitorModel::samplingLoopFinished);
        const bool sampling = monitor.isSampling();
        window.hide(); // the screens stop what they started
        if (sampling) Await::signal(loopEnded, "the monitor's loop to end");
        Await::until([&] { return !uninstaller.loading() && !uninstaller.loadingLeftovers(); },
                     "the uninstaller's loads to end");
    }

    bool showAndWaitForScan()
    {
        QSignalSpy finished(&window, &MainWindow::startupScanFinished);
        window.show(); // scans of missing roots can end within show()
        return !finished.isEmpty() || Await::signal(finished, "the start-up scan");
    }

    template <typename T = QWidget> T* find(const QString& name) const
    {
        return window.findChild<T*>(name);
    }

    AppModel model;
    UninstallerModel uninstaller;
    MonitorModel monitor;
    std::unique_ptr<UpdateChecker> updater;
    MainWindow window;
};

/// The visible message box of that name below `root`; nullptr when none shows in time.
inline QMessageBox* shownBox(const QWidget& root, const QString& name)
{
    QMessageBox* shown = nullptr;
    const auto visible = [&] {
        for (QMessageBox* box : root.findChildren<QMessageBox*>(name))
            if (box->isVisible()) shown = box;
        return shown != nullptr;
    };
    Await::until(visible, qPrintable("the dialog " + name));
    return shown;
}

inline QPushButton* buttonOf(const QMessageBox* box, const char* name)
{
    return box ? box->findChild<QPushButton*>(QLatin1String(name)) : nullptr;
}

inline QString rootOf(const QString& id)
{
    return Category::find(id)->roots.first();
}

/// `count` items in the first root of category `id`: folders of one file, or large enough files.
inline QStringList makeItems(const QString& id, int count, qint64 size = 8192)
{
    const qint64 minBytes = Category::find(id)->kind.minBytes;
    QStringList items;
    for (int i = 0; i < count; ++i) {
        items.append(rootOf(id) + QStringLiteral("/item") + QString::number(i));
        if (minBytes > 0)
            TreeBuilder::allocate(items.last(), minBytes + size * (i + 1));
        else
            TreeBuilder::writeFile(items.last() + QStringLiteral("/data"), size * (i + 1));
    }
    return items;
}

/// Empties every category root (also one turned into a plain file) and the trash.
inline void resetHome()
{
    QStringList roots{TestHome::trashPath()};
    for (const Category& category : Category::all())
        roots += category.roots;
    for (const QString& root : roots) {
        const bool folder = QFileInfo(root).isDir();
        QDir(root).removeRecursively();
        QFile::remove(root);
        if (folder) QDir().mkpath(root);
    }
}

/// An AppImage at ~/Applications/`file`, with a desktop entry; its path.
inline QString makeAppImage(const QString& file, const QString& name, const QString& version)
{
    const QString path = TestHome::at("Applications/" + file);
    const QString text =
        QStringLiteral("Name=%1\nExec=%2\nX-AppImage-Version=%3").arg(name, path, version);
    const bool written = TreeBuilder::putAppImage(path) && TestHome::putEntry(file, text.toUtf8());
    return written ? path : QString();
}
