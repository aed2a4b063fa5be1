#include "ProfilesDialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include "ConnectionProfiles.h"
#include "Form1.h"
#include "MessageBoxes.h"
#include "WindowSettings.h"

TProfilesDialog::TProfilesDialog(TForm1& Form) : QDialog(&Form), FForm(Form) {
  setObjectName(QStringLiteral("ProfilesDialog"));
  setWindowTitle(QStringLiteral("Profili di connessione"));
  ProfileList = new QListWidget(this);
  ProfileList->setObjectName(QStringLiteral("ProfileList"));
  NameEdit = new QLineEdit(this);
  NameEdit->setObjectName(QStringLiteral("ProfileNameEdit"));
  NameEdit->setPlaceholderText(QStringLiteral("impianto, contatore…"));
  SaveButton = new QPushButton(QStringLiteral("Salva"), this);
  LoadButton = new QPushButton(QStringLiteral("Carica"), this);
  DeleteButton = new QPushButton(QStringLiteral("Elimina"), this);
  auto* close = new QDialogButtonBox(QDialogButtonBox::Close, this);

  auto* grid = new QGridLayout(this);
  grid->addWidget(ProfileList, 0, 0, 4, 1);
  grid->addWidget(LoadButton, 0, 1);
  grid->addWidget(DeleteButton, 1, 1);
  grid->addWidget(new QLabel(QStringLiteral("Nome"), this), 4, 0);
  grid->addWidget(NameEdit, 5, 0);
  grid->addWidget(SaveButton, 5, 1);
  grid->addWidget(close, 6, 0, 1, 2);
  grid->setRowStretch(3, 1);

  connect(ProfileList, &QListWidget::currentTextChanged, this, [this](const QString& name) {
    if (!name.isEmpty()) NameEdit->setText(name);
    EvalEnablings();
  });
  connect(ProfileList, &QListWidget::itemDoubleClicked, this, [this] { LoadSelected(); });
  connect(NameEdit, &QLineEdit::textChanged, this, [this] { EvalEnablings(); });
  connect(SaveButton, &QPushButton::clicked, this, [this] { SaveCurrent(); });
  connect(LoadButton, &QPushButton::clicked, this, [this] { LoadSelected(); });
  connect(DeleteButton, &QPushButton::clicked, this, [this] { DeleteSelected(); });
  connect(close, &QDialogButtonBox::rejected, this, &QDialog::reject);

  FillList(LastProfile(*OpenWindowSettings()));
}

bool TProfilesDialog::SaveCurrent() {
  const QString name = NameEdit->text().trimmed();
  if (!SaveProfile(FForm, *OpenWindowSettings(), name)) {
    FForm.MessageBoxes().ShowError(
        this, QStringLiteral("Nome di profilo non valido (vuoto, o con / o \\): \"%1\"").arg(name));
    return false;
  }
  FillList(name);
  return true;
}

bool TProfilesDialog::LoadSelected() {
  const QListWidgetItem* item = ProfileList->currentItem();
  if (item == nullptr || FForm.TcpPollOn() || FForm.SerialPollOn()) return false;
  if (!LoadProfile(FForm, *OpenWindowSettings(), item->text())) return false;
  // The map follows the profile's options: its mode, layout and meter instance.
  FForm.Float32CheckBoxClick();
  accept();
  return true;
}

void TProfilesDialog::DeleteSelected() {
  const QListWidgetItem* item = ProfileList->currentItem();
  if (item == nullptr) return;
  DeleteProfile(*OpenWindowSettings(), item->text());
  FillList(QString());
}

void TProfilesDialog::FillList(const QString& Selected) {
  ProfileList->clear();
  ProfileList->addItems(ProfileNames(*OpenWindowSettings()));
  const auto found = ProfileList->findItems(Selected, Qt::MatchExactly);
  if (!found.isEmpty()) ProfileList->setCurrentItem(found.first());
  EvalEnablings();
}

void TProfilesDialog::EvalEnablings() {
  const bool selected = ProfileList->currentItem() != nullptr;
  LoadButton->setEnabled(selected && !FForm.TcpPollOn() && !FForm.SerialPollOn());
  LoadButton->setToolTip(FForm.TcpPollOn() || FForm.SerialPollOn()
                             ? QStringLiteral("Ferma il poll per caricare un profilo")
                             : QString());
  DeleteButton->setEnabled(selected);
  SaveButton->setEnabled(IsProfileName(NameEdit->text()));
}
