#pragma once
// The main window of the meter test tool: TCP and serial settings, the map
// options (QVZT mode, meter instance, 32-bit floating point), the register
// grid, a red error bar along the bottom and the menu.
//
// The window owns the register map, the Modbus TCP client and the serial
// client with its connection for the life of the process. Everything that is
// not about widgets (the map, the decoding, the collection cycles) lives in
// the Qt-free core; the operations here only move texts between the widgets
// and the core, in the order the operator expects to see their effects.
//
// Controls are public members under their own names, so that tests and the
// serial poll can reach them the way the window's operations do.

#include <QMainWindow>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "CycleOutcome.h"
#include "IdModBusClient.h"
#include "ModLinkTypes.h"
#include "PollSchedule.h"
#include "PollTimer.h"
#include "QtMainThread.h"
#include "ReadFunction.h"
#include "RegisterMap.h"
#include "RegisterTypes.h"

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QScrollArea;
class QTableWidget;
class TBusyBar;
class TMessageBoxes;
class TModbusClient;
class TModbusConnection;
class TSerialCollectionCycle;
class TSerialPortCombo;
class TTcpCollectionCycle;
class TTrafficDock;
class TTrendChartWindow;
class TValueLogger;
class TWindowCommissioning;
class TWindowRegisterTools;
struct TCsvDialect;
struct TSerialCycleSettings;
struct TTcpCycleSettings;
struct TTransactionInfo;

class TForm1 : public QMainWindow {
  Q_OBJECT
 public:
  // `messageBoxes` shows every modal message of the window; it must outlive it.
  // The window starts with the settings remembered from the last run (see
  // WindowSettings.h) and remembers them again when it is destroyed.
  explicit TForm1(TMessageBoxes& messageBoxes, QWidget* parent = nullptr);
  // Returns at once even while a TCP cycle waits for a silent device: that
  // cycle's thread ends on its own and its result is dropped.
  ~TForm1() override;

  // --- operations, in the words of the window's own design ---
  void FormCreate();
  void SetupNormalMode();
  void SetupQVZTMode();
  void Float32CheckBoxClick();
  void CalcAddress();
  void UpdateGridStruct();
  void UpdateGridData(bool pDataAvail);
  void UpdatePollUI();
  void EvalEnablings();
  void MeterInstanceComboChange();
  void BytesSequenceComboChange();
  void Exit1Click();
  void About1Click();
  void Button1Click();
  void PollButtonClick();
  void PollTimerTimer();
  // A tick of the TCP poll: starts one cycle on the worker thread unless one
  // is in flight; its outcome reaches the grid later (TcpCycleEnded).
  void PollTCPUpdate();
  void SerialPollButtonClick();
  void SerialPollTimerTimer();
  void SerialBytesSequenceComboChange();
  void PollSerialUpdate();
  bool CollectDataSerial();
  void ModbusClient1HoldingRegistersRead(TModbusClient& Sender, const TTransactionInfo& Info,
                                         uint16_t StartReg, uint16_t RegCount,
                                         const std::vector<uint16_t>& RegValues);

  // Loads a map file into the window's map; a file that cannot be read or is
  // invalid shows its message box (once) and leaves the map empty.
  void LoadConfig(EMapType pMapType, const std::string& pFileName);

  // The general error report: a failure that reached the end of an operation
  // is shown in an error box and the window goes on.
  void ReportError(const std::exception& error);

  // What the TCP cycle reads from the controls; a port that is not a number
  // raises EConvertError naming the field.
  TTcpCycleSettings TcpCycleSettings() const;
  // A TCP cycle is in flight (started, its result not yet handled or dropped).
  bool TcpCycleRunning() const { return FTcpPoll->Busy(); }

  // The settings that move the register window on the device, as the check
  // box and the combo box show them now.
  TMapSettings MapSettings() const;
  // What the serial cycle reads from the controls; a slave address that is
  // not a number raises EConvertError naming the field.
  TSerialCycleSettings SerialCycleSettings() const;
  // The settings attached to the selected items of the serial lists.
  TBaudRate SelectedBaudRate() const;
  TParityScheme SelectedParity() const;
  TTransmissionMode SelectedMode() const;
  TDataBits SelectedDataBits() const;
  TStopBits SelectedStopBits() const;
  EReadFunction SelectedSerialFunction() const;
  EReadFunction SelectedTcpFunction() const;
  bool TcpPollOn() const { return PollTimer->Enabled(); }
  bool SerialPollOn() const { return SerialPollTimer->Enabled(); }

  const TRegisterMap& RegisterMap() const { return FMap; }
  TRegisterMap& MutableRegisterMap() { return FMap; }
  TIdModBusClient& ModbusClient() { return *mctPLC; }
  TModbusConnection& SerialConnection() { return *ModbusConnection1; }
  TModbusClient& SerialClient() { return *ModbusClient1; }
  TMessageBoxes& MessageBoxes() { return FMessageBoxes; }
  // The scan, detection and limits test (WindowCommissioning.h).
  TWindowCommissioning& Commissioning() { return *FCommissioning; }
  // "Strumenti" and the grid's "Scrivi valore..." (WindowRegisterTools.h).
  TWindowRegisterTools& RegisterTools() { return *FRegisterTools; }

  // --- controls ---
  QCheckBox* QvztModeCheckBox = nullptr;
  QLabel* Label13 = nullptr;
  QComboBox* MeterInstanceCombo = nullptr;

  QFrame* Panel2 = nullptr;
  QLabel* Label4 = nullptr;
  TSerialPortCombo* SerialPortEdit = nullptr;
  QLabel* Label5 = nullptr;
  QLineEdit* SerialPollIntervalEdit = nullptr;
  QLabel* Label8 = nullptr;
  QComboBox* BaudRateCombo = nullptr;
  QLabel* Label9 = nullptr;
  QComboBox* ParityCombo = nullptr;
  QLabel* Label10 = nullptr;
  QLineEdit* SerialSlaveAddressEdit = nullptr;
  // "Modo", "Bit dati", "Bit di stop" and "Funzione" beside the lists above.
  QLabel* LabelMode = nullptr;
  QComboBox* ModeCombo = nullptr;
  QLabel* LabelDataBits = nullptr;
  QComboBox* DataBitsCombo = nullptr;
  QLabel* LabelStopBits = nullptr;
  QComboBox* StopBitsCombo = nullptr;
  QLabel* LabelSerialFunction = nullptr;
  QComboBox* SerialFunctionCombo = nullptr;
  QLabel* Label12 = nullptr;
  QComboBox* SerialBytesSequenceCombo = nullptr;
  QPushButton* SerialDetectButton = nullptr;  // "Rileva"
  // RTU frames end by their predicted length instead of the line's silence.
  QCheckBox* chkFrameEndByLength = nullptr;
  // "Lascia aperta la connessione": behind a serial device server (tcp://) the
  // connection stays open from one cycle to the next.
  QCheckBox* chkSerialLeaveOpen = nullptr;
  QPushButton* SerialPollButton = nullptr;
  QPushButton* ScanButton = nullptr;  // "Cerca dispositivo"

  TBusyBar* ProgressBar1 = nullptr;

  QFrame* Panel1 = nullptr;
  QLabel* Label2 = nullptr;
  QLineEdit* edtIPAddress = nullptr;
  QLabel* Label3 = nullptr;
  QLineEdit* PortEdit = nullptr;
  QLabel* LabelTcpFunction = nullptr;  // "Funzione", beside the port
  QComboBox* TcpFunctionCombo = nullptr;
  QLabel* Label1 = nullptr;
  QLineEdit* PollIntervalEdit = nullptr;
  QLabel* Label11 = nullptr;
  QComboBox* BytesSequenceCombo = nullptr;
  QLabel* Label14 = nullptr;
  QLineEdit* UnitIdEdit = nullptr;  // "Unit ID", 0-255, on every request
  QLabel* Label15 = nullptr;
  QLineEdit* TimeoutEdit = nullptr;     // "Timeout (s)": the wait for each reply
  QPushButton* DetectButton = nullptr;  // "Rileva"
  QPushButton* PollButton = nullptr;
  QCheckBox* chkLeaveConnectionOpen = nullptr;
  // "Continua dopo un errore" of each panel: a failed cycle does not end the poll.
  QCheckBox* chkKeepGoing = nullptr;
  QCheckBox* chkSerialKeepGoing = nullptr;

  QCheckBox* Float32CheckBox = nullptr;
  QTableWidget* MBGrid = nullptr;
  QLabel* ErrorPanel = nullptr;

  // Both panels scroll when the window is too low to show them whole.
  QScrollArea* SettingsScroll = nullptr;

  // The manual read panel; it is never shown.
  QGroupBox* GroupBox3 = nullptr;
  QLabel* Label6 = nullptr;
  QLineEdit* Edit1 = nullptr;
  QLabel* Label7 = nullptr;
  QLineEdit* Edit2 = nullptr;
  QPushButton* Button1 = nullptr;

  // The "Traffico" panel, the value log and the trend charts (Form1Recording.cpp).
  TTrafficDock* TrafficDock = nullptr;
  TValueLogger* FValueLogger = nullptr;
  // Opens a "Grafico" window for the selected grid rows with numeric values;
  // null when there are none.
  TTrendChartWindow* OpenTrendChart();
  std::vector<std::size_t> SelectedNumericEntries() const;

  // The grid handed on (Form1Tools.cpp): Ctrl+C copies the selected rows,
  // File > "Esporta griglia…" writes the whole grid as a CSV file, File >
  // "Profili…" saves and loads the panels' settings under a name.
  QString SelectedGridText() const;
  void CopyGridRows();
  bool ExportGrid(const QString& File, const TCsvDialect& Dialect);
  void ExportGridClick();
  void ProfilesClick();
  // Menu.
  QMenu* File1 = nullptr;
  QAction* New1 = nullptr;
  QAction* Open1 = nullptr;
  QAction* Save1 = nullptr;
  QAction* SaveAs1 = nullptr;
  QAction* N1 = nullptr;
  QAction* Print1 = nullptr;
  QAction* PrintSetup1 = nullptr;
  QAction* N2 = nullptr;
  QAction* Record1 = nullptr;      // "Registra…"
  QAction* ExportGrid1 = nullptr;  // "Esporta griglia…"
  QAction* Profiles1 = nullptr;    // "Profili…"
  QAction* Exit1 = nullptr;
  QMenu* View1 = nullptr;
  QAction* Chart1 = nullptr;  // "Grafico"
  QMenu* Test1 = nullptr;
  QAction* TcpTest1 = nullptr;
  QAction* SerialTest1 = nullptr;
  QMenu* Help1 = nullptr;
  QAction* About1 = nullptr;

  // Non-visual parts.
  TPollTimer* PollTimer = nullptr;
  TPollTimer* SerialPollTimer = nullptr;

 signals:
  // A collection cycle (TCP or serial) has ended and the map holds its
  // values; Error says why it failed when Ok is false.
  void CycleCompleted(bool Ok, const QString& Error);

 private:
  void BuildControls();
  void BuildRecordingViews();
  void BuildTools();
  // The first size: the design's, and high enough for the settings column to
  // show whole when the screen has the room (it scrolls otherwise).
  void FitSettingsColumn();
  // The unit identifier and reply time-out of the TCP panel, into the client
  // before a cycle; a field that is not a number raises EConvertError.
  void ApplyTcpClientSettings();
  // Every cycle's end: to the value log and the trend charts.
  void CycleFinished(const TCycleOutcome& outcome);
  // Why a cycle did not read the map, in the window's words.
  std::string FailureText(const TCycleOutcome& outcome) const;
  void BuildMenu();
  void ConnectHandlers();
  void FillSerialLists();
  void RestoreSettings();
  int HeaderWidth(const QString& text) const;
  void ShowErrorBar(const std::string& text);
  void ShowMapMessage(const std::string& text);
  // No map could be loaded: the error bar names the file, and true.
  bool RefuseStartWithoutMap();
  // The error bar after a cycle: its failure, or hidden when it read everything.
  void ShowCycleState(const TCycleOutcome& outcome);
  // The grid's value and raw cells of a cycle's readings.
  void ShowReadings(const std::vector<TEntryReading>& readings);
  // A cycle's end, on the GUI thread.
  void TcpCycleEnded(const TCycleOutcome& outcome);
  void SerialCycleEnded(const TCycleOutcome& outcome);
  // Prepares the next TCP cycle: its settings are read now, its registers
  // on the worker thread.
  TPollSchedule::TRead PrepareTcpCycle();
  // The TCP poll's timer, buttons and enablings after the poll ended itself.
  void TcpPollEnded();

  // Runs one handler and hands any failure to the general error report, so
  // that no exception ever reaches the Qt event loop.
  template <typename F>
  void Guarded(F&& handler);

  TMessageBoxes& FMessageBoxes;
  TRegisterMap FMap;
  // Why the map cannot be used, for the error bar; empty once a map loaded.
  std::string FMapProblem;
  // The map message box shown last, so the same trouble shows once.
  std::string FShownMapMessage;
  // Shared with the worker thread of the cycle in flight, which may outlive
  // the window; the GUI thread touches it only while no cycle runs.
  std::shared_ptr<TIdModBusClient> mctPLC;
  std::unique_ptr<TTcpCollectionCycle> FTcpCycle;
  // Hands TCP results back to the GUI thread; it outlives FTcpPoll.
  TQtMainThread FTcpResults;
  // When the TCP cycles run; the timer ticks it.
  std::unique_ptr<TPollSchedule> FTcpPoll;
  // The connection goes last: the client detaches from it when destroyed.
  std::unique_ptr<TModbusConnection> ModbusConnection1;
  std::unique_ptr<TModbusClient> ModbusClient1;
  std::unique_ptr<TSerialCollectionCycle> FSerialCycle;
  // True while a timer tick is being handled, including any error box it
  // shows, so that ticks falling due meanwhile do not start a second cycle.
  bool FInPollTick = false;
  std::unique_ptr<TWindowCommissioning> FCommissioning;
  std::unique_ptr<TWindowRegisterTools> FRegisterTools;
};
