#pragma once
// The register map of one meter as the main window holds it: the entries read
// from a map file, the register counters, the base address of the running
// collection cycle, and the number, value text and raw text of every entry.
// It also keeps the texts of the grid that shows the map, so that the window
// only copies cells and never computes them.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "EntryValues.h"
#include "RegisterGrid.h"
#include "RegisterTypes.h"

// Outcome of LoadConfig when the file could be read. A file that cannot be
// opened or read raises std::system_error instead (errno and the file name).
enum class TLoadResult : std::uint8_t {
  lrOk,          // the map holds every line of the file
  lrInvalidMap,  // a line was not a valid entry, or the entries span more registers than a
                 // meter instance holds (MB_METER_INSTANCE_STRIDE): show INVALID_MAP_MESSAGE
};

struct TEntryReading;  // CycleOutcome.h

// Where and why LoadConfig found a map file invalid.
struct TMapFault {
  enum class EKind : std::uint8_t {
    mfNone,
    mfFieldCount,       // the line does not have the three fields OBIS|type|description
    mfUnknownType,      // the type field is no map code
    mfTooManyRegisters  // the entries so far span more than MB_METER_INSTANCE_STRIDE registers
  };
  EKind Kind = EKind::mfNone;
  int Line = 0;            // 1-based
  std::size_t Fields = 0;  // of the line (mfFieldCount)
  std::string Type;        // the type field, quoted short (mfUnknownType)
};

// What is wrong, without the file: "riga 3: tipo 'X' sconosciuto" for the
// window, "line 3: unknown type 'X'" for the command-line programs.
std::string MapFaultText(const TMapFault& Fault, bool Italian);

class TRegisterMap {
 public:
  // Rebuilds the map from the file `pFileName` (relative to the current
  // directory). On lrInvalidMap the map is empty and the counters keep what was
  // counted before the bad line (or the line that went past a meter instance); on an exception the
  // map is empty and both counters are 0. The grid texts are not touched: call UpdateGridStruct and
  // UpdateGridData(false) afterwards, whatever the outcome.
  TLoadResult LoadConfig(EMapType pMapType, const std::string& pFileName,
                         const TMapSettings& settings);

  // The same from the bytes of a map file already in memory (byte-order mark
  // included, if any).
  TLoadResult LoadConfigFromBytes(EMapType pMapType, std::string_view fileBytes,
                                  const TMapSettings& settings);

  // Recomputes regAddress of every entry for the given settings.
  void CalcAddress(const TMapSettings& settings);

  // Registers one collection cycle requests: FMBRegCount, less
  // FMBFPRegSingleDelta with the float32 option, as a 16-bit count.
  std::uint16_t RequestSize(const TMapSettings& settings) const;

  // Shapes the grid for the current map: one row per entry, FRegData and
  // FRegRawData sized to the map with every text empty, no numbers.
  void UpdateGridStruct();

  // Fills every row: address, type, OBIS and description from the entry, value
  // and raw text from FRegData / FRegRawData when pDataAvail, else NOT_AVAIL.
  // `float32` picks the type name of eDouble entries.
  void UpdateGridData(bool pDataAvail, bool float32);

  // The same with the value and raw texts of a cycle's readings, one per
  // entry (CycleOutcome.h); entries without a reading show empty cells.
  void UpdateGridData(const std::vector<TEntryReading>& Readings, bool float32);

  // Why the last LoadConfig returned lrInvalidMap (Kind mfNone otherwise).
  const TMapFault& Fault() const { return FFault; }

  const std::vector<TConfigRecord>& Regs() const { return FRegs; }
  const std::vector<std::string>& RegData() const { return FRegData; }
  const std::vector<std::string>& RegRawData() const { return FRegRawData; }
  // The number each value text was made from (none where the text is NOT_AVAIL).
  const std::vector<TEntryNumber>& RegNumbers() const { return FRegNumbers; }
  std::int32_t MBRegCount() const { return FMBRegCount; }
  std::int32_t MBFPRegSingleDelta() const { return FMBFPRegSingleDelta; }

  // Base address of the running collection cycle, set by the cycle itself.
  std::uint16_t BaseAddress() const { return FBaseAddress; }
  void SetBaseAddress(std::uint16_t address) { FBaseAddress = address; }

  // The grid texts as the last UpdateGridStruct / UpdateGridData left them.
  const TRegisterGrid& Grid() const { return FGrid; }

  // Write access for the decoding pass (ValueDecoding.h), which rewrites
  // addresses and value texts but never the shape of the map.
  std::vector<TConfigRecord>& MutableRegs() { return FRegs; }
  std::vector<std::string>& MutableRegData() { return FRegData; }
  std::vector<std::string>& MutableRegRawData() { return FRegRawData; }
  std::vector<TEntryNumber>& MutableRegNumbers() { return FRegNumbers; }

 private:
  void Clear();
  void _AddFirmwareVersion(std::uint16_t baseAddress);
  // Offset of the next entry from the base address in the given layout.
  std::int32_t NextOffset(bool float32) const;

  std::vector<TConfigRecord> FRegs;
  std::vector<std::string> FRegData;
  std::vector<std::string> FRegRawData;
  std::vector<TEntryNumber> FRegNumbers;
  std::int32_t FMBRegCount = 0;
  std::int32_t FMBFPRegSingleDelta = 0;
  std::uint16_t FBaseAddress = 0;
  TMapFault FFault;
  TRegisterGrid FGrid;
};
