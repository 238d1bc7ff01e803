#include "ui/dialogs.h"

#include "ui/display_text.h"
#include "ui/palette.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <algorithm>

namespace Dialogs {
namespace {

constexpr int kMinChars = 40;
constexpr int kMaxChars = 66;

QLabel* messageLabel(const QMessageBox* box)
{
    return box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"));
}

// QMessageBox sizes itself to the minimum width of its labels, and a wrapped label's minimum is
// its longest word: a short title left the message a column a few words wide.
void fitToMeasure(QMessageBox* box, QLabel* label, const QString& text)
{
    const QFontMetrics metrics(label->font());
    int longest = 0;
    for (const QString& line : text.split(QLatin1Char('\n')))
        longest = std::max(longest, metrics.horizontalAdvance(line) + 1);
    // The window manager elides a title wider than the box (in its own, often bold, font):
    // the question asked is in that title.
    const QString title =
        box->windowTitle() + QStringLiteral(" — ") + QGuiApplication::applicationDisplayName();
    longest = std::max(longest, metrics.horizontalAdvance(title) * 13 / 10);
    const int average = metrics.averageCharWidth();
    int width = std::clamp(longest, kMinChars * average, kMaxChars * average);
    if (const QScreen* screen = box->screen())
        width = std::min(width, screen->availableGeometry().width() * 2 / 3);
    label->setMinimumWidth(width);
}

QMessageBox* openBox(QWidget* parent, const QString& objectName, QMessageBox::Icon icon,
                     const QString& title, const QString& text)
{
    auto* box = new QMessageBox(parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setObjectName(objectName);
    box->setIcon(icon);
    const QString line = DisplayText::singleLine(title);
    box->setWindowTitle(line);
    box->setTextFormat(Qt::PlainText);
    box->setText(line);
    setMessage(box, text);
    return box;
}

// The one button Enter and Escape press, closing the box without consequence.
QPushButton* addSafeButton(QMessageBox* box, const QString& text, const QString& objectName)
{
    QPushButton* button = box->addButton(text, QMessageBox::RejectRole);
    button->setObjectName(objectName);
    box->setDefaultButton(button);
    box->setEscapeButton(button);
    return button;
}

void openUntilFinished(QMessageBox* box, QWidget* parent, std::function<void()> onFinished)
{
    QObject* context = parent ? static_cast<QObject*>(parent) : box;
    QObject::connect(box, &QMessageBox::finished, context,
                     [onFinished = std::move(onFinished)] { onFinished(); });
    box->open();
}

} // namespace

void setMessage(QMessageBox* box, const QString& text)
{
    if (!messageLabel(box)) box->setInformativeText(text); // creates the label
    QLabel* label = messageLabel(box);
    label->setTextFormat(Qt::PlainText);
    fitToMeasure(box, label, text);
    // Set last: the box computes its size from the label's measure here.
    box->setInformativeText(text);
}

QMessageBox* confirm(QWidget* parent, const Confirmation& confirmation,
                     std::function<void(bool confirmed)> onFinished)
{
    QMessageBox* box = openBox(parent, confirmation.objectName, QMessageBox::Warning,
                               confirmation.title, confirmation.message);
    QPushButton* destroy = box->addButton(confirmation.action, QMessageBox::DestructiveRole);
    destroy->setObjectName(QStringLiteral("confirmButton"));
    Palette::makeDestructive(destroy);
    addSafeButton(box, QStringLiteral("Huỷ"), QStringLiteral("cancelButton"));
    openUntilFinished(box, parent, [box, destroy, onFinished = std::move(onFinished)] {
        onFinished(box->clickedButton() == destroy);
    });
    return box;
}

QMessageBox* alert(QWidget* parent, const QString& objectName, QMessageBox::Icon icon,
                   const QString& title, const QString& text, std::function<void()> onDismissed)
{
    QMessageBox* box = openBox(parent, objectName, icon, title, text);
    addSafeButton(box, QStringLiteral("OK"), QStringLiteral("alertOkButton"));
    openUntilFinished(box, parent, std::move(onDismissed));
    return box;
}

QString escapeMnemonic(QString text)
{
    return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

} // namespace Dialogs

MessageAlert::MessageAlert(QWidget* parent, QString objectName, QMessageBox::Icon icon,
                           QString title, Source source)
    : QObject(parent), m_parent(parent), m_objectName(std::move(objectName)), m_icon(icon),
      m_title(std::move(title)), m_source(std::move(source))
{
}

void MessageAlert::sync(bool mayOpen)
{
    const std::optional<QString> message = m_source.read();
    if (m_box) {
        if (message)
            Dialogs::setMessage(m_box, *message);
        else
            m_box->done(0);
        return;
    }
    if (!message || !mayOpen) return;
    QPointer<MessageAlert> self(this);
    m_box = Dialogs::alert(m_parent, m_objectName, m_icon, m_title, *message, [self] {
        if (!self) return;
        self->m_box = nullptr;
        // Dismissing the alert, whichever way, clears the message it showed.
        self->m_source.clear();
        emit self->dismissed();
    });
}
