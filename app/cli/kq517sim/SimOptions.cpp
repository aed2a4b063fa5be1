#include "SimOptions.h"

#include <memory>

#include "CommandLine.h"

namespace {

constexpr char DESCRIPTION[] =
    R"(A simulated KQ517 meter gateway for trying the test tool without a meter. It
serves the registers of map.cfg (or qvztmap.cfg with --qvzt) for meter
instances 1 to 5: the 64-bit layout at 1000 x (instance - 1) and, for map.cfg,
the 32-bit-float layout 200 registers further on, the firmware-version word
first. Values move over time: voltages near 230 V, currents, powers, growing
energies, today's date and the clock. Functions 3 and 4 read the registers;
a register outside the map gives exception 2, any other function exception 1.
The serial line is always served; TCP requests, and the frames that
--rtu-over-tcp takes, are answered by the same slave.)";

// "1,3,5", "all" or "none".
std::optional<std::array<bool, METER_INSTANCE_COUNT>> ParseInstanceList(const std::string& text) {
  std::array<bool, METER_INSTANCE_COUNT> on{};
  if (text == "all") return std::array<bool, METER_INSTANCE_COUNT>{true, true, true, true, true};
  if (text == "none") return on;
  std::size_t at = 0;
  while (at <= text.size()) {
    const std::size_t comma = std::min(text.find(',', at), text.size());
    const std::string number = text.substr(at, comma - at);
    if (number.size() != 1 || number[0] < '1' || number[0] > '0' + METER_INSTANCE_COUNT)
      return std::nullopt;
    on[static_cast<std::size_t>(number[0] - '1')] = true;
    at = comma + 1;
  }
  return on;
}

// A check from a parse function: the text is good when Parse gives a value.
template <typename F>
CLI::Validator ParsedBy(F Parse, std::string Expected) {
  return CLI::Validator(
      [Parse, Expected](std::string& text) -> std::string {
        return Parse(text) ? std::string() : "expects " + Expected + ", not '" + text + "'";
      },
      "");
}

std::unique_ptr<CLI::App> SimApp(TSimOptions& o) {
  auto app = std::make_unique<CLI::App>(DESCRIPTION, "kq517sim");
  auto help = std::make_shared<THelpFormatter>(SimSynopsis());
  help->column_width(24);
  app->formatter(help);
  app->option_defaults()->disable_flag_override();
  app->footer("Stop it with Ctrl-C.");

  const std::string tcp = "Modbus TCP";
  app->add_option_function<THostPort>(
         "--tcp",
         [&o](const THostPort& address) {
           // [HOST:]PORT: a bare number is the port.
           const bool bareNumber =
               !address.Port && !address.Host.empty() &&
               address.Host.find_first_not_of("0123456789") == std::string::npos;
           if (bareNumber) {
             o.tcpPort = static_cast<std::uint16_t>(std::stoul(address.Host));
             return;
           }
           o.tcpHost = address.Host;
           o.tcpPort = address.Port.value_or(o.tcpPort);
         },
         "loopback address to listen on (default 127.0.0.1:1502; port 0 picks a free one, "
         "printed at start)")
      ->group(tcp)
      ->option_text("[HOST:]PORT")
      ->check(HostPortCheck(false, 0));
  app->add_flag("--no-tcp", o.noTcp, "serve the serial line only")->group(tcp);
  app->add_option("--max-clients", o.maxClients, "simultaneous TCP clients (default 256)")
      ->group(tcp)
      ->type_name("N")
      ->check(CLI::Range(1, 4096));
  app->add_option("--idle-timeout", o.idleTimeoutSeconds,
                  "close a TCP connection idle for S seconds (default 300)")
      ->group(tcp)
      ->type_name("S")
      ->check(CLI::Range(1, 86400));
  app->add_option("--frame-timeout", o.frameTimeoutMs,
                  "close a TCP connection that leaves a frame unfinished for MS milliseconds "
                  "(default 5000)")
      ->group(tcp)
      ->type_name("MS")
      ->check(CLI::Range(10, 600000));

  const std::string serial = "Modbus serial line";
  CLI::Option* pty = app->add_flag("--pty", o.pty,
                                   "serve on a new pseudo-terminal (the default); its path is "
                                   "printed at start: open it as the serial port")
                         ->group(serial);
  app->add_option("--serial", o.serialPort,
                  "serve on a serial port instead (a path, or a name under /dev)")
      ->group(serial)
      ->type_name("PORT")
      ->check(NonEmpty)
      ->excludes(pty);
  AddModeOption(*app, o.mode)->group(serial);
  AddBaudOption(*app, o.baudRate)->group(serial);
  AddParityOption(*app, o.parity)->group(serial);
  AddDataBitsOption(*app, o.dataBits)->group(serial);
  AddStopBitsOption(*app, o.stopBits)->group(serial);
  AddSlaveOption(*app, o.slaveAddress)->group(serial);
  AddFastFramingOption(*app, o.frameEndByLength)->group(serial);

  const std::string deviceServer = "Serial device server";
  app->add_option_function<THostPort>(
         "--rtu-over-tcp",
         [&o](const THostPort& address) {
           o.rtuOverTcp = true;
           o.rtuOverTcpHost = address.Host;
           o.rtuOverTcpPort = *address.Port;
         },
         "also serve the serial line's frames (RTU, or ASCII with --mode ascii) over TCP on a "
         "loopback HOST:PORT, as a serial device server in TCP server mode passes them (port 0 "
         "picks a free one, printed at start); --max-clients, --idle-timeout and "
         "--frame-timeout apply there too")
      ->group(deviceServer)
      ->option_text("HOST:PORT")
      ->check(HostPortCheck(true, 0));

  const std::string meter = "The meter";
  app->add_flag("--qvzt", o.qvzt, "serve qvztmap.cfg (64-bit layout only, no firmware word)")
      ->group(meter);
  app->add_option("--map", o.mapFile,
                  "map file to serve (default map.cfg or qvztmap.cfg, from the working folder, "
                  "else beside the program, else from ../share/kq517/)")
      ->group(meter)
      ->type_name("FILE")
      ->check(NonEmpty);
  app->add_option("--byte-order", o.byteSequence,
                  "1-0-3-2, 0-1-2-3, 2-3-0-1 or 3-2-1-0 (default 1-0-3-2; 0-1-2-3 with --qvzt, "
                  "the order the tool reads QVZT in)")
      ->group(meter)
      ->type_name("SEQ")
      ->transform(ByteOrderCheck());
  app->add_option_function<std::string>(
         "--meters", [&o](const std::string& list) { o.instanceOn = *ParseInstanceList(list); },
         "instances switched on, e.g. 1,3 or all or none (default all); the others read "
         "0xFFFF in every register")
      ->group(meter)
      ->type_name("LIST")
      ->check(ParsedBy(ParseInstanceList, "a list such as 1,3, or all, or none"));
  app->add_option("--firmware", o.firmwareVersion, "firmware version word (default 103)")
      ->group(meter)
      ->type_name("N")
      ->check(CLI::Range(0, 65534));
  app->add_option_function<std::string>(
         "--clock", [&o](const std::string& text) { o.fixedClock = ParseSimTime(text); },
         "freeze the clock at YYYY-MM-DDTHH:MM:SS: every value stays as it is at that moment")
      ->group(meter)
      ->type_name("TIME")
      ->check(ParsedBy([](const std::string& text) { return ParseSimTime(text); },
                       "YYYY-MM-DDTHH:MM:SS"));

  const std::string checking = "Checking";
  app->add_flag("--dump", o.dump,
                "print what one instance serves as CSV (address, type, OBIS, value as the tool "
                "shows it, raw register bytes) and exit")
      ->group(checking);
  app->add_option("--meter", o.dumpMeter, "instance for --dump (default 1)")
      ->group(checking)
      ->type_name("N")
      ->check(CLI::Range(1, METER_INSTANCE_COUNT));
  app->add_flag("--float32", o.dumpFloat32, "the 32-bit-float layout for --dump")->group(checking);

  app->add_flag("-v,--verbose", o.verbose, "one line per request")->group("Other");
  return app;
}

}  // namespace

TCommandLine ParseSimOptions(const std::vector<std::string>& args, TSimOptions& options) {
  const auto app = SimApp(options);
  return ParseCommandLine(*app, args);
}

std::string SimSynopsis() {
  return "Usage: kq517sim [options]\n";
}
