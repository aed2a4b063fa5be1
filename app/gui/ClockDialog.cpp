#include "ClockDialog.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>

namespace {

QString Italian(TLocalSeconds Seconds) {
  const auto [date, time] = PackedDateTime(Seconds);
  return QStringLiteral("%1/%2/%3 %4:%5:%6")
      .arg(date % 100, 2, 10, QChar('0'))
      .arg(date / 100 % 100, 2, 10, QChar('0'))
      .arg(date / 10000, 4, 10, QChar('0'))
      .arg(time / 10000, 2, 10, QChar('0'))
      .arg(time / 100 % 100, 2, 10, QChar('0'))
      .arg(time % 100, 2, 10, QChar('0'));
}

}  // namespace

TClockDialog::TClockDialog(TToolConnections Connections, const TClockLayout& Layout,
                           QWidget* parent)
    : TRegisterToolDialog(Connections, QStringLiteral("Orologio del contatore"), parent),
      FLayout(Layout) {
  auto* form = new QFormLayout;
  MeterLabel = new QLabel(QStringLiteral("-"), this);
  ComputerLabel = new QLabel(QStringLiteral("-"), this);
  DifferenceLabel = new QLabel(QStringLiteral("-"), this);
  QFont big = MeterLabel->font();
  big.setPointSizeF(big.pointSizeF() * 1.4);
  for (QLabel* label : {MeterLabel, ComputerLabel, DifferenceLabel}) label->setFont(big);
  form->addRow(QStringLiteral("Contatore:"), MeterLabel);
  form->addRow(QStringLiteral("PC:"), ComputerLabel);
  form->addRow(QStringLiteral("Differenza:"), DifferenceLabel);
  Body()->addLayout(form);
  SetButton = new QPushButton(QStringLiteral("Imposta ora del PC"), this);
  Body()->addWidget(SetButton);
  setMinimumWidth(420);

  connect(SetButton, &QPushButton::clicked, this, [this] { SetClick(); });
  connect(&RefreshTimer, &QTimer::timeout, this, [this] { RefreshClick(); });
  RefreshTimer.setInterval(1000);
}

void TClockDialog::showEvent(QShowEvent* Event) {
  TRegisterToolDialog::showEvent(Event);
  RefreshTimer.start();
  RefreshClick();
}

void TClockDialog::RefreshClick() {
  if (Busy()) return;
  const TClockLayout layout = FLayout;
  const EByteSequence sequence = Connection().Sequence;
  RunExchange([this, layout, sequence](TRegisterSource& Source) -> TCycleWorker::TContinuation {
    const TClockReading reading = ReadMeterClock(Source, layout, sequence);
    return [this, reading] { ShowReading(reading); };
  });
}

void TClockDialog::SetClick() {
  const TClockLayout layout = FLayout;
  const EByteSequence sequence = Connection().Sequence;
  RunExchange([this, layout, sequence](TRegisterSource& Source) -> TCycleWorker::TContinuation {
    TRegisterWrite write;
    write.Ok = true;
    for (const auto& [start, words] : ClockWrites(layout, ComputerLocalSeconds(), sequence)) {
      write = Source.Write(start, words, false);
      if (!write.Ok) break;
    }
    const TClockReading reading = ReadMeterClock(Source, layout, sequence);
    return [this, write, reading] {
      ShowReading(reading);
      if (!write.Ok)
        StatusLabel->setText(WriteOutcomeText(write));
      else if (reading.Ok)
        StatusLabel->setText(
            QStringLiteral("Ora impostata; differenza ora %1 s.").arg(reading.Difference));
    };
  });
}

void TClockDialog::ShowReading(const TClockReading& Reading) {
  ComputerLabel->setText(Italian(Reading.Computer));
  if (!Reading.Ok) {
    MeterLabel->setText(QStringLiteral("-"));
    DifferenceLabel->setText(QStringLiteral("-"));
    StatusLabel->setText(QString::fromStdString(Reading.Error));
    return;
  }
  MeterLabel->setText(Italian(Reading.Meter));
  DifferenceLabel->setText(QStringLiteral("%1 s").arg(Reading.Difference));
  StatusLabel->clear();
}
