#pragma once
// The one place where the program asks the operator to acknowledge a message.
// The window and the start-up code never call QMessageBox directly: they go
// through a TMessageBoxes, so that tests can record the messages instead of
// blocking on a modal dialog.

#include <QString>

class QWidget;

class TMessageBoxes {
 public:
  virtual ~TMessageBoxes() = default;
  // A modal box of the error kind with a single OK button.
  virtual void ShowError(QWidget* parent, const QString& text) = 0;
  // A modal informational box with a single OK button.
  virtual void ShowMessage(QWidget* parent, const QString& text) = 0;
};

// Title of the window and of its message boxes, before the version.
inline constexpr char WINDOW_CAPTION[] = "Test VIVAR517";

// The real boxes: modal QMessageBox dialogs titled with the window's caption.
class TQtMessageBoxes final : public TMessageBoxes {
 public:
  void ShowError(QWidget* parent, const QString& text) override;
  void ShowMessage(QWidget* parent, const QString& text) override;
};
