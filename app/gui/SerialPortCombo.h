#pragma once
// The serial port field: an editable list of the ports this machine has
// (ListSerialPorts), read again each time the list opens, since adapters come
// and go. Any other name or path can still be typed. text() and setText()
// work on the typed text, as on a line edit.

#include <QComboBox>

class TSerialPortCombo : public QComboBox {
  Q_OBJECT
 public:
  explicit TSerialPortCombo(const QString& text, QWidget* parent = nullptr);

  QString text() const { return currentText(); }
  void setText(const QString& text) { setEditText(text); }

  // Reads the present ports into the list; the typed text stays.
  void RefreshPorts();

 protected:
  void showPopup() override;
};
