#pragma once
// Command-line options of kq517poll. The device is reached over one
// transport, Modbus TCP or a serial line; each has its own settings, and the
// options of the other one are refused.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "CommissionOptions.h"
#include "ModLinkTypes.h"
#include "OutputFormat.h"
#include "ReadFunction.h"

// --tcp HOST[:PORT] [--unit N] [--timeout S] [--connect-timeout S]
struct TTcpTarget {
  std::string Host;
  std::uint16_t Port = 502;
  int UnitId = 0;                    // the window's
  double ReplyTimeoutSeconds = 15;   // the client's default
  double ConnectTimeoutSeconds = 5;  // 0: as long as the operating system tries
};

// --serial PORT [--baud RATE] [--parity none|even|odd] [--mode rtu|ascii]
// [--data-bits 7|8] [--stop-bits 1|2] [--slave N]; the defaults are the
// window's. A port tcp://HOST:PORT is a serial device server, reached within
// --connect-timeout.
struct TSerialTarget {
  std::string Port;
  std::uint32_t BitRate = 115200;
  TParityScheme Parity = psNone;
  TTransmissionMode Mode = tmRTU;
  TDataBits DataBits = db8;
  TStopBits StopBits = sb1;
  int SlaveAddress = 1;
  bool FrameEndByLength = false;  // --fast-framing
};

enum class ETransport { trTcp, trSerial };

struct TPollOptions {
  ETransport Transport = ETransport::trTcp;
  TTcpTarget Tcp;
  TSerialTarget Serial;
  int MeterInstanceIndex = 0;                     // --meter 1..5, stored as 0..4
  bool Float32 = false;                           // --float32
  bool Qvzt = false;                              // --qvzt
  std::optional<int> ByteSequenceIndex;           // --byte-order, 0..3
  std::string MapFile;                            // --map; empty: map.cfg or qvztmap.cfg
  bool LeaveOpen = false;                         // --leave-open
  double IntervalSeconds = 2.0;                   // --interval
  int Count = 1;                                  // --count; 0: until stopped (--serve-metrics)
  bool KeepGoing = false;                         // --keep-going
  EOutputFormat Format = EOutputFormat::ofTable;  // --format
  bool Quiet = false;                             // nothing on standard output (--serve-metrics
                                                  // without --format)
  bool Timestamps = false;                        // --timestamps
  bool Bom = false;                               // --bom
  std::string LogFile;                            // --log
  std::optional<THostPort> MetricsAddress;        // --serve-metrics
  bool Trace = false;                             // --trace: every frame on standard error
  bool Stats = false;                             // --stats: the traffic counts at the end
  std::string DecimalSeparator = ".";             // the user's (from the locale), for the table
  TCommissionOptions Commission;                  // --scan-serial, --detect, --test

  // --function 3|4: holding or input registers.
  EReadFunction Function = DEFAULT_READ_FUNCTION;

  // The map file name: --map, else the mode's default name.
  std::string MapFileName() const;
  // Whether the map file is the mode's default, looked for in several folders.
  bool DefaultMapFile() const { return MapFile.empty(); }
};

struct TParsedCommandLine {
  enum class TAction { Poll, Help, Version, Error } Action = TAction::Poll;
  TPollOptions Options;
  std::string Error;  // for TAction::Error: what was wrong, one line
};

// Parses the arguments after the program name. Accepts "--name value" and
// "--name=value".
TParsedCommandLine ParsePollCommandLine(const std::vector<std::string>& Arguments);

// The synopsis lines, shown with an error about the arguments.
std::string PollSynopsis(const std::string& ProgramName);

// "kq517poll 1.0.0.0", the --version text.
std::string PollVersion();

// The --help text; ProgramName is used in the synopsis.
std::string PollUsage(const std::string& ProgramName);
