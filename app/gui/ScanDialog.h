#pragma once
// "Cerca dispositivo": scans a serial port for meters (every baud rate,
// parity and slave address) on a thread of its own, with a progress bar and
// Cancel. What it found stays listed after a cancel; the operator picks one
// and the window fills its serial panel with it.

#include <QDialog>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "SerialScan.h"

class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;

// "Indirizzo 7, 19200 baud, parità pari, firmware 103"; "Indirizzo 7, firmware 103"
// behind a serial device server, whose line settings are its own.
QString FoundItemText(const TScanFound& Found);

class TScanDialog : public QDialog {
  Q_OBJECT
 public:
  TScanDialog(const TSerialScanSettings& Settings, QWidget* parent = nullptr);
  // Stops a scan still running and waits for its thread (one try at most).
  ~TScanDialog() override;

  // Starts the scan; the dialog shows it until it ends or Cancel stops it.
  void Start();
  // The scan has ended (done, cancelled, or the port failed).
  bool Finished() const { return FFinished; }
  // What was found so far, in scan order.
  const std::vector<TScanFound>& Found() const { return FFound; }
  // The one the operator chose with "Usa" (or a double click).
  const std::optional<TScanFound>& Chosen() const { return FChosen; }

  // Cancel while scanning; Close afterwards.
  void CancelClick();
  void UseClick();

  QLabel* StatusLabel = nullptr;
  QProgressBar* ScanProgress = nullptr;
  QListWidget* FoundList = nullptr;
  QPushButton* UseButton = nullptr;
  QPushButton* CancelButton = nullptr;

 private:
  void Progress(const TScanProgress& Progress);
  void Add(const TScanFound& Found);
  void Done(const TScanResult& Result);

  TSerialScan FScan;
  std::string FPort;
  std::thread FThread;
  bool FFinished = false;
  std::vector<TScanFound> FFound;
  std::optional<TScanFound> FChosen;
};
