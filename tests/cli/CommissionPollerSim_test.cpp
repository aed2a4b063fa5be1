// kq517poll's commissioning modes against kq517sim started with a slave
// address, byte order and instance set that are not the defaults.
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "ChildProgram.h"

namespace {

const std::string POLL = KQ517POLL_PATH;
const std::string FOLDER = std::filesystem::path(POLL).parent_path();

std::string FileText(const std::filesystem::path& Name) {
  std::ifstream in(Name, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class PollerCommission : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    sim = new TServerProgram({KQ517SIM_PATH, "--tcp", "127.0.0.1:0", "--slave", "7", "--parity",
                              "even", "--byte-order", "3-2-1-0", "--meters", "2,3"},
                             FOLDER);
    tcp = "127.0.0.1:" + sim->WaitForLine("kq517sim: Modbus TCP on 127.0.0.1:");
    const std::string rtu = sim->WaitForLine("kq517sim: Modbus RTU on ");
    pty = rtu.substr(0, rtu.find(' '));
  }
  static void TearDownTestSuite() { delete sim; }
  void SetUp() override {
    ASSERT_NE(tcp, "127.0.0.1:") << "the simulator did not start";
    folder =
        std::filesystem::temp_directory_path() / ("kq517-commission-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
  }
  void TearDown() override { std::filesystem::remove_all(folder); }

  static TServerProgram* sim;
  static std::string tcp, pty;
  std::filesystem::path folder;
};
TServerProgram* PollerCommission::sim = nullptr;
std::string PollerCommission::tcp;
std::string PollerCommission::pty;

TEST_F(PollerCommission, ScanFindsTheSlaveOnlyAtItsAddress) {
  const TProgramResult run = RunProgram(
      {POLL, "--scan-serial", pty, "--bauds", "115200", "--parities", "even", "--slaves", "5-9"},
      FOLDER);
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  // Instance 1 is switched off, so the firmware word at register 0 says so.
  EXPECT_EQ(run.out,
            "found: slave 7, 115200 baud, parity even, firmware word FFFF (meter instance 1 not "
            "present)\n");
  EXPECT_NE(run.err.find("scan done, 5 tries; 1 found"), std::string::npos) << run.err;
}

TEST_F(PollerCommission, CtrlCStopsAScanOfASilentLine) {
  int master = -1, slave = -1;
  char name[128] = {};
  ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
  TServerProgram scan({POLL, "--scan-serial", name}, FOLDER);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const TProgramResult run = scan.Stop(SIGINT);
  EXPECT_EQ(run.exitStatus, 1) << "nothing found";
  EXPECT_NE(run.err.find("scan stopped; 0 found"), std::string::npos) << run.err;
  close(slave);
  close(master);
}

TEST_F(PollerCommission, DetectFindsTheByteOrderOverBothTransports) {
  for (const std::vector<std::string>& device :
       {std::vector<std::string>{"--tcp", tcp, "--meter", "2"},
        std::vector<std::string>{"--serial", pty, "--slave", "7", "--parity", "even", "--meter",
                                 "3"}}) {
    std::vector<std::string> argv = {POLL, "--detect"};
    argv.insert(argv.end(), device.begin(), device.end());
    const TProgramResult run = RunProgram(argv, FOLDER);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.out.substr(0, run.out.find('\n')),
              "1. byte order 3-2-1-0, 64-bit layout, score 16/16");
    EXPECT_NE(run.out.find("\nbest: byte order 3-2-1-0, 64-bit layout, score 16/16"),
              std::string::npos)
        << run.out;
  }
}

TEST_F(PollerCommission, TheSimulatorPassesTheShippedLimits) {
  const std::string report = (folder / "report.json").string();
  const TProgramResult run =
      RunProgram({POLL, "--tcp", tcp, "--meter", "2", "--byte-order", "3-2-1-0", "--test",
                  "limits.cfg", "--count", "2", "--interval", "0,1", "--report", report, "--site",
                  "Cabina 12", "--technician", "M. Rossi"},
                 FOLDER);
  EXPECT_EQ(run.exitStatus, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("PASS: 24 of 24 entries within their limits in 2 cycles"),
            std::string::npos)
      << run.out;
  const nlohmann::json json = nlohmann::json::parse(FileText(report));
  EXPECT_EQ(json["passed"], true);
  EXPECT_EQ(json["firmware"], "103");
  EXPECT_EQ(json["rows"].size(), 24u);
  // The map has the clock entries: the report carries the clock check, in its language.
  EXPECT_TRUE(json["clock"].get<std::string>().starts_with("contatore ")) << json["clock"];
  EXPECT_TRUE(json["serial_number"].is_string()) << json["serial_number"];
  EXPECT_EQ(json["site"], "Cabina 12");
  EXPECT_EQ(json["technician"], "M. Rossi");
  EXPECT_EQ(json["language"], "it");
}

// The report speaks Italian unless asked otherwise, and says why an entry was
// not read; a limits file that cannot be read is bad input, not a failed test.
TEST_F(PollerCommission, TheReportSaysWhyInItsLanguage) {
  const auto report = folder / "report.html";
  const std::vector<std::string> test = {POLL,     "--tcp",      tcp,        "--meter",      "1",
                                         "--test", "limits.cfg", "--report", report.string()};
  for (const auto& [language, texts] :
       {std::pair<std::string, std::vector<std::string>>{
            "it", {"Rapporto di collaudo", ">Non&nbsp;letto</span><br>Contatore 1 non presente<"}},
        {"en",
         {"KQ517 commissioning report",
          ">NOT&nbsp;READ</span><br>meter instance 1 not present<"}}}) {
    std::vector<std::string> argv = test;
    argv.insert(argv.end(), {"--report-language", language});
    const TProgramResult run = RunProgram(argv, FOLDER);
    EXPECT_EQ(run.exitStatus, 1) << run.err;
    const std::string html = FileText(report);
    for (const std::string& text : texts) EXPECT_NE(html.find(text), std::string::npos) << text;
  }
  const TProgramResult unreadable =
      RunProgram({POLL, "--tcp", tcp, "--test", (folder / "missing.cfg").string()}, FOLDER);
  EXPECT_EQ(unreadable.exitStatus, 2) << unreadable.err;
}

TEST_F(PollerCommission, AValueOutsideItsLimitsFailsTheTestAndTheReport) {
  const auto limits = folder / "tight.cfg";
  std::ofstream(limits) << "1-0:32.7.0|0|100|too tight for 230 V\n1-0:14.7.0|45|65\n";
  for (const char* name : {"report.html", "report.pdf"}) {
    const auto report = folder / name;
    const TProgramResult run = RunProgram(
        {POLL, "--serial", pty, "--slave", "7", "--parity", "even", "--meter", "3", "--byte-order",
         "3-2-1-0", "--test", limits.string(), "--report", report.string()},
        FOLDER);
    EXPECT_EQ(run.exitStatus, 1) << run.err;
    EXPECT_NE(run.out.find("FAIL: 1 of 2 entries outside their limits in 1 cycle"),
              std::string::npos)
        << run.out;
    const std::string text = FileText(report);
    if (report.extension() == ".html") {
      EXPECT_NE(text.find(">1-0:32.7.0</td>"), std::string::npos);
    }
    EXPECT_NE(text.find(report.extension() == ".pdf" ? "%PDF-" : ">Non&nbsp;superato</span>"),
              std::string::npos)
        << name;
  }
}

}  // namespace
