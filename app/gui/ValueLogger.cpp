#include "ValueLogger.h"

#include <QAction>

#include "CsvFileDialog.h"
#include "MessageBoxes.h"
#include "StatusText.h"

TValueLogger::TValueLogger(QAction* Action, TMessageBoxes& MessageBoxes, QWidget* Window)
    : QObject(Window),
      FAction(Action),
      FMessageBoxes(MessageBoxes),
      FWindow(Window),
      FStatus(new TStatusText(Window)) {
  FStatus->setObjectName(QStringLiteral("ValueLogStatus"));
  // A long path gives way to the traffic counters beside it.
  FStatus->SetElided(true);
  FAction->setCheckable(true);
  ShowState();
}

bool TValueLogger::Start(const QString& File, const TRegisterMap& Map) {
  return Start(File, Map, PreferredCsvDialect());
}

bool TValueLogger::Start(const QString& File, const TRegisterMap& Map, const TCsvDialect& Dialect) {
  std::string error;
  const bool started = FLog.Open(File.toStdString(), Map, error, Dialect);
  if (!started)
    FMessageBoxes.ShowError(
        FWindow,
        QStringLiteral("Registrazione non avviata: %1").arg(QString::fromStdString(error)));
  ShowState();
  return started;
}

void TValueLogger::Stop() {
  FLog.Close();
  ShowState();
}

void TValueLogger::CycleDone(const TRegisterMap& Map, const TCycleOutcome& Outcome,
                             const QString& Error) {
  if (!FLog.IsOpen()) return;
  std::string failure;
  if (!FLog.WriteCycle(Map, Outcome, Error.toStdString(), failure)) {
    FMessageBoxes.ShowError(
        FWindow,
        QStringLiteral("Registrazione interrotta: impossibile scrivere in %1: %2")
            .arg(QString::fromStdString(FLog.FileName()), QString::fromStdString(failure)));
    FLog.Close();
  }
  ShowState();
}

void TValueLogger::Toggle(const TRegisterMap& Map) {
  if (FLog.IsOpen()) {
    Stop();
    return;
  }
  QString file;
  TCsvDialect dialect;
  if (AskCsvFile(FWindow, QStringLiteral("Registra i valori"), QStringLiteral("valori.csv"), file,
                 dialect))
    Start(file, Map, dialect);
  ShowState();
}

void TValueLogger::ShowState() {
  FAction->setChecked(FLog.IsOpen());
  FStatus->setVisible(FLog.IsOpen());
  if (FLog.IsOpen())
    FStatus->setText(QStringLiteral("Registrazione: %1 (%2 cicli)")
                         .arg(QString::fromStdString(FLog.FileName()))
                         .arg(FLog.Cycles()));
}
