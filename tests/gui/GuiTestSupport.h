#pragma once
// What every window test needs: a QApplication on the offscreen platform, a
// message-box seam that records instead of blocking, and a scratch folder with
// map files that becomes the current directory.

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <string>
#include <vector>

#include "MessageBoxes.h"

// Creates the application once per test process (offscreen unless the
// environment names a platform) with the C locale as the default locale, and
// points the user's settings at a temporary folder.
void EnsureApplication();

class TRecordingMessageBoxes final : public TMessageBoxes {
 public:
  struct TMessage {
    bool error;
    QString text;
  };
  void ShowError(QWidget*, const QString& text) override { Record(true, text); }
  void ShowMessage(QWidget*, const QString& text) override { Record(false, text); }
  std::vector<TMessage> Messages;
  // Runs while a box would be on screen, as events do during a modal box.
  std::function<void()> WhileShown;

 private:
  void Record(bool error, const QString& text) {
    Messages.push_back({error, text});
    if (WhileShown) WhileShown();
  }
};

// A temporary folder that is the current directory while the object lives.
class TScratchFolder {
 public:
  TScratchFolder();
  ~TScratchFolder();
  TScratchFolder(const TScratchFolder&) = delete;
  TScratchFolder& operator=(const TScratchFolder&) = delete;

  // Writes a file with the given lines, each ended by CR LF.
  void Write(const QString& name, const QStringList& lines) const;
  QString Path() const { return FDir.path(); }

 private:
  QTemporaryDir FDir;
  QString FPrevious;
};

// Runs the event loop until the condition holds or the time-out passes.
bool ProcessEventsUntil(const std::function<bool()>& condition, int timeoutMs = 5000);
// Runs the event loop for the given time.
void ProcessEventsFor(int milliseconds);
