#pragma once

#include "ui/models.h"

#include <QMainWindow>

class QAction;
class MessageAlert;
class QToolBar;
class QVBoxLayout;
class Sidebar;

/// The one window: the sidebar of destinations beside the screen of the selected one, the
/// toolbar button that announces a newer version, the "Kết quả" and "Cập nhật" alerts, and the
/// menu with the manual update check. It starts the update checker and the scan of every
/// category the first time it is shown.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(const Models& models, QWidget* parent = nullptr);

    /// Identifier of the shown destination: "overview", a category id, "uninstaller" or
    /// "monitor"; empty shows the overview too.
    QString selection() const { return m_selection; }
    /// Shows the destination `id` and selects its sidebar row.
    void setSelection(const QString& id);

    /// The screen shown in the detail column.
    QWidget* detail() const { return m_detail; }

signals:
    void selectionChanged(const QString& id);
    /// The scan of every category started on first show has finished.
    void startupScanFinished();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void buildMenu();
    void buildToolBar();
    void buildAlerts();
    void showDetail();
    QWidget* createDetail(const QString& id);
    void updateToolBar();
    void refreshAlerts();

    Models m_models;
    QString m_selection;
    Sidebar* m_sidebar = nullptr;
    QWidget* m_detailHost = nullptr;
    QVBoxLayout* m_detailLayout = nullptr;
    QWidget* m_detail = nullptr;
    QToolBar* m_toolBar = nullptr;
    QAction* m_updateAction = nullptr;
    MessageAlert* m_updateAlert = nullptr;
    MessageAlert* m_resultAlert = nullptr;
    bool m_started = false;
};
