#pragma once

#include "ui/panels.h"

class QLabel;
class QVBoxLayout;
class UpdateChecker;

/// The card on the overview that announces a newer version: its version, the running one, up
/// to four release-note lines and a button to the download page. Hidden, taking no room, while
/// no newer version is known.
class UpdateBanner : public RoundedPanel
{
    Q_OBJECT

public:
    /// Release-note lines shown at most; the rest are left out.
    static constexpr int kMaxNotes = 4;

    explicit UpdateBanner(UpdateChecker* updater, QWidget* parent = nullptr);

private:
    void refresh();

    UpdateChecker* m_updater;
    QLabel* m_title;
    QLabel* m_current;
    QWidget* m_notes;
    QVBoxLayout* m_notesLayout;
};
