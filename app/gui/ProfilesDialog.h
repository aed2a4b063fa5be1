#pragma once
// File > "Profili…": the connection profiles (ConnectionProfiles.h) in a
// list, with a name to save the panels' settings under, and the buttons to
// save, load and delete. The last profile used is selected when it opens.
// Loading is refused while a poll runs, since the panels' settings are
// frozen then.

#include <QDialog>

class QLineEdit;
class QListWidget;
class QPushButton;
class TForm1;

class TProfilesDialog : public QDialog {
  Q_OBJECT
 public:
  explicit TProfilesDialog(TForm1& Form);

  // The panels' settings under the name typed; false (with a message) for a
  // name that cannot name a profile.
  bool SaveCurrent();
  // The selected profile into the panels; the dialog closes.
  bool LoadSelected();
  void DeleteSelected();

  QListWidget* ProfileList = nullptr;
  QLineEdit* NameEdit = nullptr;
  QPushButton* SaveButton = nullptr;
  QPushButton* LoadButton = nullptr;
  QPushButton* DeleteButton = nullptr;

 private:
  void FillList(const QString& Selected);
  void EvalEnablings();

  TForm1& FForm;
};
