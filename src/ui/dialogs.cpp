#include "ui/dialogs.h"

#include <QLabel>
#include <QMessageBox>

void setPlainInformativeText(QMessageBox* box, const QString& text)
{
    box->setInformativeText(text);
    if (auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
        label->setTextFormat(Qt::PlainText);
}
