#pragma once
// The "Test" menu's dialog: runs N collection cycles against a limits file on
// a thread of its own, shows every entry's result (PASS / FAIL / NOT READ,
// with the limits and the values seen) and saves the report as PDF, HTML or
// JSON.

#include <QDialog>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "CommissioningReport.h"
#include "LimitsTest.h"
#include "RegisterMap.h"
#include "RegisterSource.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTableWidget;
class TMessageBoxes;

// Everything the test needs from the window, fixed when the dialog opens.
struct TWindowTestSetup {
  TRegisterMap Map;        // the window's map, loaded for the settings below
  TLimitsRunSettings Run;  // meter, layout, byte sequence (Count and Interval: the dialog's)
  TReportContext Report;   // meter, connection and settings texts, program
  // Makes the source on the thread that reads from it.
  std::function<std::unique_ptr<TRegisterSource>()> MakeSource;
  std::string LimitsFile;  // proposed limits file
};

class TTestDialog : public QDialog {
  Q_OBJECT
 public:
  TTestDialog(TWindowTestSetup Setup, TMessageBoxes& MessageBoxes, QWidget* parent = nullptr);
  // Stops a run still going and waits for its current cycle.
  ~TTestDialog() override;

  // "Avvia": loads the limits file and starts the cycles.
  void StartClick();
  // Writes the last run's report; the format follows the file's extension.
  // False (with an error box) when it could not be written.
  bool SaveReport(const std::string& FileName);
  bool Running() const { return FThread.joinable(); }
  const std::optional<TCommissioningReport>& Report() const { return FReport; }

  QLineEdit* LimitsFileEdit = nullptr;
  QLineEdit* SiteEdit = nullptr;        // "Sito"
  QLineEdit* TechnicianEdit = nullptr;  // "Tecnico"
  QPushButton* BrowseButton = nullptr;
  QSpinBox* CyclesSpin = nullptr;
  QPushButton* StartButton = nullptr;
  QLabel* SummaryLabel = nullptr;
  QTableWidget* ResultGrid = nullptr;
  QPushButton* SaveButton = nullptr;
  QPushButton* CloseButton = nullptr;

 private:
  void CycleDone(int Cycle, const std::string& Error);
  void RunDone(const TLimitsTest& Test, const TLimitsRunResult& Result,
               const std::string& LimitsFile);
  void ShowReport(const TCommissioningReport& Report);
  void BrowseClick();
  void SaveClick();

  TWindowTestSetup FSetup;
  TMessageBoxes& FMessageBoxes;
  std::thread FThread;
  std::shared_ptr<std::atomic<bool>> FStop = std::make_shared<std::atomic<bool>>(false);
  std::optional<TCommissioningReport> FReport;
};
