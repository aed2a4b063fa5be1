#pragma once
// File > "Registra…": records every collection cycle of the window in a CSV
// file the user chooses (see TValueLog), until the item is chosen again. A
// file that cannot be written, at the start or later, is reported in a
// message box and the recording stops; what was written stays on disk.

#include <QObject>
#include <QString>

#include "ValueLog.h"

class QAction;
class TStatusText;
class QWidget;
class TMessageBoxes;

class TValueLogger : public QObject {
  Q_OBJECT
 public:
  // Action is the menu item; it becomes checkable and shows whether a
  // recording runs.
  TValueLogger(QAction* Action, TMessageBoxes& MessageBoxes, QWidget* Window);

  // Writes in Dialect (CsvFileDialog.h: the user's last choice, else the locale's).
  bool Start(const QString& File, const TRegisterMap& Map, const TCsvDialect& Dialect);
  bool Start(const QString& File, const TRegisterMap& Map);
  void Stop();
  bool Recording() const { return FLog.IsOpen(); }
  // A cycle of the window has ended: its values (or its failure, Error in the
  // window's words) go to the file.
  void CycleDone(const TRegisterMap& Map, const TCycleOutcome& Outcome, const QString& Error);

  // "Registrazione: FILE" while recording, for the status bar.
  TStatusText* StatusLabel() const { return FStatus; }

  // Asks for a file and starts, or stops a recording that runs. Map supplies
  // the header's columns.
  void Toggle(const TRegisterMap& Map);

 private:
  void ShowState();

  QAction* FAction;
  TMessageBoxes& FMessageBoxes;
  QWidget* FWindow;
  TStatusText* FStatus;
  TValueLog FLog;
};
