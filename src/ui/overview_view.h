#pragma once

#include "ui/models.h"

#include <QHash>
#include <QWidget>

class ElidedLabel;
class QLabel;
class QProgressBar;
class QPushButton;
class Spinner;

/// The first screen: the disk, how much every category together could free, the scan-all
/// button, the update banner and one row per category that opens its screen (with the folders
/// it searched when it found nothing).
class OverviewView : public QWidget
{
    Q_OBJECT

public:
    explicit OverviewView(const Models& models, QWidget* parent = nullptr);

signals:
    /// The user chose the row of the category `id`.
    void categoryChosen(const QString& id);

private:
    struct Row
    {
        Spinner* spinner = nullptr;
        QLabel* size = nullptr;
        ElidedLabel* note = nullptr; ///< why the category found nothing
    };

    QWidget* buildDiskBox();
    QWidget* buildSummary();
    QWidget* buildCategoryList();
    void refreshDisk();
    void refreshTotals();
    void refreshRow(const QString& id);

    AppModel* m_model;
    QProgressBar* m_diskBar = nullptr;
    QLabel* m_diskLine = nullptr;
    QLabel* m_total = nullptr;
    QPushButton* m_scanAll = nullptr;
    QHash<QString, Row> m_rows;
};
