// kq517poll --test: rates a meter's values against a limits file and writes
// the report.
#include <filesystem>
#include <string>

#include "ByteOrderDetection.h"
#include "CommissionRunner.h"
#include "CommissioningReport.h"
#include "LimitsTest.h"
#include "MapFileLookup.h"
#include "MeterClock.h"
#include "OutputFormat.h"
#include "PollLoop.h"
#include "PollRunner.h"
#include "ReportFiles.h"
#include "StopSignal.h"

namespace {

constexpr char PROGRAM[] = "kq517poll: ";

// The table and the summary in English, like every text of the program; the
// report file is in the language it was asked for.
void PrintResults(const TCommissioningReport& Report, const TLimitsTest& Test, std::ostream& Out) {
  std::vector<std::vector<std::string_view>> rows;
  rows.push_back({"OBIS", "Min", "Max", "Lowest", "Highest", "Last", "Result", "Description"});
  for (const TReportRow& row : Report.Rows)
    rows.push_back({row.Obis, row.Min, row.Max, row.Lowest, row.Highest, row.Last, row.Verdict,
                    row.Description});
  WriteAlignedTable(Out, rows, {1, 2, 3, 4, 5});
  Out << Test.Summary() << '\n';
}

// A bare file name that the working folder does not hold is looked for where
// the map files are, so that the shipped limits.cfg is found from anywhere.
std::string LimitsFilePath(const std::string& Name) {
  if (Name.find('/') != std::string::npos || std::filesystem::exists(Name)) return Name;
  return FindMapFile(Name, ThisProgram());
}

}  // namespace

int RunTestMode(const TPollOptions& Options, std::ostream& Out, std::ostream& Err) {
  const std::string limitsFile = LimitsFilePath(Options.Commission.LimitsFile);
  const TLimitsFile limits = LoadLimitsFile(limitsFile);
  if (!limits.Ok()) {
    // Bad input, not a failed test: a script must tell the two apart.
    Err << PROGRAM << limits.Error << '\n';
    return POLL_EXIT_USAGE;
  }
  TRegisterMap map;
  if (!LoadPollMap(Options, map, Err)) return POLL_EXIT_FAILED;
  const auto source = RegisterSourceFor(Options);

  TLimitsRunSettings settings;
  settings.MeterInstanceIndex = Options.MeterInstanceIndex;
  settings.Float32 = Options.Float32;
  settings.Qvzt = Options.Qvzt;
  settings.ByteSequence = static_cast<EByteSequence>(Options.ByteSequenceIndex.value_or(0));
  settings.Function = Options.Function;
  settings.Count = Options.Count;
  settings.Interval = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::duration<double>(Options.IntervalSeconds));

  const TStopSignal stop;
  TLimitsRunHooks hooks;
  hooks.WaitOrStop = [&stop](std::chrono::milliseconds Pause) { return stop.WaitFor(Pause); };
  hooks.OnCycle = [&](int Cycle, const std::string& Error) {
    if (!Error.empty())
      Err << PROGRAM << "cycle " << Cycle << " of " << settings.Count << ": " << Error << std::endl;
  };
  TLimitsTest test(limits.Limits, map.Regs());
  const TLimitsRunResult run = RunLimitsTest(map, *source, settings, test, hooks);

  TReportContext context;
  context.Italian = Options.Commission.ReportItalian;
  context.Site = Options.Commission.Site;
  context.Technician = Options.Commission.Technician;
  context.SerialNumber = run.SerialNumber;
  context.Meter = ReportMeterText(Options.MeterInstanceIndex, context.Italian);
  context.Connection = source->Describe();
  context.Settings = ReportSettingsText(
      Options.Qvzt, static_cast<EByteSequence>(Options.ByteSequenceIndex.value_or(0)),
      Options.Float32, Options.MapFileName(), context.Italian);
  context.LimitsFile = limitsFile;
  context.Firmware = run.Firmware;
  context.CyclesFailed = run.CyclesFailed;
  context.Program = PollVersion();
  if (const auto clock =
          FindClock(map.Regs(), TMapSettings{Options.Float32, Options.MeterInstanceIndex}))
    context.Clock =
        ClockCheckText(ReadMeterClock(*source, *clock, settings.ByteSequence), context.Italian);
  const TCommissioningReport report = MakeCommissioningReport(test, context);
  PrintResults(report, test, Out);

  if (!Options.Commission.ReportFile.empty()) {
    std::string error;
    if (!WriteReportFile(report, Options.Commission.ReportFile, error)) {
      Err << PROGRAM << error << '\n';
      return POLL_EXIT_FAILED;
    }
  }
  return test.Passed() ? POLL_EXIT_OK : POLL_EXIT_FAILED;
}
