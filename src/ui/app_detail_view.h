#pragma once

#include "uninstaller/app_catalog.h"

#include <QPointer>
#include <QWidget>

class AppIcons;
class ElidedLabel;
class QLabel;
class QLineEdit;
class QListView;
class QMessageBox;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class Spinner;
class UninstallerModel;

/// The detail pane of the selected application: its header, the protected or running notice,
/// the leftovers with their ticks, and the uninstall button with its confirmation. Built for one
/// selection: the screen replaces it when another application is selected, so the
/// confirmation never outlives the application it names.
class AppDetailView : public QWidget
{
    Q_OBJECT

public:
    AppDetailView(UninstallerModel* model, const InstalledApp& app, AppIcons* icons,
                  QWidget* parent = nullptr);

    /// The application shown, as last read from the model.
    const InstalledApp& app() const { return m_app; }

    /// True while the confirmation is shown.
    bool confirming() const;
    /// The confirmation while it is shown.
    QMessageBox* confirmation() const;
    /// Title and message of the confirmation for the current state.
    QString confirmationTitle() const;
    QString confirmationMessage() const;

protected:
    bool event(QEvent* event) override;

private:
    QWidget* buildHeader();
    QWidget* buildNotice();
    QWidget* buildLeftovers();
    QWidget* buildFooter();
    void refreshApp();
    void refreshNotice();
    void refreshLeftovers();
    void refreshFooter();
    void refreshProgress();
    void confirm();

    UninstallerModel* m_model;
    InstalledApp m_app;
    AppIcons* m_icons;
    QLabel* m_icon = nullptr;
    ElidedLabel* m_name = nullptr;
    QLineEdit* m_identifier = nullptr;
    ElidedLabel* m_version = nullptr;
    QLabel* m_size = nullptr;
    ElidedLabel* m_lastUsed = nullptr;
    QWidget* m_protectedNotice = nullptr;
    QLabel* m_protectedText = nullptr;
    QWidget* m_runningNotice = nullptr;
    QStackedWidget* m_leftoverArea = nullptr;
    QWidget* m_searchingPage = nullptr;
    QWidget* m_nonePage = nullptr;
    QListView* m_leftoverList = nullptr;
    QPushButton* m_uninstall = nullptr;
    Spinner* m_working = nullptr;
    QLabel* m_trashNote = nullptr;
    QProgressBar* m_progress = nullptr;
    QPointer<QMessageBox> m_confirmation;
};
