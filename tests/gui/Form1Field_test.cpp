// The window as a technician uses it: a device that holds a request, settings
// that outlive the window, the command line, and what the window looks like.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTableWidget>
#include <chrono>
#include <memory>

#include "BusyBar.h"
#include "Form1.h"
#include "GuiTestSupport.h"
#include "LoopbackModbusServer.h"
#include "SerialPortCombo.h"
#include "WindowCommandLine.h"
#include "WindowSettings.h"

namespace {

using TAction = TLoopbackModbusServer::TAction;
using TReply = TLoopbackModbusServer::TReply;

class Form1FieldTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureApplication();
    QLocale::setDefault(QLocale::c());
    OpenWindowSettings()->clear();
    Folder.Write(QStringLiteral("map.cfg"), {QStringLiteral("1-0:32.7.0|F|Tensione L1 (V)")});
    Folder.Write(QStringLiteral("qvztmap.cfg"), {QStringLiteral("1-0:1.8.0|I|Energia QVZT")});
  }
  void CreateForm() {
    Form = std::make_unique<TForm1>(Boxes);
    Form->edtIPAddress->setText(QStringLiteral("127.0.0.1"));
    Form->PortEdit->setText(QString::number(Server.Port()));
  }
  QString Value(int row) const { return Form->MBGrid->item(row, 3)->text(); }
  bool RequestArrived(std::size_t count) {
    return ProcessEventsUntil([&] { return Server.Requests().size() >= count; });
  }

  TScratchFolder Folder;
  TRecordingMessageBoxes Boxes;
  TLoopbackModbusServer Server;
  std::unique_ptr<TForm1> Form;
};

// While a device holds a request the window goes on, skips the ticks that
// fall due, stops at once without hearing the late reply, and closes at once.
TEST_F(Form1FieldTest, SilentDeviceNeverHoldsTheWindow) {
  Server.SetScript([](const auto&, int) { return TReply{TAction::Silent}; });
  CreateForm();
  Form->TimeoutEdit->setText(QStringLiteral("0.4"));
  Form->PollButtonClick();
  ASSERT_TRUE(RequestArrived(1));
  EXPECT_TRUE(Form->TcpCycleRunning());
  Form->PollTimerTimer();
  ProcessEventsFor(50);
  EXPECT_EQ(Server.Requests().size(), 1u) << "a tick due while a cycle runs is skipped";

  Form->PollButtonClick();
  EXPECT_FALSE(Form->TcpPollOn());
  ASSERT_TRUE(ProcessEventsUntil([&] { return !Form->TcpCycleRunning(); }));
  EXPECT_TRUE(Form->ErrorPanel->isHidden()) << "the late result of a stopped poll is dropped";
  EXPECT_EQ(Value(1), QStringLiteral("<N/A>"));

  Form->TimeoutEdit->setText(QStringLiteral("15"));
  Form->PollButtonClick();
  ASSERT_TRUE(RequestArrived(2));
  const auto before = std::chrono::steady_clock::now();
  Form.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1));
  Server.DropClient();  // the abandoned cycle ends, touching nothing of the window
  ProcessEventsFor(100);
}

TEST_F(Form1FieldTest, EverySettingIsRememberedForTheNextStart) {
  CreateForm();
  Form->SerialPortEdit->setText(QStringLiteral("/dev/ttyUSB3"));
  Form->PollIntervalEdit->setText(QStringLiteral("0.5"));
  Form->SerialPollIntervalEdit->setText(QStringLiteral("3"));
  Form->SerialSlaveAddressEdit->setText(QStringLiteral("7"));
  Form->UnitIdEdit->setText(QStringLiteral("9"));
  Form->TimeoutEdit->setText(QStringLiteral("30"));
  for (QComboBox* combo :
       {Form->BaudRateCombo, Form->ParityCombo, Form->MeterInstanceCombo, Form->BytesSequenceCombo,
        Form->SerialBytesSequenceCombo, Form->ModeCombo, Form->DataBitsCombo, Form->StopBitsCombo,
        Form->SerialFunctionCombo, Form->TcpFunctionCombo})
    combo->setCurrentIndex(1);
  Form->Float32CheckBox->setChecked(true);
  Form->chkLeaveConnectionOpen->setChecked(true);
  Form->chkFrameEndByLength->setChecked(true);
  Form->resize(1200, 700);
  const QString port = Form->PortEdit->text();
  Form.reset();

  Form = std::make_unique<TForm1>(Boxes);
  EXPECT_EQ(Form->edtIPAddress->text(), QStringLiteral("127.0.0.1"));
  EXPECT_EQ(Form->PortEdit->text(), port);
  EXPECT_EQ(Form->SerialPortEdit->text(), QStringLiteral("/dev/ttyUSB3"));
  EXPECT_EQ(Form->PollIntervalEdit->text(), QStringLiteral("0.5"));
  EXPECT_EQ(Form->SerialPollIntervalEdit->text(), QStringLiteral("3"));
  EXPECT_EQ(Form->SerialSlaveAddressEdit->text(), QStringLiteral("7"));
  EXPECT_EQ(Form->UnitIdEdit->text(), QStringLiteral("9"));
  EXPECT_EQ(Form->TimeoutEdit->text(), QStringLiteral("30"));
  for (QComboBox* combo :
       {Form->BaudRateCombo, Form->ParityCombo, Form->MeterInstanceCombo, Form->BytesSequenceCombo,
        Form->SerialBytesSequenceCombo, Form->ModeCombo, Form->DataBitsCombo, Form->StopBitsCombo,
        Form->SerialFunctionCombo, Form->TcpFunctionCombo})
    EXPECT_EQ(combo->currentIndex(), 1) << combo->objectName().toStdString();
  EXPECT_TRUE(Form->Float32CheckBox->isChecked());
  EXPECT_TRUE(Form->chkLeaveConnectionOpen->isChecked());
  EXPECT_TRUE(Form->chkFrameEndByLength->isChecked());
  EXPECT_EQ(Form->size(), QSize(1200, 700));
  // The map follows the restored options: instance 2, 32-bit float layout.
  EXPECT_EQ(Form->MBGrid->item(0, 0)->text(), QStringLiteral("1200"));
  EXPECT_EQ(Form->MBGrid->item(1, 1)->text(), QStringLiteral("FLOAT32"));

  // QVZT comes back as a mode, not just a ticked box.
  Form->QvztModeCheckBox->setChecked(true);
  Form.reset();
  Form = std::make_unique<TForm1>(Boxes);
  EXPECT_TRUE(Form->Float32CheckBox->isHidden());
  EXPECT_EQ(Form->MBGrid->rowCount(), 1);
}

struct TCommandLineRow {
  QStringList Arguments;
  bool Valid;
  QString Host, Port, Serial;
};

TEST_F(Form1FieldTest, CommandLineFillsThePanelAndStartsItsPoll) {
  const TCommandLineRow rows[] = {
      {{"--tcp", "10.0.0.7"}, true, "10.0.0.7", "", ""},
      {{"--tcp", "127.0.0.1:1502"}, true, "127.0.0.1", "1502", ""},
      {{"--tcp", "[::1]:1502"}, true, "::1", "1502", ""},
      {{"--tcp", "fe80::1"}, true, "fe80::1", "", ""},
      {{"--serial", "/dev/ttyUSB0", "--start"}, true, "", "", "/dev/ttyUSB0"},
      {{"--tcp", "host:99999"}, false, "", "", ""},
      {{"--tcp", "[::1"}, false, "", "", ""},
      {{"--start"}, false, "", "", ""},
      {{"--tcp", "h", "--serial", "p", "--start"}, false, "", "", ""},
      {{"--bogus"}, false, "", "", ""}};
  for (const TCommandLineRow& row : rows) {
    TWindowCommandLine parsed;
    QString error;
    const bool valid = ParseWindowCommandLine(
        QStringList{QStringLiteral("Test_KQ517T")} + row.Arguments, parsed, error);
    const std::string name = row.Arguments.join(QLatin1Char(' ')).toStdString();
    ASSERT_EQ(valid, row.Valid) << name << ": " << error.toStdString();
    if (!valid) {
      EXPECT_FALSE(error.isEmpty()) << name;
      continue;
    }
    EXPECT_EQ(parsed.TcpHost, row.Host) << name;
    EXPECT_EQ(parsed.TcpPort, row.Port) << name;
    EXPECT_EQ(parsed.SerialPort, row.Serial) << name;
  }

  CreateForm();
  TWindowCommandLine commandLine;
  QString error;
  ASSERT_TRUE(ParseWindowCommandLine(
      {QStringLiteral("Test_KQ517T"), QStringLiteral("--tcp"),
       QStringLiteral("127.0.0.1:%1").arg(Server.Port()), QStringLiteral("--start")},
      commandLine, error));
  Form->PortEdit->setText(QStringLiteral("502"));
  ApplyWindowCommandLine(*Form, commandLine);
  EXPECT_EQ(Form->PortEdit->text(), QString::number(Server.Port()));
  ASSERT_TRUE(RequestArrived(1)) << "--start presses the TCP panel's Start Poll";
  EXPECT_TRUE(Form->TcpPollOn());
  ASSERT_TRUE(ProcessEventsUntil([&] { return Value(1) != QStringLiteral("<N/A>"); }));
  Form->PollButtonClick();
}

TEST_F(Form1FieldTest, BracketedIPv6AddressIsReachedOverIPv6) {
  TLoopbackModbusServer server6(AF_INET6);
  CreateForm();
  TWindowCommandLine commandLine;
  QString error;
  ASSERT_TRUE(ParseWindowCommandLine({QStringLiteral("Test_KQ517T"), QStringLiteral("--tcp"),
                                      QStringLiteral("[::1]:%1").arg(server6.Port())},
                                     commandLine, error));
  ApplyWindowCommandLine(*Form, commandLine);
  Form->PollButtonClick();
  ASSERT_TRUE(ProcessEventsUntil([&] { return !Form->TcpCycleRunning(); }));
  EXPECT_EQ(server6.Requests().size(), 1u) << Form->ErrorPanel->text().toStdString();
  Form->PollButtonClick();
}

TEST_F(Form1FieldTest, LookAndFeel) {
  // No application display name: Qt would append it to every title.
  EXPECT_EQ(QGuiApplication::applicationDisplayName(), QCoreApplication::applicationName());
  CreateForm();
  Form->show();
  ProcessEventsFor(50);

  // "Indirizzo" fits its column; the grid and its last column grow with the window.
  const QHeaderView* header = Form->MBGrid->horizontalHeader();
  EXPECT_GE(Form->MBGrid->columnWidth(0),
            header->fontMetrics().horizontalAdvance(QStringLiteral("Indirizzo")) + 8);
  // Once the grid holds every column (the settings column takes some of the
  // first width), the last column takes whatever the window gains.
  Form->resize(Form->width() + 200, Form->height());
  ProcessEventsFor(50);
  const int gridWidth = Form->MBGrid->width();
  const int lastColumn = Form->MBGrid->columnWidth(5);
  Form->resize(Form->width() + 200, Form->height() + 100);
  ProcessEventsFor(50);
  EXPECT_EQ(Form->MBGrid->width(), gridWidth + 200);
  EXPECT_EQ(Form->MBGrid->columnWidth(5), lastColumn + 200);
  EXPECT_EQ(header->sectionResizeMode(2), QHeaderView::Interactive);

  // The busy bar keeps its room while hidden: the TCP panel does not move.
  const int panelTop = Form->Panel1->y();
  Form->PollButtonClick();
  ProcessEventsFor(50);
  EXPECT_TRUE(Form->ProgressBar1->isVisible());
  EXPECT_TRUE(Form->ProgressBar1->Busy());
  EXPECT_EQ(Form->Panel1->y(), panelTop);
  Form->PollButtonClick();
  EXPECT_FALSE(Form->ProgressBar1->Busy());
  ProcessEventsUntil([&] { return !Form->TcpCycleRunning(); });
}

// Under the Carbon style a checked box that is disabled (the TCP panel's
// "Leave Connection Open" during a poll) still shows its check.
TEST_F(Form1FieldTest, CheckedDisabledBoxStillLooksChecked) {
  const QString previous = qApp->styleSheet();
  QFile sheet(QStringLiteral(":/styles/Carbon.qss"));
  ASSERT_TRUE(sheet.open(QIODevice::ReadOnly));
  qApp->setStyleSheet(QString::fromUtf8(sheet.readAll()));
  auto indicator = [](bool checked) {
    QCheckBox box(QStringLiteral("x"));
    box.setChecked(checked);
    box.setEnabled(false);
    box.resize(60, 20);
    const QImage image = box.grab().toImage();
    return image.pixelColor(7, image.height() / 2);
  };
  const QColor checked = indicator(true);
  const QColor unchecked = indicator(false);
  qApp->setStyleSheet(previous);
  EXPECT_NE(checked, unchecked) << checked.name().toStdString();
}

}  // namespace
