#pragma once
// "Orologio del contatore": the meter's date and time (the map's clock
// entries) beside the computer's and the difference in seconds, read again
// every second; "Imposta ora del PC" writes the computer's local time into
// the clock entries and reads back.

#include <QTimer>

#include "MeterClock.h"
#include "RegisterToolDialog.h"

class QPushButton;

class TClockDialog : public TRegisterToolDialog {
  Q_OBJECT
 public:
  TClockDialog(TToolConnections Connections, const TClockLayout& Layout, QWidget* parent = nullptr);

  QLabel* MeterLabel = nullptr;
  QLabel* ComputerLabel = nullptr;
  QLabel* DifferenceLabel = nullptr;
  QPushButton* SetButton = nullptr;  // "Imposta ora del PC"
  QTimer RefreshTimer;

  // One read of the clock (the timer's tick), unless an exchange is running.
  void RefreshClick();
  void SetClick();
  void ShowReading(const TClockReading& Reading);

 protected:
  // The clock is read from the moment the dialog shows, every second.
  void showEvent(QShowEvent* Event) override;

 private:
  TClockLayout FLayout;
};
