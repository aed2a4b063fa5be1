#pragma once
// Saving a commissioning report in the format its file name asks for.

#include <string>

#include "CommissioningReport.h"

enum class EReportFormat { rfHtml, rfPdf, rfJson };

// By extension, case-insensitive: .html or .htm, .pdf, .json; false for any other.
bool ReportFormatOf(const std::string& FileName, EReportFormat& Format);

// True when the file was written; otherwise Error says why.
bool WriteReportFile(const TCommissioningReport& Report, const std::string& FileName,
                     std::string& Error);
