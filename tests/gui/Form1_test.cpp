// The main window driven through its own operations, on the offscreen
// platform, against a scripted Modbus TCP server on 127.0.0.1.

#include "Form1.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <cstring>
#include <memory>

#include "BusyBar.h"
#include "Commons.h"
#include "GuiTestSupport.h"
#include "LoopbackModbusServer.h"
#include "LoopbackPorts.h"
#include "SerialPortCombo.h"
#include "SerialSettingsItems.h"
#include "WindowSettings.h"

namespace {

using TAction = TLoopbackModbusServer::TAction;
using TReply = TLoopbackModbusServer::TReply;

// Firmware word at 0, then F (4 registers), f, I, D: 11 registers, 9 with the
// 32-bit-float layout.
const QStringList NORMAL_MAP = {
    QStringLiteral("1-0:32.7.0|F|Tensione L1 (V)"),
    QStringLiteral("1-0:14.7.0|f|Frequenza (Hz)"),
    QStringLiteral("1-0:1.8.0|I|Energia attiva (Wh)"),
    QStringLiteral("0-0:1.0.0|D|Data"),
};
const QStringList QVZT_MAP = {
    QStringLiteral("1-0:1.8.0|I|Energia QVZT"),
    QStringLiteral("1-0:2.8.0|i|Contatore QVZT"),
};

enum Column { cAddress = 0, cType, cObis, cValue, cRaw, cDesc };

// A port on 127.0.0.1 on which nothing listens.
uint16_t ClosedPort() {
  return FreePort();
}

// A 32-bit value with the least significant word first (byte sequence 1-0-3-2).
void Put32(TLoopbackModbusServer& server, uint16_t address, uint32_t value) {
  server.SetRegister(address, static_cast<uint16_t>(value & 0xFFFF));
  server.SetRegister(static_cast<uint16_t>(address + 1), static_cast<uint16_t>(value >> 16));
}

void Put64(TLoopbackModbusServer& server, uint16_t address, double value) {
  uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  for (int i = 0; i < 4; ++i)
    server.SetRegister(static_cast<uint16_t>(address + i), static_cast<uint16_t>(bits >> (16 * i)));
}

uint32_t FloatBits(float value) {
  uint32_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

class Form1Test : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureApplication();
    QLocale::setDefault(QLocale::c());
    OpenWindowSettings()->clear();  // every test is a first start
    Folder = std::make_unique<TScratchFolder>();
    Folder->Write(QStringLiteral("map.cfg"), NORMAL_MAP);
    Folder->Write(QStringLiteral("qvztmap.cfg"), QVZT_MAP);
  }

  void CreateForm() { Form = std::make_unique<TForm1>(Boxes); }

  // The window pointed at the test server, with the meter values of instance 1.
  void CreateFormForServer() {
    CreateForm();
    Form->edtIPAddress->setText(QStringLiteral("127.0.0.1"));
    Form->PortEdit->setText(QString::number(Server.Port()));
    Server.SetRegister(0, 0x0105);
    Put64(Server, 1, 230.5);
    Put32(Server, 5, FloatBits(50.0f));
    Put32(Server, 7, 123456);
    Put32(Server, 9, 20200131);
  }

  // Cycles run on a worker thread: wait until the one in flight has reported.
  void WaitForCycle() const {
    ASSERT_TRUE(ProcessEventsUntil([this] { return !Form->TcpCycleRunning(); }, 20000));
  }
  void StartTcpPoll() {
    Form->PollButtonClick();
    WaitForCycle();
  }
  void Tick() {
    Form->PollTimerTimer();
    WaitForCycle();
  }

  QString Cell(int row, int column) const {
    const QTableWidgetItem* item = Form->MBGrid->item(row, column);
    return item != nullptr ? item->text() : QStringLiteral("<no item>");
  }

  QStringList Column(int column) const {
    QStringList texts;
    for (int row = 0; row < Form->MBGrid->rowCount(); ++row) texts << Cell(row, column);
    return texts;
  }

  void ExpectTcpSettingsEnabled(bool enabled) const {
    for (QWidget* w :
         {static_cast<QWidget*>(Form->edtIPAddress), static_cast<QWidget*>(Form->PortEdit),
          static_cast<QWidget*>(Form->PollIntervalEdit),
          static_cast<QWidget*>(Form->chkLeaveConnectionOpen),
          static_cast<QWidget*>(Form->QvztModeCheckBox), static_cast<QWidget*>(Form->Label2),
          static_cast<QWidget*>(Form->SerialPortEdit), static_cast<QWidget*>(Form->BaudRateCombo),
          static_cast<QWidget*>(Form->chkFrameEndByLength)})
      EXPECT_EQ(w->isEnabled(), enabled) << w->objectName().toStdString();
  }

  TRecordingMessageBoxes Boxes;
  TLoopbackModbusServer Server;
  std::unique_ptr<TScratchFolder> Folder;
  std::unique_ptr<TForm1> Form;
};

// ---------------------------------------------------------------- creation

TEST_F(Form1Test, CreationShowsCaptionDefaultsListsAndIdleEnablings) {
  CreateForm();
  const std::string version = GetVersionStr("");
  ASSERT_FALSE(version.empty()) << "the test program carries a version record";
  EXPECT_EQ(Form->windowTitle().toStdString(), "Test VIVAR517 (" + version + ")");
  EXPECT_TRUE(Boxes.Messages.empty());

  EXPECT_EQ(Form->size().width(), 1007);
  EXPECT_EQ(Form->font().pixelSize(), 11);

  EXPECT_EQ(Form->QvztModeCheckBox->text(), QStringLiteral("Modalità QVZT 3-e-3"));
  EXPECT_FALSE(Form->QvztModeCheckBox->isChecked());
  EXPECT_EQ(Form->Label13->text(), QStringLiteral("Contatore"));
  ASSERT_EQ(Form->MeterInstanceCombo->count(), 5);
  EXPECT_EQ(Form->MeterInstanceCombo->itemText(4), QStringLiteral("5"));
  EXPECT_EQ(Form->MeterInstanceCombo->currentIndex(), 0);
  // "COM7" names no port on Linux: the first port the system lists is the default.
  EXPECT_EQ(Form->SerialPortEdit->text(), Form->SerialPortEdit->count() > 0
                                              ? Form->SerialPortEdit->itemText(0)
                                              : QStringLiteral("COM7"));
  EXPECT_EQ(Form->SerialPollIntervalEdit->text(), QStringLiteral("2"));
  EXPECT_EQ(Form->SerialSlaveAddressEdit->text(), QStringLiteral("1"));
  EXPECT_EQ(Form->edtIPAddress->text(), QStringLiteral("192.168.1.50"));
  EXPECT_EQ(Form->PortEdit->text(), QStringLiteral("502"));
  EXPECT_EQ(Form->PollIntervalEdit->text(), QStringLiteral("2"));
  EXPECT_EQ(Form->chkLeaveConnectionOpen->text(), QStringLiteral("Leave Connection Open"));
  EXPECT_FALSE(Form->chkLeaveConnectionOpen->isChecked());
  EXPECT_EQ(Form->chkFrameEndByLength->text(), QStringLiteral("Fine frame per lunghezza"));
  EXPECT_FALSE(Form->chkFrameEndByLength->isChecked());
  EXPECT_EQ(Form->Float32CheckBox->text(), QStringLiteral("32 Bit Floating Point"));
  EXPECT_FALSE(Form->Float32CheckBox->isChecked());
  for (QComboBox* combo : {Form->BytesSequenceCombo, Form->SerialBytesSequenceCombo}) {
    ASSERT_EQ(combo->count(), 4);
    EXPECT_EQ(combo->itemText(0), QStringLiteral("1 - 0 - 3 - 2"));
    EXPECT_EQ(combo->itemText(3), QStringLiteral("3 - 2 - 1 - 0"));
    EXPECT_EQ(combo->currentIndex(), 0);
  }

  // The serial lists carry the connection setting of each item.
  ASSERT_EQ(Form->BaudRateCombo->count(), 5);
  EXPECT_EQ(Form->BaudRateCombo->currentText(), QStringLiteral("115200"));
  EXPECT_EQ(Form->BaudRateCombo->currentData().toInt(), br115200);
  EXPECT_EQ(Form->BaudRateCombo->itemText(0), QStringLiteral("9600"));
  EXPECT_EQ(Form->BaudRateCombo->itemData(0).toInt(), br9600);
  EXPECT_EQ(Form->BaudRateCombo->itemData(3).toInt(), br57600);
  ASSERT_EQ(Form->ParityCombo->count(), 3);
  EXPECT_EQ(Form->ParityCombo->currentText(), QStringLiteral("None"));
  EXPECT_EQ(Form->ParityCombo->currentData().toInt(), psNone);
  EXPECT_EQ(Form->ParityCombo->itemData(0).toInt(), psEven);
  EXPECT_EQ(Form->ParityCombo->itemData(1).toInt(), psOdd);
  EXPECT_EQ(Form->SelectedBaudRate(), br115200);
  EXPECT_EQ(Form->SelectedParity(), psNone);
  Form->BaudRateCombo->setCurrentIndex(1);
  Form->ParityCombo->setCurrentIndex(0);
  EXPECT_EQ(Form->SelectedBaudRate(), br19200);
  EXPECT_EQ(Form->SelectedParity(), psEven);

  EXPECT_TRUE(Form->ErrorPanel->isHidden());
  EXPECT_TRUE(Form->GroupBox3->isHidden());
  EXPECT_EQ(Form->GroupBox3->title(), QStringLiteral(" Read registers"));
  EXPECT_EQ(Form->Edit1->text(), QStringLiteral("10"));
  EXPECT_EQ(Form->Edit2->text(), QStringLiteral("8"));
  EXPECT_FALSE(Form->New1->isVisible());
  EXPECT_FALSE(Form->PrintSetup1->isVisible());
  EXPECT_TRUE(Form->Exit1->isVisible());
  EXPECT_EQ(Form->Exit1->text(), QStringLiteral("E&sci"));
  EXPECT_EQ(Form->About1->text(), QStringLiteral("&About..."));

  EXPECT_EQ(Form->PollButton->text(), QStringLiteral("Start Poll"));
  EXPECT_EQ(Form->SerialPollButton->text(), QStringLiteral("Start Poll"));
  EXPECT_TRUE(Form->ProgressBar1->isHidden());
  ExpectTcpSettingsEnabled(true);
  EXPECT_TRUE(Form->PollButton->isEnabled());
  EXPECT_TRUE(Form->SerialPollButton->isEnabled());
  EXPECT_FALSE(Form->BytesSequenceCombo->isEnabled());
  EXPECT_FALSE(Form->SerialBytesSequenceCombo->isEnabled());
  EXPECT_TRUE(Form->MeterInstanceCombo->isEnabled());
  EXPECT_TRUE(Form->Float32CheckBox->isEnabled());

  // The grid: the firmware entry and the four map lines, values not available.
  ASSERT_EQ(Form->MBGrid->columnCount(), 6);
  EXPECT_EQ(Form->MBGrid->horizontalHeaderItem(3)->text(), QStringLiteral("Valore"));
  EXPECT_EQ(Form->MBGrid->horizontalHeaderItem(4)->text(), QStringLiteral("Valore Registri"));
  EXPECT_GE(Form->MBGrid->columnWidth(5), 300);
  EXPECT_EQ(Form->MBGrid->rowHeight(0), 15);
  EXPECT_EQ(Column(cAddress), QStringList({"0", "1", "5", "7", "9"}));
  EXPECT_EQ(Column(cType), QStringList({"INT16", "FLOAT64", "FLOAT32", "INT32", "INT32"}));
  EXPECT_EQ(Cell(0, cDesc), QStringLiteral("Versione Firmware VIVAR517"));
  EXPECT_EQ(Column(cValue), QStringList(5, QStringLiteral("<N/A>")));
  EXPECT_EQ(Column(cRaw), QStringList(5, QStringLiteral("<N/A>")));
}

TEST_F(Form1Test, UnusableMapFilesLeaveAnEmptyGridAndAWorkingWindow) {
  // An invalid line: the error box, once although the remembered layout
  // loads the map again, then a grid with its header row only.
  Folder->Write(QStringLiteral("map.cfg"), {QStringLiteral("a|F|ok"), QStringLiteral("b|X|bad")});
  OpenWindowSettings()->setValue(QStringLiteral("map/float32"), true);
  CreateForm();
  ASSERT_EQ(Boxes.Messages.size(), 1u);
  EXPECT_TRUE(Boxes.Messages[0].error);
  EXPECT_EQ(
      Boxes.Messages[0].text,
      QStringLiteral("File di configurazione non valido\nmap.cfg, riga 2: tipo 'X' sconosciuto"));
  EXPECT_EQ(Form->MBGrid->rowCount(), 0);
  EXPECT_EQ(Form->BaudRateCombo->count(), 5);
  // No poll starts without a map; the bar names the file.
  for (QPushButton* start : {Form->PollButton, Form->SerialPollButton}) {
    start->click();
    EXPECT_FALSE(Form->TcpPollOn() || Form->SerialPollOn());
    EXPECT_EQ(Form->ErrorPanel->text(),
              QStringLiteral("File di configurazione non valido: map.cfg (riga 2)"));
  }

  // A missing file: its reason in the error report, and the lists still filled.
  Boxes.Messages.clear();
  QFile::remove(QStringLiteral("map.cfg"));
  CreateForm();
  ASSERT_EQ(Boxes.Messages.size(), 1u);
  EXPECT_TRUE(Boxes.Messages[0].text.contains(QStringLiteral("map.cfg")))
      << Boxes.Messages[0].text.toStdString();
  EXPECT_EQ(Form->MBGrid->rowCount(), 0);
  EXPECT_EQ(Form->ParityCombo->currentText(), QStringLiteral("None"));
  EXPECT_TRUE(Form->windowTitle().startsWith(QStringLiteral("Test VIVAR517 (")));
}

// ---------------------------------------------------------------- TCP poll

TEST_F(Form1Test, TcpPollShowsValuesFreezesSettingsAndFollowsTheByteSequence) {
  CreateFormForServer();
  Form->ErrorPanel->setVisible(true);
  StartTcpPoll();

  EXPECT_TRUE(Form->TcpPollOn());
  EXPECT_TRUE(Form->ErrorPanel->isHidden());
  EXPECT_EQ(Form->PollButton->text(), QStringLiteral("Stop Poll"));
  EXPECT_FALSE(Form->ProgressBar1->isHidden());
  EXPECT_FALSE(Form->SerialPollButton->isEnabled());
  EXPECT_TRUE(Form->BytesSequenceCombo->isEnabled());
  EXPECT_TRUE(Form->MeterInstanceCombo->isEnabled());
  ExpectTcpSettingsEnabled(false);
  EXPECT_EQ(Form->PollTimer->Interval(), 2000);

  // The first cycle ran at once: one request for the whole map.
  ASSERT_EQ(Server.Requests().size(), 1u);
  EXPECT_EQ(Server.Requests()[0].Address, 0);
  EXPECT_EQ(Server.Requests()[0].Count, 11);
  EXPECT_EQ(Column(cValue), QStringList({"261", "230.5", "50", "123456", "31/01/2020"}));
  EXPECT_EQ(Cell(0, cRaw), QStringLiteral("0501"));
  EXPECT_EQ(Cell(3, cRaw), QStringLiteral("0100"
                                          "40E2"));

  // A tick runs the next cycle.
  Tick();
  EXPECT_EQ(Server.Requests().size(), 2u);
  EXPECT_EQ(Cell(0, cValue), QStringLiteral("261"));

  // A new byte sequence shows at once: the integer read most significant word first.
  Form->BytesSequenceCombo->setCurrentIndex(3);
  Form->BytesSequenceComboChange();
  WaitForCycle();
  EXPECT_EQ(Server.Requests().size(), 3u);
  EXPECT_EQ(Cell(3, cValue), QString::number(static_cast<int32_t>(0xE2400001u)));
  EXPECT_EQ(Cell(3, cRaw), QStringLiteral("010040E2")) << "raw bytes do not follow the sequence";

  // A meter instance change during the poll runs a cycle at the new address.
  Form->MeterInstanceCombo->setCurrentIndex(1);
  Form->MeterInstanceComboChange();
  WaitForCycle();
  ASSERT_EQ(Server.Requests().size(), 4u);
  EXPECT_EQ(Server.Requests()[3].Address, 1000);
  EXPECT_EQ(Cell(0, cAddress), QStringLiteral("1000"));

  // Stop: only the timer goes off.
  Form->PollButtonClick();
  EXPECT_FALSE(Form->TcpPollOn());
  EXPECT_EQ(Form->PollButton->text(), QStringLiteral("Start Poll"));
  EXPECT_TRUE(Form->ProgressBar1->isHidden());
  ExpectTcpSettingsEnabled(true);
  EXPECT_EQ(Server.Requests().size(), 4u);
}

TEST_F(Form1Test, ValuesUseTheLocaleDecimalSeparator) {
  QLocale::setDefault(QLocale(QLocale::Italian, QLocale::Italy));
  CreateFormForServer();
  StartTcpPoll();
  QLocale::setDefault(QLocale::c());
  EXPECT_EQ(Cell(1, cValue), QStringLiteral("230,5"));
}

TEST_F(Form1Test, ASwitchedOffMeterInstanceShowsNoValuesAndSaysSo) {
  CreateFormForServer();
  Server.SetRegister(0, 0xFFFF);
  StartTcpPoll();
  EXPECT_EQ(Column(cValue), QStringList(5, QStringLiteral("<N/A>")));
  EXPECT_EQ(Cell(0, cRaw), QStringLiteral("FFFF"));
  EXPECT_FALSE(Form->ErrorPanel->isHidden());
  EXPECT_EQ(Form->ErrorPanel->text(), QStringLiteral("Contatore 1 non presente"));
  EXPECT_TRUE(Form->TcpPollOn());
}

TEST_F(Form1Test, ContinuaDopoUnErroreKeepsPollingThroughARefusedConnection) {
  CreateForm();
  EXPECT_FALSE(Form->chkKeepGoing->isChecked()) << "off by default";
  Form->edtIPAddress->setText(QStringLiteral("127.0.0.1"));
  Form->PortEdit->setText(QString::number(ClosedPort()));
  Form->chkKeepGoing->setChecked(true);
  StartTcpPoll();
  EXPECT_TRUE(Form->TcpPollOn());
  EXPECT_FALSE(Form->ErrorPanel->isHidden());
  Tick();
  EXPECT_TRUE(Form->TcpPollOn()) << "the next tick connects again";
}

TEST_F(Form1Test, ExceptionReplyShowsItsTextAndThePollGoesOn) {
  CreateFormForServer();
  StartTcpPoll();
  ASSERT_EQ(Cell(0, cValue), QStringLiteral("261"));

  Server.SetScript([](const auto&, int) { return TReply{TAction::Exception, 2}; });
  Tick();
  EXPECT_TRUE(Form->TcpPollOn());
  EXPECT_FALSE(Form->ErrorPanel->isHidden());
  EXPECT_EQ(Form->ErrorPanel->text(),
            QStringLiteral("Eccezione Server: Indirizzo Illegale (registri 0-10)"));
  EXPECT_EQ(Column(cValue), QStringList(5, QStringLiteral("<N/A>"))) << "no earlier cycle's values";

  // A later good cycle hides the bar: it shows the state of the last cycle.
  Server.SetScript(nullptr);
  Tick();
  EXPECT_TRUE(Form->ErrorPanel->isHidden());
  EXPECT_EQ(Cell(0, cValue), QStringLiteral("261"));
  EXPECT_TRUE(Boxes.Messages.empty());
  WaitForCycle();
}

TEST_F(Form1Test, RefusedConnectionStopsThePollAndSaysWhy) {
  CreateFormForServer();
  const QString port = QString::number(ClosedPort());
  Form->PortEdit->setText(port);
  StartTcpPoll();
  EXPECT_FALSE(Form->TcpPollOn());
  EXPECT_EQ(Form->PollButton->text(), QStringLiteral("Start Poll"));
  EXPECT_EQ(Column(cValue), QStringList(5, QStringLiteral("<N/A>")));
  ExpectTcpSettingsEnabled(true);
  EXPECT_EQ(
      Form->ErrorPanel->text(),
      QStringLiteral("Impossibile connettersi a 127.0.0.1:%1: connessione rifiutata").arg(port));
  EXPECT_FALSE(Form->ErrorPanel->isHidden());
  EXPECT_TRUE(Boxes.Messages.empty());
}

TEST_F(Form1Test, KeptOpenConnectionClosedByTheServerStopsThePoll) {
  CreateFormForServer();
  Form->chkLeaveConnectionOpen->setChecked(true);
  StartTcpPoll();
  ASSERT_EQ(Cell(0, cValue), QStringLiteral("261"));
  Tick();
  EXPECT_EQ(Server.Connections(), 1) << "the second cycle reuses the connection";

  Server.DropClient();
  ProcessEventsFor(50);
  Tick();
  EXPECT_FALSE(Form->TcpPollOn());
  EXPECT_EQ(Form->ErrorPanel->text(), QStringLiteral("Connessione col dispositivo interrotta"));
  EXPECT_FALSE(Form->ErrorPanel->isHidden());
  EXPECT_EQ(Column(cValue), QStringList(5, QStringLiteral("<N/A>")));
  EXPECT_EQ(Server.Connections(), 1) << "no reconnection is tried";

  // The next start may connect again.
  StartTcpPoll();
  EXPECT_TRUE(Form->TcpPollOn());
  EXPECT_EQ(Server.Connections(), 2);
  EXPECT_EQ(Cell(0, cValue), QStringLiteral("261"));
}

// ---------------------------------------------------------------- poll interval and port

// The interval takes decimals down to 0.1 s, with '.' or the locale's
// separator; a value it cannot take is named in the error bar, and the poll
// stays off.
TEST_F(Form1Test, PollIntervalTakesDecimalsAndNamesTheFieldWhenItCannot) {
  CreateFormForServer();
  QLocale::setDefault(QLocale(QLocale::Italian, QLocale::Italy));
  const std::pair<const char*, int> accepted[] = {{"0,5", 500}, {"0.1", 100}, {"2", 2000}};
  for (const auto& [text, milliseconds] : accepted) {
    Form->PollIntervalEdit->setText(QString::fromLatin1(text));
    StartTcpPoll();
    EXPECT_TRUE(Form->TcpPollOn()) << text;
    EXPECT_EQ(Form->PollTimer->Interval(), milliseconds) << text;
    Form->PollButtonClick();
  }
  const std::pair<QLineEdit*, const char*> refused[] = {{Form->PollIntervalEdit, "0,05"},
                                                        {Form->PortEdit, "50x"}};
  for (const auto& [field, text] : refused) {
    field->setText(QString::fromLatin1(text));
    Form->PollButtonClick();
    EXPECT_FALSE(Form->TcpPollOn()) << text;
    const QString name =
        field == Form->PortEdit ? QStringLiteral("\"Port\"") : QStringLiteral("\"Poll Interval\"");
    EXPECT_TRUE(Form->ErrorPanel->text().contains(name)) << Form->ErrorPanel->text().toStdString();
    EXPECT_FALSE(Form->ErrorPanel->isHidden()) << text;
    Form->PollIntervalEdit->setText(QStringLiteral("2"));
  }
  QLocale::setDefault(QLocale::c());
  EXPECT_EQ(Server.Requests().size(), 3u);
  EXPECT_TRUE(Boxes.Messages.empty());
}

TEST_F(Form1Test, IntervalZeroRunsTheFirstCycleOnlyAndStaysOn) {
  CreateFormForServer();
  Form->PollIntervalEdit->setText(QStringLiteral("0"));
  StartTcpPoll();
  EXPECT_TRUE(Form->TcpPollOn());
  ProcessEventsFor(300);
  EXPECT_EQ(Server.Requests().size(), 1u) << "no further ticks";
  EXPECT_EQ(Form->PollButton->text(), QStringLiteral("Stop Poll"));
  Form->PollButtonClick();
  EXPECT_FALSE(Form->TcpPollOn());
}

TEST_F(Form1Test, TimerTicksRunCyclesThroughTheEventLoop) {
  CreateFormForServer();
  Form->PollIntervalEdit->setText(QStringLiteral("1"));
  Form->PollButtonClick();
  ASSERT_TRUE(Form->TcpPollOn());
  EXPECT_TRUE(ProcessEventsUntil([&] { return Server.Requests().size() >= 2; }, 10000));
  Form->PollButtonClick();
  WaitForCycle();
}

TEST_F(Form1Test, FailingTickIsReportedOnceWhileItsErrorBoxIsOpen) {
  CreateFormForServer();
  Form->PortEdit->setText(QStringLiteral("50x"));
  // A failing tick is reported, never thrown into the event loop, and a tick
  // that falls due while its error box is open does not start another cycle.
  int nestedTicks = 0;
  Boxes.WhileShown = [&] {
    ++nestedTicks;
    Form->PollTimerTimer();
  };
  Form->PollTimerTimer();
  EXPECT_EQ(nestedTicks, 1);
  ASSERT_EQ(Boxes.Messages.size(), 1u);
  EXPECT_TRUE(Boxes.Messages[0].text.contains(QStringLiteral("50x")));
  EXPECT_TRUE(Server.Requests().empty());
}

// ---------------------------------------------------------------- map options

TEST_F(Form1Test, QvztModeHidesTheFloatOptionAndTheByteSequences) {
  CreateForm();
  Form->Float32CheckBox->setChecked(true);
  Form->Float32CheckBoxClick();
  Form->QvztModeCheckBox->setChecked(true);
  Form->Float32CheckBoxClick();
  EXPECT_FALSE(Form->Float32CheckBox->isChecked());
  EXPECT_TRUE(Form->Float32CheckBox->isHidden());
  EXPECT_TRUE(Form->BytesSequenceCombo->isHidden());
  EXPECT_TRUE(Form->Label11->isHidden());
  EXPECT_TRUE(Form->SerialBytesSequenceCombo->isHidden());
  EXPECT_TRUE(Form->Label12->isHidden());
  EXPECT_EQ(Column(cAddress), QStringList({"0", "2"})) << "no firmware entry in the QVZT map";
  EXPECT_EQ(Cell(0, cDesc), QStringLiteral("Energia QVZT"));

  Form->QvztModeCheckBox->setChecked(false);
  Form->Float32CheckBoxClick();
  EXPECT_FALSE(Form->Float32CheckBox->isHidden());
  EXPECT_FALSE(Form->Float32CheckBox->isChecked());
  EXPECT_FALSE(Form->BytesSequenceCombo->isHidden());
  EXPECT_FALSE(Form->Label12->isHidden());
  EXPECT_EQ(Form->MBGrid->rowCount(), 5);
}

TEST_F(Form1Test, QvztPollDecodesWithTheFixedByteSequence) {
  CreateFormForServer();
  Form->QvztModeCheckBox->setChecked(true);
  Form->Float32CheckBoxClick();
  Server.SetRegister(0, 0x1234);
  Server.SetRegister(1, 0x5678);
  Server.SetRegister(2, 0x0102);
  StartTcpPoll();
  ASSERT_EQ(Server.Requests().size(), 1u);
  EXPECT_EQ(Server.Requests()[0].Count, 3);
  // 0-1-2-3 whatever the hidden list shows.
  EXPECT_EQ(Cell(0, cValue), QString::number(0x78563412));
  EXPECT_EQ(Cell(1, cValue), QStringLiteral("513"));
}

TEST_F(Form1Test, Float32OptionMovesTheMapAndRenamesDoubles) {
  CreateForm();
  Form->Float32CheckBox->setChecked(true);
  Form->Float32CheckBoxClick();
  EXPECT_EQ(Column(cAddress), QStringList({"200", "201", "203", "205", "207"}));
  EXPECT_EQ(Cell(1, cType), QStringLiteral("FLOAT32"));
  EXPECT_EQ(Column(cValue), QStringList(5, QStringLiteral("<N/A>")));

  Form->Float32CheckBox->setChecked(false);
  Form->Float32CheckBoxClick();
  EXPECT_EQ(Column(cAddress), QStringList({"0", "1", "5", "7", "9"}));
  EXPECT_EQ(Cell(1, cType), QStringLiteral("FLOAT64"));
}

TEST_F(Form1Test, Float32PollReadsTheShorterMapAtOffset200) {
  CreateFormForServer();
  Form->MeterInstanceCombo->setCurrentIndex(1);
  Form->Float32CheckBox->setChecked(true);
  Form->Float32CheckBoxClick();
  StartTcpPoll();
  ASSERT_EQ(Server.Requests().size(), 1u);
  EXPECT_EQ(Server.Requests()[0].Address, 1200);
  EXPECT_EQ(Server.Requests()[0].Count, 9);
}

TEST_F(Form1Test, MeterInstanceChangeWhileIdleRewritesAddresses) {
  CreateFormForServer();
  StartTcpPoll();
  Form->PollButtonClick();
  ASSERT_EQ(Cell(0, cValue), QStringLiteral("261"));

  Form->MeterInstanceCombo->setCurrentIndex(2);
  Form->MeterInstanceComboChange();
  EXPECT_EQ(Column(cAddress), QStringList({"2000", "2001", "2005", "2007", "2009"}));
  EXPECT_EQ(Column(cValue), QStringList(5, QStringLiteral("<N/A>")));
  EXPECT_EQ(Server.Requests().size(), 1u) << "no cycle while idle";

  Form->Float32CheckBox->setChecked(true);
  Form->Float32CheckBoxClick();
  EXPECT_EQ(Cell(0, cAddress), QStringLiteral("2200"));
}

// ---------------------------------------------------------------- manual read panel

TEST_F(Form1Test, ManualReadReportsThroughMessageBoxes) {
  CreateFormForServer();
  // The panel uses the client's port as the last cycle left it.
  Form->ModbusClient().SetPort(Server.Port());
  Server.SetRegister(10, 0xABCD);
  Form->Edit2->setText(QStringLiteral("2"));
  Form->Button1Click();
  ASSERT_EQ(Boxes.Messages.size(), 2u);
  EXPECT_EQ(Boxes.Messages[0].text, QStringLiteral("Read 2 registers"));
  EXPECT_EQ(Boxes.Messages[1].text,
            QStringLiteral("Register value(s) read:\r\n     10: 0xABCD\r\n     11: 0x0000"));
  EXPECT_FALSE(Boxes.Messages[1].error);

  // A block longer than one request can carry is refused, not read.
  Boxes.Messages.clear();
  Form->Edit2->setText(QStringLiteral("5000"));
  Form->Button1Click();
  ASSERT_EQ(Boxes.Messages.size(), 1u);
  EXPECT_TRUE(Boxes.Messages[0].text.startsWith(QStringLiteral("Block length must be")));
  EXPECT_EQ(Server.Requests().size(), 1u);
}

}  // namespace
