#pragma once
// The file dialog of the window's CSV files (File > "Registra…", File >
// "Esporta griglia…"). Its file types are the two CSV dialects (CsvDialect.h):
// the one preselected is the user's last choice, or, before any, the one a
// spreadsheet of the user's locale opens as columns. The choice is remembered
// with the window's settings.

#include <QString>

#include "CsvDialect.h"

class QWidget;

// The user's last choice, else the locale's dialect.
TCsvDialect PreferredCsvDialect();
void RememberCsvDialect(const TCsvDialect& Dialect);

// Asks for the file to write; false when the user cancels. File and Dialect
// hold the answer, and the dialect chosen is remembered.
bool AskCsvFile(QWidget* Parent, const QString& Title, const QString& DefaultName, QString& File,
                TCsvDialect& Dialect);
