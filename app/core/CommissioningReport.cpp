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

// The verdict stays on one line ("Non superato") while a reason below it
// wraps; Qt's layout of the PDF keeps a nowrap cell's width for the column.
std::string Unbroken(const std::string& Html) {
  std::string out;
  for (const char c : Html) out += c == ' ' ? std::string("&nbsp;") : std::string(1, c);
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

std::string ReportMeterText(int MeterInstanceIndex, bool Italian) {
  return std::string(Italian ? "KQ517, contatore " : "KQ517, meter instance ") +
         std::to_string(MeterInstanceIndex + 1);
}

std::string ReportSettingsText(bool Qvzt, EByteSequence Sequence, bool Float32,
                               const std::string& MapFile, bool Italian) {
  std::string text;
  if (Qvzt)
    text = Italian ? "modalità QVZT, sequenza byte 0-1-2-3" : "QVZT mode, byte order 0-1-2-3";
  else
    text = (Italian ? "sequenza byte " : "byte order ") + ByteSequenceWord(Sequence) + ", " +
           (Float32 ? (Italian ? "layout 32 bit floating point" : "32-bit-float layout")
                    : (Italian ? "layout 64 bit" : "64-bit layout"));
  if (!MapFile.empty()) text += (Italian ? ", mappa " : ", map ") + MapFile;
  return text;
}

TCommissioningReport MakeCommissioningReport(const TLimitsTest& Test,
                                             const TReportContext& Context) {
  TCommissioningReport report;
  report.Italian = Context.Italian;
  report.Meter = Context.Meter;
  report.SerialNumber = Context.SerialNumber;
  report.Site = Context.Site;
  report.Technician = Context.Technician;
  report.Connection = Context.Connection;
  report.Settings = Context.Settings;
  report.LimitsFile = Context.LimitsFile;
  report.Date = ReportDateText(std::time(nullptr));
  report.Firmware = Context.Firmware;
  report.Cycles = Test.Cycles();
  report.CyclesFailed = Context.CyclesFailed;
  report.Passed = Test.Passed();
  report.Summary = Test.Summary(Context.Italian);
  report.Program = Context.Program;
  report.Clock = Context.Clock;
  const bool it = Context.Italian;
  for (const TLimitOutcome& o : Test.Outcomes()) {
    const bool named = o.EntryIndex >= 0 || o.NotNumeric;
    report.Rows.push_back(
        {o.Limit.Obis, named ? o.Description : (it ? "(non nella mappa)" : "(not in the map)"),
         o.Limit.MinText, o.Limit.MaxText, NumberOrEmpty(o.Lowest), NumberOrEmpty(o.Highest),
         o.LastText, VerdictWord(o.Verdict),
         o.Verdict == ELimitVerdict::lvNotRead ? NotReadText(o, it) : "", o.Limit.Note});
  }
  return report;
}

std::string VerdictText(const std::string& Verdict, bool Italian) {
  if (!Italian) return Verdict;
  if (Verdict == "PASS") return "Superato";
  if (Verdict == "FAIL") return "Non superato";
  return "Non letto";
}

std::string ReportHtml(const TCommissioningReport& Report) {
  const bool it = Report.Italian;
  const auto say = [it](const char* Italian, const char* English) {
    return std::string(it ? Italian : English);
  };
  const std::string title = say("Rapporto di collaudo KQ517", "KQ517 commissioning report");
  std::string html = "<!DOCTYPE html>\n<html lang=\"" + say("it", "en") +
                     "\">\n<head>\n<meta charset=\"utf-8\">\n"
                     "<title>" +
                     title +
                     "</title>\n<style>\n"
                     "body { font-family: sans-serif; font-size: 8pt; }\n"
                     "h1 { font-size: 14pt; }\n"
                     "table { border-collapse: collapse; }\n"
                     "th, td { border: 1px solid #999999; padding: 3px 6px; }\n"
                     "th { background-color: #e4e4e4; text-align: left; }\n"
                     "td.num { text-align: right; }\n"
                     "</style>\n</head>\n<body>\n<h1>" +
                     title +
                     "</h1>\n"
                     "<table class=\"facts\" width=\"100%\" cellspacing=\"0\" cellpadding=\"3\">\n";
  const auto fact = [&html](const std::string& Name, const std::string& Value) {
    html +=
        "<tr><th width=\"18%\">" + Escaped(Name) + "</th><td>" + Escaped(Value) + "</td></tr>\n";
  };
  const std::string notRead = say("non letto", "not read");
  fact(say("Contatore", "Meter"), Report.Meter);
  fact(say("Numero di serie", "Serial number"),
       Report.SerialNumber.empty() ? notRead : Report.SerialNumber);
  fact(say("Sito", "Site"), Report.Site);
  fact(say("Tecnico", "Technician"), Report.Technician);
  fact(say("Connessione", "Connection"), Report.Connection);
  fact(say("Impostazioni", "Settings"), Report.Settings);
  fact(say("File dei limiti", "Limits file"), Report.LimitsFile);
  fact(say("Data", "Date"), Report.Date);
  fact("Firmware", Report.Firmware.empty() ? notRead : Report.Firmware);
  fact(say("Cicli", "Cycles"),
       std::to_string(Report.Cycles) +
           (Report.CyclesFailed > 0
                ? " (" + std::to_string(Report.CyclesFailed) + say(" falliti)", " failed)")
                : std::string()));
  if (!Report.Clock.empty()) fact(say("Orologio", "Clock"), Report.Clock);
  html += "</table>\n<p style=\"font-size: 11pt; font-weight: bold; color: " +
          VerdictColour(Report.Passed ? "PASS" : "FAIL") + ";\">" + Escaped(Report.Summary) +
          "</p>\n<table width=\"100%\" cellspacing=\"0\" cellpadding=\"3\">\n"
          "<tr><th>OBIS</th><th width=\"25%\">" +
          say("Descrizione", "Description") + "</th><th>Min</th><th>Max</th><th>" +
          say("Minimo", "Lowest") + "</th><th>" + say("Massimo", "Highest") + "</th><th>" +
          say("Ultimo", "Last") + "</th><th width=\"14%\">" + say("Esito", "Result") + "</th><th>" +
          say("Nota", "Note") + "</th></tr>\n";
  for (const TReportRow& row : Report.Rows) {
    html += "<tr><td style=\"white-space: nowrap; border: 1px solid #999999;\">" +
            Escaped(row.Obis) + "</td><td>" + Escaped(row.Description) +
            "</td><td class=\"num\" align=\"right\">" + Escaped(row.Min) +
            "</td><td class=\"num\" align=\"right\">" + Escaped(row.Max) +
            "</td><td class=\"num\" align=\"right\">" + Escaped(row.Lowest) +
            "</td><td class=\"num\" align=\"right\">" + Escaped(row.Highest) +
            "</td><td class=\"num\" align=\"right\">" + Escaped(row.Last) + "</td><td" +
            (row.Reason.empty() ? " nowrap" : "") +
            "><span style=\"font-weight: bold; color: " + VerdictColour(row.Verdict) + ";\">" +
            Unbroken(Escaped(VerdictText(row.Verdict, it))) + "</span>" +
            (row.Reason.empty() ? std::string() : "<br>" + Escaped(row.Reason)) + "</td><td>" +
            Escaped(row.Note) + "</td></tr>\n";
  }
  html += "</table>\n";
  for (const TReportSection& section : Report.Sections) {
    html += "<h2>" + Escaped(section.Title) +
            "</h2>\n<table class=\"facts\" width=\"100%\" cellspacing=\"0\" "
            "cellpadding=\"3\">\n";
    for (const auto& [name, value] : section.Facts) fact(name, value);
    html += "</table>\n";
  }
  html += "<p style=\"color: #666666;\">" + Escaped(Report.Program) + "</p>\n</body>\n</html>\n";
  return html;
}
