#include "ReportFiles.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "ReportJson.h"
#ifdef KQ_HAVE_PDF_REPORT
#include "ReportPdf.h"
#endif

namespace {

bool WriteText(const std::string& Text, const std::string& FileName, std::string& Error) {
  std::ofstream out(FileName, std::ios::binary | std::ios::trunc);
  if (out) out << Text;
  if (out) out.close();
  if (!out) {
    Error = "cannot write '" + FileName + "': " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace

bool ReportFormatOf(const std::string& FileName, EReportFormat& Format) {
  const auto dot = FileName.rfind('.');
  if (dot == std::string::npos) return false;
  std::string extension = FileName.substr(dot + 1);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (extension == "html" || extension == "htm")
    Format = EReportFormat::rfHtml;
  else if (extension == "pdf")
    Format = EReportFormat::rfPdf;
  else if (extension == "json")
    Format = EReportFormat::rfJson;
  else
    return false;
  return true;
}

bool WriteReportFile(const TCommissioningReport& Report, const std::string& FileName,
                     std::string& Error) {
  EReportFormat format = EReportFormat::rfHtml;
  if (!ReportFormatOf(FileName, format)) {
    Error = "'" + FileName + "': a report is written as .html, .pdf or .json";
    return false;
  }
  switch (format) {
    case EReportFormat::rfHtml:
      return WriteText(ReportHtml(Report), FileName, Error);
    case EReportFormat::rfJson:
      return WriteText(ReportJson(Report).dump(2) + "\n", FileName, Error);
    case EReportFormat::rfPdf:
#ifdef KQ_HAVE_PDF_REPORT
      return WriteHtmlAsPdf(
          ReportHtml(Report), FileName,
          Report.Italian ? "Rapporto di collaudo KQ517" : "KQ517 commissioning report", Error);
#else
      // The Windows poller and a build without the window link no Qt, which lays out PDF.
      Error =
          "this program writes no PDF (it is built without Qt); use .html or .json, or the "
          "window's Test dialog";
      return false;
#endif
  }
  return false;
}
