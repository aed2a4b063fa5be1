#include "MessageBoxes.h"

#include <QApplication>
#include <QMessageBox>

void TQtMessageBoxes::ShowError(QWidget* parent, const QString& text) {
  QMessageBox::critical(parent, QApplication::applicationName(), text, QMessageBox::Ok);
}

void TQtMessageBoxes::ShowMessage(QWidget* parent, const QString& text) {
  QMessageBox::information(parent, QApplication::applicationName(), text, QMessageBox::Ok);
}
