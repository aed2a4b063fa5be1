// The value log (CSV per cycle) and the trend chart's history, and the
// numbers they take from a cycle's readings.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "CycleOutcome.h"
#include "EntryValues.h"
#include "TrendHistory.h"
#include "ValueLog.h"

namespace {

using namespace std::chrono_literals;

// Voltage (numeric, with a unit), a date (not a number) and a count whose
// description holds a comma.
TRegisterMap DecodedMap(const std::vector<TEntryReading>& Readings) {
  TRegisterMap map;
  EXPECT_EQ(map.LoadConfigFromBytes(
                mpQVZT, "1-0:32.7.0|F|Tensione L1 (V)\n0-0:1.0.0|D|Data\nx|i|Giri, totale\n",
                TMapSettings{}),
            TLoadResult::lrOk);
  map.UpdateGridStruct();
  for (std::size_t i = 0; i < Readings.size(); ++i) {
    map.MutableRegData()[i] = Readings[i].Text;
    map.MutableRegNumbers()[i] = Readings[i].Number;
  }
  return map;
}

const std::vector<TEntryReading> READINGS = {{"227.27", "", 227.27},
                                             {"08/12/2026", "", std::int64_t{20261208}},
                                             {"12", "", std::int64_t{12}}};

TCycleOutcome Outcome(const TRegisterMap& Map, bool Ok) {
  TCycleOutcome outcome;
  outcome.Ok = Ok;
  outcome.Time = std::chrono::system_clock::now();
  outcome.Entries = MapReadings(Map, true);
  return outcome;
}

std::string FileText(const std::filesystem::path& File) {
  std::ifstream in(File, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string AfterTimestamp(const std::string& Line) {
  return Line.substr(Line.find(','));
}

TEST(ValueLogTest, WritesEveryCycleFlushedWithPointDecimalsAndFailedCyclesEmpty) {
  const auto file = std::filesystem::path(::testing::TempDir()) / "values.csv";
  TValueLog log;
  std::string error;
  TRegisterMap map = DecodedMap(READINGS);
  ASSERT_TRUE(log.Open(file.string(), map, error)) << error;
  ASSERT_TRUE(log.WriteCycle(map, Outcome(map, true), "", error));
  map.MutableRegData()[0] = NOT_AVAIL;
  ASSERT_TRUE(log.WriteCycle(map, Outcome(map, false), "Nessuna Risposta", error));
  ASSERT_TRUE(log.WriteCycle(map, Outcome(map, true), "", error));

  // Read while the log is still open: each line is on disk already.
  std::istringstream lines(FileText(file));
  std::string header, first, failed, absent;
  std::getline(lines, header);
  std::getline(lines, first);
  std::getline(lines, failed);
  std::getline(lines, absent);
  EXPECT_EQ(
      header,
      "Timestamp,Ciclo,1-0:32.7.0 Tensione L1 (V),0-0:1.0.0 Data,\"x Giri, totale\",Errore\r");
  EXPECT_EQ(AfterTimestamp(first), ",1,227.27,08/12/2026,12,\r");
  EXPECT_EQ(AfterTimestamp(failed), ",2,,,,Nessuna Risposta\r");
  EXPECT_EQ(AfterTimestamp(absent), ",3,,08/12/2026,12,\r");
  EXPECT_EQ(first[4], '-');  // an ISO 8601 date first
}

// What a spreadsheet of a locale with a decimal comma opens as columns.
TEST(ValueLogTest, CommaLocalesGetSemicolonsAndDecimalCommas) {
  EXPECT_EQ(CsvDialectFor(","), CSV_COMMA);
  EXPECT_EQ(CsvDialectFor("."), CSV_POINT);
  const auto file = std::filesystem::path(::testing::TempDir()) / "valori.csv";
  TValueLog log;
  std::string error;
  TRegisterMap map = DecodedMap(READINGS);
  ASSERT_TRUE(log.Open(file.string(), map, error, CSV_COMMA)) << error;
  ASSERT_TRUE(log.WriteCycle(map, Outcome(map, true), "", error));
  ASSERT_TRUE(log.WriteCycle(map, Outcome(map, false), "Errore; riprova", error));
  std::istringstream lines(FileText(file));
  std::string header, first, failed;
  std::getline(lines, header);
  std::getline(lines, first);
  std::getline(lines, failed);
  EXPECT_EQ(header,
            "Timestamp;Ciclo;1-0:32.7.0 Tensione L1 (V);0-0:1.0.0 Data;x Giri, totale;Errore\r");
  EXPECT_EQ(first.substr(first.find(';')), ";1;227,27;08/12/2026;12;\r");
  EXPECT_EQ(failed.substr(failed.find(';')), ";2;;;;\"Errore; riprova\"\r");
}

TEST(ValueLogTest, AFileThatCannotBeWrittenIsReportedWithItsName) {
  TValueLog log;
  std::string error;
  const std::string file = ::testing::TempDir() + "/no-such-folder/values.csv";
  EXPECT_FALSE(log.Open(file, DecodedMap(READINGS), error));
  EXPECT_NE(error.find(file), std::string::npos) << error;
  EXPECT_FALSE(log.IsOpen());
}

// JSON and the metrics write a number as the shortest text that reads back
// as it, in its own precision.
TEST(EntryValuesTest, ShortestNumbersUnitsAndWhatIsNotANumber) {
  EXPECT_EQ(ShortestNumberText(10836.387), "10836.387");
  EXPECT_EQ(ShortestNumberText(0.004), "0.004");
  EXPECT_EQ(ShortestNumberText(227.27f), "227.27");
  EXPECT_EQ(ShortestNumberText(std::int64_t{-3}), "-3");
  EXPECT_EQ(NumberValue(227.27f), static_cast<double>(227.27f));
  for (const TEntryNumber& number :
       {TEntryNumber{}, TEntryNumber{std::nan("")}, TEntryNumber{-HUGE_VALF}})
    EXPECT_FALSE(ShortestNumberText(number));
  EXPECT_EQ(UnitOf("Potenza (kW) totale (kWh)"), "kWh");
  EXPECT_EQ(UnitOf("Frequenza"), "");
}

TEST(TrendHistoryTest, ChartsNumericEntriesOnlyAndForgetsWhatIsOlderThanAnHour) {
  TRegisterMap map = DecodedMap({{"230.1", "", 230.1}, READINGS[1], {"7", "", std::int64_t{7}}});
  TTrendHistory history(map, {0, 1, 2, 99});
  ASSERT_EQ(history.Series().size(), 2u);  // the date and an entry outside the map left out
  EXPECT_EQ(history.Units(), (std::vector<std::string>{"V", ""}));

  const auto start = std::chrono::system_clock::now();
  history.AddCycle(start, map, true);
  history.AddCycle(start + 1s, map, false);  // a failed cycle adds no point
  map.MutableRegNumbers()[0] = {};           // "<N/A>"
  history.AddCycle(start + 2s, map, true);
  ASSERT_EQ(history.Series()[0].Points.size(), 1u);
  EXPECT_EQ(history.Series()[0].Points[0].Value, 230.1);
  EXPECT_EQ(history.Series()[1].Points.size(), 2u);

  history.AddCycle(start + TREND_LONGEST_SPAN + 3s, map, true);
  EXPECT_EQ(history.Series()[1].Points.size(), 1u);
  EXPECT_TRUE(history.Series()[0].Points.empty());
}

}  // namespace
