#include "WindowRegisterTools.h"

#include <QCheckBox>
#include <QComboBox>
#include <QMenu>
#include <QMenuBar>
#include <QTableWidget>

#include "ClockDialog.h"
#include "Form1.h"
#include "MessageBoxes.h"
#include "RegisterReadDialog.h"
#include "SerialRegisterSource.h"
#include "TcpRegisterSource.h"
#include "WindowCommissioning.h"
#include "WriteValueDialog.h"

TWindowRegisterTools::TWindowRegisterTools(TForm1& Form) : FForm(Form) {
  ExecDialog = [](QDialog& Dialog) { return Dialog.exec(); };
  Tools1 = new QMenu(QStringLiteral("&Strumenti"), &FForm);
  Tools1->setObjectName(QStringLiteral("Tools1"));
  FForm.menuBar()->insertMenu(FForm.Help1->menuAction(), Tools1);
  ReadRegisters1 = Tools1->addAction(QStringLiteral("&Leggi registri..."));
  ReadRegisters1->setObjectName(QStringLiteral("ReadRegisters1"));
  MeterClock1 = Tools1->addAction(QStringLiteral("&Orologio del contatore..."));
  MeterClock1->setObjectName(QStringLiteral("MeterClock1"));
  const auto guarded = [this](auto Handler) {
    return [this, Handler] {
      try {
        Handler();
      } catch (const std::exception& error) {
        FForm.ReportError(error);
      }
    };
  };
  connect(ReadRegisters1, &QAction::triggered, this, guarded([this] { ReadRegistersClick(); }));
  connect(MeterClock1, &QAction::triggered, this, guarded([this] { MeterClockClick(); }));
  FForm.MBGrid->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(FForm.MBGrid, &QWidget::customContextMenuRequested, this,
          [this, guarded](const QPoint& At) { guarded([this, At] { GridMenu(At); })(); });
}

TToolConnections TWindowRegisterTools::Connections() const {
  TWindowCommissioning& settings = FForm.Commissioning();
  const bool qvzt = FForm.QvztModeCheckBox->isChecked();
  TToolConnections connections;
  const TTcpSourceSettings tcp = settings.TcpSourceSettings();
  connections.Tcp.MakeSource = [tcp] { return std::make_unique<TTcpRegisterSource>(tcp); };
  connections.Tcp.Sequence = ByteSequenceFor(qvzt, FForm.BytesSequenceCombo->currentIndex());
  connections.Tcp.PollOn = [this] { return FForm.TcpPollOn(); };
  connections.Tcp.Address = tcp.UnitId;
  const TSerialSourceSettings serial = settings.SerialSourceSettings();
  connections.Serial.MakeSource = [serial] {
    return std::make_unique<TSerialRegisterSource>(serial);
  };
  connections.Serial.Sequence =
      ByteSequenceFor(qvzt, FForm.SerialBytesSequenceCombo->currentIndex());
  connections.Serial.PollOn = [this] { return FForm.SerialPollOn(); };
  connections.Serial.Serial = true;
  connections.Serial.Address = serial.Slave;
  return connections;
}

void TWindowRegisterTools::ReadRegistersClick() {
  TRegisterReadDialog dialog(Connections(), &FForm);
  ExecDialog(dialog);
}

void TWindowRegisterTools::MeterClockClick() {
  const auto layout = FindClock(
      FForm.RegisterMap().Regs(),
      TMapSettings{FForm.Float32CheckBox->isChecked(), FForm.MeterInstanceCombo->currentIndex()});
  if (!layout) {
    FForm.MessageBoxes().ShowError(
        &FForm, QStringLiteral("La mappa non ha l'orologio: servono una data e un'ora con "
                               "codice OBIS 0-0:1.0.0."));
    return;
  }
  TClockDialog dialog(Connections(), *layout, &FForm);
  ExecDialog(dialog);
}

void TWindowRegisterTools::WriteValueClick(int Row) {
  const auto& regs = FForm.RegisterMap().Regs();
  if (Row < 0 || Row >= static_cast<int>(regs.size())) return;
  const TConfigRecord& entry = regs[static_cast<std::size_t>(Row)];
  const bool float32 = FForm.Float32CheckBox->isChecked();
  if (entry.regType == eTimeStamp12) {
    FForm.MessageBoxes().ShowError(&FForm, QStringLiteral("Le voci TS96 non si possono scrivere."));
    return;
  }
  // The entry's register: where the map puts it at the window's meter and layout.
  std::uint32_t address =
      BaseAddressFor(TMapSettings{float32, FForm.MeterInstanceCombo->currentIndex()});
  for (int i = 0; i < Row; ++i)
    address += static_cast<std::uint32_t>(
        RegisterWidth(regs[static_cast<std::size_t>(i)].regType, float32));
  if (address > 65535u) return;
  TWriteTarget target;
  target.Address = static_cast<std::uint16_t>(address);
  target.Type = entry.regType;
  target.Float32 = float32;
  target.Description = QString::fromStdString(entry.obis.empty() ? entry.desc : entry.obis);
  TWriteValueDialog dialog(Connections(), target, &FForm);
  dialog.ConnectionCombo->setCurrentIndex(FForm.SerialPollOn() && !FForm.TcpPollOn() ? 1 : 0);
  ExecDialog(dialog);
}

void TWindowRegisterTools::GridMenu(const QPoint& At) {
  const int row = FForm.MBGrid->rowAt(At.y());
  if (row < 0) return;
  QMenu menu(FForm.MBGrid);
  QAction* write = menu.addAction(QStringLiteral("Scrivi valore..."));
  if (menu.exec(FForm.MBGrid->viewport()->mapToGlobal(At)) == write) WriteValueClick(row);
}
