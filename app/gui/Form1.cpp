#include "Form1.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTableWidget>
#include <algorithm>

#include "AboutBox.h"
#include "BusyBar.h"
#include "Commons.h"
#include "FieldInput.h"
#include "ManualRead.h"
#include "MapFileLookup.h"
#include "MessageBoxes.h"
#include "MeterPresence.h"
#include "ModbusClient.h"
#include "ModbusConnection.h"
#include "SerialCollectionCycle.h"
#include "SerialLine.h"
#include "SerialPortCombo.h"
#include "SerialSettingsItems.h"
#include "TcpCollectionCycle.h"
#include "TrafficDock.h"
#include "ValueDecoding.h"
#include "WindowCommissioning.h"
#include "WindowRegisterTools.h"
#include "WindowSettings.h"

namespace {

QString ToQ(const std::string& text) {
  return QString::fromStdString(text);
}

// Fills a list with its items, each carrying its setting, and selects the first.
template <typename Items>
void FillSettingList(QComboBox* combo, const Items& items) {
  combo->clear();
  for (const auto& item : items)
    combo->addItem(QString::fromLatin1(item.text), static_cast<int>(item.value));
  combo->setCurrentIndex(0);
}

// The user's decimal separator, for the values shown and the numbers typed.
std::string DecimalSeparator() {
  return QLocale().decimalPoint().toStdString();
}

}  // namespace

template <typename F>
void TForm1::Guarded(F&& handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    ReportError(error);
  } catch (...) {
    ReportError(std::runtime_error("Unknown error"));
  }
}

TForm1::TForm1(TMessageBoxes& messageBoxes, QWidget* parent)
    : QMainWindow(parent),
      FMessageBoxes(messageBoxes),
      mctPLC(std::make_shared<TIdModBusClient>()),
      ModbusConnection1(std::make_unique<TModbusConnection>()),
      ModbusClient1(std::make_unique<TModbusClient>()) {
  BuildControls();
  BuildRecordingViews();
  BuildTools();
  FitSettingsColumn();
  FTcpCycle = std::make_unique<TTcpCollectionCycle>(*mctPLC, FMap, DecimalSeparator());
  FTcpPoll = std::make_unique<TPollSchedule>(FTcpResults, [this] { return PrepareTcpCycle(); });
  FTcpPoll->OnOutcome = [this](const TCycleOutcome& outcome) { TcpCycleEnded(outcome); };
  FTcpPoll->OnEnded = [this](const TCycleOutcome&) { TcpPollEnded(); };
  // A poll that goes on after a failure connects afresh at the next tick.
  FTcpPoll->OnRestart = [this] { FTcpCycle->StartPoll(); };
  PollTimer->OnTimer = [this] { PollTimerTimer(); };

  FSerialCycle = std::make_unique<TSerialCollectionCycle>(*ModbusConnection1, *ModbusClient1, FMap,
                                                          [this] { return SerialCycleSettings(); });
  FSerialCycle->OnCycleEnded = [this](const TCycleOutcome& outcome) { SerialCycleEnded(outcome); };
  const auto registersRead = [this](TModbusClient& sender, const TTransactionInfo& info,
                                    uint16_t startReg, uint16_t regCount,
                                    const TRegValues& regValues) {
    Guarded(
        [&] { ModbusClient1HoldingRegistersRead(sender, info, startReg, regCount, regValues); });
  };
  ModbusClient1->OnHoldingRegistersRead = registersRead;
  ModbusClient1->OnInputRegistersRead = registersRead;  // "Funzione" 04
  // A port tcp://HOST:PORT connects within the TCP poll's connect time-out.
  ModbusConnection1->SetConnectTimeout(TCP_CYCLE_CONNECT_TIMEOUT);
  SerialPollTimer->OnTimer = [this] { SerialPollTimerTimer(); };
  // Failures of the serial library's worker arrive here on the GUI thread.
  SetApplicationExceptionHandler([this](std::exception_ptr error) {
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      ReportError(e);
    } catch (...) {
      ReportError(std::runtime_error("Unknown error"));
    }
  });
  Guarded([this] { FormCreate(); });
  Guarded([this] { RestoreSettings(); });
  ConnectHandlers();
  FCommissioning = std::make_unique<TWindowCommissioning>(*this);
  FRegisterTools = std::make_unique<TWindowRegisterTools>(*this);
}

TForm1::~TForm1() {
  // Nothing of a cycle still in flight reaches the window from here on.
  FTcpPoll->Stop();
  Guarded([this] { SaveWindowSettings(*this, *OpenWindowSettings()); });
  // The panel stops listening while the hooks it listens to still exist.
  delete TrafficDock;
  TrafficDock = nullptr;
  PollTimer->SetEnabled(false);
  SerialPollTimer->SetEnabled(false);
  SetApplicationExceptionHandler(nullptr);
  // Close the port while the window can still take what its worker reports.
  Guarded([this] { ModbusConnection1->Close(); });
}

// Handlers are connected after FormCreate so that filling the lists and
// selecting their defaults does not run any of them.
void TForm1::ConnectHandlers() {
  auto guard = [this](void (TForm1::*operation)()) {
    return [this, operation] { Guarded([this, operation] { (this->*operation)(); }); };
  };
  connect(QvztModeCheckBox, &QCheckBox::clicked, this, guard(&TForm1::Float32CheckBoxClick));
  connect(Float32CheckBox, &QCheckBox::clicked, this, guard(&TForm1::Float32CheckBoxClick));
  connect(MeterInstanceCombo, &QComboBox::activated, this,
          guard(&TForm1::MeterInstanceComboChange));
  connect(BytesSequenceCombo, &QComboBox::activated, this,
          guard(&TForm1::BytesSequenceComboChange));
  connect(PollButton, &QPushButton::clicked, this, guard(&TForm1::PollButtonClick));
  connect(SerialPollButton, &QPushButton::clicked, this, guard(&TForm1::SerialPollButtonClick));
  connect(SerialBytesSequenceCombo, &QComboBox::activated, this,
          guard(&TForm1::SerialBytesSequenceComboChange));
  // A serial device server's port has no line settings of ours to choose.
  connect(SerialPortEdit, &QComboBox::editTextChanged, this, guard(&TForm1::EvalEnablings));
  connect(Button1, &QPushButton::clicked, this, guard(&TForm1::Button1Click));
  connect(Exit1, &QAction::triggered, this, guard(&TForm1::Exit1Click));
  connect(About1, &QAction::triggered, this, guard(&TForm1::About1Click));
}

void TForm1::FormCreate() {
  setWindowTitle(
      QStringLiteral("%1 (%2)").arg(QString::fromLatin1(WINDOW_CAPTION), ToQ(GetVersionStr(""))));
  SetupNormalMode();
  UpdatePollUI();
  EvalEnablings();
  FillSerialLists();
}

// The remembered settings, and what the map must do to follow them.
void TForm1::RestoreSettings() {
  RestoreWindowSettings(*this, *OpenWindowSettings());
  EvalEnablings();  // a restored tcp:// port greys the line settings out
  if (QvztModeCheckBox->isChecked() || Float32CheckBox->isChecked()) {
    Float32CheckBoxClick();
  } else if (MeterInstanceCombo->currentIndex() != 0) {
    CalcAddress();
    UpdateGridData(false);
  }
}

void TForm1::FillSerialLists() {
  BaudRateCombo->clear();
  for (const TBaudRateItem& item : BAUD_RATE_ITEMS)
    BaudRateCombo->addItem(QString::fromLatin1(item.text), static_cast<int>(item.value));
  BaudRateCombo->setCurrentIndex(DEFAULT_BAUD_RATE_INDEX);
  ParityCombo->clear();
  for (const TParityItem& item : PARITY_ITEMS)
    ParityCombo->addItem(QString::fromLatin1(item.text), static_cast<int>(item.value));
  ParityCombo->setCurrentIndex(DEFAULT_PARITY_INDEX);
  FillSettingList(ModeCombo, MODE_ITEMS);
  FillSettingList(DataBitsCombo, DATA_BITS_ITEMS);
  FillSettingList(StopBitsCombo, STOP_BITS_ITEMS);
  FillSettingList(SerialFunctionCombo, FUNCTION_ITEMS);
  FillSettingList(TcpFunctionCombo, FUNCTION_ITEMS);
}

TTransmissionMode TForm1::SelectedMode() const {
  return static_cast<TTransmissionMode>(ModeCombo->currentData().toInt());
}

TDataBits TForm1::SelectedDataBits() const {
  return static_cast<TDataBits>(DataBitsCombo->currentData().toInt());
}

TStopBits TForm1::SelectedStopBits() const {
  return static_cast<TStopBits>(StopBitsCombo->currentData().toInt());
}

EReadFunction TForm1::SelectedSerialFunction() const {
  return static_cast<EReadFunction>(SerialFunctionCombo->currentData().toInt());
}

EReadFunction TForm1::SelectedTcpFunction() const {
  return static_cast<EReadFunction>(TcpFunctionCombo->currentData().toInt());
}

TBaudRate TForm1::SelectedBaudRate() const {
  return static_cast<TBaudRate>(BaudRateCombo->currentData().toInt());
}

TParityScheme TForm1::SelectedParity() const {
  return static_cast<TParityScheme>(ParityCombo->currentData().toInt());
}

TMapSettings TForm1::MapSettings() const {
  return TMapSettings{Float32CheckBox->isChecked(), MeterInstanceCombo->currentIndex()};
}

// A bare name is looked for where the poller looks: the working folder, the
// program's folder, then ../share/kq517/. Until a map loads, no poll starts
// and the error bar names the file.
void TForm1::LoadConfig(EMapType pMapType, const std::string& pFileName) {
  const std::string file = FindMapFile(pFileName, ThisProgram());
  try {
    if (FMap.LoadConfig(pMapType, file, MapSettings()) == TLoadResult::lrOk) {
      FMapProblem.clear();
      FShownMapMessage.clear();
      return;
    }
  } catch (const std::exception& error) {
    FMapProblem = "File della mappa non leggibile: " + file;
    ShowMapMessage(error.what());
    return;
  }
  FMapProblem =
      INVALID_MAP_MESSAGE + (": " + file) + " (riga " + std::to_string(FMap.Fault().Line) + ")";
  ShowMapMessage(INVALID_MAP_MESSAGE + ("\n" + file + ", " + MapFaultText(FMap.Fault(), true)));
}

// A map that is still the same trouble is not reported again: start-up
// loads the map a second time for the remembered layout.
void TForm1::ShowMapMessage(const std::string& text) {
  if (text == FShownMapMessage) return;
  FShownMapMessage = text;
  FMessageBoxes.ShowError(this, QString::fromStdString(text));
}

bool TForm1::RefuseStartWithoutMap() {
  if (FMapProblem.empty()) return false;
  ShowErrorBar(FMapProblem);
  return true;
}

// A map file that cannot be opened is reported, and the window goes on with
// an empty map: the grid, the lists and the enablings must still be set up.
void TForm1::SetupNormalMode() {
  Float32CheckBox->setVisible(true);
  Guarded([this] { LoadConfig(mpNormal, NORMAL_MAP_FILE); });
  BytesSequenceCombo->setVisible(true);
  Label11->setVisible(true);
  SerialBytesSequenceCombo->setVisible(true);
  Label12->setVisible(true);
  DetectButton->setVisible(true);
  SerialDetectButton->setVisible(true);
  UpdateGridStruct();
  UpdateGridData(false);
}

void TForm1::SetupQVZTMode() {
  Float32CheckBox->setChecked(false);
  Float32CheckBox->setVisible(false);
  Guarded([this] { LoadConfig(mpQVZT, QVZT_MAP_FILE); });
  BytesSequenceCombo->setVisible(false);
  Label11->setVisible(false);
  SerialBytesSequenceCombo->setVisible(false);
  Label12->setVisible(false);
  DetectButton->setVisible(false);
  SerialDetectButton->setVisible(false);
  UpdateGridStruct();
  UpdateGridData(false);
}

void TForm1::Float32CheckBoxClick() {
  // A cycle in flight was read for the old layout.
  FTcpPoll->Drop();
  if (QvztModeCheckBox->isChecked())
    SetupQVZTMode();
  else
    SetupNormalMode();
}

void TForm1::CalcAddress() {
  FMap.CalcAddress(MapSettings());
}

// Width a header text needs to be read in full: the text, the section's
// padding on both sides and its border.
int TForm1::HeaderWidth(const QString& text) const {
  constexpr int SECTION_MARGINS = 12;
  return MBGrid->horizontalHeader()->fontMetrics().horizontalAdvance(text) + SECTION_MARGINS;
}

void TForm1::UpdateGridStruct() {
  FMap.UpdateGridStruct();
  MBGrid->clearContents();
  MBGrid->setRowCount(static_cast<int>(FMap.Regs().size()));
  QStringList headers;
  for (int column = 0; column < GRID_COLUMN_COUNT; ++column) {
    headers << QString::fromLatin1(GRID_HEADERS[column]);
    MBGrid->setColumnWidth(column,
                           std::max(GRID_COLUMN_WIDTHS[column], HeaderWidth(headers.last())));
  }
  MBGrid->setHorizontalHeaderLabels(headers);
  // Every cell gets its item once here; UpdateGridData only changes texts.
  for (int row = 0; row < MBGrid->rowCount(); ++row)
    for (int column = 0; column < GRID_COLUMN_COUNT; ++column)
      MBGrid->setItem(row, column, new QTableWidgetItem());
}

void TForm1::UpdateGridData(bool pDataAvail) {
  ShowReadings(MapReadings(FMap, pDataAvail));
}

// The core computes every cell text; the grid takes those that changed, with
// the user's decimal separator in the numbers and painting held back until
// the whole grid is current.
void TForm1::ShowReadings(const std::vector<TEntryReading>& readings) {
  FMap.UpdateGridData(readings, Float32CheckBox->isChecked());
  const TRegisterGrid& grid = FMap.Grid();
  const std::string separator = DecimalSeparator();
  const int rows = std::min(MBGrid->rowCount(), static_cast<int>(grid.RowCount()));
  const bool wasEnabled = MBGrid->updatesEnabled();
  MBGrid->setUpdatesEnabled(false);
  for (int row = 0; row < rows; ++row) {
    const TGridRow& cells = grid.Row(static_cast<std::size_t>(row));
    for (int column = 0; column < GRID_COLUMN_COUNT; ++column) {
      QTableWidgetItem* item = MBGrid->item(row, column);
      if (item == nullptr) {
        item = new QTableWidgetItem();
        MBGrid->setItem(row, column, item);
      }
      const std::string& cell = cells[static_cast<std::size_t>(column)];
      const QString text = ToQ(column == gcValue ? WithDecimalSeparator(cell, separator) : cell);
      if (item->text() != text) item->setText(text);
    }
  }
  MBGrid->setUpdatesEnabled(wasEnabled);
}

void TForm1::UpdatePollUI() {
  PollButton->setText(TcpPollOn() ? QStringLiteral("Stop Poll") : QStringLiteral("Start Poll"));
  SerialPollButton->setText(SerialPollOn() ? QStringLiteral("Stop Poll")
                                           : QStringLiteral("Start Poll"));
  const bool busy = TcpPollOn() || SerialPollOn();
  ProgressBar1->setVisible(busy);
  ProgressBar1->SetBusy(busy);
}

void TForm1::EvalEnablings() {
  const bool tcpOn = TcpPollOn();
  const bool serialOn = SerialPollOn();
  const bool idle = !tcpOn && !serialOn;
  for (QWidget* w : std::initializer_list<QWidget*>{QvztModeCheckBox,
                                                    edtIPAddress,
                                                    PortEdit,
                                                    PollIntervalEdit,
                                                    chkLeaveConnectionOpen,
                                                    chkKeepGoing,
                                                    chkSerialKeepGoing,
                                                    UnitIdEdit,
                                                    TimeoutEdit,
                                                    Label14,
                                                    Label15,
                                                    Label2,
                                                    Label3,
                                                    Label1,
                                                    SerialPortEdit,
                                                    SerialPollIntervalEdit,
                                                    ModeCombo,
                                                    LabelMode,
                                                    SerialFunctionCombo,
                                                    LabelSerialFunction,
                                                    TcpFunctionCombo,
                                                    LabelTcpFunction,
                                                    SerialSlaveAddressEdit,
                                                    chkFrameEndByLength,
                                                    Label4,
                                                    Label5,
                                                    Label10,
                                                    ScanButton,
                                                    DetectButton,
                                                    SerialDetectButton})
    w->setEnabled(idle);
  // Behind a serial device server the line is the server's, set on the server;
  // only there can a connection stay open between cycles.
  const bool stream = IsTcpPortName(SerialPortEdit->text().toStdString());
  const bool lineSettings = idle && !stream;
  chkSerialLeaveOpen->setEnabled(idle && stream);
  for (QWidget* w :
       std::initializer_list<QWidget*>{BaudRateCombo, ParityCombo, DataBitsCombo, StopBitsCombo,
                                       Label8, Label9, LabelDataBits, LabelStopBits})
    w->setEnabled(lineSettings);
  TcpTest1->setEnabled(idle);
  SerialTest1->setEnabled(idle);
  PollButton->setEnabled(!serialOn);
  SerialPollButton->setEnabled(!tcpOn);
  BytesSequenceCombo->setEnabled(tcpOn);
  Label11->setEnabled(tcpOn);
  SerialBytesSequenceCombo->setEnabled(serialOn);
  Label12->setEnabled(serialOn);
  Float32CheckBox->setEnabled(true);
  MeterInstanceCombo->setEnabled(true);
  Label13->setEnabled(true);
}

void TForm1::MeterInstanceComboChange() {
  if (SerialPollOn()) {
    PollSerialUpdate();
  } else if (TcpPollOn()) {
    FTcpPoll->Restart();
  } else {
    CalcAddress();
    UpdateGridData(false);
  }
}

void TForm1::BytesSequenceComboChange() {
  FTcpPoll->Restart();
}

void TForm1::Exit1Click() {
  QApplication::quit();
}

void TForm1::About1Click() {
  TAboutBox::ExecuteModal(this);
}

void TForm1::PollButtonClick() {
  if (!TcpPollOn()) {
    ErrorPanel->setVisible(false);
    if (RefuseStartWithoutMap()) return;
    // A field that is not the number it should be is named in the error bar,
    // and the poll stays off. The port is checked now, since the settings
    // freeze while the poll runs and a bad one would fail every tick.
    int interval = 0;
    try {
      interval = PollIntervalMilliseconds("Poll Interval", PollIntervalEdit->text().toStdString(),
                                          DecimalSeparator());
      FieldPort("Port", PortEdit->text().toStdString());
      FieldUnitId("Unit ID", UnitIdEdit->text().toStdString());
      FieldTimeoutMilliseconds("Timeout (s)", TimeoutEdit->text().toStdString(),
                               DecimalSeparator());
    } catch (const EConvertError& error) {
      ShowErrorBar(error.what());
      return;
    }
    PollTimer->SetInterval(interval);
  }
  PollTimer->SetEnabled(!PollTimer->Enabled());
  UpdatePollUI();
  EvalEnablings();
  if (TcpPollOn()) {
    UpdateGridData(false);
    FTcpCycle->StartPoll();
    FTcpPoll->KeepGoing = chkKeepGoing->isChecked();
    FTcpPoll->Start();
  } else {
    // Stopped at once: a cycle still waiting for the device is not heard.
    FTcpPoll->Stop();
  }
}

// A tick that falls due while a cycle is in flight is skipped.
void TForm1::PollTimerTimer() {
  if (FInPollTick) return;
  FInPollTick = true;
  Guarded([this] { PollTCPUpdate(); });
  FInPollTick = false;
}

void TForm1::PollTCPUpdate() {
  FTcpPoll->Tick();
}

TTcpCycleSettings TForm1::TcpCycleSettings() const {
  TTcpCycleSettings settings;
  settings.Host = edtIPAddress->text().toStdString();
  settings.Port = static_cast<uint16_t>(FieldPort("Port", PortEdit->text().toStdString()));
  settings.LeaveConnectionOpen = chkLeaveConnectionOpen->isChecked();
  settings.Function = SelectedTcpFunction();
  settings.BytesSequenceIndex = BytesSequenceCombo->currentIndex();
  settings.QvztMode = QvztModeCheckBox->isChecked();
  settings.Float32 = Float32CheckBox->isChecked();
  settings.MeterInstanceIndex = MeterInstanceCombo->currentIndex();
  return settings;
}

void TForm1::ApplyTcpClientSettings() {
  mctPLC->SetUnitID(FieldUnitId("Unit ID", UnitIdEdit->text().toStdString()));
  mctPLC->SetTimeOut(static_cast<uint32_t>(FieldTimeoutMilliseconds(
      "Timeout (s)", TimeoutEdit->text().toStdString(), DecimalSeparator())));
}

TPollSchedule::TRead TForm1::PrepareTcpCycle() {
  const TTcpCycleSettings settings = TcpCycleSettings();
  // No cycle is in flight: the client is the GUI thread's until the read starts.
  ApplyTcpClientSettings();
  const TTcpReadRequest request = FTcpCycle->PrepareRead(settings);
  // The worker reads with the shared client and nothing else of the window;
  // the finish runs on the GUI thread unless the cycle was dropped.
  return [this, client = mctPLC, request, settings]() -> TPollSchedule::TFinish {
    TTcpReadResult result = ReadTcpRegisters(*client, request);
    return [this, settings, result = std::move(result)] {
      return FTcpCycle->FinishRead(settings, result);
    };
  };
}

void TForm1::TcpCycleEnded(const TCycleOutcome& outcome) {
  ShowCycleState(outcome);
  ShowReadings(outcome.Entries);
  CycleFinished(outcome);
}

void TForm1::TcpPollEnded() {
  PollTimer->SetEnabled(false);
  UpdatePollUI();
  EvalEnablings();
}

TSerialCycleSettings TForm1::SerialCycleSettings() const {
  TSerialCycleSettings settings;
  settings.Port = SerialPortEdit->text().toStdString();
  settings.BitRate = BitsPerSecond(SelectedBaudRate());
  settings.Parity = SelectedParity();
  settings.Mode = SelectedMode();
  settings.DataBits = SelectedDataBits();
  settings.StopBits = SelectedStopBits();
  settings.Function = SelectedSerialFunction();
  settings.SlaveAddress =
      FieldSlaveAddress("Slave Address", SerialSlaveAddressEdit->text().toStdString());
  settings.FrameEndByLength = chkFrameEndByLength->isChecked();
  settings.LeaveStreamOpen = chkSerialLeaveOpen->isChecked();
  settings.BytesSequenceIndex = SerialBytesSequenceCombo->currentIndex();
  settings.QvztMode = QvztModeCheckBox->isChecked();
  settings.Float32 = Float32CheckBox->isChecked();
  settings.MeterInstanceIndex = MeterInstanceCombo->currentIndex();
  return settings;
}

void TForm1::SerialPollButtonClick() {
  if (!SerialPollOn()) {
    ErrorPanel->setVisible(false);
    if (RefuseStartWithoutMap()) return;
    // As for the TCP poll: a field that is not the number it should be is
    // named in the error bar, and the poll stays off.
    int interval = 0;
    try {
      interval = PollIntervalMilliseconds(
          "Poll Interval", SerialPollIntervalEdit->text().toStdString(), DecimalSeparator());
      FieldSlaveAddress("Slave Address", SerialSlaveAddressEdit->text().toStdString());
    } catch (const EConvertError& error) {
      ShowErrorBar(error.what());
      return;
    }
    SerialPollTimer->SetInterval(interval);
    SerialPortEdit->RememberPort(SerialPortEdit->text());
  }
  SerialPollTimer->SetEnabled(!SerialPollTimer->Enabled());
  UpdatePollUI();
  EvalEnablings();
  if (SerialPollOn()) {
    UpdateGridData(false);
    FSerialCycle->StartPoll();
    PollSerialUpdate();
  }
}

void TForm1::SerialPollTimerTimer() {
  if (FInPollTick) return;
  FInPollTick = true;
  Guarded([this] { PollSerialUpdate(); });
  FInPollTick = false;
}

void TForm1::SerialBytesSequenceComboChange() {
  PollSerialUpdate();
}

void TForm1::PollSerialUpdate() {
  // A request that cannot be queued ends its cycle at once (SerialCycleEnded).
  FSerialCycle->CollectDataSerial();
}

bool TForm1::CollectDataSerial() {
  return FSerialCycle->CollectDataSerial();
}

void TForm1::ModbusClient1HoldingRegistersRead(TModbusClient&, const TTransactionInfo& Info,
                                               uint16_t StartReg, uint16_t RegCount,
                                               const std::vector<uint16_t>& RegValues) {
  FSerialCycle->HoldingRegistersRead(Info, StartReg, RegCount, RegValues);
}

void TForm1::SerialCycleEnded(const TCycleOutcome& outcome) {
  ShowCycleState(outcome);
  ShowReadings(outcome.Entries);
  CycleFinished(outcome);
  // Going on needs nothing more: every serial cycle opens the port afresh.
  if (AfterCycle(outcome, chkSerialKeepGoing->isChecked()) == EAfterCycle::acEnd) {
    SerialPollTimer->SetEnabled(false);
    UpdatePollUI();
    EvalEnablings();
  }
}

std::string TForm1::FailureText(const TCycleOutcome& outcome) const {
  if (outcome.MeterAbsent) return MeterNotPresentWindowText(outcome.MeterInstanceIndex);
  return outcome.Error + FailedBlockText(outcome);
}

void TForm1::Button1Click() {
  if (FTcpPoll->Busy()) {
    FMessageBoxes.ShowMessage(
        this, QStringLiteral("A poll cycle is reading the device; try again when it ends"));
    return;
  }
  // An exception reply shows its text in the error bar, as a cycle's does.
  mctPLC->OnResponseError = [this](uint8_t, uint8_t ErrorCode, const TModBusResponseBuffer&) {
    ShowErrorBar(ExceptionReplyText(ErrorCode));
  };
  std::vector<std::string> messages;
  try {
    messages = ManualReadRegisters(*mctPLC, edtIPAddress->text().toStdString(),
                                   Edit1->text().toStdString(), Edit2->text().toStdString());
  } catch (...) {
    mctPLC->OnResponseError = nullptr;
    throw;
  }
  mctPLC->OnResponseError = nullptr;
  for (const std::string& text : messages) FMessageBoxes.ShowMessage(this, ToQ(text));
}

// A cycle that read everything hides the error bar, over either path, so
// that the bar shows only the state of the last cycle; the traffic panel and
// the statistics keep the record of what failed before.
void TForm1::ShowCycleState(const TCycleOutcome& outcome) {
  const std::string failure = FailureText(outcome);
  if (failure.empty())
    ErrorPanel->setVisible(false);
  else
    ShowErrorBar(failure);
}

void TForm1::ShowErrorBar(const std::string& text) {
  ErrorPanel->setText(ToQ(text));
  ErrorPanel->setVisible(true);
}

void TForm1::ReportError(const std::exception& error) {
  FMessageBoxes.ShowError(this, QString::fromUtf8(error.what()));
}
