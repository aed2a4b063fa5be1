#pragma once
// The poller's commissioning modes and their options: finding a meter on a
// serial line (--scan-serial), finding its byte order and layout (--detect)
// and testing its values against limits with a report (--test).

#include <string>
#include <vector>

#include "CommandLine.h"
#include "ModLinkTypes.h"

enum class ECommissionMode { cmNone, cmScan, cmDetect, cmTest };

struct TCommissionOptions {
  ECommissionMode Mode = ECommissionMode::cmNone;
  // --scan-serial PORT [--bauds LIST] [--parities LIST] [--slaves FIRST-LAST]
  std::string ScanPort;
  std::vector<TBaudRate> ScanBaudRates = {br9600, br19200, br38400, br57600, br115200};
  std::vector<TParityScheme> ScanParities = {psNone, psEven, psOdd};
  int FirstSlave = 1;
  int LastSlave = 247;
  // --test FILE [--report FILE [--site TEXT] [--technician NAME] [--report-language en|it]]
  std::string LimitsFile;
  std::string ReportFile;
  std::string Site;
  std::string Technician;
  bool ReportItalian = true;
};

struct TPollOptions;

// Adds --scan-serial to the Device group (so that exactly one of --tcp,
// --serial and --scan-serial is given) and the other options to App. Call it
// after every other option of the poller exists: it declares which of them
// each mode excludes.
void AddCommissionOptions(CLI::App& App, CLI::App& DeviceGroup, TPollOptions& Options);

// After a successful parse: sets the mode the options ask for.
void FinishCommissionOptions(const CLI::App& App, TPollOptions& Options);

// The synopsis lines of the commissioning modes.
std::string CommissionSynopsis(const std::string& ProgramName);
