// A fixed-capacity byte buffer in which every query and reply is assembled and
// parsed. Puts write at the cursor and advance it; Gets only peek, so parsers
// step the cursor themselves with Seek. The capacity never changes, so no
// allocation happens while a frame is sent or received.
#pragma once

#include <cstdint>
#include <memory>

enum TSeekMode : std::uint8_t {
  smBufStart,
  smBufEnd,
  smPriorByte,
  smNextByte,
  smPriorWord,
  smNextWord
};

class TModbusBuffer {
 public:
  explicit TModbusBuffer(int ACapacity);
  TModbusBuffer(const TModbusBuffer&) = delete;
  TModbusBuffer& operator=(const TModbusBuffer&) = delete;

  int Capacity() const { return FCapacity; }
  int Position() const { return FCurPos; }
  void SetPosition(int NewPosition);
  int Size() const { return FPeakPos; }
  void SetSize(int NewSize);
  std::uint8_t* StartPtr() { return FStart.get(); }
  const std::uint8_t* StartPtr() const { return FStart.get(); }

  // Raises when fewer than SizeOfData bytes lie between the cursor and the capacity.
  void CheckAvailableSpace(int SizeOfData) const;

  void PutByte(std::uint8_t Data);
  void PutWordHiLo(std::uint16_t Data);  // big-endian, the Modbus order
  void PutWordLoHi(std::uint16_t Data);  // little-endian, the RTU CRC order
  void PutBlock(const void* Buffer, int BlockSize);

  // Gets are bounded by the capacity, not by Size: checking received sizes is
  // the caller's duty.
  std::uint8_t GetByte() const;
  std::uint16_t GetWordHiLo() const;
  std::uint16_t GetWordLoHi() const;
  void GetBlock(void* Buffer, int BlockSize) const;

  void Seek(TSeekMode Mode);

  // Error checks over the bytes before the cursor.
  std::uint16_t CRC16() const;
  std::uint8_t LRC8() const;

 private:
  void Advance(int Count);

  int FCapacity;
  int FCurPos = 0;   // the cursor, as an offset from the start
  int FPeakPos = 0;  // one past the last valid byte
  std::unique_ptr<std::uint8_t[]> FStart;
};
