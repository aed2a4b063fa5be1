#pragma once
// Writes an HTML document as an A4 PDF with Qt's PDF writer. Needs no display:
// without a running Qt application it starts one on the offscreen platform
// for the time of the call.

#include <string>

// True when the file was written; otherwise Error says why.
bool WriteHtmlAsPdf(const std::string& Html, const std::string& FileName, const std::string& Title,
                    std::string& Error);
