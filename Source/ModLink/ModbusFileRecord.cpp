#include "ModbusFileRecord.h"

#include <stdexcept>
#include <string>

#include "ModLinkError.h"

TModbusFileRecord::TModbusFileRecord(std::uint16_t AFileID, std::uint16_t AStartReg,
                                     std::int32_t ARegCount)
    : FFileID(AFileID) {
  AdjustRange(AStartReg, ARegCount);
}

void TModbusFileRecord::AdjustRange(std::uint16_t AStartReg, std::int32_t ARegCount) {
  if (ARegCount < 0) ModLinkError("Register count is invalid (%d)", {ARegCount});
  if (static_cast<std::int64_t>(AStartReg) + ARegCount - 1 > MaxFileRecordIndex)
    ModLinkError("Starting register index is invalid (%d)", {static_cast<int>(AStartReg)});
  FRegValues.resize(static_cast<std::size_t>(ARegCount), 0);
  FStartReg = AStartReg;
}

void TModbusFileRecord::SetStartReg(std::uint16_t Value) {
  if (Value != FStartReg) AdjustRange(Value, RegCount());
}

void TModbusFileRecord::SetRegCount(std::int32_t Value) {
  if (Value != RegCount()) AdjustRange(FStartReg, Value);
}

void TModbusFileRecord::CheckIndex(int Index) const {
  if (Index < 0 || Index >= RegCount()) ModLinkError("Register index is invalid (%d)", {Index});
}

std::uint16_t TModbusFileRecord::GetRegValue(int Index) const {
  CheckIndex(Index);
  return FRegValues[static_cast<std::size_t>(Index)];
}

void TModbusFileRecord::SetRegValue(int Index, std::uint16_t Value) {
  CheckIndex(Index);
  FRegValues[static_cast<std::size_t>(Index)] = Value;
}

TModbusFileRecord& TModbusFileRecordList::Add(std::uint16_t AFileID, std::uint16_t AStartReg,
                                              std::int32_t ARegCount) {
  FList.push_back(std::make_unique<TModbusFileRecord>(AFileID, AStartReg, ARegCount));
  return *FList.back();
}

TModbusFileRecord& TModbusFileRecordList::Add(std::uint16_t AFileID, std::uint16_t AStartReg,
                                              const TRegValues& ARegValues) {
  auto Record = std::make_unique<TModbusFileRecord>(AFileID, AStartReg,
                                                    static_cast<std::int32_t>(ARegValues.size()));
  for (std::size_t i = 0; i < ARegValues.size(); ++i)
    Record->SetRegValue(static_cast<int>(i), ARegValues[i]);
  FList.push_back(std::move(Record));
  return *FList.back();
}

void TModbusFileRecordList::CheckIndex(int Index) const {
  if (Index < 0 || Index >= Count())
    throw std::out_of_range("List index out of bounds (" + std::to_string(Index) + ")");
}

void TModbusFileRecordList::Delete(int Index) {
  CheckIndex(Index);
  FList.erase(FList.begin() + Index);
}

int TModbusFileRecordList::Remove(const TModbusFileRecord* FileRecord) {
  for (int i = 0; i < Count(); ++i) {
    if (FList[static_cast<std::size_t>(i)].get() == FileRecord) {
      Delete(i);
      return i;
    }
  }
  return -1;
}

void TModbusFileRecordList::Clear() {
  FList.clear();
}

TModbusFileRecord& TModbusFileRecordList::Items(int Index) {
  CheckIndex(Index);
  return *FList[static_cast<std::size_t>(Index)];
}

const TModbusFileRecord& TModbusFileRecordList::Items(int Index) const {
  CheckIndex(Index);
  return *FList[static_cast<std::size_t>(Index)];
}
