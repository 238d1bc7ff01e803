#pragma once

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <optional>

class QWidget;

/// The screens' dialogs: destructive confirmations and the alerts that show a model's message.
/// Every box opens window-modal without blocking, repeats its title inside (not every window
/// manager shows a dialog's title), shows its message as plain text at a readable measure, and
/// deletes itself when closed. GUI thread.
namespace Dialogs {

/// What a destructive confirmation says.
struct Confirmation
{
    QString objectName;
    QString title;   ///< the question; may name a file or a process
    QString message; ///< plain text
    QString action;  ///< text of the destructive button
};

/// Opens a confirmation with the destructive `action` button and "Huỷ", the default and escape
/// button. `onFinished` runs once the box is closed, whichever way, with whether the user chose
/// the destructive button.
QMessageBox* confirm(QWidget* parent, const Confirmation& confirmation,
                     std::function<void(bool confirmed)> onFinished);

/// Opens an alert of `title` showing `text`, with one "OK" button that is both default and
/// escape. `onDismissed` runs once it is closed, whichever way.
QMessageBox* alert(QWidget* parent, const QString& objectName, QMessageBox::Icon icon,
                   const QString& title, const QString& text, std::function<void()> onDismissed);

/// Replaces the message of an open box: plain text (a message quoting a file name such as "<b>x"
/// is never drawn as markup), between 40 and 66 average characters a line so that it never
/// shrinks to a narrow column of wrapped words.
void setMessage(QMessageBox* box, const QString& text);

/// `text` with every "&" doubled, for a button or action text that carries a name: the name is
/// shown as it is, never read as a keyboard shortcut mark.
QString escapeMnemonic(QString text);

} // namespace Dialogs

/// The alert that shows a model's optional message: opened while a message waits, its text
/// following the message, closed when the message is cleared elsewhere; dismissing it clears
/// the message.
class MessageAlert : public QObject
{
    Q_OBJECT

public:
    struct Source
    {
        std::function<std::optional<QString>()> read;
        std::function<void()> clear;
    };

    MessageAlert(QWidget* parent, QString objectName, QMessageBox::Icon icon, QString title,
                 Source source);

    /// The box while it is shown.
    QMessageBox* box() const { return m_box; }
    /// Follows the message. A closed alert opens only when `mayOpen`.
    void sync(bool mayOpen = true);

signals:
    /// The user dismissed the alert and the message was cleared.
    void dismissed();

private:
    QWidget* m_parent;
    QString m_objectName;
    QMessageBox::Icon m_icon;
    QString m_title;
    Source m_source;
    QPointer<QMessageBox> m_box;
};
