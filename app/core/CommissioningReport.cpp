#include "CommissioningReport.h"

#include <cstdio>
#include <ctime>

#include "ValueDecoding.h"
#include "platform/LocalTime.h"

namespace {

std::string NumberOrEmpty(const std::optional<double>& Value) {
  return Value ? FormatFloat2(*Value, ".") : std::string();
}

std::string Escaped(const std::string& Text) {
  std::string out;
  out.reserve(Text.size());
  for (const char c : Text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string VerdictColour(const std::string& Verdict) {
  if (Verdict == "PASS") return "#1b7f2a";
  if (Verdict == "FAIL") return "#c0121b";
  return "#8a6d00";
}

}  // namespace

std::string ReportDateText(std::time_t Time) {
  const TLocalTime local = LocalTime(Time);
  char date[32];
  std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &local.Fields);
  // The offset from UTC as +hhmm, the way strftime's %z writes it on POSIX
  // (the Windows C runtime writes the zone's name there instead).
  const int offset = local.UtcOffsetMinutes;
  const int magnitude = offset < 0 ? -offset : offset;
  char zone[16];
  std::snprintf(zone, sizeof zone, "%c%02d%02d", offset < 0 ? '-' : '+', magnitude / 60,
                magnitude % 60);
  return std::string(date) + ' ' + zone;
}

TCommissioningReport MakeCommissioningReport(const TLimitsTest& Test,
                                             const TReportContext& Context) {
  TCommissioningReport report;
  report.Meter = Context.Meter;
  report.Connection = Context.Connection;
  report.Settings = Context.Settings;
  report.LimitsFile = Context.LimitsFile;
  report.Date = ReportDateText(std::time(nullptr));
  report.Firmware = Context.Firmware;
  report.Cycles = Test.Cycles();
  report.CyclesFailed = Context.CyclesFailed;
  report.Passed = Test.Passed();
  report.Summary = Test.Summary();
  report.Program = Context.Program;
  report.Clock = Context.Clock;
  for (const TLimitOutcome& o : Test.Outcomes()) {
    report.Rows.push_back({o.Limit.Obis, o.EntryIndex >= 0 ? o.Description : "(not in the map)",
                           o.Limit.MinText, o.Limit.MaxText, NumberOrEmpty(o.Lowest),
                           NumberOrEmpty(o.Highest), o.LastText, VerdictWord(o.Verdict),
                           o.Limit.Note});
  }
  return report;
}

std::string ReportHtml(const TCommissioningReport& Report) {
  std::string html =
      "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n"
      "<title>KQ517 commissioning report</title>\n<style>\n"
      "body { font-family: sans-serif; font-size: 8pt; }\n"
      "h1 { font-size: 14pt; }\n"
      "table { border-collapse: collapse; }\n"
      "th, td { border: 1px solid #999999; padding: 3px 6px; }\n"
      "th { background-color: #e4e4e4; text-align: left; }\n"
      "td.num { text-align: right; }\n"
      "</style>\n</head>\n<body>\n<h1>KQ517 commissioning report</h1>\n"
      "<table class=\"facts\" width=\"100%\" cellspacing=\"0\" cellpadding=\"3\">\n";
  const auto fact = [&html](const char* Name, const std::string& Value) {
    html += "<tr><th width=\"18%\">" + std::string(Name) + "</th><td>" + Escaped(Value) +
            "</td></tr>\n";
  };
  fact("Meter", Report.Meter);
  fact("Connection", Report.Connection);
  fact("Settings", Report.Settings);
  fact("Limits file", Report.LimitsFile);
  fact("Date", Report.Date);
  fact("Firmware", Report.Firmware.empty() ? "not read" : Report.Firmware);
  fact("Cycles",
       std::to_string(Report.Cycles) +
           (Report.CyclesFailed > 0 ? " (" + std::to_string(Report.CyclesFailed) + " failed)"
                                    : std::string()));
  if (!Report.Clock.empty()) fact("Clock", Report.Clock);
  html += "</table>\n<p style=\"font-size: 11pt; font-weight: bold; color: " +
          VerdictColour(Report.Passed ? "PASS" : "FAIL") + ";\">" + Escaped(Report.Summary) +
          "</p>\n<table width=\"100%\" cellspacing=\"0\" cellpadding=\"3\">\n"
          "<tr><th>OBIS</th><th width=\"30%\">Description</th>"
          "<th>Min</th><th>Max</th><th>Lowest</th><th>Highest</th><th>Last</th><th>Result</th>"
          "<th>Note</th></tr>\n";
  for (const TReportRow& row : Report.Rows) {
    html +=
        "<tr><td style=\"white-space: nowrap; border: 1px solid #999999;\">" + Escaped(row.Obis) +
        "</td><td>" + Escaped(row.Description) + "</td><td class=\"num\" align=\"right\">" +
        Escaped(row.Min) + "</td><td class=\"num\" align=\"right\">" + Escaped(row.Max) +
        "</td><td class=\"num\" align=\"right\">" + Escaped(row.Lowest) +
        "</td><td class=\"num\" align=\"right\">" + Escaped(row.Highest) +
        "</td><td class=\"num\" align=\"right\">" + Escaped(row.Last) +
        "</td><td nowrap><span style=\"font-weight: bold; color: " + VerdictColour(row.Verdict) +
        ";\">" + Escaped(row.Verdict) + "</span></td><td>" + Escaped(row.Note) + "</td></tr>\n";
  }
  html += "</table>\n<p style=\"color: #666666;\">" + Escaped(Report.Program) +
          "</p>\n</body>\n</html>\n";
  return html;
}
