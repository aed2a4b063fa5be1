// The window's commissioning tools against the simulated meter: the scan on a
// pseudo-terminal, "Rileva" and the "Test" menu over a loopback Modbus TCP
// server that serves the simulator's registers.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <memory>

#include "Form1.h"
#include "GuiTestSupport.h"
#include "LoopbackModbusServer.h"
#include "QtMainThread.h"
#include "ScanDialog.h"
#include "SerialFrontEnd.h"
#include "SerialPortCombo.h"
#include "TestDialog.h"
#include "WindowCommissioning.h"

namespace {

std::vector<TConfigRecord> ShippedMap() {
  TRegisterMap map;
  map.LoadConfig(mpNormal, KQ_MAPS_DIR "/map.cfg", TMapSettings{});
  return map.Regs();
}

TSimTime Moment() {
  TSimTime t;
  t.year = 2026, t.month = 12, t.day = 9, t.hour = 10, t.minute = 20, t.second = 30;
  return t;
}

class Commissioning : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureApplication();
    QFile::copy(QStringLiteral(KQ_MAPS_DIR "/map.cfg"), folder.Path() + QStringLiteral("/map.cfg"));
    form = std::make_unique<TForm1>(boxes);
  }
  // Serves instance 1 of the simulated meter with Sequence on a loopback server.
  void Serve(EByteSequence Sequence) {
    TSimulatedMeterSettings settings;
    settings.byteSequence = Sequence;
    TRegisterBank bank;
    TSimulatedMeter(ShippedMap(), settings).Render(Moment(), bank);
    for (std::uint32_t a = 0; a < 400; ++a)
      server.SetRegister(static_cast<std::uint16_t>(a), bank.Value(static_cast<std::uint16_t>(a)));
    form->edtIPAddress->setText(QStringLiteral("127.0.0.1"));
    form->PortEdit->setText(QString::number(server.Port()));
    // The window remembers the sequence an earlier test detected.
    form->BytesSequenceCombo->setCurrentIndex(BS_1_0_3_2);
  }

  TScratchFolder folder;
  TRecordingMessageBoxes boxes;
  TLoopbackModbusServer server;
  std::unique_ptr<TForm1> form;
};

TEST_F(Commissioning, TheScanFillsTheSerialPanelWithTheMeterChosen) {
  // The simulator's slave reports through the Qt event loop like the window's.
  TQtMainThreadInstallation qtMainThread;
  TSimulatedMeter meter(ShippedMap(), TSimulatedMeterSettings{});
  TSimClock clock(Moment());
  TMeterRegisters registers(meter, clock);
  TSerialSettings line;
  line.slaveAddress = 7;
  TSerialFrontEnd slave(line, registers);
  slave.Open();
  form->SerialPortEdit->setText(QString::fromStdString(slave.Path()));

  form->Commissioning().ExecDialog = [](QDialog& Dialog) {
    auto& scan = static_cast<TScanDialog&>(Dialog);
    EXPECT_TRUE(ProcessEventsUntil([&] { return !scan.Found().empty(); }, 30000));
    EXPECT_TRUE(scan.FoundList->item(0)->text().startsWith(
        QStringLiteral("Indirizzo 7, 9600 baud, parità nessuna, firmware 103")));
    scan.UseClick();
    return 1;
  };
  form->ScanButton->click();
  // A pty answers at any rate, so the first setting tried is the one found.
  EXPECT_EQ(form->SerialSlaveAddressEdit->text(), QStringLiteral("7"));
  EXPECT_EQ(form->SelectedBaudRate(), br9600);
  EXPECT_EQ(form->SelectedParity(), psNone);
}

// Behind a serial device server the scan tries no bit rate or parity of ours: none is named.
TEST(ScanDialogText, ADeviceFoundBehindADeviceServerNamesNoLineSettings) {
  TScanFound found;
  found.Slave = 7;
  found.Firmware = 103;
  found.OverTcp = true;
  EXPECT_EQ(FoundItemText(found), QStringLiteral("Indirizzo 7, firmware 103"));
}

TEST_F(Commissioning, CancelStopsTheScanAndKeepsTheDialogOpenUntilClosed) {
  form->SerialPortEdit->setText(QStringLiteral("/dev/null"));
  form->SerialSlaveAddressEdit->setText(QStringLiteral("3"));
  form->Commissioning().ExecDialog = [](QDialog& Dialog) {
    auto& scan = static_cast<TScanDialog&>(Dialog);
    scan.CancelClick();
    EXPECT_TRUE(ProcessEventsUntil([&] { return scan.Finished(); }, 20000));
    EXPECT_EQ(scan.CancelButton->text(), QStringLiteral("Chiudi"));
    EXPECT_TRUE(scan.CancelButton->isEnabled());
    EXPECT_FALSE(scan.Chosen().has_value());
    return 0;
  };
  form->ScanButton->click();
  EXPECT_EQ(form->SerialSlaveAddressEdit->text(), QStringLiteral("3"))
      << "nothing chosen, nothing changed";
}

TEST_F(Commissioning, RilevaSelectsTheSequenceTheMeterUses) {
  Serve(BS_2_3_0_1);
  form->ErrorPanel->setVisible(true);  // from a cycle that failed before
  form->DetectButton->click();
  ASSERT_TRUE(ProcessEventsUntil([&] { return !boxes.Messages.empty(); }, 20000));
  EXPECT_EQ(form->BytesSequenceCombo->currentIndex(), BS_2_3_0_1);
  EXPECT_EQ(
      boxes.Messages.back().text,
      QStringLiteral("Sequenza Bytes rilevata: 2 - 3 - 0 - 1 (layout 64 bit, punteggio 16/16)."));
  EXPECT_TRUE(form->DetectButton->isEnabled());
  EXPECT_TRUE(form->ErrorPanel->isHidden()) << "the meter answered";
}

TEST_F(Commissioning, TheTestMenuRatesTheMeterAndSavesTheReport) {
  Serve(BS_1_0_3_2);
  folder.Write(QStringLiteral("tight.cfg"),
               {QStringLiteral("1-0:32.7.0|0|100"), QStringLiteral("1-0:14.7.0|45.5|65"),
                QStringLiteral("0-0:1.0.0|1|2")});
  QLocale::setDefault(QLocale(QLocale::Italian, QLocale::Italy));
  form->Commissioning().ExecDialog = [this](QDialog& Dialog) {
    auto& test = static_cast<TTestDialog&>(Dialog);
    test.LimitsFileEdit->setText(QStringLiteral("tight.cfg"));
    test.CyclesSpin->setValue(1);
    test.SiteEdit->setText(QStringLiteral("Cabina 12"));
    test.StartClick();
    EXPECT_TRUE(ProcessEventsUntil([&] { return test.Report().has_value(); }, 20000));
    EXPECT_EQ(test.SummaryLabel->text(),
              QStringLiteral("Non superato: 1 su 3 fuori limite, 1 non lette, in 1 ciclo"));
    EXPECT_EQ(test.ResultGrid->item(0, 7)->text(), QStringLiteral("FUORI LIMITE"));
    EXPECT_EQ(test.ResultGrid->item(1, 7)->text(), QStringLiteral("OK"));
    EXPECT_EQ(test.ResultGrid->item(1, 2)->text(), QStringLiteral("45,5")) << "the locale's comma";
    EXPECT_EQ(test.ResultGrid->item(2, 7)->text(), QStringLiteral("NON LETTO: non numerica"));
    EXPECT_TRUE(test.SaveReport((folder.Path() + QStringLiteral("/report.json")).toStdString()));
    EXPECT_FALSE(test.SaveReport((folder.Path() + QStringLiteral("/report.txt")).toStdString()));
    EXPECT_TRUE(boxes.Messages.back().text.startsWith(QStringLiteral("Report non salvato: ")));
    return 0;
  };
  form->TcpTest1->trigger();
  QLocale::setDefault(QLocale::c());
  QFile report(folder.Path() + QStringLiteral("/report.json"));
  ASSERT_TRUE(report.open(QIODevice::ReadOnly));
  const QByteArray json = report.readAll();
  EXPECT_TRUE(json.contains("\"result\": \"FAIL\""));
  EXPECT_TRUE(json.contains("\"site\": \"Cabina 12\"")) << json.toStdString();
  EXPECT_TRUE(json.contains("\"clock\": \"contatore ")) << "the map has the clock entries";
  // The next test proposes the site again.
  form->Commissioning().ExecDialog = [](QDialog& Dialog) {
    EXPECT_EQ(static_cast<TTestDialog&>(Dialog).SiteEdit->text(), QStringLiteral("Cabina 12"));
    return 0;
  };
  form->TcpTest1->trigger();
}

}  // namespace
