#include "PollPrinter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <sstream>

#include "Metrics.h"
#include "TrafficEntry.h"

namespace {

using namespace std::chrono;

TGridRow Row(std::string Address, std::string Type, std::string Value, std::string Description) {
  return {std::move(Address), std::move(Type), "1-0:1.8.0",
          std::move(Value),   "0102",          std::move(Description)};
}

// 2026-12-08T09:20:30.123Z, a double with more decimals than its text shows,
// a word, a date and a value not available.
TCycleRecord Cycle(int Number, bool Ok = true) {
  TCycleRecord record;
  record.Time = system_clock::time_point(seconds(1796721630) + milliseconds(123));
  record.Cycle = Number;
  record.Ok = Ok;
  record.Error = Ok ? "" : "Eccezione Server: Indirizzo Illegale";
  record.Meter = 2;
  record.Rows = {
      Row("1000", "FLOAT64", "227.27", "Tensione, L1"), Row("1004", "INT16", "263", "Versione"),
      Row("1005", "INT32", "08/12/2026", "Data"), Row("1007", "FLOAT32", "<N/A>", "Qualità")};
  record.Types = {eDouble, eWord, eDate, eFloat};
  record.Numbers = {227.2712, std::int64_t{263}, std::int64_t{20261208}, TEntryNumber{}};
  return record;
}

std::string Print(TPrinterSettings Settings, int Cycles) {
  std::ostringstream out;
  TPollPrinter printer(out, Settings);
  for (int n = 1; n <= Cycles; ++n) printer.PrintCycle(Cycle(n));
  printer.Finish();
  return out.str();
}

class PollPrinterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "CET-1", 1);  // UTC+1, no daylight saving time
    tzset();
  }
};

TEST_F(PollPrinterTest, CsvQuotesOnlyWhatRfc4180Requires) {
  EXPECT_EQ(CsvField("2.5"), "2.5");
  EXPECT_EQ(CsvField("2,5"), "\"2,5\"");
  EXPECT_EQ(CsvField("a \"b\""), "\"a \"\"b\"\"\"");
  EXPECT_EQ(CsvField("line\nbreak"), "\"line\nbreak\"");
  EXPECT_EQ(CsvField("cr\r"), "\"cr\r\"");
  EXPECT_EQ(CsvField(""), "");
}

TEST_F(PollPrinterTest, CsvHeaderOnceThenTheRowsOfEveryCycle) {
  TPrinterSettings plain{EOutputFormat::ofCsv};
  plain.DecimalSeparator = ",";  // for the table only: CSV keeps '.'
  EXPECT_EQ(Print(plain, 2),
            "Indirizzo,Tipo,OBIS,Valore,Valore Registri,Descrizione\r\n"
            "1000,FLOAT64,1-0:1.8.0,227.27,0102,\"Tensione, L1\"\r\n"
            "1004,INT16,1-0:1.8.0,263,0102,Versione\r\n"
            "1005,INT32,1-0:1.8.0,08/12/2026,0102,Data\r\n"
            "1007,FLOAT32,1-0:1.8.0,<N/A>,0102,Qualità\r\n"
            "1000,FLOAT64,1-0:1.8.0,227.27,0102,\"Tensione, L1\"\r\n"
            "1004,INT16,1-0:1.8.0,263,0102,Versione\r\n"
            "1005,INT32,1-0:1.8.0,08/12/2026,0102,Data\r\n"
            "1007,FLOAT32,1-0:1.8.0,<N/A>,0102,Qualità\r\n");

  TPrinterSettings stamped{EOutputFormat::ofCsv, true, true};
  const std::string out = Print(stamped, 2);
  EXPECT_EQ(out.rfind("\xEF\xBB\xBFTimestamp,Ciclo,Indirizzo,Tipo,", 0), 0u) << out;
  EXPECT_NE(out.find("\r\n2026-12-08T10:20:30.123+01:00,2,1004,INT16,"), std::string::npos) << out;

  stamped.HeaderWritten = true;  // appending to a log that has its header
  EXPECT_EQ(Print(stamped, 1).rfind("2026-12-08T10:20:30.123+01:00,1,1000,", 0), 0u);
}

TEST_F(PollPrinterTest, JsonIsOneDocumentAndJsonlOneObjectPerLine) {
  const auto json = nlohmann::json::parse(Print({EOutputFormat::ofJson}, 2));
  ASSERT_EQ(json.size(), 2u);
  EXPECT_EQ(json[1]["cycle"], 2);
  EXPECT_EQ(nlohmann::json::parse(Print({EOutputFormat::ofJson}, 0)), nlohmann::json::array());

  std::istringstream lines(Print({EOutputFormat::ofJsonl}, 2));
  std::string first, second, rest;
  std::getline(lines, first);
  std::getline(lines, second);
  EXPECT_FALSE(std::getline(lines, rest));
  EXPECT_EQ(
      first.rfind(
          R"({"time":"2026-12-08T10:20:30.123+01:00","cycle":1,"ok":true,"error":null,"meter":2,"rows":[{"address":1000,"type":"FLOAT64","obis":"1-0:1.8.0","value":227.2712,"text":"227.27","raw":"0102","description":"Tensione, L1"},)",
          0),
      0u)
      << first;
  const auto rows = nlohmann::json::parse(second)["rows"];
  EXPECT_EQ(rows[1]["value"], 263);
  EXPECT_EQ(rows[2]["value"], "2026-12-08");
  EXPECT_EQ(rows[2]["text"], "08/12/2026");
  EXPECT_TRUE(rows[3]["value"].is_null());
}

TEST_F(PollPrinterTest, JsonCarriesEveryTextExactlyAndStaysValid) {
  TCycleRecord record = Cycle(1, false);
  record.Rows[0][gcDescription] = "\xE0 x";  // a Windows-1252 'à': not UTF-8
  record.Rows[1][gcDescription] = "a \"b\"\\\n\t";
  std::ostringstream out;
  TPollPrinter printer(out, {EOutputFormat::ofJsonl});
  printer.PrintCycle(record);
  record.Rows[1][gcDescription] = "changed";  // a row that changes is written anew
  printer.PrintCycle(record);
  std::istringstream lines(out.str());
  std::string first, second;
  std::getline(lines, first);
  std::getline(lines, second);
  const auto json = nlohmann::json::parse(first);
  EXPECT_EQ(json["rows"][0]["description"], "\xEF\xBF\xBD x");
  EXPECT_EQ(json["rows"][1]["description"], "a \"b\"\\\n\t");
  EXPECT_EQ(json["error"], "Eccezione Server: Indirizzo Illegale");
  EXPECT_EQ(nlohmann::json::parse(second)["rows"][1]["description"], "changed");
}

TEST_F(PollPrinterTest, TableAlignsByCharactersAndUsesTheUsersSeparatorForNumbersOnly) {
  TPrinterSettings italian{EOutputFormat::ofTable};
  italian.DecimalSeparator = ",";
  EXPECT_EQ(Print(italian, 2),
            "Indirizzo  Tipo     OBIS       Valore      Valore Registri  Descrizione\n"
            "     1000  FLOAT64  1-0:1.8.0  227,27      0102             Tensione, L1\n"
            "     1004  INT16    1-0:1.8.0  263         0102             Versione\n"
            "     1005  INT32    1-0:1.8.0  08/12/2026  0102             Data\n"
            "     1007  FLOAT32  1-0:1.8.0  <N/A>       0102             Qualità\n"
            "\n"
            "Indirizzo  Tipo     OBIS       Valore      Valore Registri  Descrizione\n"
            "     1000  FLOAT64  1-0:1.8.0  227,27      0102             Tensione, L1\n"
            "     1004  INT16    1-0:1.8.0  263         0102             Versione\n"
            "     1005  INT32    1-0:1.8.0  08/12/2026  0102             Data\n"
            "     1007  FLOAT32  1-0:1.8.0  <N/A>       0102             Qualità\n");
}

TEST(CycleTime, IsLocalIso8601WithTheZonesOffset) {
  const auto time = system_clock::time_point(seconds(1796721630) + milliseconds(7));
  const std::pair<const char*, const char*> zones[] = {
      {"UTC0", "2026-12-08T09:20:30.007+00:00"},
      {"<-0330>3:30", "2026-12-08T05:50:30.007-03:30"},
      {"<+0545>-5:45", "2026-12-08T15:05:30.007+05:45"},
  };
  for (const auto& [zone, expected] : zones) {
    setenv("TZ", zone, 1);
    tzset();
    EXPECT_EQ(IsoTimeText(time), expected) << zone;
  }
}

TEST(Metrics, NumericValuesOfTheLatestGoodCycleAndTheCounters) {
  TMetricsState state;
  TCycleRecord good = Cycle(1);
  good.Rows[0][gcDescription] = "Tensione \"L1\"\\fase";
  good.Duration = milliseconds(250);
  state.Record(good);
  state.Record(Cycle(2, false));
  const std::string failed = state.Render();
  EXPECT_EQ(failed.find("kq517_value{"), std::string::npos) << "no stale values after a failure";
  EXPECT_NE(failed.find("kq517_polls_total{result=\"ok\"} 1\n"), std::string::npos);
  EXPECT_NE(failed.find("kq517_polls_total{result=\"failed\"} 1\n"), std::string::npos);
  EXPECT_NE(failed.find("kq517_last_success_timestamp_seconds 1796721630.373\n"), std::string::npos)
      << failed;

  state.Record(good);
  const std::string ok = state.Render();
  EXPECT_NE(ok.find("kq517_value{meter=\"2\",address=\"1000\",obis=\"1-0:1.8.0\","
                    "description=\"Tensione \\\"L1\\\"\\\\fase\"} 227.2712\n"),
            std::string::npos)
      << ok;
  EXPECT_NE(ok.find("kq517_value{meter=\"2\",address=\"1004\",obis=\"1-0:1.8.0\",description="
                    "\"Versione\"} 263\n"),
            std::string::npos);
  EXPECT_EQ(ok.find("address=\"1005\""), std::string::npos) << "a date is no sample";
  EXPECT_EQ(ok.find("address=\"1007\""), std::string::npos) << "<N/A> is no sample";
  EXPECT_NE(ok.find("kq517_poll_duration_seconds 0.25\n"), std::string::npos);
}

}  // namespace
