#include "RegisterSource.h"

#include "ModLinkConsts.h"

TRegisterRead TRegisterSource::ReadTable(EReadFunction Table, std::uint16_t Start,
                                         std::uint32_t Count) {
  if (Table == EReadFunction::rfHoldingRegisters) return Read(Start, Count);
  TRegisterRead read;
  read.Error = "this connection reads holding registers only";
  return read;
}

TRegisterWrite TRegisterSource::Write(std::uint16_t, const std::vector<std::uint16_t>&, bool) {
  TRegisterWrite write;
  write.Error = "this connection cannot write";
  return write;
}

std::string WriteRangeRefusal(std::uint16_t Start, std::size_t Count, bool Single) {
  if (Count == 0) return "nothing to write";
  if (Single && Count != 1) return "function 6 writes one register, not " + std::to_string(Count);
  if (Count > static_cast<std::size_t>(MaxWriteRegisterCount))
    return "a write takes 1 to " + std::to_string(MaxWriteRegisterCount) + " registers, not " +
           std::to_string(Count);
  if (Start + Count > 65536u) return "the write goes past register 65535";
  return {};
}
