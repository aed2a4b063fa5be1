#include "CommissionOptions.h"

#include <algorithm>
#include <charconv>

#include "PollOptions.h"
#include "ReportFiles.h"
#include "SerialLine.h"

namespace {

std::vector<std::string> CommaList(const std::string& Text) {
  std::vector<std::string> items;
  std::size_t start = 0;
  for (;;) {
    const auto comma = Text.find(',', start);
    items.push_back(Text.substr(start, comma == std::string::npos ? comma : comma - start));
    if (comma == std::string::npos) return items;
    start = comma + 1;
  }
}

const std::vector<std::pair<std::string, TBaudRate>> BAUD_RATES = {{"9600", br9600},
                                                                   {"19200", br19200},
                                                                   {"38400", br38400},
                                                                   {"57600", br57600},
                                                                   {"115200", br115200}};
const std::vector<std::pair<std::string, TParityScheme>> PARITIES = ParityChoices();

// Parses a comma list of words of Choices into Values; empty, or what is wrong.
template <typename T>
std::string ParseChoices(const std::string& Text,
                         const std::vector<std::pair<std::string, T>>& Choices,
                         std::vector<T>& Values) {
  Values.clear();
  for (const std::string& item : CommaList(Text)) {
    bool known = false;
    for (const auto& [name, value] : Choices) {
      if (item != name) continue;
      known = true;
      if (std::find(Values.begin(), Values.end(), value) == Values.end()) Values.push_back(value);
    }
    if (!known) {
      std::string names;
      for (const auto& choice : Choices) names += (names.empty() ? "" : ",") + choice.first;
      return "expects a comma list of " + names + ", not '" + item + "'";
    }
  }
  return {};
}

int SlaveNumber(const std::string& Text) {
  int value = -1;
  const auto [end, ec] = std::from_chars(Text.data(), Text.data() + Text.size(), value);
  return ec == std::errc{} && end == Text.data() + Text.size() && !Text.empty() ? value : -1;
}

// "FIRST-LAST" (or one address) of unicast slave addresses.
std::string ParseSlaves(const std::string& Text, int& First, int& Last) {
  const auto dash = Text.find('-');
  First = SlaveNumber(Text.substr(0, dash));
  Last = dash == std::string::npos ? First : SlaveNumber(Text.substr(dash + 1));
  if (First < MIN_SLAVE_ADDRESS || Last > MAX_SLAVE_ADDRESS || First > Last)
    return "expects FIRST-LAST within " + std::to_string(MIN_SLAVE_ADDRESS) + "-" +
           std::to_string(MAX_SLAVE_ADDRESS) + " with FIRST not above LAST, not '" + Text + "'";
  return {};
}

// Options that mean nothing to a mode; it excludes them.
const std::vector<std::string> POLL_ONLY = {"--leave-open",   "--keep-going", "--format",
                                            "--timestamps",   "--bom",        "--log",
                                            "--serve-metrics"};
const std::vector<std::string> DEVICE_SETTINGS = {
    "--unit",    "--timeout", "--connect-timeout", "--baud", "--parity",   "--slave", "--meter",
    "--float32", "--qvzt",    "--byte-order",      "--map",  "--interval", "--count"};

void Excludes(CLI::App& App, CLI::Option* Mode, const std::vector<std::string>& Names) {
  for (const std::string& name : Names)
    if (CLI::Option* other = App.get_option_no_throw(name)) Mode->excludes(other);
}

}  // namespace

void AddCommissionOptions(CLI::App& App, CLI::App& DeviceGroup, TPollOptions& o) {
  TCommissionOptions& c = o.Commission;
  CLI::Option* scan =
      DeviceGroup
          .add_option("--scan-serial", c.ScanPort,
                      "find meters on a serial port (every baud rate, parity and address), "
                      "or behind a serial device server, tcp://HOST:PORT (every address)")
          ->type_name("PORT")
          ->check(NonEmpty);

  const std::string group = "Commissioning";
  App.add_option_function<std::string>(
         "--bauds",
         [&c](const std::string& Text) { ParseChoices(Text, BAUD_RATES, c.ScanBaudRates); },
         "baud rates to scan (default 9600,19200,38400,57600,115200)")
      ->group(group)
      ->type_name("LIST")
      ->check(CLI::Validator(
          [](std::string& Text) {
            std::vector<TBaudRate> values;
            return ParseChoices(Text, BAUD_RATES, values);
          },
          "LIST"))
      ->needs(scan);
  App.add_option_function<std::string>(
         "--parities",
         [&c](const std::string& Text) { ParseChoices(Text, PARITIES, c.ScanParities); },
         "parities to scan (default none,even,odd)")
      ->group(group)
      ->type_name("LIST")
      ->check(CLI::Validator(
          [](std::string& Text) {
            std::vector<TParityScheme> values;
            return ParseChoices(Text, PARITIES, values);
          },
          "LIST"))
      ->needs(scan);
  App.add_option_function<std::string>(
         "--slaves",
         [&c](const std::string& Text) { ParseSlaves(Text, c.FirstSlave, c.LastSlave); },
         "slave addresses to scan (default 1-247)")
      ->group(group)
      ->type_name("FIRST-LAST")
      ->check(CLI::Validator(
          [](std::string& Text) {
            int first = 0, last = 0;
            return ParseSlaves(Text, first, last);
          },
          "FIRST-LAST"))
      ->needs(scan);

  CLI::Option* detect = App.add_flag_callback(
                               "--detect", [&c] { c.Mode = ECommissionMode::cmDetect; },
                               "rank every byte order and layout by how plausible the values read")
                            ->group(group);
  CLI::Option* test = App.add_option("--test", c.LimitsFile,
                                     "rate the values FILE has limits for over --count cycles")
                          ->group(group)
                          ->type_name("FILE")
                          ->check(NonEmpty);
  App.add_option("--report", c.ReportFile, "with --test: write the report as .pdf, .html or .json")
      ->group(group)
      ->type_name("FILE")
      ->check(CLI::Validator(
          [](std::string& Text) -> std::string {
            EReportFormat format{};
            return ReportFormatOf(Text, format)
                       ? ""
                       : "expects a .html, .pdf or .json file, not '" + Text + "'";
          },
          "FILE"))
      ->needs(test);

  Excludes(App, scan, POLL_ONLY);
  Excludes(App, scan, DEVICE_SETTINGS);
  Excludes(App, detect, POLL_ONLY);
  Excludes(App, scan, {"--function"});
  Excludes(App, detect,
           {"--float32", "--qvzt", "--byte-order", "--interval", "--count", "--function"});
  Excludes(App, test, {"--function"});
  detect->excludes(test);
  detect->excludes(scan);
  test->excludes(scan);
  Excludes(App, test, POLL_ONLY);
}

void FinishCommissionOptions(const CLI::App& App, TPollOptions& Options) {
  TCommissionOptions& c = Options.Commission;
  if (App.count("--scan-serial") > 0) c.Mode = ECommissionMode::cmScan;
  if (App.count("--test") > 0) c.Mode = ECommissionMode::cmTest;
}

std::string CommissionSynopsis(const std::string& ProgramName) {
  return "       " + ProgramName +
         " --scan-serial PORT|tcp://HOST:PORT [--bauds LIST] [--parities LIST]\n"
         "         [--slaves FIRST-LAST] [--mode rtu|ascii] [--data-bits 7|8] [--stop-bits 1|2]\n"
         "       " +
         ProgramName +
         " --tcp ...|--serial ... --detect\n"
         "       " +
         ProgramName + " --tcp ...|--serial ... --test FILE [--count N] [--report FILE]\n";
}
