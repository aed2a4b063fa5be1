// The report files: the same data as HTML, JSON and PDF.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "ReportFiles.h"
#include "ReportJson.h"

namespace {

TCommissioningReport SampleReport() {
  TCommissioningReport report;
  report.Meter = "KQ517, meter instance 2";
  report.Connection = "Modbus TCP 127.0.0.1:1502, unit 0";
  report.Summary = "FAIL: 1 of 2 entries outside their limits in 3 cycles";
  report.Cycles = 3;
  report.Rows = {
      {"1-0:32.7.0", "Tensione <L1>", "207", "253", "228.5", "254", "254", "FAIL", "a & b"},
      {"1-0:1.8.0", "Energia", "0", "", "", "", "<N/A>", "NOT READ", ""}};
  return report;
}

std::string FileText(const std::string& Name) {
  std::ifstream in(Name, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(Report, JsonCarriesTheRowsAsNumbers) {
  const nlohmann::json json = ReportJson(SampleReport());
  EXPECT_TRUE(json["firmware"].is_null()) << "never read";
  EXPECT_EQ(json["passed"], false);
  const nlohmann::json& fail = json["rows"][0];
  EXPECT_EQ(fail["min"], 207.0);
  EXPECT_EQ(fail["highest"], 254.0);
  EXPECT_EQ(fail["result"], "FAIL");
  EXPECT_EQ(fail["last"], "254");
  EXPECT_TRUE(json["rows"][1]["max"].is_null()) << "no upper limit";
  EXPECT_TRUE(json["rows"][1]["lowest"].is_null()) << "nothing read";
}

TEST(Report, HtmlShowsTextsAsTextNotMarkup) {
  const std::string html = ReportHtml(SampleReport());
  EXPECT_NE(html.find("Tensione &lt;L1&gt;"), std::string::npos);
  EXPECT_NE(html.find("a &amp; b"), std::string::npos);
  EXPECT_EQ(html.find("<L1>"), std::string::npos);
}

TEST(Report, FilesInEachFormatAndFailuresNamed) {
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / "kq517-report-test";
  std::filesystem::create_directories(folder);
  std::string error;
  for (const char* name : {"r.pdf", "r.HTML", "r.json"}) {
    const std::string file = (folder / name).string();
    ASSERT_TRUE(WriteReportFile(SampleReport(), file, error)) << error;
    EXPECT_NE(
        FileText(file).find(name == std::string("r.pdf") ? "%PDF-" : "KQ517, meter instance 2"),
        std::string::npos)
        << name;
  }
  EXPECT_FALSE(WriteReportFile(SampleReport(), (folder / "r.txt").string(), error));
  EXPECT_EQ(error,
            "'" + (folder / "r.txt").string() + "': a report is written as .html, .pdf or .json");
  for (const char* name : {"missing/r.pdf", "missing/r.json"}) {
    EXPECT_FALSE(WriteReportFile(SampleReport(), (folder / name).string(), error)) << name;
    EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
  }
  std::filesystem::remove_all(folder);
}

}  // namespace
