#pragma once

#include "core/category.h"

#include <QPointer>
#include <QWidget>

class AppModel;
class QLabel;
class QListView;
class QMessageBox;
class QProgressBar;
class QPushButton;
class QStackedWidget;

/// The screen of one cleaning category: what it is, the items of the last scan with their
/// ticks, rescanning, and cleaning the ticked items after a confirmation worded by the
/// category's deletion mode. When a root could not be read it explains why, with the platform's
/// remedy where one exists; when it found nothing it names the folders it searched. It never
/// scans by itself.
class CategoryView : public QWidget
{
    Q_OBJECT

public:
    CategoryView(AppModel* model, Category category, QWidget* parent = nullptr);

    /// True while the clean confirmation is shown.
    bool confirming() const;
    /// The confirmation while it is shown.
    QMessageBox* confirmation() const;

    /// Title, destructive button and message of the confirmation for the current state.
    QString confirmationTitle() const;
    QString confirmationAction() const;
    QString confirmationMessage() const;

private:
    QWidget* buildHeader();
    QWidget* buildNotice();
    QWidget* buildContent();
    QWidget* buildBottomBar();
    void refresh();
    void refreshCleanable();
    void refreshCleaning();
    void confirmClean();

    AppModel* m_model;
    Category m_category;
    QWidget* m_notice = nullptr;
    QStackedWidget* m_content = nullptr;
    QWidget* m_progressPage = nullptr;
    QWidget* m_emptyPage = nullptr;
    QWidget* m_listPage = nullptr;
    QLabel* m_searchNote = nullptr;
    QLabel* m_count = nullptr;
    QListView* m_list = nullptr;
    QPushButton* m_rescan = nullptr;
    QPushButton* m_clean = nullptr;
    QProgressBar* m_cleaning = nullptr;
    QPointer<QMessageBox> m_confirmation;
};
