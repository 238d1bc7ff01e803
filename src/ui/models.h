#pragma once

class AppModel;
class MonitorModel;
class UninstallerModel;
class UpdateChecker;

/// The four long-lived models that every screen of the window reads. The application creates
/// each once and keeps it for the life of the process; screens never create or delete one.
struct Models
{
    AppModel* model = nullptr;
    UninstallerModel* uninstaller = nullptr;
    MonitorModel* monitor = nullptr;
    UpdateChecker* updater = nullptr;
};
