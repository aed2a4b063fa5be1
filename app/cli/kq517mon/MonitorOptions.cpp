#include "MonitorOptions.h"

#include <memory>

#include "Commons.h"

namespace {

constexpr char PROGRAM[] = "kq517mon";

constexpr char DESCRIPTION[] =
    "Listens to a Modbus RTU or ASCII serial line without ever sending, and\n"
    "prints one line per frame seen: the time, the bytes and what they mean.\n"
    "Clip it onto an RS-485 bus beside a meter and its master to see both.";

constexpr char FOOTER[] = R"(Output formats (standard output):
  text    10:20:30.123 01 03 00 00 00 0A C5 CD  slave 1 read holding registers 0+10
          a frame that is not sound (CRC or LRC error, wrong length) is
          printed too, its summary starting with "invalid frame:"
  jsonl   one JSON object per frame: time (ISO 8601, milliseconds, UTC
          offset), bytes, summary, valid, role (request, reply or unknown),
          outcome, and response_ms for a reply that followed its query

Ctrl-C ends it and prints the statistics on standard error:
  requests 9, replies 9, time-outs 0, exceptions 0, frame errors 0, response ms min 0.4 avg 0.6 max 1.1

Exit status: 0 after Ctrl-C, 1 when the port cannot be opened or fails, 2 bad arguments.
)";

std::string Version() {
  const std::string version = GetVersionStr("");
  return std::string(PROGRAM) + " " + (version.empty() ? "(no version record)" : version);
}

}  // namespace

TCommandLine ParseMonitorOptions(const std::vector<std::string>& Arguments, TMonitorOptions& o) {
  CLI::App app(DESCRIPTION, PROGRAM);
  auto help = std::make_shared<THelpFormatter>(MonitorSynopsis());
  help->column_width(27);
  app.formatter(help);
  app.option_defaults()->disable_flag_override();
  app.set_version_flag("--version", Version, "the program's version");
  app.footer(FOOTER);

  const std::string line = "Serial line";
  app.add_option("--serial", o.Port,
                 "the port to listen on (a path, or a name such as ttyUSB0 under /dev)")
      ->group(line)
      ->type_name("PORT")
      ->required()
      ->check(NonEmpty);
  AddBaudOption(app, o.BaudRate)->group(line);
  AddParityOption(app, o.Parity)->group(line);
  AddDataBitsOption(app, o.DataBits)->group(line);
  AddStopBitsOption(app, o.StopBits)->group(line);
  AddModeOption(app, o.Mode)->group(line);
  AddFastFramingOption(app, o.FrameEndByLength)->group(line);
  app.add_option("--format", o.Format, "text or jsonl (default text)")
      ->group("Output")
      ->type_name("FORMAT")
      ->transform(OneOf<EMonitorFormat>(
          {{"text", EMonitorFormat::mfText}, {"jsonl", EMonitorFormat::mfJsonl}}));
  return ParseCommandLine(app, Arguments);
}

std::string MonitorSynopsis() {
  return "Usage: kq517mon --serial PORT [--baud N] [--parity none|even|odd] [--stop-bits 1|2]\n"
         "                [--data-bits 7|8] [--mode rtu|ascii] [--fast-framing]\n"
         "                [--format text|jsonl]\n";
}
