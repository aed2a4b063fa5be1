// The serial device on Win32 overlapped I/O.
//
// The port's read time-outs make a read return at once with what is queued and otherwise
// wait for the first character. Waiting for input is therefore a one-character read kept
// in flight, waited on together with the break event; the character it brings is handed
// out by the next Read, and a read still in flight after a wait that timed out is simply
// waited on again by the next one. (An overlapped WaitCommEvent would do the same job on
// Windows, but under Wine it completes at once with an empty mask.) Reads of what is queued
// ask the driver how much is there first, so they never wait.
#include "../SerialDevice.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <system_error>
#include <thread>

#include "../../ModLinkMessages.h"
#include "../OsEvent.h"
#include "DcbFlags.h"

struct TSerialDevice::TPlatformState {
  HANDLE ReadEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE WriteEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  // Read, Purge and the wait may come from different threads.
  std::mutex ReadLock;
  OVERLAPPED ReadRecord{};
  bool ReadInFlight = false;
  std::uint8_t Lookahead = 0;  // the character the one-character read brought
  bool LookaheadValid = false;

  ~TPlatformState() {
    if (ReadEvent) CloseHandle(ReadEvent);
    if (WriteEvent) CloseHandle(WriteEvent);
  }
};

namespace {

std::wstring Widen(const std::string& Text) {
  if (Text.empty()) return {};
  const int Length =
      MultiByteToWideChar(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), nullptr, 0);
  std::wstring Wide(static_cast<std::size_t>(std::max(Length, 0)), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), Wide.data(), Length);
  return Wide;
}

// A read returns at once with what is queued; with nothing queued it waits for the first
// character (for at most 49 days, after which it completes empty and is issued again).
// Writes have no time-out of their own: Write bounds them.
constexpr COMMTIMEOUTS PortTimeouts{MAXDWORD, MAXDWORD, MAXDWORD - 1, 0, 0};

}  // namespace

TSerialDevice::~TSerialDevice() {
  Close();
}

std::string TSerialDevice::DevicePath(const std::string& PortName) {
  if (PortName.rfind("\\\\", 0) == 0) return PortName;
  return "\\\\.\\" + PortName;
}

bool TSerialDevice::SupportsDtrDsrFlowControl() {
  return true;
}

void TSerialDevice::Fail(const char* What) const {
  const DWORD Error = GetLastError();
  throw std::system_error(static_cast<int>(Error), std::system_category(),
                          std::string(What) + " " + FName);
}

void TSerialDevice::Open(const std::string& PortName) {
  Close();
  FName = PortName.empty() ? "(no port name)" : DevicePath(PortName);
  SetLastError(ERROR_FILE_NOT_FOUND);
  // Not shared, must exist, overlapped.
  const HANDLE Handle =
      PortName.empty()
          ? INVALID_HANDLE_VALUE
          : CreateFileW(Widen(FName).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
  if (Handle == INVALID_HANDLE_VALUE) Fail(ModLinkMessages::SCouldNotOpenPort);
  // Only a communications device has a device control block.
  DCB Current{};
  Current.DCBlength = sizeof Current;
  if (!GetCommState(Handle, &Current)) {
    const DWORD Error = GetLastError();
    CloseHandle(Handle);
    SetLastError(Error);
    Fail(ModLinkMessages::SCouldNotOpenPort);
  }
  FHandle = Handle;
  FOwned = true;
  FState = new TPlatformState;
}

void TSerialDevice::Attach(TNativeHandle Handle) {
  Close();
  FName = "handle " + std::to_string(reinterpret_cast<std::uintptr_t>(Handle));
  DCB Current{};
  Current.DCBlength = sizeof Current;
  SetLastError(ERROR_INVALID_HANDLE);
  // The application opened it for overlapped I/O, as this class needs.
  if (Handle == InvalidNativeHandle || Handle == nullptr || !GetCommState(Handle, &Current))
    Fail(ModLinkMessages::SCouldNotOpenPort);
  FHandle = Handle;
  FOwned = false;
  FState = new TPlatformState;
}

void TSerialDevice::Close() {
  if (FHandle != InvalidNativeHandle) {
    if (FState && FState->ReadInFlight) {
      DWORD Ignored = 0;
      CancelIoEx(FHandle, &FState->ReadRecord);
      GetOverlappedResult(FHandle, &FState->ReadRecord, &Ignored, TRUE);
    }
    if (FOwned) CloseHandle(FHandle);
  }
  delete FState;
  FState = nullptr;
  FHandle = InvalidNativeHandle;
  FOwned = false;
}

void TSerialDevice::SetQueueSizes(int InputSize, int OutputSize) {
  SetLastError(ERROR_INVALID_PARAMETER);
  if (InputSize < 0 || OutputSize < 0 ||
      !SetupComm(FHandle, static_cast<DWORD>(InputSize), static_cast<DWORD>(OutputSize)))
    Fail("set the queue sizes of");
}

void TSerialDevice::SetRawTimeouts() {
  COMMTIMEOUTS Timeouts = PortTimeouts;
  if (!SetCommTimeouts(FHandle, &Timeouts)) Fail("set the time-outs of");
}

void TSerialDevice::CheckWaitable() {
  SetLastError(ERROR_INVALID_HANDLE);
  if (!FState || !FState->ReadEvent || !FState->WriteEvent) Fail("create the wait events for");
  if (!SetCommMask(FHandle, EV_RXCHAR)) Fail("set the event mask of");
}

void TSerialDevice::ApplyLineSettings(const TLineSettings& Settings) {
  SetLastError(ERROR_INVALID_PARAMETER);
  if (Settings.BaudRate == 0) Fail("set the line settings of");
  DCB Block{};
  Block.DCBlength = sizeof Block;
  Block.BaudRate = Settings.BaudRate;
  Block.ByteSize = static_cast<BYTE>(Settings.DataBits == 7 ? 7 : 8);
  Block.Parity = DcbParity(Settings.Parity);
  Block.StopBits = DcbStopBits(Settings.StopBits);
  Block.XonChar = 0x11;
  Block.XoffChar = 0x13;
  const std::uint32_t Flags = DcbFlags(Settings);
  Block.fBinary = (Flags & DcbFlag::Binary) != 0;
  Block.fParity = (Flags & DcbFlag::Parity) != 0;
  Block.fOutxCtsFlow = (Flags & DcbFlag::OutxCtsFlow) != 0;
  Block.fOutxDsrFlow = (Flags & DcbFlag::OutxDsrFlow) != 0;
  Block.fDtrControl = (Flags >> 4) & 3;
  Block.fRtsControl = (Flags >> 12) & 3;
  Block.fAbortOnError = (Flags & DcbFlag::AbortOnError) != 0;
  if (!SetCommState(FHandle, &Block)) Fail("set the line settings of");
  const std::uint32_t Bits = 1 + static_cast<std::uint32_t>(Settings.DataBits) +
                             (Settings.Parity != 'N' ? 1 : 0) +
                             static_cast<std::uint32_t>(Settings.StopBits);
  FCharacterTimeUs = static_cast<std::uint32_t>(Bits * 1'000'000ull / Settings.BaudRate) + 1;
}

std::uint32_t TSerialDevice::CurrentBaudRate() const {
  DCB Block{};
  Block.DCBlength = sizeof Block;
  if (!GetCommState(FHandle, &Block)) Fail("read the settings of");
  return Block.BaudRate;
}

void TSerialDevice::SetRTS(bool Level) {
  if (!EscapeCommFunction(FHandle, Level ? SETRTS : CLRRTS))
    Fail(Level ? "raise RTS on" : "drop RTS on");
}

void TSerialDevice::SetDTR(bool Level) {
  if (!EscapeCommFunction(FHandle, Level ? SETDTR : CLRDTR))
    Fail(Level ? "raise DTR on" : "drop DTR on");
}

void TSerialDevice::Purge(bool Input, bool Output) {
  if (!Input && !Output) return;
  DWORD Flags = 0;
  if (Input) {
    // The read in flight goes first: its character, if any, is input being purged.
    std::lock_guard Guard(FState->ReadLock);
    if (FState->ReadInFlight) {
      DWORD Ignored = 0;
      CancelIoEx(FHandle, &FState->ReadRecord);
      GetOverlappedResult(FHandle, &FState->ReadRecord, &Ignored, TRUE);
      FState->ReadInFlight = false;
    }
    FState->LookaheadValid = false;
    Flags |= PURGE_RXABORT | PURGE_RXCLEAR;
  }
  if (Output) Flags |= PURGE_TXABORT | PURGE_TXCLEAR;
  if (!PurgeComm(FHandle, Flags)) Fail("purge");
}

// FlushFileBuffers alone would wait as long as the flow control holds the bytes back: the
// driver's output queue is watched instead, sleeping about as long as what is left takes
// at the programmed rate, and the flush comes once the queue is empty.
bool TSerialDevice::Drain(std::uint32_t TimeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto Deadline = Clock::now() + std::chrono::milliseconds(TimeoutMs);
  for (;;) {
    const std::size_t Pending = OutputPending();
    if (Pending == 0) {
      if (!FlushFileBuffers(FHandle)) Fail("drain");
      return true;
    }
    const auto Now = Clock::now();
    if (Now >= Deadline) {
      Purge(false, true);
      return false;
    }
    const auto LeavesIn = std::chrono::microseconds(Pending * FCharacterTimeUs);
    std::this_thread::sleep_for(std::min<Clock::duration>(
        std::max<Clock::duration>(LeavesIn, std::chrono::microseconds(100)), Deadline - Now));
  }
}

std::size_t TSerialDevice::OutputPending() const {
  COMSTAT Status{};
  DWORD Errors = 0;
  if (!ClearCommError(FHandle, &Errors, &Status)) Fail("read the output queue of");
  return Status.cbOutQue;
}

namespace {

// Collects the read in flight if it has finished; false while it is still running.
// Raises nothing: the caller decides what a failed read means.
bool CollectRead(HANDLE Port, OVERLAPPED& Record, DWORD& Got, DWORD& Error, BOOL Wait) {
  Got = 0;
  Error = 0;
  if (GetOverlappedResult(Port, &Record, &Got, Wait)) return true;
  Error = GetLastError();
  return Error != ERROR_IO_INCOMPLETE;
}

}  // namespace

std::size_t TSerialDevice::Read(std::uint8_t* Data, std::size_t Count) {
  if (Count == 0) return 0;
  std::lock_guard Guard(FState->ReadLock);
  if (FState->ReadInFlight) {
    DWORD Got = 0, Error = 0;
    // Nothing can be queued ahead of a read that is still waiting.
    if (!CollectRead(FHandle, FState->ReadRecord, Got, Error, FALSE)) return 0;
    FState->ReadInFlight = false;
    if (Error != 0 && Error != ERROR_OPERATION_ABORTED) {
      SetLastError(Error);
      Fail("read from");
    }
    FState->LookaheadValid = Got == 1;
  }
  std::size_t Total = 0;
  if (FState->LookaheadValid) {
    Data[Total++] = FState->Lookahead;
    FState->LookaheadValid = false;
  }
  COMSTAT Status{};
  DWORD Errors = 0;
  if (!ClearCommError(FHandle, &Errors, &Status)) Fail("read from");
  const DWORD Wanted = static_cast<DWORD>(std::min<std::size_t>(Count - Total, Status.cbInQue));
  if (Wanted == 0) return Total;
  OVERLAPPED Record{};
  Record.hEvent = FState->ReadEvent;
  ResetEvent(FState->ReadEvent);
  DWORD Got = 0;
  // What is queued is there already: the read completes without waiting.
  if (!ReadFile(FHandle, Data + Total, Wanted, &Got, &Record)) {
    if (GetLastError() != ERROR_IO_PENDING || !GetOverlappedResult(FHandle, &Record, &Got, TRUE))
      Fail("read from");
  }
  return Total + Got;
}

std::size_t TSerialDevice::Write(const std::uint8_t* Data, std::size_t Count,
                                 std::uint32_t TimeoutMs) {
  if (Count == 0) return 0;
  OVERLAPPED Record{};
  Record.hEvent = FState->WriteEvent;
  ResetEvent(FState->WriteEvent);
  DWORD Written = 0;
  const DWORD Size = static_cast<DWORD>(std::min<std::size_t>(Count, MAXDWORD));
  if (WriteFile(FHandle, Data, Size, &Written, &Record)) return Written;
  if (GetLastError() != ERROR_IO_PENDING) Fail("write to");
  const DWORD Limit = TimeoutMs == TOsEvent::InfiniteTimeout ? INFINITE : TimeoutMs;
  // A device that stops taking bytes (flow control held) ends the write after the time-out
  // with what went out so far.
  if (WaitForSingleObject(FState->WriteEvent, Limit) == WAIT_TIMEOUT) CancelIoEx(FHandle, &Record);
  if (!GetOverlappedResult(FHandle, &Record, &Written, TRUE) &&
      GetLastError() != ERROR_OPERATION_ABORTED)
    Fail("write to");
  return Written;
}

TWaitResult TSerialDevice::WaitForInput(TOsEvent& Break, std::uint32_t TimeoutMs) {
  const bool Bounded = TimeoutMs != TOsEvent::InfiniteTimeout;
  const ULONGLONG Deadline = GetTickCount64() + (Bounded ? TimeoutMs : 0);
  for (;;) {
    {
      std::lock_guard Guard(FState->ReadLock);
      if (FState->LookaheadValid) return TWaitResult::DataReady;
      COMSTAT Status{};
      DWORD Errors = 0;
      if (!ClearCommError(FHandle, &Errors, &Status)) Fail("wait for");
      if (Status.cbInQue > 0 && !FState->ReadInFlight) return TWaitResult::DataReady;
      if (!FState->ReadInFlight) {
        FState->ReadRecord = OVERLAPPED{};
        FState->ReadRecord.hEvent = FState->ReadEvent;
        ResetEvent(FState->ReadEvent);
        DWORD Got = 0;
        if (ReadFile(FHandle, &FState->Lookahead, 1, &Got, &FState->ReadRecord)) {
          FState->LookaheadValid = Got == 1;
          if (FState->LookaheadValid) return TWaitResult::DataReady;
          continue;
        }
        if (GetLastError() != ERROR_IO_PENDING) Fail("wait for");
        FState->ReadInFlight = true;
      }
    }
    DWORD Wait = INFINITE;
    if (Bounded) {
      const ULONGLONG Now = GetTickCount64();
      Wait = Now >= Deadline ? 0 : static_cast<DWORD>(Deadline - Now);
    }
    const HANDLE Handles[2] = {FState->ReadEvent, Break.Handle()};
    const DWORD Result = WaitForMultipleObjects(2, Handles, FALSE, Wait);
    if (Result == WAIT_OBJECT_0 + 1) return TWaitResult::Broken;  // auto-reset: consumed
    if (Result == WAIT_TIMEOUT) return TWaitResult::TimedOut;
    if (Result != WAIT_OBJECT_0) Fail("wait for");
    std::lock_guard Guard(FState->ReadLock);
    if (!FState->ReadInFlight) continue;  // a purge took it meanwhile
    DWORD Got = 0, Error = 0;
    if (!CollectRead(FHandle, FState->ReadRecord, Got, Error, FALSE)) continue;
    FState->ReadInFlight = false;
    if (Error != 0 && Error != ERROR_OPERATION_ABORTED) {
      SetLastError(Error);
      Fail("wait for");
    }
    FState->LookaheadValid = Got == 1;
    if (FState->LookaheadValid) return TWaitResult::DataReady;
    // Completed empty (the read's own time-out) or cancelled: wait on with a new read.
  }
}
