#include "ui/dialogs.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

void setPlainInformativeText(QMessageBox* box, const QString& text)
{
    box->setInformativeText(text);
    if (auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
        label->setTextFormat(Qt::PlainText);
}

void updateMessageAlert(QMessageBox* alert, const std::optional<QString>& message)
{
    if (message)
        setPlainInformativeText(alert, *message);
    else
        alert->done(0);
}

QMessageBox* openMessageAlert(QWidget* parent, const QString& objectName, QMessageBox::Icon icon,
                              const QString& title, const QString& text,
                              std::function<void(QMessageBox*)> onDismissed)
{
    auto* alert = new QMessageBox(parent);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setObjectName(objectName);
    alert->setWindowTitle(title);
    alert->setIcon(icon);
    alert->setTextFormat(Qt::PlainText);
    alert->setText(title);
    setPlainInformativeText(alert, text);
    QPushButton* ok = alert->addButton(QStringLiteral("OK"), QMessageBox::RejectRole);
    ok->setObjectName(QStringLiteral("alertOkButton"));
    alert->setDefaultButton(ok);
    alert->setEscapeButton(ok);
    QObject* context = parent ? static_cast<QObject*>(parent) : alert;
    QObject::connect(alert, &QMessageBox::finished, context,
                     [alert, onDismissed = std::move(onDismissed)] { onDismissed(alert); });
    alert->open();
    return alert;
}
