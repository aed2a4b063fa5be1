#include "ScanDialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "MeterPresence.h"
#include "SerialRegisterSource.h"

namespace {

QString ItalianParity(TParityScheme Parity) {
  switch (Parity) {
    case psEven:
      return QStringLiteral("pari");
    case psOdd:
      return QStringLiteral("dispari");
    case psNone:
      break;
  }
  return QStringLiteral("nessuna");
}

// "19200 baud, parità pari, "; nothing for a device server's stream (tcp://), where the
// server's own line settings rule and the scan tries one combination only.
QString LineText(bool Stream, TBaudRate BaudRate, TParityScheme Parity) {
  if (Stream) return {};
  return QStringLiteral("%1 baud, parità %2, ")
      .arg(BitsPerSecond(BaudRate))
      .arg(ItalianParity(Parity));
}

}  // namespace

QString FoundItemText(const TScanFound& Found) {
  const QString text = QStringLiteral("Indirizzo %1, %2")
                           .arg(Found.Slave)
                           .arg(LineText(Found.OverTcp, Found.BaudRate, Found.Parity));
  if (!Found.Firmware) return text + QStringLiteral("eccezione %1").arg(Found.ExceptionCode);
  if (*Found.Firmware == ABSENT_METER_WORD) return text + QStringLiteral("contatore 1 assente");
  return text + QStringLiteral("firmware %1").arg(*Found.Firmware);
}

TScanDialog::TScanDialog(const TSerialScanSettings& Settings, QWidget* parent)
    : QDialog(parent), FScan(Settings), FPort(Settings.Port) {
  setObjectName(QStringLiteral("ScanDialog"));
  setWindowTitle(QStringLiteral("Cerca dispositivo"));
  setModal(true);
  auto* column = new QVBoxLayout(this);
  StatusLabel = new QLabel(this);
  StatusLabel->setObjectName(QStringLiteral("StatusLabel"));
  ScanProgress = new QProgressBar(this);
  ScanProgress->setObjectName(QStringLiteral("ScanProgress"));
  ScanProgress->setRange(0, std::max(1, FScan.TotalTries()));
  ScanProgress->setValue(0);
  FoundList = new QListWidget(this);
  FoundList->setObjectName(QStringLiteral("FoundList"));
  UseButton = new QPushButton(QStringLiteral("Usa"), this);
  UseButton->setObjectName(QStringLiteral("UseButton"));
  UseButton->setEnabled(false);
  CancelButton = new QPushButton(QStringLiteral("Annulla"), this);
  CancelButton->setObjectName(QStringLiteral("CancelButton"));
  column->addWidget(StatusLabel);
  column->addWidget(ScanProgress);
  column->addWidget(new QLabel(QStringLiteral("Dispositivi trovati:"), this));
  column->addWidget(FoundList, 1);
  auto* buttons = new QHBoxLayout();
  buttons->addStretch(1);
  buttons->addWidget(UseButton);
  buttons->addWidget(CancelButton);
  column->addLayout(buttons);
  resize(420, 300);

  connect(CancelButton, &QPushButton::clicked, this, [this] { CancelClick(); });
  connect(UseButton, &QPushButton::clicked, this, [this] { UseClick(); });
  connect(FoundList, &QListWidget::currentRowChanged, this,
          [this](int Row) { UseButton->setEnabled(Row >= 0); });
  connect(FoundList, &QListWidget::itemDoubleClicked, this, [this] { UseClick(); });

  // Everything the scan reports reaches the dialog as a queued call on the
  // GUI thread; calls still queued when the dialog goes are dropped with it.
  FScan.OnProgress = [this](const TScanProgress& Progress) {
    QMetaObject::invokeMethod(
        this, [this, Progress] { this->Progress(Progress); }, Qt::QueuedConnection);
  };
  FScan.OnFound = [this](const TScanFound& Found) {
    QMetaObject::invokeMethod(
        this, [this, Found] { Add(Found); }, Qt::QueuedConnection);
  };
}

TScanDialog::~TScanDialog() {
  FScan.RequestStop();
  if (FThread.joinable()) FThread.join();
}

void TScanDialog::Start() {
  if (FThread.joinable()) return;
  StatusLabel->setText(QStringLiteral("Ricerca su %1...").arg(QString::fromStdString(FPort)));
  FThread = std::thread([this] {
    const TScanResult result = FScan.Run();
    QMetaObject::invokeMethod(
        this, [this, result] { Done(result); }, Qt::QueuedConnection);
  });
}

void TScanDialog::Progress(const TScanProgress& Progress) {
  if (FFinished) return;
  ScanProgress->setValue(Progress.Done);
  StatusLabel->setText(QStringLiteral("Ricerca su %1: %2indirizzo %3")
                           .arg(QString::fromStdString(FPort),
                                LineText(FScan.OverTcp(), Progress.BaudRate, Progress.Parity))
                           .arg(Progress.Slave));
}

void TScanDialog::Add(const TScanFound& Found) {
  FFound.push_back(Found);
  FoundList->addItem(FoundItemText(Found));
  if (FoundList->currentRow() < 0) FoundList->setCurrentRow(0);
}

void TScanDialog::Done(const TScanResult& Result) {
  FFinished = true;
  if (FThread.joinable()) FThread.join();
  // Whatever was found is on its way in queued calls ahead of this one.
  if (!Result.Error.empty())
    StatusLabel->setText(
        QStringLiteral("Porta non utilizzabile: %1").arg(QString::fromStdString(Result.Error)));
  else if (Result.Stopped)
    StatusLabel->setText(
        QStringLiteral("Ricerca interrotta: %1 dispositivi trovati").arg(FFound.size()));
  else
    StatusLabel->setText(
        QStringLiteral("Ricerca completata: %1 dispositivi trovati").arg(FFound.size()));
  if (!Result.Stopped && Result.Error.empty()) ScanProgress->setValue(ScanProgress->maximum());
  CancelButton->setText(QStringLiteral("Chiudi"));
  CancelButton->setEnabled(true);
}

void TScanDialog::CancelClick() {
  if (!FFinished && FThread.joinable()) {
    FScan.RequestStop();
    CancelButton->setEnabled(false);
    return;  // Done() re-enables it as "Chiudi"
  }
  reject();
}

void TScanDialog::UseClick() {
  const int row = FoundList->currentRow();
  if (row < 0 || row >= static_cast<int>(FFound.size())) return;
  FScan.RequestStop();
  FChosen = FFound[static_cast<std::size_t>(row)];
  accept();
}
