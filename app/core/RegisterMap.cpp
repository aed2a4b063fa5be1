#include "RegisterMap.h"

#include "CycleOutcome.h"
#include "MapFileText.h"
#include "ValueDecoding.h"

TLoadResult TRegisterMap::LoadConfig(EMapType pMapType, const std::string& pFileName,
                                     const TMapSettings& settings) {
  Clear();
  const std::string bytes = ReadMapFileBytes(pFileName);  // may throw, map stays empty
  return LoadConfigFromBytes(pMapType, bytes, settings);
}

TLoadResult TRegisterMap::LoadConfigFromBytes(EMapType pMapType, std::string_view fileBytes,
                                              const TMapSettings& settings) {
  Clear();
  const std::uint16_t base = BaseAddressFor(settings);
  const std::string text = MapFileTextToUtf8(fileBytes);

  if (pMapType == mpNormal) _AddFirmwareVersion(base);

  int lineNumber = 0;
  for (std::string_view line : SplitMapLines(text)) {
    ++lineNumber;
    const auto fields = SplitMapFields(line);
    const auto type = fields.size() == 3 ? RegisterTypeFromMapCode(fields[1]) : std::nullopt;
    if (!type) {
      // The counters keep what the lines before this one added.
      FRegs.clear();
      FFault.Line = lineNumber;
      FFault.Fields = fields.size();
      if (fields.size() == 3) {
        FFault.Kind = TMapFault::EKind::mfUnknownType;
        FFault.Type = QuotedFileText(fields[1]);
      } else {
        FFault.Kind = TMapFault::EKind::mfFieldCount;
      }
      return TLoadResult::lrInvalidMap;
    }
    // A map the device cannot read is refused before it takes the memory of
    // its entries and the grid's rows.
    if (FMBRegCount + RegisterWidth(*type, false) > MB_METER_INSTANCE_STRIDE) {
      FRegs.clear();
      FFault.Kind = TMapFault::EKind::mfTooManyRegisters;
      FFault.Line = lineNumber;
      return TLoadResult::lrInvalidMap;
    }
    TConfigRecord entry;
    entry.obis = std::string(fields[0]);
    entry.desc = std::string(fields[2]);
    entry.regType = *type;
    entry.regAddress = std::to_string(base + NextOffset(settings.float32));
    FRegs.push_back(std::move(entry));
    FMBRegCount += RegisterWidth(*type, false);
    if (*type == eDouble) FMBFPRegSingleDelta += 2;
  }
  return TLoadResult::lrOk;
}

void TRegisterMap::Clear() {
  FRegs.clear();
  FFault = TMapFault{};
  FMBRegCount = 0;
  FMBFPRegSingleDelta = 0;
}

void TRegisterMap::_AddFirmwareVersion(std::uint16_t baseAddress) {
  TConfigRecord entry;
  entry.desc = FIRMWARE_VERSION_DESC;
  entry.regType = eWord;
  entry.regAddress = std::to_string(baseAddress);
  FRegs.push_back(std::move(entry));
  FMBRegCount += 1;
}

std::int32_t TRegisterMap::NextOffset(bool float32) const {
  return FMBRegCount - (float32 ? FMBFPRegSingleDelta : 0);
}

void TRegisterMap::CalcAddress(const TMapSettings& settings) {
  const std::uint16_t base = BaseAddressFor(settings);
  std::int64_t offset = 0;
  for (TConfigRecord& entry : FRegs) {
    entry.regAddress = std::to_string(base + offset);
    offset += RegisterWidth(entry.regType, settings.float32);
  }
}

std::uint16_t TRegisterMap::RequestSize(const TMapSettings& settings) const {
  return static_cast<std::uint16_t>(NextOffset(settings.float32));
}

void TRegisterMap::UpdateGridStruct() {
  FRegData.assign(FRegs.size(), std::string{});
  FRegRawData.assign(FRegs.size(), std::string{});
  FRegNumbers.assign(FRegs.size(), TEntryNumber{});
  FGrid.Resize(FRegs.size());
}

void TRegisterMap::UpdateGridData(bool pDataAvail, bool float32) {
  UpdateGridData(MapReadings(*this, pDataAvail), float32);
}

void TRegisterMap::UpdateGridData(const std::vector<TEntryReading>& Readings, bool float32) {
  // The grid has one row per entry; should the readings or the grid lag
  // behind a reload, the missing texts show as empty rather than being read
  // past.
  if (FGrid.RowCount() != FRegs.size()) FGrid.Resize(FRegs.size());
  for (std::size_t i = 0; i < FRegs.size(); ++i) {
    const TConfigRecord& entry = FRegs[i];
    TGridRow& row = FGrid.MutableRow(i);
    row[gcAddress] = entry.regAddress;
    row[gcType] = DataTypeName(entry.regType, float32);
    row[gcObis] = entry.obis;
    row[gcDescription] = entry.desc;
    row[gcValue] = i < Readings.size() ? Readings[i].Text : std::string{};
    row[gcRawValue] = i < Readings.size() ? Readings[i].Raw : std::string{};
  }
}

std::string MapFaultText(const TMapFault& Fault, bool Italian) {
  const std::string line = (Italian ? "riga " : "line ") + std::to_string(Fault.Line) + ": ";
  const std::string limit = std::to_string(MB_METER_INSTANCE_STRIDE);
  switch (Fault.Kind) {
    case TMapFault::EKind::mfNone:
      return {};
    case TMapFault::EKind::mfFieldCount:
      return line +
             (Italian ? std::to_string(Fault.Fields) + " campi invece dei 3 OBIS|tipo|descrizione"
                      : std::to_string(Fault.Fields) +
                            " fields instead of the 3 OBIS|type|description");
    case TMapFault::EKind::mfUnknownType:
      return line +
             (Italian ? "tipo " + Fault.Type + " sconosciuto" : "unknown type " + Fault.Type);
    case TMapFault::EKind::mfTooManyRegisters:
      return line + (Italian ? "le voci superano i " + limit + " registri di un contatore"
                             : "the entries span more than the " + limit +
                                   " registers of a meter instance");
  }
  return {};
}
