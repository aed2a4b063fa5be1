#include "CsvFileDialog.h"

#include <QFileDialog>
#include <QLocale>
#include <QStringList>

#include "WindowSettings.h"

namespace {

const QString DIALECT_KEY = QStringLiteral("csv/fieldSeparator");

QString FilterOf(const TCsvDialect& Dialect) {
  return Dialect == CSV_COMMA ? QStringLiteral("CSV con ; e virgola decimale (*.csv)")
                              : QStringLiteral("CSV con , e punto decimale (*.csv)");
}

}  // namespace

TCsvDialect PreferredCsvDialect() {
  const QString remembered = OpenWindowSettings()->value(DIALECT_KEY).toString();
  if (remembered == QLatin1String(";")) return CSV_COMMA;
  if (remembered == QLatin1String(",")) return CSV_POINT;
  return CsvDialectFor(QLocale().decimalPoint().toStdString());
}

void RememberCsvDialect(const TCsvDialect& Dialect) {
  OpenWindowSettings()->setValue(DIALECT_KEY, QString(QLatin1Char(Dialect.FieldSeparator)));
}

bool AskCsvFile(QWidget* Parent, const QString& Title, const QString& DefaultName, QString& File,
                TCsvDialect& Dialect) {
  const TCsvDialect preferred = PreferredCsvDialect();
  const QStringList filters = {FilterOf(preferred),
                               FilterOf(preferred == CSV_COMMA ? CSV_POINT : CSV_COMMA)};
  QString chosen = filters.first();
  const QString file = QFileDialog::getSaveFileName(Parent, Title, DefaultName,
                                                    filters.join(QStringLiteral(";;")), &chosen);
  if (file.isEmpty()) return false;
  File = file;
  Dialect = chosen == FilterOf(CSV_COMMA) ? CSV_COMMA : CSV_POINT;
  RememberCsvDialect(Dialect);
  return true;
}
