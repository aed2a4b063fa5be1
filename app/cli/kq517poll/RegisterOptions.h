#pragma once
// The poller's register tools and their options: reading any registers
// (--read), writing values (--write, --dry-run, --single) and checking or
// setting the meter's clock (--clock, --max-drift, --set-clock).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "RegisterTypes.h"

enum class ERegisterTool { rtNone, rtRead, rtWrite, rtClock };

// One --write ADDR=VALUE[:TYPE].
struct TWriteItem {
  std::uint16_t Address = 0;
  std::string Value;           // as typed
  ERegisterType Type = eWord;  // INT16 unless named
  std::string Argument;        // the whole argument, for messages
};

struct TRegisterToolOptions {
  ERegisterTool Tool = ERegisterTool::rtNone;
  std::uint16_t ReadStart = 0;  // --read ADDR[:COUNT]
  std::uint32_t ReadCount = 1;
  std::vector<TWriteItem> Writes;
  bool DryRun = false;  // print the frames, send nothing
  bool Single = false;  // function 6 for one-register writes
  bool SetClock = false;
  std::optional<double> MaxDriftSeconds;
};

struct TPollOptions;

// Adds the options to App; call it after AddCommissionOptions, since the
// tools exclude the commissioning modes.
void AddRegisterToolOptions(CLI::App& App, TPollOptions& Options);

// After a successful parse: sets the tool the options ask for; the text of
// what is wrong (empty when nothing is).
std::string FinishRegisterToolOptions(const CLI::App& App, TPollOptions& Options);

// Parses "ADDR=VALUE[:TYPE]"; the text of what is wrong, empty when it parsed.
std::string ParseWriteItem(const std::string& Text, TWriteItem& Item);

std::string RegisterToolSynopsis(const std::string& ProgramName);
