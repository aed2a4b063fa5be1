// Takes the README's pictures of the register tools: "Leggi registri",
// "Scrivi valore" and "Orologio del contatore", each against the simulated
// meter on a pseudo-terminal (clock frozen at 2026-12-09 10:20:30). Run from
// a folder holding map.cfg, on a display (docs/make-tools-screenshots.sh uses
// Xvfb):  gui_register_tools_screenshot READ.png WRITE.png CLOCK.png

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QSpinBox>
#include <QTableWidget>
#include <cstdio>

#include "CarbonStyle.h"
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

bool Save(QWidget& Dialog, const char* File) {
  Dialog.show();
  ProcessEventsUntil([] { return false; }, 300);
  const bool saved = Dialog.grab().save(QString::fromLocal8Bit(File));
  if (!saved) std::fprintf(stderr, "cannot write %s\n", File);
  return saved;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s READ.png WRITE.png CLOCK.png\n", argv[0]);
    return 2;
  }
  QApplication app(argc, argv);
  ApplyVisualStyle(app, DEFAULT_VISUAL_STYLE);
  TRecordingMessageBoxes boxes;
  TForm1 form(boxes);
  TQtMainThreadInstallation qtMainThread;
  TRegisterMap map;
  map.LoadConfig(mpNormal, "map.cfg", TMapSettings{});
  TSimulatedMeter meter(map.Regs(), TSimulatedMeterSettings{});
  TSimClock clock(*ParseSimTime("2026-12-09T10:20:30"));
  TMeterRegisters registers(meter, clock);
  TSerialFrontEnd slave(TSerialSettings{}, registers);
  slave.Open();
  form.edtIPAddress->setText(QStringLiteral("127.0.0.1"));
  form.SerialPortEdit->setText(QString::fromStdString(slave.Path()));
  form.SerialSlaveAddressEdit->setText(QStringLiteral("1"));
  TWindowRegisterTools& tools = form.RegisterTools();
  bool ok = true;

  TRegisterReadDialog read(tools.Connections(), &form);
  read.ConnectionCombo->setCurrentIndex(1);
  read.StartSpin->setValue(77);
  read.CountSpin->setValue(12);
  read.ReadClick();
  ProcessEventsUntil([&] { return read.RowsTable->rowCount() == 12; }, 10000);
  read.RowsTable->resizeColumnsToContents();
  ok &= Save(read, argv[1]);

  TWriteTarget target;
  target.Address = 1;
  target.Type = eDouble;
  target.Description = QStringLiteral("1-0:32.7.0");
  TWriteValueDialog write(tools.Connections(), target, &form);
  write.ConnectionCombo->setCurrentIndex(1);
  write.ValueEdit->setText(QStringLiteral("230,5"));
  write.WriteClick();  // the confirmation step, nothing sent
  ok &= Save(write, argv[2]);

  TClockLayout layout = *FindClock(map.Regs(), TMapSettings{});
  TClockDialog clockDialog(tools.Connections(), layout, &form);
  clockDialog.ConnectionCombo->setCurrentIndex(1);
  clockDialog.RefreshClick();
  ProcessEventsUntil([&] { return clockDialog.MeterLabel->text() != QStringLiteral("-"); }, 10000);
  clockDialog.RefreshTimer.stop();
  ok &= Save(clockDialog, argv[3]);
  return ok ? 0 : 1;
}
