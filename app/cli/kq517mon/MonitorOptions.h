#pragma once
// Command-line options of kq517mon: the serial line to listen on and how to
// print what goes over it.

#include <cstdint>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "ModLinkTypes.h"

enum class EMonitorFormat { mfText, mfJsonl };

struct TMonitorOptions {
  std::string Port;                                // --serial
  std::uint32_t BaudRate = 115200;                 // --baud, any rate the port takes
  TParityScheme Parity = psNone;                   // --parity
  TDataBits DataBits = db8;                        // --data-bits 7|8
  TStopBits StopBits = sb1;                        // --stop-bits 1|2
  TTransmissionMode Mode = tmRTU;                  // --mode rtu|ascii
  bool FrameEndByLength = false;                   // --fast-framing
  EMonitorFormat Format = EMonitorFormat::mfText;  // --format text|jsonl
};

// Parses the arguments after the program name into Options.
TCommandLine ParseMonitorOptions(const std::vector<std::string>& Arguments,
                                 TMonitorOptions& Options);

// The synopsis shown with an error about the arguments.
std::string MonitorSynopsis();
