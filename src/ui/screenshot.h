#pragma once

#include <QString>
#include <functional>

class MainWindow;

/// Renders `window` to the PNG file `path` once its start-up scan has finished and the screens
/// have settled, then calls `done` with whether the file was written. `window` must be shown
/// (or about to be) and outlive the wait.
void saveScreenshotWhenReady(MainWindow& window, const QString& path,
                             const std::function<void(bool written)>& done);
