#pragma once
// Qt's own texts (the file dialogs' "Look in", "Save", "Cancel", the
// question before a file is replaced) in Italian when the user's locale is
// Italian, so that the window speaks one language. Under any other locale
// Qt keeps its English: the window's own texts are Italian whatever the
// locale, and a third language would only add to the mix.
//
// The translation is Qt's qtbase_it.qm, looked for in Qt's translations
// folder (Debian's qt6-translations-l10n) and then in "translations" beside
// the program, where the Windows package carries it: the Windows Qt is built
// without translations.

#include <QLocale>
#include <QStringList>

class QCoreApplication;
class QTranslator;

// Qt's translations folder, then the one beside the program.
QStringList QtTranslationFolders();

// Loads Qt's Italian translation into Translator from the first of Folders
// that has it; false, with Translator empty, when Locale is not Italian or
// no folder has it.
bool LoadQtTranslation(QTranslator& Translator, const QLocale& Locale, const QStringList& Folders);

// Installs the translation for the user's locale in App, for App's lifetime.
void InstallQtTranslation(QCoreApplication& App);
