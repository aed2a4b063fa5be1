#pragma once
// The simulator's command line.

#include "RegisterTypes.h"
#include "SimClock.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct TSimOptions {
  // Modbus TCP
  bool tcp = true;
  std::string tcpHost = "127.0.0.1";
  std::uint16_t tcpPort = 1502;
  std::size_t maxClients = 256;
  int idleTimeoutSeconds = 300;
  int frameTimeoutMs = 5000;
  // Serial line: a port by name, or (by default) a new pseudo-terminal
  bool pty = false;  // asked for explicitly
  std::string serialPort;
  bool ascii = false;  // RTU unless --mode ascii
  int baudRate = 115200;
  char parity = 'N';  // 'N', 'E' or 'O'
  int stopBits = 1;
  int slaveAddress = 1;
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
  bool help = false;

  EByteSequence EffectiveByteSequence() const {
    return byteSequence.value_or(qvzt ? BS_0_1_2_3 : BS_1_0_3_2);
  }
};

// Parses argv[1..]. Throws std::invalid_argument with a message naming the
// offending option.
TSimOptions ParseSimOptions(const std::vector<std::string>& args);

// The text printed by --help.
std::string SimUsage();

// "1-0-3-2" and friends, as the poller spells them.
std::optional<EByteSequence> ParseByteSequence(const std::string& text);
const char* ByteSequenceOptionText(EByteSequence sequence);
