#include "GuiTestSupport.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocale>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>

void EnsureApplication() {
  if (QApplication::instance() != nullptr) return;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "kq_gui_test";
  static char* argv[] = {name, nullptr};
  // Left alive until the process ends: widgets of static test data may still
  // refer to it during exit.
  new QApplication(argc, argv);
  QLocale::setDefault(QLocale::c());
  // The window remembers its settings; tests keep them in a folder of their
  // own, never in the user's.
  static QTemporaryDir settingsFolder;
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsFolder.path());
}

TScratchFolder::TScratchFolder() : FPrevious(QDir::currentPath()) {
  if (!FDir.isValid() || !QDir::setCurrent(FDir.path()))
    throw std::runtime_error("no scratch folder");
}

TScratchFolder::~TScratchFolder() {
  QDir::setCurrent(FPrevious);
}

void TScratchFolder::Write(const QString& name, const QStringList& lines) const {
  QFile file(FDir.filePath(name));
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
    throw std::runtime_error("cannot write map");
  for (const QString& line : lines) file.write((line + QStringLiteral("\r\n")).toUtf8());
}

bool ProcessEventsUntil(const std::function<bool()>& condition, int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  while (!condition()) {
    if (clock.elapsed() > timeoutMs) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(2);
  }
  return true;
}

void ProcessEventsFor(int milliseconds) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < milliseconds) {
    QApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(2);
  }
}

// Fontconfig keeps a cache for the life of the process that LeakSanitizer
// reports at exit in sanitizer builds; it is not ours to free.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
