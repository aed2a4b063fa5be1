#pragma once
// The report of a commissioning test: which meter, over which connection and
// with which settings, when, its firmware, a summary line and one row per
// entry held to limits. It is written as HTML here; the PDF (the same HTML
// laid out on A4 pages) and the JSON (the same data) are written by the
// report library, which the window and the poller share.

#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "LimitsTest.h"

struct TReportRow {
  std::string Obis;
  std::string Description;
  std::string Min;  // as the limits file writes it; empty: no limit
  std::string Max;
  std::string Lowest;  // lowest value seen, "0.##"; empty when none was read
  std::string Highest;
  std::string Last;     // the last cycle's value text
  std::string Verdict;  // "PASS", "FAIL" or "NOT READ"
  std::string Reason;   // why it was not read ("Contatore 1 non presente"); may be empty
  std::string Note;     // the limits file's note
};

// A part of the report after the results: a title and named facts.
struct TReportSection {
  std::string Title;
  std::vector<std::pair<std::string, std::string>> Facts;
};

struct TCommissioningReport {
  bool Italian = true;       // the language of its texts (the JSON's keys stay English)
  std::string Meter;         // "KQ517, meter instance 2"
  std::string SerialNumber;  // the map entry SERIAL_NUMBER_OBIS; empty when not read
  std::string Site;          // where the meter is, as the technician wrote it
  std::string Technician;
  std::string Connection;  // "Modbus TCP 127.0.0.1:1502, unit 0"
  std::string Settings;    // "byte order 3-2-1-0, 64-bit layout, map map.cfg"
  std::string LimitsFile;
  std::string Date;      // local time, "2026-12-09 10:20:30 +0100"
  std::string Firmware;  // empty when never read
  int Cycles = 0;
  int CyclesFailed = 0;
  bool Passed = false;
  std::string Summary;
  std::vector<TReportRow> Rows;
  // Further parts, shown in order after the results.
  std::vector<TReportSection> Sections;
  std::string Program;  // "kq517poll 1.0.0.0"
  // The clock check when the map has the clock: "meter 2026-12-09 10:20:30,
  // computer 2026-12-09 10:20:31, difference -1 s"; empty otherwise.
  std::string Clock;
};

// What the test does not know itself.
struct TReportContext {
  bool Italian = true;
  std::string Meter;
  std::string SerialNumber;
  std::string Site;
  std::string Technician;
  std::string Connection;
  std::string Settings;
  std::string LimitsFile;
  std::string Firmware;
  int CyclesFailed = 0;
  std::string Program;
  std::string Clock;  // as TCommissioningReport::Clock
};

// The report of a finished test, dated now.
TCommissioningReport MakeCommissioningReport(const TLimitsTest& Test,
                                             const TReportContext& Context);

// "KQ517, contatore 2" ("KQ517, meter instance 2") for MeterInstanceIndex 1.
std::string ReportMeterText(int MeterInstanceIndex, bool Italian);
// "sequenza byte 3-2-1-0, layout 64 bit, mappa map.cfg" ("byte order
// 3-2-1-0, 64-bit layout, map map.cfg"); the map is left out when MapFile is
// empty, and the QVZT mode always reads 0-1-2-3.
std::string ReportSettingsText(bool Qvzt, EByteSequence Sequence, bool Float32,
                               const std::string& MapFile, bool Italian);

// The local time as "2026-12-09 10:20:30 +0100", locale-free.
std::string ReportDateText(std::time_t Time);

// "Superato", "Non superato", "Non letto" (or "PASS", "FAIL", "NOT READ").
std::string VerdictText(const std::string& Verdict, bool Italian);

// The report as a complete HTML document (UTF-8) in the report's language,
// styled for the screen and for Qt's rich-text layout of the PDF alike.
std::string ReportHtml(const TCommissioningReport& Report);
