// The frame exchange on the open port: send with optional RTS toggling, wait for
// input (ended early by the break event), and receive one frame, which in RTU ends
// when the line falls silent and in ASCII runs from the last colon to CR LF.
//
// Every receive is bounded in time: a line that never falls silent, or noise that
// never stops, ends the receive once the receive time-out has passed since the frame
// began, and bytes beyond the receive area are read and dropped (a monitor keeps them
// for the next frame), so a flood can neither spin the worker nor overrun the area.
// Bytes that follow a complete frame in the same read are kept for the next receive.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "Delay.h"
#include "ModbusConnection.h"

namespace {
using TClock = std::chrono::steady_clock;

std::uint32_t MillisecondsUntil(TClock::time_point Deadline) {
  const auto Left =
      std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - TClock::now()).count();
  return Left > 0 ? static_cast<std::uint32_t>(Left) : 0;
}
}  // namespace

// ---- Send ----------------------------------------------------------------------

bool TModbusConnection::SendFrame(const std::uint8_t* Data, int Count, std::uint32_t Timeout) {
  // A master's frame is the query the next reply answers.
  if (FConnectionMode == cmClient && Count >= 2) FLastQuery = {Data[1], Count};
  DoBeforeFrameSendAsync();
  const bool Toggle = FFlowControl == fcRtsToggle;
  if (Toggle) FDevice->SetRTS(true);
  bool AllWritten = false;
  try {
    const std::size_t Wanted = Count > 0 ? static_cast<std::size_t>(Count) : 0;
    const std::size_t Written =
        FDevice->Write(Data, Wanted, Timeout == 0 ? InfiniteTimeout : Timeout);
    // Wait until the last character has left, so RTS never drops under it; what has not
    // left in time is flushed, and the frame counts as not sent.
    AllWritten = FDevice->Drain(DrainTimeout(Written, Timeout)) && Written == Wanted;
  } catch (...) {
    // Never leave the bus driven after a failure; the first failure is the one reported.
    if (Toggle) {
      try {
        FDevice->SetRTS(false);
      } catch (...) {
      }
    }
    throw;
  }
  if (Toggle) {
    Delay(GetRTSHoldDelay());
    FDevice->SetRTS(false);
  }
  DoAfterFrameSendAsync();
  return AllWritten;
}

// How long the bytes just written may take to leave the device: the send time-out, but
// never less than their own time on the line (11 bits a character) and a margin, so that
// a slow line is not cut short; that line time alone when there is no send time-out.
std::uint32_t TModbusConnection::DrainTimeout(std::size_t Count, std::uint32_t SendTimeout) const {
  constexpr std::uint64_t MarginMs = 100;
  const std::uint64_t Rate = std::max<std::uint32_t>(LineBitRate(), 1);
  const std::uint64_t LineTime = (Count * 11 * 1000 + Rate - 1) / Rate + MarginMs;
  return static_cast<std::uint32_t>(
      std::min<std::uint64_t>(std::max<std::uint64_t>(SendTimeout, LineTime), InfiniteTimeout - 1));
}

// ---- Wait and read ----------------------------------------------------------------

bool TModbusConnection::WaitForData(std::uint32_t Timeout) {
  // The device's wait keeps no state between calls: a wait that timed out leaves nothing to
  // pick up, and the next call sees characters that arrived in between at once.
  return FDevice->WaitForInput(FBreakEvent, Timeout) == TWaitResult::DataReady;
}

// A read that leaves room has emptied the device's queue: asking again would only cost a
// call that finds nothing.
int TModbusConnection::ReadAvailable(std::uint8_t* Area, int Free) {
  int Total = 0;
  while (Total < Free) {
    const std::size_t Wanted = static_cast<std::size_t>(Free - Total);
    const std::size_t Got = FDevice->Read(Area + Total, Wanted);
    Total += static_cast<int>(Got);
    if (Got < Wanted) break;
  }
  return Total;
}

// Reads and drops input until the line is quiet for Silence ms or Limit ms pass.
void TModbusConnection::DiscardInputUntilSilence(std::uint32_t Silence, std::uint32_t Limit) {
  const auto Deadline = TClock::now() + std::chrono::milliseconds(Limit);
  std::uint8_t Scratch[256];
  while (WaitForData(std::min(Silence, MillisecondsUntil(Deadline)))) {
    while (FDevice->Read(Scratch, sizeof Scratch) > 0) {
    }
    if (TClock::now() >= Deadline) return;
  }
}

int TModbusConnection::ReceiveFrame(std::uint8_t* Buffer, int Capacity, std::uint32_t Timeout) {
  int Size = ReceiveRawFrame(Buffer, Capacity, Timeout, GetRealSilentInterval());
  DoPreprocessIncomingFrame(Buffer, Capacity, Size);
  return std::clamp(Size, 0, std::max(Capacity, 0));
}

// The framing tells where a frame starts and ends among the bytes that arrive; this
// loop only waits and reads.
int TModbusConnection::ReceiveRawFrame(std::uint8_t* Buffer, int Capacity, std::uint32_t Timeout,
                                       std::uint32_t Silence) {
  if (Timeout == 0 || Capacity <= 0) return 0;
  TFrameScan Scan;
  Scan.LastQuery = FLastQuery;
  const bool Monitor = FFraming.Role() == cmMonitor;
  if (Monitor) Scan.Noise = &FLineNoise;
  auto ReadAndScan = [&] {
    const int New = ReadAvailable(Buffer + Scan.Collected, Capacity - Scan.Collected);
    if (New > 0) FFraming.Scan(Scan, Buffer, New);
    return New > 0;
  };
  // The bytes that followed the last frame in its read come first.
  if (FDropPendingInput.exchange(false)) FPendingInput.clear();
  if (!FPendingInput.empty()) {
    const int Count = std::min(static_cast<int>(FPendingInput.size()), Capacity);
    std::memcpy(Buffer, FPendingInput.data(), static_cast<std::size_t>(Count));
    FPendingInput.clear();
    FFraming.Scan(Scan, Buffer, Count);
  }

  // Phase one: wait for the start of a frame, passing over noise, until the time-out. A
  // monitor's noise ends where the line falls silent, so that it is reported then.
  const std::uint32_t Gap = FFraming.CharacterGap(Silence);
  const auto IdleDeadline = TClock::now() + std::chrono::milliseconds(Timeout);
  while (!Scan.Started) {
    std::uint32_t Left = MillisecondsUntil(IdleDeadline);
    if (!FLineNoise.Empty()) Left = std::min(Left, Gap);
    if (Left == 0 || !WaitForData(Left) || !ReadAndScan()) return Scan.Collected;
  }
  // Phase two: collect the frame while characters keep coming, until it is complete. A
  // frame that has begun is bounded by the area (the largest frame) and by the receive
  // time-out, not by its nominal time on the line: USB adapters deliver it in chunks.
  const std::uint64_t Budget = Timeout != InfiniteTimeout ? Timeout : GetReceiveTimeout();
  const auto FrameDeadline = TClock::now() + std::chrono::milliseconds(Budget + Gap);
  while (Scan.Started && !Scan.Complete) {
    if (Scan.Collected == Capacity) {
      if (Monitor && FFraming.EndsAtSilence()) {
        // Frames that run together past the area: nothing is dropped, what does not
        // fit this frame begins the next.
        const int Cut = FFraming.RunCut(Buffer, Capacity, Scan.LastQuery);
        Scan.Complete = true;
        Scan.Collected = Cut;
        Scan.RestAt = Cut;
        Scan.Rest = Capacity - Cut;
        break;
      }
      // A frame longer than the area: drop the rest, up to the line's silence.
      if (FFraming.EndsAtSilence())
        DiscardInputUntilSilence(Silence, MillisecondsUntil(FrameDeadline));
      break;
    }
    const std::uint32_t Left = MillisecondsUntil(FrameDeadline);
    if (Left == 0 || !WaitForData(std::min(Gap, Left)) || !ReadAndScan()) break;
  }
  if (Scan.Complete && Scan.Rest > 0)
    FPendingInput.assign(Buffer + Scan.RestAt, Buffer + Scan.RestAt + Scan.Rest);
  // A slave or a monitor learns the query the next reply answers from the line.
  if (Scan.Complete && Scan.IsQuery && FConnectionMode != cmClient)
    FLastQuery = {Buffer[1], Scan.Collected};
  return Scan.Collected;
}

void TModbusConnection::WaitForQuietLine(TClock::time_point QuietSince) {
  const std::chrono::microseconds Gap = InterFrameGap();
  const auto Limit = QuietSince + std::chrono::milliseconds(GetRealSilentInterval());
  std::uint8_t Scratch[256];
  for (;;) {
    std::this_thread::sleep_until(std::min(QuietSince + Gap, Limit));
    // The input was empty at QuietSince: whatever it holds now came in since.
    if (!WaitForData(0)) return;
    while (FDevice->Read(Scratch, sizeof Scratch) > 0) {
    }
    QuietSince = TClock::now();
    if (QuietSince >= Limit) return;
  }
}
