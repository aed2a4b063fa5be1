// Test_KQ517T: the meter test tool's window.

#include "CarbonStyle.h"
#include "Form1.h"
#include "MessageBoxes.h"
#include "QtMainThread.h"

#include <QApplication>

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Test_KQ517T"));
  QApplication::setApplicationDisplayName(QStringLiteral("Test VIVAR517"));

  TQtMessageBoxes messageBoxes;
  const QString styleError = ApplyVisualStyle(app, QString::fromLatin1(DEFAULT_VISUAL_STYLE));
  if (!styleError.isEmpty()) messageBoxes.ShowError(nullptr, styleError);

  // The serial library hands its results to the GUI thread through this.
  TQtMainThreadInstallation mainThread;
  TForm1 form(messageBoxes);
  form.show();
  return QApplication::exec();
}
