#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>
#include <optional>

class QWidget;

/// Sets the informative text of `box` as plain text. QMessageBox guesses the format of that
/// text, and a message quoting a file name such as "<b>x" would otherwise be drawn as markup.
void setPlainInformativeText(QMessageBox* box, const QString& text);

/// Shows `message` in the open `alert`, or closes the alert when the message is gone.
void updateMessageAlert(QMessageBox* alert, const std::optional<QString>& message);

/// Opens, window-modal and without blocking, the alert that shows a model's message: `title`
/// repeated inside (not every window manager shows a dialog's title), `text` as plain text and
/// one "OK" button that is both default and escape. The box deletes itself when closed;
/// `onDismissed` runs once it is finished, whichever way, with the box still alive.
QMessageBox* openMessageAlert(QWidget* parent, const QString& objectName, QMessageBox::Icon icon,
                              const QString& title, const QString& text,
                              std::function<void(QMessageBox*)> onDismissed);
