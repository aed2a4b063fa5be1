#include "MessageBoxes.h"

#include <QMessageBox>

void TQtMessageBoxes::ShowError(QWidget* parent, const QString& text) {
  QMessageBox::critical(parent, QString::fromLatin1(WINDOW_CAPTION), text, QMessageBox::Ok);
}

void TQtMessageBoxes::ShowMessage(QWidget* parent, const QString& text) {
  QMessageBox::information(parent, QString::fromLatin1(WINDOW_CAPTION), text, QMessageBox::Ok);
}
