#pragma once
// The about box: the program's version and copyright, the name of the running
// system, the machine's memory and a link that writes to technical support.
// A new box is made for every opening, so its figures are current.

#include <QDialog>

class QFrame;
class QLabel;
class QTextEdit;
class QPushButton;

// The support address shown in the box and used by its mail link.
inline constexpr char SUPPORT_EMAIL[] = "supporto@kq517-tools.example";
inline constexpr char ABOUT_COPYRIGHT[] = "Copyright \u00A9 2026 KQ517 Test Tool";

class TAboutBox : public QDialog {
  Q_OBJECT
 public:
  explicit TAboutBox(QWidget* parent = nullptr);

  // Opens a new box modally and returns when it is closed.
  static void ExecuteModal(QWidget* parent = nullptr);

  void FormCreate();
  void GetOSInfo();
  void lblSendEmailClick();

  QLabel* Image2 = nullptr;
  QTextEdit* memoCopyright = nullptr;
  QLabel* lblSendEmail = nullptr;
  QFrame* Bevel1 = nullptr;
  QLabel* lblOS = nullptr;
  QLabel* lblAvailableMemory = nullptr;
  QLabel* PhysMem = nullptr;
  QPushButton* OKButton = nullptr;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
};
