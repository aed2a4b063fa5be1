#pragma once
// The vocabulary of a meter register map: data types with their map codes and
// widths, map kinds, byte sequences, one map entry, and the register layout of
// the device (base address per meter instance, the 32-bit-float map).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Data type of one map entry. The value is stored as one byte; the map file
// selects it with a one-letter map code (see MapCode).
enum ERegisterType : std::uint8_t {
  eWord = 0,         // "i": unsigned 16-bit integer
  eInteger = 1,      // "I": signed 32-bit integer
  eFloat = 2,        // "f": IEEE 754 single
  eDouble = 3,       // "F": IEEE 754 double; a single in the 32-bit-float layout
  eDate = 4,         // "D": date yyyymmdd packed in a signed 32-bit integer
  eTime = 5,         // "T": time hhmmss packed in a signed 32-bit integer
  eTime3 = 6,        // "t": hours, minutes, seconds in three registers
  eDate3 = 7,        // "d": year, month, day in three registers
  eTimeStamp12 = 8,  // "u": six-register time stamp, shown but not decoded
};
inline constexpr int REGISTER_TYPE_COUNT = 9;

// Which map file a map came from. The normal map starts with the firmware
// version register; the QVZT map does not.
enum EMapType : std::uint8_t { mpNormal = 0, mpQVZT = 1 };

// How the bytes of a multi-register value are ordered on the device. The name
// lists, for a four-byte value, which wire byte becomes the value's byte 0..3
// (least significant first). The combo boxes list them in this order.
enum EByteSequence : std::uint8_t {
  BS_1_0_3_2 = 0,  // first register = least significant word
  BS_0_1_2_3 = 1,  // as BS_1_0_3_2 with the bytes of each register exchanged
  BS_2_3_0_1 = 2,  // as BS_3_2_1_0 with the bytes of each register exchanged
  BS_3_2_1_0 = 3,  // first register = most significant word
};
inline constexpr int BYTE_SEQUENCE_COUNT = 4;

// Texts of the byte-sequence combo boxes, indexed by EByteSequence.
inline constexpr const char* BYTE_SEQUENCE_NAMES[BYTE_SEQUENCE_COUNT] = {
    "1 - 0 - 3 - 2", "0 - 1 - 2 - 3", "2 - 3 - 0 - 1", "3 - 2 - 1 - 0"};

// "3-2-1-0": a byte sequence as the command lines spell it (the combo box's
// text without blanks); a value outside the enumeration reads as the first.
std::string ByteSequenceWord(EByteSequence Sequence);

// One map entry, fields in file order.
struct TConfigRecord {
  std::string obis;  // OBIS code, verbatim; empty for the firmware version
  ERegisterType regType = eWord;
  std::string desc;        // description, verbatim (UTF-8)
  std::string regAddress;  // first register, decimal; rewritten on every recompute

  bool operator==(const TConfigRecord&) const = default;
};

// Register offset of the device's 32-bit-float map.
inline constexpr std::uint16_t MB_FLOAT32_MAP_ADDRESS = 200;
// Register distance between two meter instances.
inline constexpr std::uint16_t MB_METER_INSTANCE_STRIDE = 1000;
inline constexpr int METER_INSTANCE_COUNT = 5;
// Text shown where no value is available.
inline constexpr char NOT_AVAIL[] = "<N/A>";
// Text of the error message box for a map file that cannot be used.
inline constexpr char INVALID_MAP_MESSAGE[] = "File di configurazione non valido";
// Description of the entry that the normal map puts first.
inline constexpr char FIRMWARE_VERSION_DESC[] = "Versione Firmware VIVAR517";
// Map file names, looked up relative to the current directory.
inline constexpr char NORMAL_MAP_FILE[] = "map.cfg";
inline constexpr char QVZT_MAP_FILE[] = "qvztmap.cfg";

// The window settings that move the register window on the device.
struct TMapSettings {
  bool float32 = false;        // 32-bit floating-point option (Float32CheckBox)
  int meterInstanceIndex = 0;  // MeterInstanceCombo index, 0..4 for instances 1..5
};

// The one-letter map code of a type ("i", "I", "f", ...); "" for a value
// outside the enumeration.
std::string_view MapCode(ERegisterType type);

// The type whose map code is exactly `code` (case-sensitive, whole text).
std::optional<ERegisterType> RegisterTypeFromMapCode(std::string_view code);

// Registers an entry of this type spans: in the 64-bit layout when `float32`
// is false, in the 32-bit-float layout when it is true. 0 for a value outside
// the enumeration.
int RegisterWidth(ERegisterType type, bool float32);

// First register of a meter instance: 200 with the float32 option, plus 1000
// per instance index, computed in 16-bit arithmetic like the device address.
std::uint16_t BaseAddressFor(const TMapSettings& settings);

// Byte sequence for a decoding pass: the QVZT mode always uses BS_0_1_2_3,
// otherwise the combo index (0..3; anything else falls back to BS_1_0_3_2).
EByteSequence ByteSequenceFor(bool qvztMode, int comboIndex);
