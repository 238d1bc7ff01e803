#pragma once

#include "core/app_model.h"
#include "monitor/monitor_model.h"
#include "ui/main_window.h"
#include "uninstaller/uninstaller_model.h"
#include "update/update_checker.h"

#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>
#include <memory>

/// The four models and the window, as the application creates them, on the temporary home.
struct WindowFixture
{
    explicit WindowFixture(std::unique_ptr<UpdateChecker> checker = nullptr)
        : updater(checker ? std::move(checker) : std::make_unique<UpdateChecker>()),
          window(Models{&model, &uninstaller, &monitor, updater.get()})
    {
    }

    /// Shows the window and waits for the start-up scan to end.
    bool showAndWaitForScan()
    {
        QSignalSpy finished(&window, &MainWindow::startupScanFinished);
        window.show();
        // Scans of roots that do not exist can end within show().
        return !finished.isEmpty() || finished.wait(20000);
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

/// The visible message box of that object name, once one is shown.
inline QMessageBox* waitForBox(const QWidget& root, const QString& name)
{
    QMessageBox* box = nullptr;
    const bool shown = QTest::qWaitFor(
        [&] {
            box = root.findChild<QMessageBox*>(name);
            return box && box->isVisible();
        },
        20000);
    return shown ? box : nullptr;
}

inline QPushButton* buttonOf(const QMessageBox* box, const QString& name)
{
    return box ? box->findChild<QPushButton*>(name) : nullptr;
}
