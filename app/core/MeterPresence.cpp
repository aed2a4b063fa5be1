#include "MeterPresence.h"

bool IsFirmwareEntry(const TConfigRecord& Entry) {
  return Entry.regType == eWord && Entry.obis.empty() && Entry.desc == FIRMWARE_VERSION_DESC;
}

bool MeterInstanceAbsent(std::span<const TConfigRecord> Regs,
                         std::span<const std::uint16_t> Words) {
  return !Regs.empty() && IsFirmwareEntry(Regs.front()) && !Words.empty() &&
         Words.front() == ABSENT_METER_WORD;
}

std::string MeterNotPresentText(int MeterInstanceIndex) {
  return "meter instance " + std::to_string(MeterInstanceIndex + 1) + " not present";
}

std::string MeterNotPresentWindowText(int MeterInstanceIndex) {
  return "Contatore " + std::to_string(MeterInstanceIndex + 1) + " non presente";
}
