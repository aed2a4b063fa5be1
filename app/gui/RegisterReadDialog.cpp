#include "RegisterReadDialog.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>

#include "ValueDecoding.h"
#include "WriteValueDialog.h"

TRegisterReadDialog::TRegisterReadDialog(TToolConnections Connections, QWidget* parent)
    : TRegisterToolDialog(Connections, QStringLiteral("Leggi registri"), parent) {
  auto* form = new QFormLayout;
  StartSpin = new QSpinBox(this);
  StartSpin->setRange(0, 65535);
  CountSpin = new QSpinBox(this);
  CountSpin->setRange(1, 125);
  CountSpin->setValue(10);
  FunctionCombo = new QComboBox(this);
  FunctionCombo->addItems(
      {QStringLiteral("03 - Holding Registers"), QStringLiteral("04 - Input Registers")});
  form->addRow(QStringLiteral("Indirizzo iniziale:"), StartSpin);
  form->addRow(QStringLiteral("Numero registri:"), CountSpin);
  form->addRow(QStringLiteral("Funzione:"), FunctionCombo);
  Body()->addLayout(form);

  RowsTable = new QTableWidget(0, 7, this);
  RowsTable->setHorizontalHeaderLabels({QStringLiteral("Indirizzo"), QStringLiteral("Hex"),
                                        QStringLiteral("U16"), QStringLiteral("S16"),
                                        QStringLiteral("INT32"), QStringLiteral("FLOAT32"),
                                        QStringLiteral("FLOAT64")});
  RowsTable->verticalHeader()->hide();
  RowsTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
  RowsTable->setSelectionBehavior(QAbstractItemView::SelectRows);
  RowsTable->horizontalHeader()->setStretchLastSection(true);
  RowsTable->setMinimumSize(640, 280);
  Body()->addWidget(RowsTable);

  auto* buttons = new QHBoxLayout;
  ReadButton = new QPushButton(QStringLiteral("Leggi"), this);
  CopyButton = new QPushButton(QStringLiteral("Copia"), this);
  ExportButton = new QPushButton(QStringLiteral("Esporta..."), this);
  WriteButton = new QPushButton(QStringLiteral("Scrivi registro..."), this);
  for (QPushButton* button : {ReadButton, CopyButton, ExportButton, WriteButton})
    buttons->addWidget(button);
  Body()->addLayout(buttons);

  connect(ReadButton, &QPushButton::clicked, this, [this] { ReadClick(); });
  connect(CopyButton, &QPushButton::clicked, this,
          [this] { QApplication::clipboard()->setText(RowsText(QChar('\t'))); });
  connect(ExportButton, &QPushButton::clicked, this, [this] {
    const QString file =
        QFileDialog::getSaveFileName(this, QStringLiteral("Esporta registri"),
                                     QStringLiteral("registri.csv"), QStringLiteral("CSV (*.csv)"));
    if (!file.isEmpty() && !ExportTo(file))
      StatusLabel->setText(QStringLiteral("Impossibile scrivere il file ") + file);
  });
  connect(WriteButton, &QPushButton::clicked, this, [this] { WriteClick(); });
}

void TRegisterReadDialog::ReadClick() {
  const auto start = static_cast<std::uint16_t>(StartSpin->value());
  const auto count = static_cast<std::uint32_t>(CountSpin->value());
  const EReadFunction table = FunctionCombo->currentIndex() == 1
                                  ? EReadFunction::rfInputRegisters
                                  : EReadFunction::rfHoldingRegisters;
  if (start + count > 65536u) {
    StatusLabel->setText(QStringLiteral("La lettura supera il registro 65535."));
    return;
  }
  RunExchange([this, start, count, table](TRegisterSource& Source) -> TCycleWorker::TContinuation {
    const TRegisterRead read = Source.ReadTable(table, start, count);
    return [this, start, read] {
      if (!read.Ok) {
        StatusLabel->setText(QString::fromStdString(read.Error));
        return;
      }
      ShowRows(start, read.Words);
    };
  });
}

void TRegisterReadDialog::ShowRows(std::uint16_t Start, const std::vector<std::uint16_t>& Words) {
  FRows = RegisterRows(Start, Words, Connection().Sequence);
  RowsTable->setRowCount(static_cast<int>(FRows.size()));
  // The table shows the user's decimal separator; the copy and the export keep '.'.
  const std::string separator = QLocale().decimalPoint().toStdString();
  for (int r = 0; r < static_cast<int>(FRows.size()); ++r) {
    const TRegisterRowTexts t = RegisterRowTexts(FRows[static_cast<std::size_t>(r)]);
    int c = 0;
    for (const std::string* text :
         {&t.Address, &t.Hex, &t.Unsigned16, &t.Signed16, &t.Int32, &t.Float32, &t.Float64})
      RowsTable->setItem(
          r, c++,
          new QTableWidgetItem(QString::fromStdString(WithDecimalSeparator(*text, separator))));
  }
  StatusLabel->setText(QStringLiteral("%1 registri letti.").arg(FRows.size()));
}

QString TRegisterReadDialog::RowsText(QChar Separator) const {
  QString text;
  for (int c = 0; c < RowsTable->columnCount(); ++c)
    text += (c > 0 ? QString(Separator) : QString()) + RowsTable->horizontalHeaderItem(c)->text();
  text += '\n';
  for (const TRegisterRow& row : FRows) {
    const TRegisterRowTexts t = RegisterRowTexts(row);
    QStringList fields;
    for (const std::string* field :
         {&t.Address, &t.Hex, &t.Unsigned16, &t.Signed16, &t.Int32, &t.Float32, &t.Float64})
      fields << QString::fromStdString(*field);
    text += fields.join(Separator) + '\n';
  }
  return text;
}

bool TRegisterReadDialog::ExportTo(const QString& FileName) const {
  QFile file(FileName);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  // No field holds a comma, a quote or a line end: the columns are numbers.
  const QByteArray bytes = RowsText(QChar(',')).replace('\n', QStringLiteral("\r\n")).toUtf8();
  return file.write(bytes) == bytes.size();
}

void TRegisterReadDialog::WriteClick() {
  const int row = RowsTable->currentRow();
  TWriteTarget target;
  target.Address = row >= 0
                       ? static_cast<std::uint16_t>(FRows[static_cast<std::size_t>(row)].Address)
                       : static_cast<std::uint16_t>(StartSpin->value());
  target.Type = eWord;
  target.Description = QStringLiteral("Registro %1").arg(target.Address);
  TWriteValueDialog dialog(Connections(), target, this);
  dialog.ConnectionCombo->setCurrentIndex(ConnectionCombo->currentIndex());
  dialog.exec();
}
