#pragma once
// The registers of a simulated meter gateway with five meter instances. Each
// instance that is switched on serves every entry of the register map twice:
// in the 64-bit layout at 1000 x (instance - 1) and, for the normal map, in the
// 32-bit-float layout 200 registers further on. A switched-off instance serves
// the same registers, all reading 0xFFFF, so its firmware-version word tells
// the reader that nobody answers.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "RegisterTypes.h"
#include "SimClock.h"

struct TSimulatedMeterSettings {
  EMapType mapType = mpNormal;
  EByteSequence byteSequence = BS_1_0_3_2;
  std::array<bool, METER_INSTANCE_COUNT> instanceOn{true, true, true, true, true};
  std::uint16_t firmwareVersion = 103;
};

// One map entry as served: where it sits, the words on the wire, and the text
// a reader decoding with the same byte sequence shows for it.
struct TServedEntry {
  std::uint16_t address = 0;
  ERegisterType type = eWord;
  std::string obis;
  std::vector<std::uint16_t> words;
  std::string value;  // empty for a switched-off instance and for eTimeStamp12
};

// 65536 holding registers, each readable or not.
class TRegisterBank {
 public:
  TRegisterBank();
  void Clear();
  void Store(std::uint16_t address, const std::vector<std::uint16_t>& words);
  bool CanRead(std::uint16_t address) const { return FReadable[address] != 0; }
  std::uint16_t Value(std::uint16_t address) const { return FValues[address]; }

 private:
  std::vector<std::uint16_t> FValues;
  std::vector<std::uint8_t> FReadable;
};

class TSimulatedMeter {
 public:
  // `entries` is the loaded map in file order (the normal map with its
  // firmware-version entry first). Throws std::invalid_argument when the map
  // is empty or does not fit the device layout (the 64-bit layout of the
  // normal map must end before the 32-bit-float one starts).
  TSimulatedMeter(std::vector<TConfigRecord> entries, const TSimulatedMeterSettings& settings);

  // The entries of instance 1..5 in one layout (float32 is ignored for the
  // QVZT map, which has only the 64-bit layout) at time t.
  std::vector<TServedEntry> ServedEntries(int instance, bool float32, const TSimTime& t) const;

  // Every register of every instance and layout at time t.
  void Render(const TSimTime& t, TRegisterBank& bank) const;

  const TSimulatedMeterSettings& Settings() const { return FSettings; }
  const std::vector<TConfigRecord>& Entries() const { return FEntries; }
  // Registers one instance's map spans in a layout.
  int SpanOf(bool float32) const;
  // First register of an instance's map in a layout.
  std::uint16_t BaseOf(int instance, bool float32) const;

 private:
  TServedEntry Serve(const TConfigRecord& entry, bool firmwareEntry, int instance, bool float32,
                     const TSimTime& t) const;
  std::vector<bool> Layouts() const;

  std::vector<TConfigRecord> FEntries;
  TSimulatedMeterSettings FSettings;
};

// Hex text of the bytes of `words` from the last to the first, as the grid's
// raw column shows them: 0x1234, 0x5678 gives "78563412".
std::string RawRegisterText(const std::vector<std::uint16_t>& words);

// The raw text the tool's grid shows for a served entry: RawRegisterText of
// its words, except for time stamps, which the tool shows neither decoded nor
// raw.
std::string ShownRawText(const TServedEntry& entry);

// "0.##" with a "." separator: at most two decimals, no trailing zeros.
std::string TwoDecimalText(double value);
