#include "BitPacking.h"

#include "ModbusBuffer.h"

int DetermineEncodedSize(int RawSize) {
  if (RawSize <= 0) return 0;
  return RawSize / BitsPerByte + (RawSize % BitsPerByte != 0 ? 1 : 0);
}

void EncodeBits(const std::vector<bool>& Bits, TModbusBuffer& Buffer) {
  // Check the whole space first so that a list that does not fit writes nothing.
  Buffer.CheckAvailableSpace(DetermineEncodedSize(static_cast<int>(Bits.size())));
  std::uint8_t Accumulator = 0;
  std::size_t k = 0;
  for (std::size_t j = 0; j < Bits.size(); ++j) {
    if (Bits[j]) Accumulator = static_cast<std::uint8_t>(Accumulator | BitMasks[k]);
    if (++k == BitsPerByte) {
      Buffer.PutByte(Accumulator);
      Accumulator = 0;
      k = 0;
    }
  }
  if (k > 0) Buffer.PutByte(Accumulator);
}

void DecodeBits(TModbusBuffer& Buffer, std::vector<bool>& Bits) {
  std::uint8_t Current = 0;
  for (std::size_t j = 0; j < Bits.size(); ++j) {
    if (j % BitsPerByte == 0) {
      Current = Buffer.GetByte();
      Buffer.Seek(smNextByte);
    }
    Bits[j] = (Current & BitMasks[j % BitsPerByte]) != 0;
  }
}
