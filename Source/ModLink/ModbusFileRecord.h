// File records for the Read File Record (20) and Write File Record (21) commands: each record
// is one sub-request naming a file, a starting register and its register values.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "ModbusValueTypes.h"

// The highest register index a file may have.
inline constexpr int MaxFileRecordIndex = 9999;

class TModbusFileRecord {
 public:
  // New values are all 0. Raises EModLinkError when the range ends above MaxFileRecordIndex
  // or the count is negative.
  TModbusFileRecord(std::uint16_t AFileID, std::uint16_t AStartReg, std::int32_t ARegCount);

  std::uint16_t FileID() const { return FFileID; }
  void SetFileID(std::uint16_t Value) { FFileID = Value; }
  std::uint16_t StartReg() const { return FStartReg; }
  void SetStartReg(std::uint16_t Value);
  std::int32_t RegCount() const { return static_cast<std::int32_t>(FRegValues.size()); }
  void SetRegCount(std::int32_t Value);
  std::uint16_t GetRegValue(int Index) const;
  void SetRegValue(int Index, std::uint16_t Value);
  const TRegValues& RegValues() const { return FRegValues; }

  // Resizes the values (kept up to the new length, zeros appended) and moves the start; a
  // refused range changes nothing.
  void AdjustRange(std::uint16_t AStartReg, std::int32_t ARegCount);

 private:
  void CheckIndex(int Index) const;

  std::uint16_t FFileID = 0;
  TRegValues FRegValues;
  std::uint16_t FStartReg = 0;
};

// An ordered list that owns its records: deleting, removing or clearing frees them.
class TModbusFileRecordList {
 public:
  TModbusFileRecordList() = default;
  TModbusFileRecordList(const TModbusFileRecordList&) = delete;
  TModbusFileRecordList& operator=(const TModbusFileRecordList&) = delete;

  TModbusFileRecord& Add(std::uint16_t AFileID, std::uint16_t AStartReg, std::int32_t ARegCount);
  TModbusFileRecord& Add(std::uint16_t AFileID, std::uint16_t AStartReg,
                         const TRegValues& ARegValues);
  // Index errors raise std::out_of_range before anything changes.
  void Delete(int Index);
  // Deletes the record found by identity and returns its former position; -1 when it is not
  // in the list (then nothing is freed).
  int Remove(const TModbusFileRecord* FileRecord);
  void Clear();

  int Count() const { return static_cast<int>(FList.size()); }
  TModbusFileRecord& Items(int Index);
  const TModbusFileRecord& Items(int Index) const;

 private:
  void CheckIndex(int Index) const;

  std::vector<std::unique_ptr<TModbusFileRecord>> FList;
};
