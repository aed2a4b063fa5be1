#pragma once
// Command-line options of kq517poll. The device is reached through one
// transport; each transport is its own alternative of TPollTarget, so another
// one (a serial line, say) adds an alternative and its options without
// touching the others.

#include "ModLinkTypes.h"
#include "PollOutput.h"

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

// --tcp HOST[:PORT]
struct TTcpTarget {
  std::string Host;
  uint16_t Port = 502;
};

// --serial PORT [--baud RATE] [--parity none|even|odd] [--slave N]; the
// defaults are the window's.
struct TSerialTarget {
  std::string Port;
  TBaudRate BaudRate = br115200;
  TParityScheme Parity = psNone;
  int SlaveAddress = 1;
};

using TPollTarget = std::variant<std::monostate, TTcpTarget, TSerialTarget>;

struct TPollOptions {
  TPollTarget Target;
  int MeterInstanceIndex = 0;               // --meter 1..5, stored as 0..4
  bool Float32 = false;                     // --float32
  bool Qvzt = false;                        // --qvzt
  std::optional<int> ByteSequenceIndex;     // --byte-order, 0..3
  std::string MapFile;                      // --map; empty: map.cfg or qvztmap.cfg
  bool LeaveOpen = false;                   // --leave-open
  double IntervalSeconds = 2.0;             // --interval
  int Count = 1;                            // --count
  EOutputFormat Format = EOutputFormat::ofTable;  // --format

  // The map file to load: --map, else the mode's file in the current folder.
  std::string MapFileName() const;
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

// The --help text; ProgramName is used in the synopsis.
std::string PollUsage(const std::string& ProgramName);
