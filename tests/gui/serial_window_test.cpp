// The window's serial poll on the offscreen platform, against a scripted RTU
// slave on a pseudo-terminal, with the serial library's results delivered
// through the Qt main thread.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <cerrno>
#include <cstring>
#include <memory>

#include "Form1.h"
#include "GuiTestSupport.h"
#include "ModbusConnection.h"
#include "QtMainThread.h"
#include "ScriptedRtuSlave.h"
#include "SerialPortCombo.h"
#include "WindowSettings.h"

namespace {

using serialtest::TScriptedRtuSlave;
using TMode = TScriptedRtuSlave::TMode;

// Firmware word at 0, then f (2 registers) and I (2): 5 registers.
const QStringList NORMAL_MAP = {
    QStringLiteral("1-0:14.7.0|f|Frequenza (Hz)"),
    QStringLiteral("1-0:1.8.0|I|Energia attiva (Wh)"),
};
// I (2 registers) then i: 3 registers, no firmware word.
const QStringList QVZT_MAP = {
    QStringLiteral("1-0:1.8.0|I|Energia QVZT"),
    QStringLiteral("1-0:2.8.0|i|Contatore QVZT"),
};

enum Column { cAddress = 0, cType, cObis, cValue, cRaw, cDesc };

uint32_t FloatBits(float value) {
  uint32_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

// A 32-bit value with the least significant word first (byte sequence 1-0-3-2).
void Put32(TScriptedRtuSlave& slave, uint16_t address, uint32_t value) {
  slave.SetRegister(address, static_cast<uint16_t>(value & 0xFFFF));
  slave.SetRegister(static_cast<uint16_t>(address + 1), static_cast<uint16_t>(value >> 16));
}

class SerialWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureApplication();
    OpenWindowSettings()->clear();  // every test is a first start
    folder.Write(QStringLiteral("map.cfg"), NORMAL_MAP);
    folder.Write(QStringLiteral("qvztmap.cfg"), QVZT_MAP);
    form = std::make_unique<TForm1>(boxes);
    form->SerialPortEdit->setText(QString::fromStdString(slave.Path()));
    form->SerialPollIntervalEdit->setText(
        QStringLiteral("0"));      // one cycle per start unless a test ticks
    slave.SetRegister(0, 0x0102);  // firmware version
    Put32(slave, 1, FloatBits(50.0f));
    Put32(slave, 3, 123456);
  }
  void TearDown() override {
    form.reset();
    ProcessEventsFor(20);
  }

  QString Cell(int row, int column) const {
    const QTableWidgetItem* item = form->MBGrid->item(row, column);
    return item ? item->text() : QString();
  }
  bool PortOpen() const { return form->SerialConnection().Active(); }
  // Waits for the reply that closes the port.
  bool WaitUntilClosed(int timeoutMs = 5000) {
    return ProcessEventsUntil([this] { return !PortOpen(); }, timeoutMs);
  }
  QString ErrorBar() const {
    return form->ErrorPanel->isHidden() ? QString() : form->ErrorPanel->text();
  }

  TScratchFolder folder;
  TRecordingMessageBoxes boxes;
  TScriptedRtuSlave slave;
  TQtMainThreadInstallation mainThread;  // before the window: its connection keeps it
  std::unique_ptr<TForm1> form;
};

TEST_F(SerialWindowTest, NormalReplyIsDecodedWithTheSerialByteSequenceAndClosesThePort) {
  form->ErrorPanel->setText(QStringLiteral("old"));
  form->ErrorPanel->setVisible(true);
  form->SerialPollButtonClick();
  EXPECT_TRUE(form->SerialPollOn());
  EXPECT_EQ(form->SerialPollButton->text(), QStringLiteral("Stop Poll"));
  EXPECT_FALSE(form->PollButton->isEnabled());
  EXPECT_TRUE(form->SerialBytesSequenceCombo->isEnabled());
  EXPECT_FALSE(form->SerialPortEdit->isEnabled());
  ASSERT_TRUE(WaitUntilClosed());

  ASSERT_EQ(slave.RequestCount(), 1u);
  const auto request = slave.Requests().front();
  EXPECT_EQ(request.Address, 1);
  EXPECT_EQ(request.Function, 3);
  EXPECT_EQ(request.Start, 0);
  EXPECT_EQ(request.Count, 5);

  EXPECT_EQ(ErrorBar(), QString());
  EXPECT_EQ(Cell(0, cValue), QStringLiteral("258"));
  EXPECT_EQ(Cell(0, cRaw), QStringLiteral("0201"));
  EXPECT_EQ(Cell(1, cValue), QStringLiteral("50"));
  EXPECT_EQ(Cell(2, cValue), QStringLiteral("123456"));
  EXPECT_EQ(Cell(2, cAddress), QStringLiteral("3"));
  EXPECT_TRUE(form->SerialPollOn());  // the poll goes on until stopped

  // A new byte sequence is read and shown at once.
  form->SerialBytesSequenceCombo->setCurrentIndex(BS_3_2_1_0);
  form->SerialBytesSequenceComboChange();
  ASSERT_TRUE(ProcessEventsUntil([this] { return slave.RequestCount() == 2 && !PortOpen(); }));
  EXPECT_EQ(Cell(0, cValue), QStringLiteral("258"));
  EXPECT_EQ(Cell(2, cValue),
            QStringLiteral("-499122175"));               // 0xE2400001: first word most significant
  EXPECT_EQ(Cell(2, cRaw), QStringLiteral("010040E2"));  // raw bytes do not follow the sequence
  EXPECT_TRUE(boxes.Messages.empty());
}

TEST_F(SerialWindowTest, FirmwareWordFFFFShowsNoValuesButFillsTheRawCells) {
  slave.SetRegister(0, 0xFFFF);
  form->SerialPollButtonClick();
  ASSERT_TRUE(WaitUntilClosed());
  for (int row = 0; row < 3; ++row) EXPECT_EQ(Cell(row, cValue), QStringLiteral("<N/A>")) << row;
  EXPECT_EQ(Cell(0, cRaw), QStringLiteral("FFFF"));
  EXPECT_EQ(Cell(2, cRaw), QStringLiteral("010040E2"));
  EXPECT_EQ(ErrorBar(), QString());
}

TEST_F(SerialWindowTest, FailedRepliesShowTheirTextAndThePollGoesOn) {
  form->SerialPollIntervalEdit->setText(QStringLiteral("1"));
  slave.SetMode(TMode::Silent);
  form->SerialPollButtonClick();
  ASSERT_TRUE(ProcessEventsUntil([this] { return !ErrorBar().isEmpty(); }, 8000));
  EXPECT_EQ(ErrorBar(), QStringLiteral("Nessuna Risposta"));
  EXPECT_EQ(Cell(1, cValue), QStringLiteral("<N/A>"));
  EXPECT_TRUE(form->SerialPollOn());

  // The next tick asks again; a busy meter answers with an exception.
  slave.SetMode(TMode::Exception, 6);
  ASSERT_TRUE(ProcessEventsUntil(
      [this] { return ErrorBar() == QStringLiteral("Eccezione Server: Server Occupato"); }, 8000));
  EXPECT_TRUE(form->SerialPollOn());
  const std::size_t asked = slave.RequestCount();

  // Then a normal reply hides the bar again.
  slave.SetMode(TMode::Normal);
  ASSERT_TRUE(
      ProcessEventsUntil([this] { return Cell(2, cValue) == QStringLiteral("123456"); }, 8000));
  EXPECT_GT(slave.RequestCount(), asked);
  EXPECT_EQ(ErrorBar(), QString());
  form->SerialPollButtonClick();
  EXPECT_FALSE(form->SerialPollOn());
}

TEST_F(SerialWindowTest, ACycleThatCannotStartStopsThePollAndLeavesThePortClosed) {
  // 126 registers: the firmware word and 125 words.
  QStringList wide;
  for (int i = 0; i < 125; ++i) wide << QStringLiteral("0-0:%1|i|Parola %1").arg(i);
  folder.Write(QStringLiteral("map.cfg"), wide);
  form->SetupNormalMode();
  form->SerialPollButtonClick();
  EXPECT_FALSE(form->SerialPollOn());
  EXPECT_EQ(form->SerialPollButton->text(), QStringLiteral("Start Poll"));
  EXPECT_TRUE(form->PollButton->isEnabled());
  EXPECT_EQ(ErrorBar(), QStringLiteral("Register count must be between 1 and 125"));
  EXPECT_EQ(Cell(0, cValue), QStringLiteral("<N/A>"));
  EXPECT_FALSE(PortOpen());  // no reply will come to close it
  ProcessEventsFor(100);
  EXPECT_EQ(slave.RequestCount(), 0u);

  // A port that cannot be opened.
  form->SerialPortEdit->setText(QStringLiteral("/nonexistent/ttyKQ"));
  folder.Write(QStringLiteral("map.cfg"), NORMAL_MAP);
  form->SetupNormalMode();
  form->SerialPollButtonClick();
  EXPECT_FALSE(form->SerialPollOn());
  EXPECT_EQ(ErrorBar(), QStringLiteral("Could not open serial port /nonexistent/ttyKQ: %1")
                            .arg(QString::fromLocal8Bit(std::strerror(ENOENT))));
  EXPECT_EQ(Cell(1, cValue), QStringLiteral("<N/A>"));
  EXPECT_TRUE(boxes.Messages.empty());
}

TEST_F(SerialWindowTest, StartChecksTheIntervalAndTheSlaveAddress) {
  form->ErrorPanel->setVisible(true);
  form->SerialSlaveAddressEdit->setText(QStringLiteral("uno"));
  form->SerialPollButtonClick();
  EXPECT_FALSE(form->SerialPollOn());
  EXPECT_TRUE(ErrorBar().contains(QStringLiteral("\"Slave Address\""))) << ErrorBar().toStdString();
  form->SerialSlaveAddressEdit->setText(QStringLiteral("1"));
  form->SerialPollIntervalEdit->setText(QStringLiteral("abc"));
  form->SerialPollButtonClick();
  EXPECT_FALSE(form->SerialPollOn());
  EXPECT_TRUE(ErrorBar().contains(QStringLiteral("\"Poll Interval\""))) << ErrorBar().toStdString();
  EXPECT_EQ(form->SerialPollButton->text(), QStringLiteral("Start Poll"));
  ProcessEventsFor(50);
  EXPECT_EQ(slave.RequestCount(), 0u);
}

TEST_F(SerialWindowTest, LineSettingsComeFromTheListsAndTheSlaveAddressFromItsLowEightBits) {
  slave.SetAddress(44);
  form->SerialSlaveAddressEdit->setText(QStringLiteral("300"));
  form->BaudRateCombo->setCurrentIndex(0);  // "9600"
  form->ParityCombo->setCurrentIndex(1);    // "Odd"
  form->SerialPollButtonClick();
  ASSERT_TRUE(WaitUntilClosed());
  ASSERT_EQ(slave.RequestCount(), 1u);
  EXPECT_EQ(slave.Requests().front().Address, 44);
  EXPECT_EQ(Cell(2, cValue), QStringLiteral("123456"));
  EXPECT_EQ(form->SerialConnection().BaudRate(), br9600);
  EXPECT_EQ(form->SerialConnection().Parity(), psOdd);
  EXPECT_EQ(form->SerialConnection().StopBits(), sb1);
  EXPECT_EQ(form->SerialConnection().Port(), slave.Path());
}

TEST_F(SerialWindowTest, QvztModeDecodesWithByteSequence0123WhateverTheComboShows) {
  // 0x12345678 as its four bytes least significant first: 78 56 34 12.
  slave.SetRegister(0, 0x7856);
  slave.SetRegister(1, 0x3412);
  slave.SetRegister(2, 0x0201);
  form->QvztModeCheckBox->setChecked(true);
  form->Float32CheckBoxClick();
  form->SerialBytesSequenceCombo->setCurrentIndex(BS_3_2_1_0);
  form->SerialPollButtonClick();
  ASSERT_TRUE(WaitUntilClosed());
  ASSERT_EQ(slave.RequestCount(), 1u);
  EXPECT_EQ(slave.Requests().front().Count, 3);
  // The QVZT map has no firmware word to say that the meter answers: every
  // value is shown.
  EXPECT_EQ(Cell(0, cValue), QStringLiteral("305419896"));
  EXPECT_EQ(Cell(1, cValue), QStringLiteral("258"));
}

TEST_F(SerialWindowTest, StoppingLeavesTheQueuedRequestToCompleteAndClose) {
  slave.SetReplyDelay(std::chrono::milliseconds(300));
  form->SerialPollButtonClick();
  form->SerialPollButtonClick();  // stop before the reply
  EXPECT_FALSE(form->SerialPollOn());
  EXPECT_TRUE(PortOpen());
  EXPECT_TRUE(form->SerialPortEdit->isEnabled());
  ASSERT_TRUE(WaitUntilClosed());
  EXPECT_EQ(Cell(2, cValue), QStringLiteral("123456"));
}

TEST_F(SerialWindowTest, MeterInstanceChangeDuringThePollReadsTheNewInstance) {
  slave.SetRegister(1000, 0x0103);
  Put32(slave, 1001, FloatBits(49.5f));
  Put32(slave, 1003, 7);
  slave.SetReplyDelay(std::chrono::milliseconds(200));
  form->SerialPollButtonClick();
  form->MeterInstanceCombo->setCurrentIndex(1);
  form->MeterInstanceComboChange();
  // Both requests are answered and only then is the port closed; the reply
  // for instance 1 is not shown under the addresses of instance 2.
  ASSERT_TRUE(ProcessEventsUntil([this] { return slave.RequestCount() == 2 && !PortOpen(); }));
  EXPECT_EQ(slave.Requests()[0].Start, 0);
  EXPECT_EQ(slave.Requests()[1].Start, 1000);
  EXPECT_EQ(Cell(0, cAddress), QStringLiteral("1000"));
  EXPECT_EQ(Cell(0, cValue), QStringLiteral("259"));
  EXPECT_EQ(Cell(1, cValue), QStringLiteral("49.5"));
  EXPECT_EQ(Cell(2, cValue), QStringLiteral("7"));
}

TEST_F(SerialWindowTest, APortLeftOpenByABroadcastPollIsClosedByTheNextStart) {
  form->SerialSlaveAddressEdit->setText(QStringLiteral("0"));
  form->SerialPollButtonClick();
  ASSERT_TRUE(ProcessEventsUntil([this] { return slave.RequestCount() == 1; }));
  ProcessEventsFor(150);
  EXPECT_TRUE(PortOpen());  // a broadcast gets no reply to close it
  EXPECT_EQ(Cell(0, cValue), QStringLiteral("<N/A>"));
  form->SerialPollButtonClick();

  // Another port and address: the settings apply without an error report.
  TScriptedRtuSlave other;
  other.SetRegister(0, 0x0001);
  form->SerialPortEdit->setText(QString::fromStdString(other.Path()));
  form->SerialSlaveAddressEdit->setText(QStringLiteral("1"));
  form->SerialPollButtonClick();
  ASSERT_TRUE(WaitUntilClosed());
  EXPECT_EQ(other.RequestCount(), 1u);
  EXPECT_EQ(Cell(0, cValue), QStringLiteral("1"));
  EXPECT_TRUE(boxes.Messages.empty());
  form->SerialPollButtonClick();
}

TEST_F(SerialWindowTest, LibraryExceptionReportsReachTheErrorReport) {
  std::thread worker([] {
    MainThread().Post([] {
      HandleApplicationException(std::make_exception_ptr(std::runtime_error("port vanished")));
    });
  });
  worker.join();
  ASSERT_TRUE(ProcessEventsUntil([this] { return !boxes.Messages.empty(); }));
  EXPECT_TRUE(boxes.Messages.front().error);
  EXPECT_EQ(boxes.Messages.front().text, QStringLiteral("port vanished"));
}

}  // namespace
