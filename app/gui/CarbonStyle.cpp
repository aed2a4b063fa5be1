#include "CarbonStyle.h"

#include <QApplication>
#include <QFile>
#include <QStyleFactory>

QString ApplyVisualStyle(QApplication& app, const QString& styleName) {
  QFile sheet(QStringLiteral(":/styles/%1.qss").arg(styleName));
  if (!sheet.exists())
    return QStringLiteral("The visual style \"%1\" is not among the program's resources.")
        .arg(styleName);
  if (!sheet.open(QIODevice::ReadOnly | QIODevice::Text))
    return QStringLiteral("The visual style \"%1\" cannot be read: %2")
        .arg(styleName, sheet.errorString());
  const QString text = QString::fromUtf8(sheet.readAll());
  if (text.trimmed().isEmpty())
    return QStringLiteral("The visual style \"%1\" is empty.").arg(styleName);
  // Fusion draws every control from the palette and the sheet, so the look is
  // the same on every desktop.
  if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) app.setStyle(fusion);
  app.setStyleSheet(text);
  return {};
}
