#pragma once
// The serial port field: an editable list of the ports this machine has
// (ListSerialPorts), read again each time the list opens, since adapters come
// and go, followed by the serial device servers (tcp://HOST:PORT) polled
// before, the latest first. Any other name or path can still be typed.
// text() and setText() work on the typed text, as on a line edit.

#include <QComboBox>

class TSerialPortCombo : public QComboBox {
  Q_OBJECT
 public:
  explicit TSerialPortCombo(const QString& text, QWidget* parent = nullptr);

  QString text() const { return currentText(); }
  void setText(const QString& text) { setEditText(text); }

  // Reads the present ports into the list; the typed text stays.
  void RefreshPorts();

  // A port a poll used: a serial device server's goes to the top of those
  // the list offers (at most MAX_RECENT_PORTS); a serial port is listed
  // while it is present anyway.
  void RememberPort(const QString& port);
  QStringList RecentPorts() const { return FRecentPorts; }
  void SetRecentPorts(const QStringList& ports);

  static constexpr int MAX_RECENT_PORTS = 8;

 protected:
  void showPopup() override;

 private:
  QStringList FRecentPorts;
};
