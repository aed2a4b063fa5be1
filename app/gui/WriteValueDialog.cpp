#include "WriteValueDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "ValueDecoding.h"
#include "WriteFrame.h"

QString RefusalTextIt(EEncodeRefusal Refusal, const QString& TypeName) {
  switch (Refusal) {
    case EEncodeRefusal::erNone:
      return {};
    case EEncodeRefusal::erNotANumber:
      return QStringLiteral("Il valore non è un numero.");
    case EEncodeRefusal::erNotWhole:
      return QStringLiteral("%1 richiede un numero intero.").arg(TypeName);
    case EEncodeRefusal::erOutOfRange:
      return QStringLiteral("Valore fuori intervallo per %1.").arg(TypeName);
    case EEncodeRefusal::erNaN:
      return QStringLiteral("%1 non può contenere NaN o infinito.").arg(TypeName);
    case EEncodeRefusal::erNotADate:
      return QStringLiteral("Data non valida: scrivere gg/mm/aaaa.");
    case EEncodeRefusal::erNotATime:
      return QStringLiteral("Ora non valida: scrivere hh:mm:ss.");
    case EEncodeRefusal::erNotWritable:
      return QStringLiteral("Le voci %1 non si possono scrivere.").arg(TypeName);
  }
  return {};
}

namespace {

QString Hex(const std::vector<std::uint8_t>& Bytes) {
  return QString::fromStdString(HexBytes(Bytes));
}

}  // namespace

TWriteValueDialog::TWriteValueDialog(TToolConnections Connections, const TWriteTarget& Target,
                                     QWidget* parent)
    : TRegisterToolDialog(Connections, QStringLiteral("Scrivi valore"), parent), FTarget(Target) {
  auto* form = new QFormLayout;
  EntryLabel = new QLabel(this);
  ValueEdit = new QLineEdit(this);
  ValueEdit->setObjectName(QStringLiteral("ValueEdit"));
  RegistersLabel = new QLabel(this);
  FrameLabel = new QLabel(this);
  FrameLabel->setWordWrap(true);
  FrameLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
  SingleCheck = new QCheckBox(QStringLiteral("Funzione 06 (un registro)"), this);
  form->addRow(QStringLiteral("Voce:"), EntryLabel);
  form->addRow(QStringLiteral("Valore:"), ValueEdit);
  form->addRow(QStringLiteral("Registri:"), RegistersLabel);
  form->addRow(QStringLiteral("Frame:"), FrameLabel);
  form->addRow(QString(), SingleCheck);
  Body()->addLayout(form);
  WriteButton = new QPushButton(QStringLiteral("Scrivi..."), this);
  Body()->addWidget(WriteButton);
  setMinimumWidth(520);

  connect(ValueEdit, &QLineEdit::textChanged, this, [this] { Refresh(); });
  connect(SingleCheck, &QCheckBox::toggled, this, [this] { Refresh(); });
  connect(ConnectionCombo, &QComboBox::currentIndexChanged, this, [this] { Refresh(); });
  connect(WriteButton, &QPushButton::clicked, this, [this] { WriteClick(); });
  Refresh();
}

void TWriteValueDialog::Refresh() {
  FConfirming = false;
  WriteButton->setText(QStringLiteral("Scrivi..."));
  const EByteSequence sequence = Connection().Sequence;
  const QString typeName = QString::fromStdString(DataTypeName(FTarget.Type, FTarget.Float32));
  EntryLabel->setText(QStringLiteral("%1, indirizzo %2, %3, sequenza %4")
                          .arg(FTarget.Description)
                          .arg(FTarget.Address)
                          .arg(typeName)
                          .arg(QString::fromUtf8(BYTE_SEQUENCE_NAMES[sequence])));
  FEncoded =
      EncodeValueText(FTarget.Type, FTarget.Float32, ValueEdit->text().toStdString(), sequence);
  SingleCheck->setEnabled(FEncoded.Words.size() == 1);
  if (FEncoded.Words.size() != 1) SingleCheck->setChecked(false);
  if (!FEncoded.Ok() || FTarget.Address + FEncoded.Words.size() > 65536u) {
    RegistersLabel->setText(QStringLiteral("-"));
    FrameLabel->setText(FEncoded.Ok() ? QStringLiteral("La scrittura supera il registro 65535.")
                                      : RefusalTextIt(FEncoded.Refusal, typeName));
    WriteButton->setEnabled(false);
    return;
  }
  QStringList words;
  for (std::uint16_t word : FEncoded.Words)
    words << QStringLiteral("%1").arg(word, 4, 16, QChar('0')).toUpper();
  RegistersLabel->setText(words.join(QChar(' ')));
  const auto pdu = WriteRequestPdu(FTarget.Address, FEncoded.Words, SingleCheck->isChecked());
  FrameLabel->setText(Connection().Serial
                          ? QStringLiteral("RTU ") + Hex(RtuFrame(pdu, Connection().Address))
                          : QStringLiteral("TCP ") + Hex(TcpFrame(pdu, 1, Connection().Address)));
  WriteButton->setEnabled(true);
}

void TWriteValueDialog::WriteClick() {
  if (!FEncoded.Ok()) return;
  if (!FConfirming) {
    FConfirming = true;
    WriteButton->setText(QStringLiteral("Conferma scrittura"));
    StatusLabel->setText(QStringLiteral("Controllare il frame e confermare la scrittura."));
    return;
  }
  FConfirming = false;
  WriteButton->setText(QStringLiteral("Scrivi..."));
  const std::uint16_t address = FTarget.Address;
  const std::vector<std::uint16_t> words = FEncoded.Words;
  const bool single = SingleCheck->isChecked();
  RunExchange(
      [this, address, words, single](TRegisterSource& Source) -> TCycleWorker::TContinuation {
        const TRegisterWrite write = Source.Write(address, words, single);
        return [this, write] {
          FWritten = FWritten || write.Ok;
          StatusLabel->setText(WriteOutcomeText(write));
        };
      });
}
