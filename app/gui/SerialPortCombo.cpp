#include "SerialPortCombo.h"

#include <QLineEdit>

#include "SerialLine.h"
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
  for (const QString& port : FRecentPorts) addItem(port);
  setText(typed);
}

void TSerialPortCombo::RememberPort(const QString& port) {
  if (!IsTcpPortName(port.trimmed().toStdString())) return;
  QStringList ports = FRecentPorts;
  ports.removeAll(port.trimmed());
  ports.prepend(port.trimmed());
  SetRecentPorts(ports);
}

void TSerialPortCombo::SetRecentPorts(const QStringList& ports) {
  FRecentPorts.clear();
  for (const QString& port : ports)
    if (IsTcpPortName(port.toStdString()) && !FRecentPorts.contains(port) &&
        FRecentPorts.size() < MAX_RECENT_PORTS)
      FRecentPorts.append(port);
  RefreshPorts();
}

void TSerialPortCombo::showPopup() {
  RefreshPorts();
  QComboBox::showPopup();
}
