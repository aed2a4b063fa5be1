#pragma once
// The window's commissioning tools, kept apart from TForm1's poll logic:
// "Cerca dispositivo" (the serial scan, which fills the serial panel), the
// two "Rileva" buttons beside "Sequenza Bytes" (byte-order detection over the
// panel's path, which selects the best sequence) and the "Test" menu (the
// limits test with its report). Slow work runs off the GUI thread.

#include <QObject>
#include <functional>
#include <memory>
#include <string>

#include "CycleWorker.h"
#include "QtMainThread.h"
#include "SerialRegisterSource.h"
#include "SerialScan.h"
#include "TcpRegisterSource.h"

class QDialog;
class TForm1;
struct TDetectionResult;

class TWindowCommissioning : public QObject {
  Q_OBJECT
 public:
  // Connects the window's commissioning controls; Form must outlive it.
  explicit TWindowCommissioning(TForm1& Form);
  ~TWindowCommissioning() override;

  void ScanClick();
  // Detection over the TCP panel's (Serial false) or the serial panel's path.
  void DetectClick(bool Serial);
  void TestClick(bool Serial);

  // The found setting into the serial panel: baud rate, parity, slave address.
  void ApplyFound(const TScanFound& Found);
  // The result of a detection, on the GUI thread: selects the best sequence
  // unless the result is ambiguous, and tells the operator.
  void DetectionDone(bool Serial, const TDetectionResult& Result);
  bool DetectionRunning() const { return FWorker.Busy(); }

  // Runs a modal dialog; tests replace it to drive the dialog themselves.
  std::function<int(QDialog&)> ExecDialog;

  TTcpSourceSettings TcpSourceSettings() const;
  TSerialSourceSettings SerialSourceSettings() const;

 private:
  // False (and the operator told why) while a poll holds the line.
  bool LineFree();

  TForm1& FForm;
  TQtMainThread FResults;
  TCycleWorker FWorker{FResults};
};
