#include "ModbusBuffer.h"

#include <cstring>

#include "ErrorChecks.h"
#include "ModLinkError.h"

using namespace ModLinkMessages;

TModbusBuffer::TModbusBuffer(int ACapacity)
    : FCapacity(ACapacity < 0 ? 0 : ACapacity),
      FStart(std::make_unique_for_overwrite<std::uint8_t[]>(static_cast<std::size_t>(FCapacity))) {}

void TModbusBuffer::SetPosition(int NewPosition) {
  if (NewPosition == FCurPos) return;
  if (NewPosition < 0 || NewPosition > FPeakPos)
    ModLinkError(SBufferPositionInvalid, {NewPosition});
  FCurPos = NewPosition;
}

void TModbusBuffer::SetSize(int NewSize) {
  if (NewSize == FPeakPos) return;
  if (NewSize < 0 || NewSize > FCapacity) ModLinkError(SBufferSizeInvalid, {NewSize});
  FPeakPos = NewSize;
  if (FCurPos > FPeakPos) FCurPos = FPeakPos;
}

void TModbusBuffer::CheckAvailableSpace(int SizeOfData) const {
  if (FCapacity - FCurPos < SizeOfData) ModLinkError(SNotEnoughSpace);
}

void TModbusBuffer::Advance(int Count) {
  FCurPos += Count;
  if (FCurPos > FPeakPos) FPeakPos = FCurPos;
}

void TModbusBuffer::PutByte(std::uint8_t Data) {
  CheckAvailableSpace(1);
  FStart[FCurPos] = Data;
  Advance(1);
}

void TModbusBuffer::PutWordHiLo(std::uint16_t Data) {
  CheckAvailableSpace(2);
  FStart[FCurPos] = static_cast<std::uint8_t>(Data >> 8);
  FStart[FCurPos + 1] = static_cast<std::uint8_t>(Data & 0xFF);
  Advance(2);
}

void TModbusBuffer::PutWordLoHi(std::uint16_t Data) {
  CheckAvailableSpace(2);
  FStart[FCurPos] = static_cast<std::uint8_t>(Data & 0xFF);
  FStart[FCurPos + 1] = static_cast<std::uint8_t>(Data >> 8);
  Advance(2);
}

void TModbusBuffer::PutBlock(const void* Buffer, int BlockSize) {
  if (BlockSize <= 0) return;
  CheckAvailableSpace(BlockSize);
  std::memcpy(FStart.get() + FCurPos, Buffer, static_cast<std::size_t>(BlockSize));
  Advance(BlockSize);
}

std::uint8_t TModbusBuffer::GetByte() const {
  CheckAvailableSpace(1);
  return FStart[FCurPos];
}

std::uint16_t TModbusBuffer::GetWordHiLo() const {
  CheckAvailableSpace(2);
  return static_cast<std::uint16_t>(FStart[FCurPos] << 8 | FStart[FCurPos + 1]);
}

std::uint16_t TModbusBuffer::GetWordLoHi() const {
  CheckAvailableSpace(2);
  return static_cast<std::uint16_t>(FStart[FCurPos + 1] << 8 | FStart[FCurPos]);
}

void TModbusBuffer::GetBlock(void* Buffer, int BlockSize) const {
  if (BlockSize <= 0) return;
  CheckAvailableSpace(BlockSize);
  std::memcpy(Buffer, FStart.get() + FCurPos, static_cast<std::size_t>(BlockSize));
}

void TModbusBuffer::Seek(TSeekMode Mode) {
  switch (Mode) {
    case smBufStart:
      FCurPos = 0;
      break;
    case smBufEnd:
      FCurPos = FPeakPos;
      break;
    case smPriorByte:
      SetPosition(FCurPos - 1);
      break;
    case smNextByte:
      SetPosition(FCurPos + 1);
      break;
    case smPriorWord:
      SetPosition(FCurPos - 2);
      break;
    case smNextWord:
      SetPosition(FCurPos + 2);
      break;
    default:
      InternalError();
  }
}

std::uint16_t TModbusBuffer::CRC16() const {
  return ::CRC16(FStart.get(), static_cast<std::size_t>(FCurPos));
}

std::uint8_t TModbusBuffer::LRC8() const {
  return ::LRC8(FStart.get(), static_cast<std::size_t>(FCurPos));
}
