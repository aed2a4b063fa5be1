// The window's register tools against the simulated meter on a serial line:
// "Leggi registri" reads what the map does not name, "Scrivi valore" writes
// a grid entry (and refuses a value its type cannot hold), and "Orologio del
// contatore" reads the frozen clock and sets it to the computer's.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <memory>

#include "ClockDialog.h"
#include "Form1.h"
#include "GuiTestSupport.h"
#include "QtMainThread.h"
#include "RegisterReadDialog.h"
#include "SerialFrontEnd.h"
#include "SerialPortCombo.h"
#include "WindowRegisterTools.h"
#include "WriteValueDialog.h"

namespace {

std::vector<TConfigRecord> ShippedMap() {
  TRegisterMap map;
  map.LoadConfig(mpNormal, KQ_MAPS_DIR "/map.cfg", TMapSettings{});
  return map.Regs();
}

int RowOf(const TForm1& Form, const std::string& Obis) {
  const auto& regs = Form.RegisterMap().Regs();
  for (std::size_t i = 0; i < regs.size(); ++i)
    if (regs[i].obis == Obis) return static_cast<int>(i);
  return -1;
}

}  // namespace

TEST(RegisterTools, ReadWriteAndClockReachTheMeterOverTheSerialPanel) {
  EnsureApplication();
  TScratchFolder folder;
  QFile::copy(QStringLiteral(KQ_MAPS_DIR "/map.cfg"), folder.Path() + QStringLiteral("/map.cfg"));
  TRecordingMessageBoxes boxes;
  TForm1 form(boxes);
  TQtMainThreadInstallation qtMainThread;
  TSimulatedMeter meter(ShippedMap(), TSimulatedMeterSettings{});
  TSimClock clock(*ParseSimTime("2026-12-09T10:20:30"));
  TMeterRegisters registers(meter, clock);
  TSerialFrontEnd slave(TSerialSettings{}, registers);
  slave.Open();
  form.edtIPAddress->setText(QStringLiteral("127.0.0.1"));  // never a real address
  form.SerialPortEdit->setText(QString::fromStdString(slave.Path()));
  form.SerialSlaveAddressEdit->setText(QStringLiteral("1"));
  TWindowRegisterTools& tools = form.RegisterTools();

  tools.ExecDialog = [](QDialog& Dialog) {
    auto& read = static_cast<TRegisterReadDialog&>(Dialog);
    read.ConnectionCombo->setCurrentIndex(1);
    read.StartSpin->setValue(83);
    read.CountSpin->setValue(4);
    read.ReadClick();
    EXPECT_TRUE(ProcessEventsUntil([&] { return read.RowsTable->rowCount() == 4; }, 20000))
        << read.StatusLabel->text().toStdString();
    EXPECT_EQ(read.RowsTable->item(0, 4)->text(), QStringLiteral("20261209"));  // the date, INT32
    EXPECT_TRUE(read.RowsText(QChar('\t')).startsWith(QStringLiteral("Indirizzo\tHex\tU16")));
    return 0;
  };
  tools.ReadRegistersClick();

  tools.ExecDialog = [](QDialog& Dialog) {
    auto& write = static_cast<TWriteValueDialog&>(Dialog);
    write.ConnectionCombo->setCurrentIndex(1);
    write.ValueEdit->setText(QStringLiteral("70000"));
    EXPECT_FALSE(write.WriteButton->isEnabled());
    EXPECT_EQ(write.FrameLabel->text(), QStringLiteral("Valore fuori intervallo per INT16."));
    write.ValueEdit->setText(QStringLiteral("7"));
    EXPECT_TRUE(
        write.FrameLabel->text().startsWith(QStringLiteral("RTU 01 10 00 59 00 01 02 00 07")))
        << write.FrameLabel->text().toStdString();
    write.WriteClick();  // asks for confirmation first
    EXPECT_TRUE(write.Confirming());
    write.WriteClick();
    EXPECT_TRUE(ProcessEventsUntil([&] { return write.Written(); }, 20000))
        << write.StatusLabel->text().toStdString();
    return 0;
  };
  tools.WriteValueClick(RowOf(form, "0-0:96.14.0"));
  registers.Refresh();
  EXPECT_EQ(registers.Value(89), 7);

  tools.ExecDialog = [](QDialog& Dialog) {
    auto& dialog = static_cast<TClockDialog&>(Dialog);
    dialog.ConnectionCombo->setCurrentIndex(1);
    dialog.RefreshClick();
    EXPECT_TRUE(ProcessEventsUntil(
        [&] { return dialog.MeterLabel->text() == QStringLiteral("09/12/2026 10:20:30"); }, 20000))
        << dialog.StatusLabel->text().toStdString();
    dialog.SetClick();
    EXPECT_TRUE(ProcessEventsUntil(
        [&] { return dialog.StatusLabel->text().startsWith(QStringLiteral("Ora impostata")); },
        20000))
        << dialog.StatusLabel->text().toStdString();
    const int difference = dialog.DifferenceLabel->text().section(' ', 0, 0).toInt();
    EXPECT_LE(std::abs(difference), 1);
    return 0;
  };
  tools.MeterClockClick();
}
