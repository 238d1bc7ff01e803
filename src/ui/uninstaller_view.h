#pragma once

#include <QTimer>
#include <QWidget>

class AppDetailView;
class AppIcons;
class AppListModel;
class QComboBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QListView;
class MessageAlert;
class QMessageBox;
class QStackedWidget;
class QToolButton;
class UninstallerModel;

/// The uninstaller screen: the list pane (search, sort, the applications, their count and the
/// reload button), a divider, and the detail pane of the selected application or a placeholder.
/// Every time it is shown it loads the application list afresh; it shows the model's message in
/// the "Gỡ ứng dụng" alert and clears it when the alert is dismissed.
class UninstallerView : public QWidget
{
    Q_OBJECT

public:
    explicit UninstallerView(UninstallerModel* model, QWidget* parent = nullptr);

    /// The detail pane of the selection, or nullptr while the placeholder is shown.
    AppDetailView* detail() const { return m_detail; }
    /// The "Gỡ ứng dụng" alert while it is shown.
    QMessageBox* alert() const;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* buildListPane();
    QHBoxLayout* buildSearchRow(QWidget* pane);
    void buildOverlay();
    QWidget* buildDetailPane();
    void refreshLoading();
    void refreshCount();
    void refreshDetail();
    void refreshSpinnerTimer();
    void selectCurrent();
    void placeOverlay();

    UninstallerModel* m_model;
    AppIcons* m_icons = nullptr;
    AppListModel* m_apps = nullptr;
    QLineEdit* m_search = nullptr;
    QComboBox* m_sort = nullptr;
    QListView* m_list = nullptr;
    QWidget* m_overlay = nullptr;
    QLabel* m_count = nullptr;
    QToolButton* m_reload = nullptr;
    QStackedWidget* m_detailPane = nullptr;
    QWidget* m_placeholder = nullptr;
    AppDetailView* m_detail = nullptr;
    MessageAlert* m_alert;
    QTimer m_spinnerTimer;
    bool m_selecting = false;
};
