#pragma once

#include <QString>

class QMessageBox;

/// Sets the informative text of `box` as plain text. QMessageBox guesses the format of that
/// text, and a message quoting a file name such as "<b>x" would otherwise be drawn as markup.
void setPlainInformativeText(QMessageBox* box, const QString& text);
