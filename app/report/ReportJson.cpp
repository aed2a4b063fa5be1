#include "ReportJson.h"

#include <charconv>

namespace {

// A number text of the report as a JSON number; null when empty or not a number.
nlohmann::json NumberOrNull(const std::string& Text) {
  double value = 0;
  const char* begin = Text.data() + (Text.starts_with('+') ? 1 : 0);
  const auto [end, ec] = std::from_chars(begin, Text.data() + Text.size(), value);
  if (Text.empty() || ec != std::errc{} || end != Text.data() + Text.size()) return nullptr;
  return value;
}

nlohmann::json Sections(const TCommissioningReport& Report) {
  nlohmann::json sections = nlohmann::json::array();
  for (const TReportSection& section : Report.Sections) {
    nlohmann::json facts = nlohmann::json::object();
    for (const auto& [name, value] : section.Facts) facts[name] = value;
    sections.push_back({{"title", section.Title}, {"facts", facts}});
  }
  return sections;
}

}  // namespace

nlohmann::json ReportJson(const TCommissioningReport& Report) {
  nlohmann::json rows = nlohmann::json::array();
  for (const TReportRow& row : Report.Rows) {
    rows.push_back({{"obis", row.Obis},
                    {"description", row.Description},
                    {"min", NumberOrNull(row.Min)},
                    {"max", NumberOrNull(row.Max)},
                    {"lowest", NumberOrNull(row.Lowest)},
                    {"highest", NumberOrNull(row.Highest)},
                    {"last", row.Last},
                    {"result", row.Verdict},
                    {"reason", row.Reason},
                    {"note", row.Note}});
  }
  return {{"language", Report.Italian ? "it" : "en"},
          {"meter", Report.Meter},
          {"serial_number", Report.SerialNumber.empty() ? nlohmann::json(nullptr)
                                                        : nlohmann::json(Report.SerialNumber)},
          {"site", Report.Site},
          {"technician", Report.Technician},
          {"connection", Report.Connection},
          {"settings", Report.Settings},
          {"limits_file", Report.LimitsFile},
          {"date", Report.Date},
          {"firmware",
           Report.Firmware.empty() ? nlohmann::json(nullptr) : nlohmann::json(Report.Firmware)},
          {"cycles", Report.Cycles},
          {"cycles_failed", Report.CyclesFailed},
          {"passed", Report.Passed},
          {"summary", Report.Summary},
          {"program", Report.Program},
          {"clock", Report.Clock.empty() ? nlohmann::json(nullptr) : nlohmann::json(Report.Clock)},
          {"sections", Sections(Report)},
          {"rows", rows}};
}
