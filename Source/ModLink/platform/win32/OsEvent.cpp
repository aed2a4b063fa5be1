// TOsEvent on a Win32 event object. A wait on it (WaitFor, or WaitForMultipleObjects
// among other handles) consumes an auto-reset event by itself.
#include "../OsEvent.h"

#include <windows.h>

#include "../OsError.h"

TOsEvent::TOsEvent(bool ManualReset)
    : FHandle(CreateEventW(nullptr, ManualReset ? TRUE : FALSE, FALSE, nullptr)),
      FManualReset(ManualReset) {
  if (FHandle == nullptr) {
    FHandle = InvalidNativeHandle;
    RaiseLastOSError("CreateEvent");
  }
}

TOsEvent::~TOsEvent() {
  CloseHandle(FHandle);
}

void TOsEvent::Set() {
  if (!SetEvent(FHandle)) RaiseLastOSError("SetEvent");
}

void TOsEvent::Reset() {
  if (!ResetEvent(FHandle)) RaiseLastOSError("ResetEvent");
}

bool TOsEvent::IsSet() const {
  if (WaitForSingleObject(FHandle, 0) != WAIT_OBJECT_0) return false;
  // Looking at an auto-reset event consumed it: put it back.
  if (!FManualReset) SetEvent(FHandle);
  return true;
}

// The wait that found the event signalled has consumed it already.
void TOsEvent::Acknowledge() {}

bool TOsEvent::WaitFor(std::uint32_t Timeout) {
  const DWORD Result =
      WaitForSingleObject(FHandle, Timeout == InfiniteTimeout ? INFINITE : Timeout);
  if (Result == WAIT_FAILED) RaiseLastOSError("WaitForSingleObject");
  return Result == WAIT_OBJECT_0;
}
