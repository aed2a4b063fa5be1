// The frame exchange on the open port: send with optional RTS toggling, wait for
// input (ended early by the break event), and receive one frame, which in RTU ends
// when the line falls silent and in ASCII runs from the last colon to CR LF.
//
// Every receive is bounded in time: a line that never falls silent, or noise that
// never stops, ends the receive once the time a whole frame may take has passed,
// and bytes beyond the receive area are read and dropped, so a flood can neither
// spin the worker nor overrun the area.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <system_error>

#include "Delay.h"
#include "ModbusConnection.h"

namespace {
using TClock = std::chrono::steady_clock;

[[noreturn]] void RaiseLastOSError(const char* What) {
  throw std::system_error(errno, std::generic_category(), What);
}

std::uint32_t MillisecondsUntil(TClock::time_point Deadline) {
  const auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - TClock::now()).count();
  return Left > 0 ? static_cast<std::uint32_t>(Left) : 0;
}

enum TReceiveFrameStage { rfsIdle, rfsCollecting, rfsCompleting, rfsCompleted };
}  // namespace

// ---- Send ----------------------------------------------------------------------

bool TModbusConnection::SendFrame(const std::uint8_t* Data, int Count, std::uint32_t Timeout) {
  DoBeforeFrameSendAsync();
  const bool Toggle = FFlowControl == fcRtsToggle;
  if (Toggle && !FDevice.SetRTS(true)) RaiseLastOSError("raise RTS");
  bool AllWritten = false;
  try {
    const std::size_t Wanted = Count > 0 ? static_cast<std::size_t>(Count) : 0;
    const std::size_t Written = FDevice.Write(Data, Wanted, Timeout == 0 ? InfiniteTimeout : Timeout);
    AllWritten = Written == Wanted;
    // Wait until the last character has left, so RTS never drops under it.
    if (!FDevice.Drain()) RaiseLastOSError("drain");
  } catch (...) {
    if (Toggle) FDevice.SetRTS(false);  // never leave the bus driven after a failure
    throw;
  }
  if (Toggle) {
    Delay(GetRTSHoldDelay());
    if (!FDevice.SetRTS(false)) RaiseLastOSError("drop RTS");
  }
  DoAfterFrameSendAsync();
  return AllWritten;
}

// ---- Wait and read ----------------------------------------------------------------

bool TModbusConnection::WaitForData(std::uint32_t Timeout) {
  // poll() keeps no state between calls: a wait that timed out leaves nothing to
  // pick up, and the next call sees characters that arrived in between at once.
  return FDevice.WaitForInput(FBreakEvent, Timeout) == TWaitResult::DataReady;
}

int TModbusConnection::ReadAvailable(std::uint8_t* Area, int Free) {
  int Total = 0;
  while (Total < Free) {
    const std::size_t Got = FDevice.Read(Area + Total, static_cast<std::size_t>(Free - Total));
    if (Got == 0) break;
    Total += static_cast<int>(Got);
  }
  return Total;
}

// Reads and drops input until the line is quiet for Silence ms or Limit ms pass.
void TModbusConnection::DiscardInputUntilSilence(std::uint32_t Silence, std::uint32_t Limit) {
  const auto Deadline = TClock::now() + std::chrono::milliseconds(Limit);
  std::uint8_t Scratch[256];
  while (WaitForData(std::min(Silence, MillisecondsUntil(Deadline)))) {
    while (FDevice.Read(Scratch, sizeof Scratch) > 0) {
    }
    if (TClock::now() >= Deadline) return;
  }
}

// The longest a whole frame may take on the line: twice the transfer time of a full
// receive area at the current rate (11 bits per character), plus the silent interval.
std::uint32_t TModbusConnection::FrameTimeAllowance() const {
  std::uint32_t Rate = 0;
  try {
    Rate = LineBitRate();
  } catch (...) {
  }
  const std::uint32_t Silence = GetRealSilentInterval();
  if (Rate == 0) return 1000 + Silence;
  const double Ms = std::ceil(2.0 * DetermineInterimBufferSize() * 11 * 1000 / Rate);
  return static_cast<std::uint32_t>(std::min(Ms, 600000.0)) + Silence;
}

int TModbusConnection::ReceiveFrame(std::uint8_t* Buffer, int Capacity, std::uint32_t Timeout) {
  const std::uint32_t Silence = GetRealSilentInterval();
  int Size = FTransmissionMode == tmASCII ? ReceiveFrameASCII(Buffer, Capacity, Timeout, Silence)
                                          : ReceiveFrameRTU(Buffer, Capacity, Timeout, Silence);
  DoPreprocessIncomingFrame(Buffer, Capacity, Size);
  return std::clamp(Size, 0, std::max(Capacity, 0));
}

int TModbusConnection::ReceiveFrameRTU(std::uint8_t* Buffer, int Capacity, std::uint32_t Timeout,
                                       std::uint32_t Silence) {
  if (Timeout == 0 || Capacity <= 0) return 0;
  if (!WaitForData(Timeout)) return 0;
  int Collected = ReadAvailable(Buffer, Capacity);
  if (Collected == 0) return 0;
  const auto Deadline = TClock::now() + std::chrono::milliseconds(FrameTimeAllowance());
  while (Collected < Capacity) {
    const std::uint32_t Left = MillisecondsUntil(Deadline);
    if (Left == 0 || !WaitForData(std::min(Silence, Left))) break;
    Collected += ReadAvailable(Buffer + Collected, Capacity - Collected);
  }
  // A frame longer than the area: drop the rest, up to the line's silence.
  if (Collected == Capacity) DiscardInputUntilSilence(Silence, MillisecondsUntil(Deadline));
  return Collected;
}

int TModbusConnection::ReceiveFrameASCII(std::uint8_t* Buffer, int Capacity, std::uint32_t Timeout,
                                         std::uint32_t Silence) {
  if (Timeout == 0 || Capacity <= 0) return 0;
  TReceiveFrameStage Stage = rfsIdle;
  int Collected = 0;

  // Scans the New bytes read after the collected part and keeps the frame in them.
  auto Acquire = [&](int New) {
    std::uint8_t* Scan = Buffer + Collected;
    int Start = -1;
    int Count = 0;
    for (int i = 0; i < New && Stage != rfsCompleted; ++i) {
      const std::uint8_t c = Scan[i];
      if (c == Colon) {
        Stage = rfsCollecting;
        Start = i;
        Count = 1;
      } else if (Stage == rfsCollecting) {
        ++Count;
        if (c == CarriageReturn) Stage = rfsCompleting;
      } else if (Stage == rfsCompleting) {
        if (c == LineFeed) {
          ++Count;
          Stage = rfsCompleted;
        } else {
          Stage = rfsIdle;
          Start = -1;
          Count = 0;
        }
      }
    }
    if (Start >= 0) {
      std::memmove(Buffer, Scan + Start, static_cast<std::size_t>(Count));
      Collected = Count;
    } else {
      Collected += Count;
    }
  };

  // Phase one: wait for a colon, ignoring noise, until the time-out has passed.
  const auto IdleDeadline = TClock::now() + std::chrono::milliseconds(Timeout);
  while (Stage == rfsIdle) {
    const std::uint32_t Left = MillisecondsUntil(IdleDeadline);
    if (Left == 0 || !WaitForData(Left)) break;
    const int New = ReadAvailable(Buffer + Collected, Capacity - Collected);
    if (New == 0) break;
    Acquire(New);
  }
  // Phase two: collect up to CR LF while characters keep coming.
  const auto FrameDeadline = TClock::now() + std::chrono::milliseconds(FrameTimeAllowance());
  while (Stage == rfsCollecting || Stage == rfsCompleting) {
    const std::uint32_t Left = MillisecondsUntil(FrameDeadline);
    if (Left == 0 || !WaitForData(std::min(Silence, Left))) break;
    const int New = ReadAvailable(Buffer + Collected, Capacity - Collected);
    if (New == 0) break;
    Acquire(New);
  }
  return Collected;
}
