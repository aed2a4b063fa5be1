// The window reaching a meter behind a serial device server and an ASCII
// meter on a pseudo-terminal, both served by kq517sim: with function 4 the
// serial panel shows what the TCP panel shows, and the server's port is
// offered again at the next start.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>
#include <filesystem>
#include <memory>

#include "ChildProgram.h"
#include "Form1.h"
#include "GuiTestSupport.h"
#include "ModbusConnection.h"
#include "QtMainThread.h"
#include "SerialCollectionCycle.h"
#include "SerialPortCombo.h"
#include "WindowSettings.h"

namespace {

const std::string SIM = KQ517SIM;

// The simulator's own map, so that the window reads the layout it serves.
QStringList SimulatorMap() {
  QFile file(QString::fromStdString((std::filesystem::path(SIM).parent_path() / "map.cfg")));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
}

QStringList Values(const TForm1& form) {
  QStringList values;
  for (int row = 0; row < form.MBGrid->rowCount(); ++row)
    values << form.MBGrid->item(row, 3)->text();
  return values;
}

TEST(SerialServerWindow, ReadsWhatTheTcpPanelReadsAndOffersTheServerAgain) {
  EnsureApplication();
  OpenWindowSettings()->clear();
  TScratchFolder folder;
  const QStringList map = SimulatorMap();
  ASSERT_GT(map.size(), 3) << "no map.cfg beside " << SIM;
  folder.Write(QStringLiteral("map.cfg"), map);
  TServerProgram sim({SIM, "--tcp", "127.0.0.1:0", "--rtu-over-tcp", "127.0.0.1:0", "--mode",
                      "ascii", "--data-bits", "7", "--parity", "even", "--stop-bits", "2",
                      "--clock", "2026-12-08T10:20:30"},
                     std::filesystem::path(SIM).parent_path());
  const std::string tcpPort = sim.WaitForLine("kq517sim: Modbus TCP on 127.0.0.1:");
  const std::string overTcp = sim.WaitForLine("kq517sim: Modbus ASCII over TCP on 127.0.0.1:");
  const std::string pty = sim.WaitForLine("kq517sim: Modbus ASCII on ");
  ASSERT_FALSE(tcpPort.empty() || overTcp.empty() || pty.empty()) << "the simulator did not start";
  const QString server = QStringLiteral("tcp://127.0.0.1:") +
                         QString::fromStdString(overTcp.substr(0, overTcp.find(' ')));

  TRecordingMessageBoxes boxes;
  TQtMainThreadInstallation mainThread;
  auto form = std::make_unique<TForm1>(boxes);
  QString error;
  int cycles = 0;
  QObject::connect(form.get(), &TForm1::CycleCompleted, [&](bool ok, const QString& text) {
    error = ok ? QString() : text;
    ++cycles;
  });

  form->edtIPAddress->setText(QStringLiteral("127.0.0.1"));
  form->PortEdit->setText(QString::fromStdString(tcpPort));
  form->PollIntervalEdit->setText(QStringLiteral("0"));
  form->TcpFunctionCombo->setCurrentIndex(1);  // 04 Input
  form->PollButtonClick();
  ASSERT_TRUE(ProcessEventsUntil([&] { return cycles == 1; }));
  form->PollButtonClick();
  ASSERT_TRUE(error.isEmpty()) << error.toStdString();
  const QStringList overModbusTcp = Values(*form);
  ASSERT_EQ(overModbusTcp.at(0), QStringLiteral("103"));

  form->SerialPollIntervalEdit->setText(QStringLiteral("0"));
  form->ModeCombo->setCurrentIndex(1);            // ASCII
  form->DataBitsCombo->setCurrentIndex(1);        // 7
  form->ParityCombo->setCurrentIndex(0);          // Even
  form->StopBitsCombo->setCurrentIndex(1);        // 2
  form->SerialFunctionCombo->setCurrentIndex(1);  // 04 Input
  for (const QString& port : {server, QString::fromStdString(pty.substr(0, pty.find(' ')))}) {
    SCOPED_TRACE(port.toStdString());
    form->SerialPortEdit->setText(port);
    const bool stream = port == server;
    // The line settings of a serial device server are its own.
    EXPECT_EQ(form->BaudRateCombo->isEnabled(), !stream);
    EXPECT_EQ(form->StopBitsCombo->isEnabled(), !stream);
    // Only a stream can stay open between cycles.
    EXPECT_EQ(form->chkSerialLeaveOpen->isEnabled(), stream);
    const int before = cycles;
    form->SerialPollButtonClick();
    ASSERT_TRUE(ProcessEventsUntil(
        [&] { return cycles > before && !form->SerialConnection().Active(); }, 10000));
    form->SerialPollButtonClick();
    EXPECT_TRUE(error.isEmpty()) << error.toStdString();
    EXPECT_EQ(Values(*form), overModbusTcp);
  }
  form->SerialPortEdit->setText(server);
  form->chkSerialLeaveOpen->setChecked(true);
  EXPECT_TRUE(form->SerialCycleSettings().LeaveStreamOpen);

  form.reset();
  form = std::make_unique<TForm1>(boxes);
  EXPECT_EQ(form->SerialPortEdit->RecentPorts(), QStringList{server});
  EXPECT_GE(form->SerialPortEdit->findText(server), 0);
  EXPECT_EQ(form->SerialFunctionCombo->currentIndex(), 1);
  EXPECT_TRUE(form->chkSerialLeaveOpen->isChecked());
}

}  // namespace
