#include "SimOptions.h"

#include <charconv>
#include <stdexcept>

namespace {

constexpr const char* BYTE_SEQUENCE_OPTIONS[BYTE_SEQUENCE_COUNT] = {"1-0-3-2", "0-1-2-3",
                                                                    "2-3-0-1", "3-2-1-0"};

long ParseInteger(const std::string& option, const std::string& text, long low, long high) {
  long value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc{} || end != text.data() + text.size() || value < low || value > high) {
    throw std::invalid_argument(option + " needs a whole number from " + std::to_string(low) +
                                " to " + std::to_string(high) + ", not \"" + text + "\"");
  }
  return value;
}

// "1,3,5" or "all" or "none".
std::array<bool, METER_INSTANCE_COUNT> ParseInstanceList(const std::string& text) {
  std::array<bool, METER_INSTANCE_COUNT> on{};
  if (text == "all") return {true, true, true, true, true};
  if (text == "none") return on;
  std::size_t at = 0;
  while (at <= text.size()) {
    const std::size_t comma = std::min(text.find(',', at), text.size());
    const long n = ParseInteger("--meters", text.substr(at, comma - at), 1, METER_INSTANCE_COUNT);
    on[static_cast<std::size_t>(n - 1)] = true;
    at = comma + 1;
  }
  return on;
}

void ParseTcpAddress(const std::string& text, TSimOptions& o) {
  // [HOST:]PORT, HOST may be an IPv6 address in brackets.
  std::string host = o.tcpHost;
  std::string port = text;
  if (const auto colon = text.rfind(':'); colon != std::string::npos) {
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
      host = host.substr(1, host.size() - 2);
    }
  }
  if (host.empty()) throw std::invalid_argument("--tcp needs [HOST:]PORT, not \"" + text + "\"");
  o.tcpHost = host;
  o.tcpPort = static_cast<std::uint16_t>(ParseInteger("--tcp port", port, 0, 65535));
}

}  // namespace

std::optional<EByteSequence> ParseByteSequence(const std::string& text) {
  for (int i = 0; i < BYTE_SEQUENCE_COUNT; ++i) {
    if (text == BYTE_SEQUENCE_OPTIONS[i]) return static_cast<EByteSequence>(i);
  }
  return std::nullopt;
}

const char* ByteSequenceOptionText(EByteSequence sequence) {
  const int i = static_cast<int>(sequence);
  return i >= 0 && i < BYTE_SEQUENCE_COUNT ? BYTE_SEQUENCE_OPTIONS[i] : "?";
}

TSimOptions ParseSimOptions(const std::vector<std::string>& args) {
  TSimOptions o;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) throw std::invalid_argument(a + " needs a value");
      return args[++i];
    };
    if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--tcp") {
      ParseTcpAddress(value(), o);
    } else if (a == "--no-tcp") {
      o.tcp = false;
    } else if (a == "--max-clients") {
      o.maxClients = static_cast<std::size_t>(ParseInteger(a, value(), 1, 4096));
    } else if (a == "--idle-timeout") {
      o.idleTimeoutSeconds = static_cast<int>(ParseInteger(a, value(), 1, 86400));
    } else if (a == "--frame-timeout") {
      o.frameTimeoutMs = static_cast<int>(ParseInteger(a, value(), 10, 600000));
    } else if (a == "--pty") {
      o.pty = true;
    } else if (a == "--serial") {
      o.serialPort = value();
      if (o.serialPort.empty()) throw std::invalid_argument("--serial needs a port name");
    } else if (a == "--mode") {
      const std::string& m = value();
      if (m != "rtu" && m != "ascii") {
        throw std::invalid_argument("--mode is rtu or ascii, not \"" + m + "\"");
      }
      o.ascii = m == "ascii";
    } else if (a == "--baud") {
      o.baudRate = static_cast<int>(ParseInteger(a, value(), 50, 4000000));
    } else if (a == "--parity") {
      const std::string& p = value();
      if (p == "none") o.parity = 'N';
      else if (p == "even") o.parity = 'E';
      else if (p == "odd") o.parity = 'O';
      else throw std::invalid_argument("--parity is none, even or odd, not \"" + p + "\"");
    } else if (a == "--stop-bits") {
      o.stopBits = static_cast<int>(ParseInteger(a, value(), 1, 2));
    } else if (a == "--slave") {
      o.slaveAddress = static_cast<int>(ParseInteger(a, value(), 1, 247));
    } else if (a == "--qvzt") {
      o.qvzt = true;
    } else if (a == "--map") {
      o.mapFile = value();
    } else if (a == "--byte-order") {
      const std::string& text = value();
      o.byteSequence = ParseByteSequence(text);
      if (!o.byteSequence) {
        throw std::invalid_argument(
            "--byte-order is 1-0-3-2, 0-1-2-3, 2-3-0-1 or 3-2-1-0, not \"" + text + "\"");
      }
    } else if (a == "--meters") {
      o.instanceOn = ParseInstanceList(value());
    } else if (a == "--firmware") {
      o.firmwareVersion = static_cast<std::uint16_t>(ParseInteger(a, value(), 0, 65534));
    } else if (a == "--clock") {
      const std::string& text = value();
      o.fixedClock = ParseSimTime(text);
      if (!o.fixedClock) {
        throw std::invalid_argument("--clock needs YYYY-MM-DDTHH:MM:SS, not \"" + text + "\"");
      }
    } else if (a == "--dump") {
      o.dump = true;
    } else if (a == "--meter") {
      o.dumpMeter = static_cast<int>(ParseInteger(a, value(), 1, METER_INSTANCE_COUNT));
    } else if (a == "--float32") {
      o.dumpFloat32 = true;
    } else if (a == "--verbose" || a == "-v") {
      o.verbose = true;
    } else {
      throw std::invalid_argument("unknown option \"" + a + "\"");
    }
  }
  if (!o.serialPort.empty() && o.pty) {
    throw std::invalid_argument("--serial and --pty cannot be combined");
  }
  return o;
}

std::string SimUsage() {
  return R"(Usage: kq517sim [options]

A simulated KQ517 meter gateway for trying the test tool without a meter. It
serves the registers of map.cfg (or qvztmap.cfg with --qvzt) for meter
instances 1 to 5: the 64-bit layout at 1000 x (instance - 1) and, for map.cfg,
the 32-bit-float layout 200 registers further on, the firmware-version word
first. Values move over time: voltages near 230 V, currents, powers, growing
energies, today's date and the clock. Functions 3 and 4 read the registers;
a register outside the map gives exception 2, any other function exception 1.

Modbus TCP:
  --tcp [HOST:]PORT     loopback address to listen on (default 127.0.0.1:1502;
                        port 0 picks a free one, printed at start)
  --no-tcp              serve the serial line only
  --max-clients N       simultaneous TCP clients (default 256)
  --idle-timeout S      close a TCP connection idle for S seconds (default 300)
  --frame-timeout MS    close a TCP connection that leaves a frame unfinished
                        for MS milliseconds (default 5000)
Modbus serial line (always served; TCP requests are answered by the same slave):
  --pty                 serve on a new pseudo-terminal (the default); its path
                        is printed at start: open it as the serial port
  --serial PORT         serve on a serial port instead (a path, or a name under
                        /dev)
  --mode rtu|ascii      framing (default rtu)
  --baud N              baud rate (default 115200)
  --parity none|even|odd  parity (default none)
  --stop-bits 1|2       stop bits (default 1)
  --slave N             slave address, 1 to 247 (default 1)
The meter:
  --qvzt                serve qvztmap.cfg (64-bit layout only, no firmware word)
  --map FILE            map file to serve (default map.cfg or qvztmap.cfg, from
                        the current folder, else from the program's folder)
  --byte-order SEQ      1-0-3-2, 0-1-2-3, 2-3-0-1 or 3-2-1-0 (default 1-0-3-2;
                        0-1-2-3 with --qvzt, the order the tool reads QVZT in)
  --meters LIST         instances switched on, e.g. 1,3 or all or none (default
                        all); the others read 0xFFFF in every register
  --firmware N          firmware version word (default 103)
  --clock TIME          freeze the clock at YYYY-MM-DDTHH:MM:SS: every value
                        stays as it is at that moment
Checking:
  --dump                print what one instance serves as CSV (address, type,
                        OBIS, value as the tool shows it, raw register bytes)
                        and exit
  --meter N             instance for --dump (default 1)
  --float32             the 32-bit-float layout for --dump
Other:
  --verbose, -v         one line per request
  --help, -h            this text

Stop it with Ctrl-C.
)";
}
