#include "PollOptions.h"

#include <algorithm>
#include <memory>

#include "Commons.h"
#include "RegisterTypes.h"
#include "SerialLine.h"

namespace {

constexpr char DESCRIPTION[] =
    "Reads the holding (or input) registers of a KQ517 meter that the register map lists,\n"
    "decodes them and prints, after every cycle, the columns of the window's grid:\n"
    "Indirizzo, Tipo, OBIS, Valore, Valore Registri, Descrizione.";

constexpr char FOOTER[] = R"(Output formats (standard output):
  table   aligned columns, one table per cycle; numbers use the decimal
          separator of the locale (LC_NUMERIC)
  csv     RFC 4180: the header line
          Indirizzo,Tipo,OBIS,Valore,Valore Registri,Descrizione
          once, then the rows of every cycle; with --timestamps the columns
          Timestamp,Ciclo come first
  jsonl   one JSON object per cycle and line: time (ISO 8601, milliseconds,
          UTC offset), cycle, ok, error, meter, rows; each row has address,
          type, obis, value (the number in full, an ISO 8601 text for dates
          and times, null for "<N/A>"), text, raw, description
  json    one JSON array of those objects for the whole run
csv, json and jsonl always write numbers with '.'. The texts are the window's
(two decimals at most): "<N/A>" after a failed cycle and for the entries a
failed block did not bring; over a serial line every failed reply shows
"<N/A>".

Map files: map.cfg (qvztmap.cfg with --qvzt) is looked for in the working
folder, then beside the program, then in ../share/kq517/ beside the program's
folder. A name given with --map is read as it is.

Metrics: --serve-metrics HOST:PORT polls until Ctrl-C (or --count cycles) and
serves the latest cycle at http://HOST:PORT/metrics for Prometheus:
kq517_value{meter,address,obis,description} for every numeric value,
kq517_polls_total{result="ok"|"failed"}, kq517_last_success_timestamp_seconds
and kq517_poll_duration_seconds. A failed cycle does not end it, and standard
output stays empty unless --format is given.

Exit status:
  0  every cycle read and decoded the whole map
  1  a cycle failed, or the map file could not be used; the reason (the text of
     the window's error bar, or the connection error) is on standard error.
     A connection error or a lost kept-open connection ends the poll; an
     exception reply, a time-out or a switched-off meter instance ("meter
     instance N not present") does not. Over a serial line a port that cannot
     be opened or a map the request cannot hold ends the poll; a reply that is
     not a normal one does not. With --keep-going no failure ends the poll
  2  bad arguments
--scan-serial exits 0 when a meter answered, --detect when one byte order
scored best, and --test when every entry with limits passed (PASS); an entry
outside its limits (FAIL) or without a value (NOT READ) gives 1.
)";

// The parser, with every option bound to its field of Options.
std::unique_ptr<CLI::App> PollApp(TPollOptions& o, const std::string& Program = "kq517poll") {
  auto app = std::make_unique<CLI::App>(DESCRIPTION, Program);
  auto help = std::make_shared<THelpFormatter>(PollSynopsis(Program));
  help->column_width(27);
  app->formatter(help);
  app->option_defaults()->disable_flag_override();
  app->set_version_flag("--version", PollVersion, "the program's version");
  app->footer(FOOTER);

  CLI::App* device = app->add_option_group("Device", "exactly one");
  CLI::Option* tcp = device
                         ->add_option_function<THostPort>(
                             "--tcp",
                             [&o](const THostPort& Target) {
                               o.Transport = ETransport::trTcp;
                               o.Tcp.Host = Target.Host;
                               o.Tcp.Port = Target.Port.value_or(o.Tcp.Port);
                             },
                             "Modbus TCP device (port 502 when omitted; [IPv6]:PORT)")
                         ->option_text("HOST[:PORT]")
                         ->check(HostPortCheck());
  CLI::Option* serial =
      device
          ->add_option("--serial", o.Serial.Port,
                       "Modbus RTU or ASCII device on a serial port (a path, or a name such "
                       "as ttyUSB0 under /dev), or behind a serial device server: "
                       "tcp://HOST:PORT")
          ->type_name("PORT")
          ->check(NonEmpty);
  device->require_option(1);

  const std::string tcpGroup = "Modbus TCP";
  app->add_option("--unit", o.Tcp.UnitId, "unit identifier 0 to 255 (default 0)")
      ->group(tcpGroup)
      ->type_name("N")
      ->check(CLI::Range(0, 255))
      ->excludes(serial);
  app->add_option("--timeout", o.Tcp.ReplyTimeoutSeconds, "reply time-out (default 15)")
      ->group(tcpGroup)
      ->type_name("S")
      ->check(SecondsCheck(0.01, 3600))
      ->excludes(serial);
  // Also for a serial device server (--serial tcp://...); checked after the parse.
  app->add_option("--connect-timeout", o.Tcp.ConnectTimeoutSeconds,
                  "connect time-out, also to --serial tcp://... (default 5; 0: as long as "
                  "the system tries)")
      ->group(tcpGroup)
      ->type_name("S")
      ->check(SecondsCheck(0, 3600));
  // Also for a serial device server (--serial tcp://...); checked after the parse.
  app->add_flag("--leave-open", o.LeaveOpen,
                "keep the connection open between cycles; a connection the device closed "
                "then ends the poll (through a serial device server, the next cycle "
                "connects again)")
      ->group(tcpGroup);

  const std::string serialGroup = "Serial line";
  AddBaudOption(*app, o.Serial.BitRate)->group(serialGroup)->excludes(tcp);
  AddParityOption(*app, o.Serial.Parity)->group(serialGroup)->excludes(tcp);
  AddModeOption(*app, o.Serial.Mode)->group(serialGroup)->excludes(tcp);
  AddDataBitsOption(*app, o.Serial.DataBits)->group(serialGroup)->excludes(tcp);
  AddStopBitsOption(*app, o.Serial.StopBits)->group(serialGroup)->excludes(tcp);
  // 0 would be a broadcast, which no meter answers.
  AddSlaveOption(*app, o.Serial.SlaveAddress)->group(serialGroup)->excludes(tcp);
  AddFastFramingOption(*app, o.Serial.FrameEndByLength)->group(serialGroup)->excludes(tcp);

  const std::string mapGroup = "Map and decoding";
  std::vector<std::pair<std::string, int>> meters;
  for (int i = 0; i < METER_INSTANCE_COUNT; ++i) meters.emplace_back(std::to_string(i + 1), i);
  app->add_option("--meter", o.MeterInstanceIndex,
                  "meter instance 1 to 5 (default 1): registers from 1000 x (N-1)")
      ->group(mapGroup)
      ->type_name("N")
      ->transform(OneOf(meters));
  CLI::Option* qvzt =
      app->add_flag("--qvzt", o.Qvzt, "QVZT mode: qvztmap.cfg, bytes always in 0-1-2-3 order")
          ->group(mapGroup);
  app->add_flag("--float32", o.Float32, "read the 32-bit floating-point map (registers from 200)")
      ->group(mapGroup)
      ->excludes(qvzt);
  app->add_option("--byte-order", o.ByteSequenceIndex,
                  "byte sequence of multi-register values (default 1-0-3-2)")
      ->group(mapGroup)
      ->type_name("SEQ")
      ->excludes(qvzt)
      ->transform(ByteOrderCheck());
  AddReadFunctionOption(*app, o.Function, "the map's registers")->group(mapGroup);
  app->add_option("--map", o.MapFile, "map file (default: map.cfg, or qvztmap.cfg with --qvzt)")
      ->group(mapGroup)
      ->type_name("FILE")
      ->check(NonEmpty);

  const std::string pollGroup = "Polling";
  app->add_option("--interval", o.IntervalSeconds,
                  "pause between cycles (default 2, fractions allowed)")
      ->group(pollGroup)
      ->type_name("SECONDS")
      ->check(SecondsCheck(0, 86400));
  app->add_option("--count", o.Count, "number of cycles (default 1; with --test too)")
      ->group(pollGroup)
      ->type_name("N")
      ->check(CLI::Range(1, 1000000000));
  app->add_flag("--keep-going", o.KeepGoing,
                "a failed cycle does not end the poll (the exit status is still 1)")
      ->group(pollGroup);

  const std::string outputGroup = "Output";
  AddFormatOption(*app, o.Format)->group(outputGroup);
  app->add_flag("--timestamps", o.Timestamps, "csv: Timestamp and Ciclo as the first two columns")
      ->group(outputGroup);
  app->add_flag("--bom", o.Bom, "csv: start with a UTF-8 byte-order mark, for spreadsheets")
      ->group(outputGroup);
  app->add_option("--log", o.LogFile,
                  "append every cycle to FILE as CSV with time stamps (header once), "
                  "besides standard output")
      ->group(outputGroup)
      ->type_name("FILE")
      ->check(NonEmpty);
  app->add_option("--serve-metrics", o.MetricsAddress,
                  "serve the latest cycle for Prometheus at http://HOST:PORT/metrics")
      ->group(outputGroup)
      ->option_text("HOST:PORT")
      ->check(HostPortCheck(true));
  app->add_flag("--trace", o.Trace,
                "every frame sent and received on standard error: time, TX or RX, the bytes "
                "in hex, what they mean")
      ->group(outputGroup);
  app->add_flag("--stats", o.Stats,
                "at the end, on standard error: requests, replies, time-outs, exceptions, "
                "frame errors and the response times")
      ->group(outputGroup);
  AddCommissionOptions(*app, *device, o);
  return app;
}

// What a serial port's options say that does not fit the port: a connect
// time-out needs a connection (--tcp, or a serial device server), and a scan
// through a server has only the server's own bit rate and parity.
std::string LineOptionMisfit(const CLI::App& App, const TPollOptions& o) {
  if (App.count("--connect-timeout") > 0 && o.Transport == ETransport::trSerial &&
      !IsTcpPortName(o.Serial.Port))
    return "--connect-timeout applies to --tcp and to --serial tcp://HOST:PORT only";
  if (o.LeaveOpen && o.Transport == ETransport::trSerial && !IsTcpPortName(o.Serial.Port))
    return "--leave-open applies to --tcp and to --serial tcp://HOST:PORT only";
  if (o.Commission.Mode == ECommissionMode::cmScan && IsTcpPortName(o.Commission.ScanPort) &&
      (App.count("--bauds") > 0 || App.count("--parities") > 0))
    return "--bauds and --parities do not apply to a serial device server (tcp://): its line "
           "has its own";
  return {};
}

}  // namespace

std::string PollVersion() {
  const std::string version = GetVersionStr("");
  return std::string("kq517poll ") + (version.empty() ? "(no version record)" : version);
}

std::string TPollOptions::MapFileName() const {
  if (!MapFile.empty()) return MapFile;
  return Qvzt ? QVZT_MAP_FILE : NORMAL_MAP_FILE;
}

TParsedCommandLine ParsePollCommandLine(const std::vector<std::string>& Arguments) {
  TParsedCommandLine result;
  TPollOptions& o = result.Options;
  const auto app = PollApp(o);
  const TCommandLine parsed = ParseCommandLine(*app, Arguments);
  switch (parsed.Action) {
    case TCommandLine::TAction::Run:
      break;
    case TCommandLine::TAction::Help:
      result.Action = TParsedCommandLine::TAction::Help;
      return result;
    case TCommandLine::TAction::Version:
      result.Action = TParsedCommandLine::TAction::Version;
      return result;
    case TCommandLine::TAction::Error:
      result.Action = TParsedCommandLine::TAction::Error;
      result.Error = parsed.Text;
      return result;
  }
  if (app->count("--serial") > 0) o.Transport = ETransport::trSerial;
  FinishCommissionOptions(*app, o);
  if (const std::string wrong = LineOptionMisfit(*app, o); !wrong.empty()) {
    result.Action = TParsedCommandLine::TAction::Error;
    result.Error = wrong;
    return result;
  }
  if ((o.Timestamps || o.Bom) && o.Format != EOutputFormat::ofCsv) {
    result.Action = TParsedCommandLine::TAction::Error;
    result.Error =
        std::string(o.Timestamps ? "--timestamps" : "--bom") + " applies to --format csv only";
  }
  if (o.MetricsAddress) {
    // A metrics server polls until it is stopped and lives through failures.
    if (app->count("--count") == 0) o.Count = 0;
    o.Quiet = app->count("--format") == 0;
    o.KeepGoing = true;
  }
  return result;
}

std::string PollSynopsis(const std::string& ProgramName) {
  return "Usage: " + ProgramName +
         " --tcp HOST[:PORT] [--unit N] [--timeout S] [--connect-timeout S] [--leave-open]\n"
         "       " +
         ProgramName +
         " --serial PORT|tcp://HOST:PORT [--baud RATE] [--parity none|even|odd]\n"
         "         [--mode rtu|ascii] [--data-bits 7|8] [--stop-bits 1|2] [--slave N]\n"
         "         [--fast-framing] [--connect-timeout S] [--leave-open]\n"
         "         [--meter 1..5] [--float32] [--qvzt] [--byte-order "
         "1-0-3-2|0-1-2-3|2-3-0-1|3-2-1-0]\n"
         "         [--function 3|4]\n"
         "         [--map FILE] [--interval SECONDS] [--count N] [--keep-going]\n"
         "         [--format table|csv|json|jsonl] [--timestamps] [--bom] [--log FILE]\n"
         "         [--serve-metrics HOST:PORT] [--trace] [--stats]\n" +
         CommissionSynopsis(ProgramName);
}

std::string PollUsage(const std::string& ProgramName) {
  TPollOptions options;
  return PollApp(options, ProgramName)->help();
}
