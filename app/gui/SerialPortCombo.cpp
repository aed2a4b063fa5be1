#include "SerialPortCombo.h"

#include <QLineEdit>

#include "SerialPorts.h"

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
