#include "RegisterToolDialog.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QVBoxLayout>

QString WriteOutcomeText(const TRegisterWrite& Write) {
  if (Write.Ok) return QStringLiteral("Scrittura confermata dal dispositivo.");
  return QStringLiteral("Scrittura non riuscita: ") + QString::fromStdString(Write.Error);
}

TRegisterToolDialog::TRegisterToolDialog(TToolConnections Connections, const QString& Title,
                                         QWidget* parent)
    : QDialog(parent), FConnections(std::move(Connections)) {
  setWindowTitle(Title);
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  ConnectionCombo = new QComboBox(this);
  ConnectionCombo->setObjectName(QStringLiteral("ConnectionCombo"));
  ConnectionCombo->addItems({QStringLiteral("TCP"), QStringLiteral("Seriale")});
  form->addRow(QStringLiteral("Connessione:"), ConnectionCombo);
  layout->addLayout(form);
  FBody = new QVBoxLayout;
  layout->addLayout(FBody);
  StatusLabel = new QLabel(this);
  StatusLabel->setObjectName(QStringLiteral("StatusLabel"));
  StatusLabel->setWordWrap(true);
  layout->addWidget(StatusLabel);
}

TRegisterToolDialog::~TRegisterToolDialog() {
  FWorker.Drop();
}

const TToolConnection& TRegisterToolDialog::Connection() const {
  return ConnectionCombo->currentIndex() == 1 ? FConnections.Serial : FConnections.Tcp;
}

bool TRegisterToolDialog::RunExchange(
    std::function<TCycleWorker::TContinuation(TRegisterSource&)> Job) {
  const TToolConnection& connection = Connection();
  if (FWorker.Busy()) return false;
  if (connection.Serial && connection.PollOn && connection.PollOn()) {
    StatusLabel->setText(
        QStringLiteral("Fermare il polling seriale: la linea è occupata dal polling."));
    return false;
  }
  StatusLabel->setText(QStringLiteral("Attendere..."));
  auto makeSource = connection.MakeSource;
  return FWorker.Start([makeSource, Job]() -> TCycleWorker::TContinuation {
    const auto source = makeSource();
    return Job(*source);
  });
}
