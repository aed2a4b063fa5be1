#include "QtTranslation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

QStringList QtTranslationFolders() {
  return {QLibraryInfo::path(QLibraryInfo::TranslationsPath),
          QCoreApplication::applicationDirPath() + QStringLiteral("/translations")};
}

bool LoadQtTranslation(QTranslator& Translator, const QLocale& Locale, const QStringList& Folders) {
  if (Locale.language() != QLocale::Italian) return false;
  for (const QString& folder : Folders)
    if (Translator.load(QStringLiteral("qtbase_it"), folder)) return true;
  return false;
}

void InstallQtTranslation(QCoreApplication& App) {
  auto* translator = new QTranslator(&App);
  if (LoadQtTranslation(*translator, QLocale(), QtTranslationFolders()))
    QCoreApplication::installTranslator(translator);
  else
    delete translator;
}
