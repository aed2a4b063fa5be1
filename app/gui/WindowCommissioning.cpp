#include "WindowCommissioning.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "ByteOrderDetection.h"
#include "Commons.h"
#include "FieldInput.h"
#include "Form1.h"
#include "MessageBoxes.h"
#include "ScanDialog.h"
#include "SerialPortCombo.h"
#include "TestDialog.h"

namespace {

QString ToQ(const std::string& Text) {
  return QString::fromStdString(Text);
}

QString LayoutText(bool Float32) {
  return Float32 ? QStringLiteral("32 bit floating point") : QStringLiteral("64 bit");
}

void SelectItemWithData(QComboBox* Combo, int Value) {
  const int index = Combo->findData(Value);
  if (index >= 0) Combo->setCurrentIndex(index);
}

// What the operator reads after a detection, in the window's language.
QString DetectionText(const TDetectionResult& Result) {
  QString errors;
  for (const std::string& error : Result.LayoutErrors) errors += QStringLiteral("\n") + ToQ(error);
  if (!Result.Found())
    return QStringLiteral("Rilevamento non riuscito: nessuna lettura utilizzabile.") + errors;
  const TDetectionCandidate& best = Result.Winner();
  const QString score = QStringLiteral("%1/%2").arg(best.Score).arg(best.Total);
  if (Result.Ambiguous) {
    QString tied;
    for (const TDetectionCandidate& c : Result.Ranking)
      if (c.Score == best.Score && !tied.contains(ToQ(BYTE_SEQUENCE_NAMES[c.Sequence])))
        tied += (tied.isEmpty() ? QString() : QStringLiteral(", ")) +
                ToQ(BYTE_SEQUENCE_NAMES[c.Sequence]);
    return QStringLiteral(
               "Risultato ambiguo: le sequenze %1 ottengono lo stesso punteggio (%2). "
               "La sequenza non è stata cambiata: confrontare i valori con il display "
               "del contatore.")
        .arg(tied, score);
  }
  QString text = QStringLiteral("Sequenza Bytes rilevata: %1 (layout %2, punteggio %3).")
                     .arg(ToQ(BYTE_SEQUENCE_NAMES[best.Sequence]), LayoutText(best.Float32), score);
  if (best.Score < best.Total) text += QStringLiteral("\nNon tutti i valori sono plausibili.");
  return text + errors;
}

}  // namespace

TWindowCommissioning::TWindowCommissioning(TForm1& Form) : FForm(Form) {
  ExecDialog = [](QDialog& Dialog) { return Dialog.exec(); };
  auto guarded = [this](auto Handler) {
    return [this, Handler] {
      try {
        Handler();
      } catch (const std::exception& error) {
        FForm.ReportError(error);
      }
    };
  };
  connect(FForm.ScanButton, &QPushButton::clicked, this, guarded([this] { ScanClick(); }));
  connect(FForm.DetectButton, &QPushButton::clicked, this, guarded([this] { DetectClick(false); }));
  connect(FForm.SerialDetectButton, &QPushButton::clicked, this,
          guarded([this] { DetectClick(true); }));
  connect(FForm.TcpTest1, &QAction::triggered, this, guarded([this] { TestClick(false); }));
  connect(FForm.SerialTest1, &QAction::triggered, this, guarded([this] { TestClick(true); }));
}

TWindowCommissioning::~TWindowCommissioning() {
  FWorker.Drop();
}

bool TWindowCommissioning::LineFree() {
  if (!FForm.TcpPollOn() && !FForm.SerialPollOn()) return true;
  FForm.MessageBoxes().ShowError(
      &FForm,
      QStringLiteral("Fermare il polling prima di cercare, rilevare o testare il dispositivo."));
  return false;
}

TTcpSourceSettings TWindowCommissioning::TcpSourceSettings() const {
  TTcpSourceSettings settings;
  settings.Host = FForm.edtIPAddress->text().toStdString();
  settings.Port =
      static_cast<std::uint16_t>(FieldPort("Port", FForm.PortEdit->text().toStdString()));
  // A gateway passes the request to the meter the panel's unit id names.
  settings.UnitId = FieldUnitId("Unit ID", FForm.UnitIdEdit->text().toStdString());
  // A window that does not answer within this long is not a meter worth waiting for.
  settings.ReplyTimeoutMs = 3000;
  return settings;
}

TSerialSourceSettings TWindowCommissioning::SerialSourceSettings() const {
  TSerialSourceSettings settings;
  settings.Port = FForm.SerialPortEdit->currentText().toStdString();
  settings.BitRate = BitsPerSecond(FForm.SelectedBaudRate());
  settings.Parity = FForm.SelectedParity();
  settings.Mode = FForm.SelectedMode();
  settings.DataBits = FForm.SelectedDataBits();
  settings.StopBits = FForm.SelectedStopBits();
  settings.Slave =
      FieldSlaveAddress("Slave Address", FForm.SerialSlaveAddressEdit->text().toStdString());
  return settings;
}

void TWindowCommissioning::ScanClick() {
  if (!LineFree()) return;
  TSerialScanSettings settings;
  settings.Port = FForm.SerialPortEdit->currentText().toStdString();
  settings.Mode = FForm.SelectedMode();
  settings.DataBits = FForm.SelectedDataBits();
  settings.StopBits = FForm.SelectedStopBits();
  TScanDialog dialog(settings, &FForm);
  dialog.Start();
  ExecDialog(dialog);
  if (dialog.Chosen()) ApplyFound(*dialog.Chosen());
}

void TWindowCommissioning::ApplyFound(const TScanFound& Found) {
  SelectItemWithData(FForm.BaudRateCombo, static_cast<int>(Found.BaudRate));
  SelectItemWithData(FForm.ParityCombo, static_cast<int>(Found.Parity));
  FForm.SerialSlaveAddressEdit->setText(QString::number(Found.Slave));
}

void TWindowCommissioning::DetectClick(bool Serial) {
  if (FWorker.Busy() || !LineFree()) return;
  if (FForm.QvztModeCheckBox->isChecked()) {
    FForm.MessageBoxes().ShowError(
        &FForm, QStringLiteral("La Modalità QVZT usa sempre la sequenza 0 - 1 - 2 - 3."));
    return;
  }
  const std::vector<TConfigRecord> regs = FForm.RegisterMap().Regs();
  const int meter = FForm.MeterInstanceCombo->currentIndex();
  const EReadFunction function =
      Serial ? FForm.SelectedSerialFunction() : FForm.SelectedTcpFunction();
  std::function<std::unique_ptr<TRegisterSource>()> makeSource;
  if (Serial) {
    makeSource = [settings = SerialSourceSettings()] {
      return std::make_unique<TSerialRegisterSource>(settings);
    };
  } else {
    makeSource = [settings = TcpSourceSettings()] {
      return std::make_unique<TTcpRegisterSource>(settings);
    };
  }
  (Serial ? FForm.SerialDetectButton : FForm.DetectButton)->setEnabled(false);
  FWorker.Start([this, Serial, regs, meter, function, makeSource]() -> TCycleWorker::TContinuation {
    const auto source = makeSource();
    const TDetectionResult result = DetectByteOrder(regs, meter, *source, function);
    return [this, Serial, result] { DetectionDone(Serial, result); };
  });
}

void TWindowCommissioning::DetectionDone(bool Serial, const TDetectionResult& Result) {
  FForm.EvalEnablings();
  // The device answered: a failure the bar still shows from an earlier cycle
  // is over.
  if (Result.Found()) FForm.ErrorPanel->setVisible(false);
  if (Result.Found() && !Result.Ambiguous) {
    QComboBox* combo = Serial ? FForm.SerialBytesSequenceCombo : FForm.BytesSequenceCombo;
    combo->setCurrentIndex(Result.Winner().Sequence);
  }
  FForm.MessageBoxes().ShowMessage(&FForm, DetectionText(Result));
}

void TWindowCommissioning::TestClick(bool Serial) {
  if (!LineFree()) return;
  const bool qvzt = FForm.QvztModeCheckBox->isChecked();
  const bool float32 = FForm.Float32CheckBox->isChecked();
  const int meter = FForm.MeterInstanceCombo->currentIndex();
  const int sequence =
      (Serial ? FForm.SerialBytesSequenceCombo : FForm.BytesSequenceCombo)->currentIndex();

  TWindowTestSetup setup;
  setup.Map = FForm.RegisterMap();
  setup.Run.MeterInstanceIndex = meter;
  setup.Run.Float32 = float32;
  setup.Run.Qvzt = qvzt;
  setup.Run.ByteSequence = ByteSequenceFor(qvzt, sequence);
  setup.Run.Function = Serial ? FForm.SelectedSerialFunction() : FForm.SelectedTcpFunction();
  setup.Report.Meter = ReportMeterText(meter, true);
  setup.Report.Settings = ReportSettingsText(qvzt, setup.Run.ByteSequence, float32, "", true);
  setup.Run.ItalianTexts = true;
  setup.Report.Program = "Test_KQ517T " + GetVersionStr("");
  setup.LimitsFile = LIMITS_FILE;
  if (Serial) {
    const TSerialSourceSettings settings = SerialSourceSettings();
    setup.Report.Connection = DescribeSerialSource(settings);
    setup.MakeSource = [settings] { return std::make_unique<TSerialRegisterSource>(settings); };
  } else {
    const TTcpSourceSettings settings = TcpSourceSettings();
    setup.Report.Connection = DescribeTcpSource(settings);
    setup.MakeSource = [settings] { return std::make_unique<TTcpRegisterSource>(settings); };
  }
  TTestDialog dialog(std::move(setup), FForm.MessageBoxes(), &FForm);
  ExecDialog(dialog);
}
