// Test_KQ517T: the meter test tool's window.
//   Test_KQ517T [--tcp HOST[:PORT]] [--serial PORT] [--start]

#include <QApplication>
#include <cstdio>

#include "CarbonStyle.h"
#include "Commons.h"
#include "Form1.h"
#include "MessageBoxes.h"
#include "QtMainThread.h"
#include "QtTranslation.h"
#include "WindowCommandLine.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

// Under Wine, Qt's default (GDI) font engine draws no text in line edits: every
// field looks empty. Its DirectWrite engine draws it. Windows itself keeps the
// default, and a platform the user chose (QT_QPA_PLATFORM) is left alone.
void ChooseFontEngine() {
#ifdef _WIN32
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const bool wine = ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
  if (wine && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "windows:fontengine=directwrite");
#endif
}

}  // namespace

int main(int argc, char* argv[]) {
  ChooseFontEngine();
  QApplication app(argc, argv);
  // No application display name: Qt would append it to every window title
  // (" — Test VIVAR517"), and the captions are the window's own.
  QApplication::setApplicationName(QStringLiteral("Test_KQ517T"));
  QApplication::setApplicationVersion(QString::fromStdString(GetVersionStr("")));
  InstallQtTranslation(app);

  TWindowCommandLine commandLine;
  QString error;
  if (!ParseWindowCommandLine(QApplication::arguments(), commandLine, error)) {
    std::fprintf(stderr, "Test_KQ517T: %s\n%s", qPrintable(error),
                 qPrintable(WindowCommandLineHelp()));
    return 2;
  }
  if (commandLine.Help || commandLine.Version) {
    std::fputs(
        qPrintable(commandLine.Help ? WindowCommandLineHelp()
                                    : QApplication::applicationVersion() + QLatin1Char('\n')),
        stdout);
    return 0;
  }

  TQtMessageBoxes messageBoxes;
  const QString styleError = ApplyVisualStyle(app, QString::fromLatin1(DEFAULT_VISUAL_STYLE));
  if (!styleError.isEmpty()) messageBoxes.ShowError(nullptr, styleError);

  // The serial library hands its results to the GUI thread through this.
  TQtMainThreadInstallation mainThread;
  TForm1 form(messageBoxes);
  ApplyWindowCommandLine(form, commandLine);
  form.show();
  return QApplication::exec();
}
