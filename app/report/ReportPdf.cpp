#include "ReportPdf.h"

#include <QFile>
#include <QGuiApplication>
#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>
#include <cstdio>
#include <memory>

namespace {

// How much wider than the paper's printable width (in points) the report is laid out.
constexpr double PAGE_WIDTH_SCALE = 1.55;

// The offscreen platform's notes about the session it runs in (no runtime
// folder, no display) are of no use to someone asking for a report.
void QuietQtNotes(QtMsgType Type, const QMessageLogContext& Context, const QString& Message) {
  if (Type == QtCriticalMsg || Type == QtFatalMsg)
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(Type, Context, Message)));
}

// Keeps those notes off standard error while it lives, when asked to.
class TQuietQtNotes {
 public:
  explicit TQuietQtNotes(bool Quiet) : FQuiet(Quiet) {
    if (FQuiet) FPrevious = qInstallMessageHandler(QuietQtNotes);
  }
  ~TQuietQtNotes() {
    if (FQuiet) qInstallMessageHandler(FPrevious);
  }
  TQuietQtNotes(const TQuietQtNotes&) = delete;
  TQuietQtNotes& operator=(const TQuietQtNotes&) = delete;

 private:
  bool FQuiet;
  QtMessageHandler FPrevious = nullptr;
};

// A Qt application for the layout's fonts, when the program has none of its
// own (the poller). Forced onto the offscreen platform: a terminal over SSH
// has no display, and a PDF needs none.
std::unique_ptr<QGuiApplication> ApplicationForLayout() {
  if (QCoreApplication::instance() != nullptr) return nullptr;
  static int argc = 3;
  static char name[] = "kq517-report";
  static char platformOption[] = "-platform";
  static char platform[] = "offscreen";
  static char* argv[] = {name, platformOption, platform, nullptr};
  return std::make_unique<QGuiApplication>(argc, argv);
}

}  // namespace

bool WriteHtmlAsPdf(const std::string& Html, const std::string& FileName, const std::string& Title,
                    std::string& Error) {
  const QString path = QString::fromStdString(FileName);
  // QPdfWriter reports nothing when it cannot write; find out first.
  {
    QFile probe(path);
    if (!probe.open(QIODevice::WriteOnly)) {
      Error = "cannot write '" + FileName + "': " + probe.errorString().toStdString();
      return false;
    }
  }
  const TQuietQtNotes quiet(QCoreApplication::instance() == nullptr);
  const auto application = ApplicationForLayout();
  if (dynamic_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) {
    Error = "a PDF needs a Qt GUI application";
    return false;
  }
  QPdfWriter writer(path);
  writer.setTitle(QString::fromStdString(Title));
  writer.setCreator(QStringLiteral("KQ517 test tool"));
  writer.setResolution(300);
  writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                   QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter));
  QTextDocument document;
  document.setHtml(QString::fromStdString(Html));
  // Laid out on a page of the writer's shape, wider than the page in points
  // so that the nine columns of the table fit without breaking words; print()
  // scales each page down onto the paper.
  const QSizeF paper = writer.pageLayout().paintRect(QPageLayout::Point).size();
  document.setPageSize(paper * PAGE_WIDTH_SCALE);
  document.print(&writer);
  return true;
}
