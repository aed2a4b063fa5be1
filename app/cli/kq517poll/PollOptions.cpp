#include "PollOptions.h"

#include "RegisterTypes.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <optional>
#include <stdexcept>
#include <utility>

namespace {

// A bad command line; the message says what was wrong.
class EUsageError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

long ParseWholeNumber(const std::string& Option, const std::string& Text, long Min, long Max) {
  const bool digits = !Text.empty() && Text.find_first_not_of("0123456789") == std::string::npos;
  errno = 0;
  const long value = digits ? std::strtol(Text.c_str(), nullptr, 10) : 0;
  if (!digits || errno != 0 || value < Min || value > Max)
    throw EUsageError(Option + " expects a whole number from " + std::to_string(Min) + " to " +
                      std::to_string(Max) + ", not '" + Text + "'");
  return value;
}

// HOST, HOST:PORT or [IPv6]:PORT; a bare IPv6 address takes the default port.
TTcpTarget ParseTcpTarget(const std::string& Text) {
  TTcpTarget target;
  std::string port;
  if (!Text.empty() && Text.front() == '[') {
    const auto close = Text.find(']');
    if (close == std::string::npos) throw EUsageError("--tcp: missing ']' in '" + Text + "'");
    target.Host = Text.substr(1, close - 1);
    const std::string rest = Text.substr(close + 1);
    if (!rest.empty()) {
      if (rest[0] != ':') throw EUsageError("--tcp: unexpected text after ']' in '" + Text + "'");
      port = rest.substr(1);
      if (port.empty()) throw EUsageError("--tcp: missing port after ':' in '" + Text + "'");
    }
  } else if (const auto colon = Text.find(':');
             colon != std::string::npos && Text.find(':', colon + 1) == std::string::npos) {
    target.Host = Text.substr(0, colon);
    port = Text.substr(colon + 1);
    if (port.empty()) throw EUsageError("--tcp: missing port after ':' in '" + Text + "'");
  } else {
    target.Host = Text;
  }
  if (target.Host.empty()) throw EUsageError("--tcp: missing host in '" + Text + "'");
  if (!port.empty()) target.Port = static_cast<uint16_t>(ParseWholeNumber("--tcp port", port, 1, 65535));
  return target;
}

int ParseByteOrder(const std::string& Text) {
  std::string compact;
  for (char c : Text)
    if (c != ' ') compact += c;
  for (int i = 0; i < BYTE_SEQUENCE_COUNT; ++i) {
    std::string name;
    for (const char* p = BYTE_SEQUENCE_NAMES[i]; *p; ++p)
      if (*p != ' ') name += *p;
    if (compact == name) return i;
  }
  throw EUsageError("--byte-order expects 1-0-3-2, 0-1-2-3, 2-3-0-1 or 3-2-1-0, not '" + Text + "'");
}

double ParseInterval(const std::string& Text) {
  char* end = nullptr;
  errno = 0;
  const double seconds = Text.empty() ? -1 : std::strtod(Text.c_str(), &end);
  if (Text.empty() || *end != '\0' || errno != 0 || !std::isfinite(seconds) || seconds < 0 ||
      seconds > 86400)
    throw EUsageError("--interval expects seconds from 0 to 86400, not '" + Text + "'");
  return seconds;
}

// The serial settings apply to the --serial device, whichever comes first
// on the command line; CheckConsistency refuses them without one.
struct TSerialSettings {
  std::optional<TBaudRate> BaudRate;
  std::optional<TParityScheme> Parity;
  std::optional<int> SlaveAddress;
};

TBaudRate ParseBaudRate(const std::string& Text) {
  static const std::pair<const char*, TBaudRate> rates[] = {
      {"9600", br9600}, {"19200", br19200}, {"38400", br38400}, {"57600", br57600}, {"115200", br115200}};
  for (const auto& [name, rate] : rates)
    if (Text == name) return rate;
  throw EUsageError("--baud expects 9600, 19200, 38400, 57600 or 115200, not '" + Text + "'");
}

TParityScheme ParseParity(const std::string& Text) {
  if (Text == "none") return psNone;
  if (Text == "even") return psEven;
  if (Text == "odd") return psOdd;
  throw EUsageError("--parity expects none, even or odd, not '" + Text + "'");
}

struct TOptionSpec {
  const char* Name;
  bool TakesValue;
  std::function<void(TPollOptions&, TSerialSettings&, const std::string&)> Apply;
};

// Every option, in the order --help lists them. A new transport adds its
// options here and an alternative to TPollTarget.
const std::vector<TOptionSpec>& OptionTable() {
  static const std::vector<TOptionSpec> table = {
      {"--tcp", true,
       [](TPollOptions& o, TSerialSettings&, const std::string& v) {
         if (!std::holds_alternative<std::monostate>(o.Target))
           throw EUsageError("only one device may be given");
         o.Target = ParseTcpTarget(v);
       }},
      {"--serial", true,
       [](TPollOptions& o, TSerialSettings&, const std::string& v) {
         if (!std::holds_alternative<std::monostate>(o.Target))
           throw EUsageError("only one device may be given");
         if (v.empty()) throw EUsageError("--serial expects a port name");
         o.Target = TSerialTarget{v};
       }},
      {"--baud", true,
       [](TPollOptions&, TSerialSettings& s, const std::string& v) { s.BaudRate = ParseBaudRate(v); }},
      {"--parity", true,
       [](TPollOptions&, TSerialSettings& s, const std::string& v) { s.Parity = ParseParity(v); }},
      {"--slave", true,
       [](TPollOptions&, TSerialSettings& s, const std::string& v) {
         // 0 would be a broadcast, which no meter answers.
         s.SlaveAddress = static_cast<int>(ParseWholeNumber("--slave", v, 1, 255));
       }},
      {"--meter", true,
       [](TPollOptions& o, TSerialSettings&, const std::string& v) {
         o.MeterInstanceIndex = static_cast<int>(ParseWholeNumber("--meter", v, 1, METER_INSTANCE_COUNT)) - 1;
       }},
      {"--float32", false, [](TPollOptions& o, TSerialSettings&, const std::string&) { o.Float32 = true; }},
      {"--qvzt", false, [](TPollOptions& o, TSerialSettings&, const std::string&) { o.Qvzt = true; }},
      {"--byte-order", true,
       [](TPollOptions& o, TSerialSettings&, const std::string& v) { o.ByteSequenceIndex = ParseByteOrder(v); }},
      {"--map", true,
       [](TPollOptions& o, TSerialSettings&, const std::string& v) {
         if (v.empty()) throw EUsageError("--map expects a file name");
         o.MapFile = v;
       }},
      {"--leave-open", false, [](TPollOptions& o, TSerialSettings&, const std::string&) { o.LeaveOpen = true; }},
      {"--interval", true,
       [](TPollOptions& o, TSerialSettings&, const std::string& v) { o.IntervalSeconds = ParseInterval(v); }},
      {"--count", true,
       [](TPollOptions& o, TSerialSettings&, const std::string& v) {
         o.Count = static_cast<int>(ParseWholeNumber("--count", v, 1, 1000000000));
       }},
      {"--format", true,
       [](TPollOptions& o, TSerialSettings&, const std::string& v) {
         const auto format = OutputFormatFromName(v);
         if (!format) throw EUsageError("--format expects table, csv or json, not '" + v + "'");
         o.Format = *format;
       }},
  };
  return table;
}

// Combinations the window itself does not allow.
void CheckConsistency(TPollOptions& Options, const TSerialSettings& Serial) {
  if (std::holds_alternative<std::monostate>(Options.Target))
    throw EUsageError("no device given: use --tcp HOST[:PORT] or --serial PORT");
  if (auto* serial = std::get_if<TSerialTarget>(&Options.Target)) {
    serial->BaudRate = Serial.BaudRate.value_or(serial->BaudRate);
    serial->Parity = Serial.Parity.value_or(serial->Parity);
    serial->SlaveAddress = Serial.SlaveAddress.value_or(serial->SlaveAddress);
    if (Options.LeaveOpen)
      throw EUsageError("--leave-open applies to --tcp only: the serial port is closed after every reply");
  } else if (Serial.BaudRate || Serial.Parity || Serial.SlaveAddress) {
    throw EUsageError("--baud, --parity and --slave apply to --serial only");
  }
  if (Options.Qvzt && Options.Float32)
    throw EUsageError("--float32 cannot be used with --qvzt: the QVZT map has no 32-bit-float layout");
  if (Options.Qvzt && Options.ByteSequenceIndex)
    throw EUsageError("--byte-order cannot be used with --qvzt: the QVZT map always uses 0-1-2-3");
}

}  // namespace

std::string TPollOptions::MapFileName() const {
  if (!MapFile.empty()) return MapFile;
  return Qvzt ? QVZT_MAP_FILE : NORMAL_MAP_FILE;
}

TParsedCommandLine ParsePollCommandLine(const std::vector<std::string>& Arguments) {
  TParsedCommandLine result;
  TSerialSettings serial;
  try {
    for (size_t i = 0; i < Arguments.size(); ++i) {
      const std::string& argument = Arguments[i];
      if (argument == "--help" || argument == "-h") {
        result.Action = TParsedCommandLine::TAction::Help;
        return result;
      }
      if (argument == "--version") {
        result.Action = TParsedCommandLine::TAction::Version;
        return result;
      }
      const auto equals = argument.find('=');
      const std::string name = argument.substr(0, equals);
      const TOptionSpec* found = nullptr;
      for (const TOptionSpec& candidate : OptionTable())
        if (name == candidate.Name) found = &candidate;
      if (!found) throw EUsageError("unknown option '" + argument + "'");

      std::string value;
      if (equals != std::string::npos) {
        if (!found->TakesValue) throw EUsageError(name + " takes no value");
        value = argument.substr(equals + 1);
      } else if (found->TakesValue) {
        if (i + 1 >= Arguments.size()) throw EUsageError(name + " needs a value");
        value = Arguments[++i];
      }
      found->Apply(result.Options, serial, value);
    }
    CheckConsistency(result.Options, serial);
  } catch (const EUsageError& error) {
    result.Action = TParsedCommandLine::TAction::Error;
    result.Error = error.what();
  }
  return result;
}

std::string PollSynopsis(const std::string& ProgramName) {
  return "Usage: " + ProgramName +
         " --tcp HOST[:PORT] | --serial PORT [--baud RATE] [--parity none|even|odd]\n"
         "         [--slave N] [--meter 1..5] [--float32] [--qvzt]\n"
         "         [--byte-order 1-0-3-2|0-1-2-3|2-3-0-1|3-2-1-0] [--map FILE] [--leave-open]\n"
         "         [--interval SECONDS] [--count N] [--format table|csv|json]\n";
}

std::string PollUsage(const std::string& ProgramName) {
  return PollSynopsis(ProgramName) +
         "\n"
         "Reads the holding registers of a KQ517 meter that the register map lists,\n"
         "decodes them and prints, after every cycle, the columns of the window's grid:\n"
         "Indirizzo, Tipo, OBIS, Valore, Valore Registri, Descrizione.\n"
         "\n"
         "Device:\n"
         "  --tcp HOST[:PORT]   Modbus TCP device (port 502 when omitted; [IPv6]:PORT)\n"
         "  --serial PORT       Modbus RTU device on a serial port (a path, or a name\n"
         "                      such as ttyUSB0 under /dev), 8 data bits, 1 stop bit\n"
         "  --baud RATE         9600, 19200, 38400, 57600 or 115200 (default 115200)\n"
         "  --parity P          none, even or odd (default none)\n"
         "  --slave N           slave address 1 to 255 (default 1)\n"
         "\n"
         "Map and decoding:\n"
         "  --meter N           meter instance 1 to 5 (default 1): registers from 1000 x (N-1)\n"
         "  --float32           read the 32-bit floating-point map (registers from 200)\n"
         "  --qvzt              QVZT mode: qvztmap.cfg, bytes always in 0-1-2-3 order\n"
         "  --byte-order SEQ    byte sequence of multi-register values (default 1-0-3-2)\n"
         "  --map FILE          map file (default map.cfg, or qvztmap.cfg with --qvzt,\n"
         "                      in the current folder)\n"
         "\n"
         "Polling:\n"
         "  --leave-open        keep the connection open between cycles; a connection the\n"
         "                      device closed then ends the poll\n"
         "  --interval SECONDS  pause between cycles (default 2, fractions allowed)\n"
         "  --count N           number of cycles (default 1)\n"
         "\n"
         "Output (standard output):\n"
         "  --format table      aligned columns, one table per cycle (default)\n"
         "  --format csv        RFC 4180: the header line\n"
         "                      Indirizzo,Tipo,OBIS,Valore,Valore Registri,Descrizione\n"
         "                      once, then the rows of every cycle\n"
         "  --format json       per cycle one JSON array of objects with the keys address,\n"
         "                      type, obis, value, raw, description\n"
         "Values are the texts the window shows: \"<N/A>\" after a failed cycle, the values\n"
         "of the last complete cycle after an exception reply or a time-out (over a\n"
         "serial line every failed reply shows \"<N/A>\"). Numbers use\n"
         "the decimal separator of the locale (LC_NUMERIC).\n"
         "\n"
         "  --help              this text\n"
         "  --version           the program's version\n"
         "\n"
         "Exit status:\n"
         "  0  every cycle read and decoded the whole map\n"
         "  1  a cycle failed, or the map file could not be used; the reason (the text of\n"
         "     the window's error bar, or the connection error) is on standard error.\n"
         "     A connection error or a lost kept-open connection ends the poll; an\n"
         "     exception reply or a time-out does not. Over a serial line a port that\n"
         "     cannot be opened or a map the request cannot hold ends the poll; a reply\n"
         "     that is not a normal one does not\n"
         "  2  bad arguments\n";
}
