#include "SerialPortCombo.h"

#include "SerialPorts.h"

#include <QLineEdit>

TSerialPortCombo::TSerialPortCombo(const QString& text, QWidget* parent) : QComboBox(parent) {
  setEditable(true);
  setInsertPolicy(QComboBox::NoInsert);
  RefreshPorts();
  setText(text);
}

void TSerialPortCombo::RefreshPorts() {
  const QString typed = text();
  clear();
  for (const std::string& port : ListSerialPorts()) addItem(QString::fromStdString(port));
  setText(typed);
}

void TSerialPortCombo::showPopup() {
  RefreshPorts();
  QComboBox::showPopup();
}
