#pragma once
// The simulator's command line.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ModLinkTypes.h"
#include "RegisterTypes.h"
#include "SimClock.h"

struct TSimOptions {
  // Modbus TCP
  bool noTcp = false;  // --no-tcp: the serial line only
  std::string tcpHost = "127.0.0.1";
  std::uint16_t tcpPort = 1502;
  std::size_t maxClients = 256;
  int idleTimeoutSeconds = 300;
  int frameTimeoutMs = 5000;
  // RTU (or ASCII) frames over TCP, as a serial device server passes them
  bool rtuOverTcp = false;
  std::string rtuOverTcpHost = "127.0.0.1";
  std::uint16_t rtuOverTcpPort = 0;
  // Serial line: a port by name, or (by default) a new pseudo-terminal
  bool pty = false;  // asked for explicitly
  std::string serialPort;
  TTransmissionMode mode = tmRTU;
  std::uint32_t baudRate = 115200;
  TParityScheme parity = psNone;
  TDataBits dataBits = db8;
  TStopBits stopBits = sb1;
  int slaveAddress = 1;
  bool frameEndByLength = false;  // --fast-framing
  // The meter
  bool qvzt = false;
  std::string mapFile;  // empty: map.cfg / qvztmap.cfg
  std::optional<EByteSequence> byteSequence;
  std::array<bool, METER_INSTANCE_COUNT> instanceOn{true, true, true, true, true};
  std::uint16_t firmwareVersion = 103;
  std::optional<TSimTime> fixedClock;
  // Dump mode: print what one instance serves, then exit
  bool dump = false;
  int dumpMeter = 1;
  bool dumpFloat32 = false;
  // Output
  bool verbose = false;

  EByteSequence EffectiveByteSequence() const {
    return byteSequence.value_or(qvzt ? BS_0_1_2_3 : BS_1_0_3_2);
  }
};

struct TCommandLine;

// Parses argv[1..] into Options: run, help (with the text), or an error that
// names the offending option.
TCommandLine ParseSimOptions(const std::vector<std::string>& args, TSimOptions& options);

// The synopsis shown with an error about the arguments.
std::string SimSynopsis();
