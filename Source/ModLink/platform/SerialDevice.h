// A serial device: raw line settings at any bit rate, modem lines, purge, drain,
// non-blocking reads and bounded writes, and a wait for input that an event can end.
// The system's own types stay in the implementations (platform/posix/, platform/win32/).
//
// Every failure raises std::system_error with the system's error code; its message
// names the port.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "LineDevice.h"
#include "NativeHandle.h"

struct TLineSettings {
  std::uint32_t BaudRate = 19200;
  int DataBits = 8;   // 7 or 8
  char Parity = 'E';  // 'N', 'O' or 'E'
  int StopBits = 1;   // 1 or 2
  bool RtsCtsFlowControl = false;
  // Only where SupportsDtrDsrFlowControl() holds.
  bool DtrDsrFlowControl = false;
  // Levels programmed with the settings; a device without modem lines (a
  // pseudo-terminal) still accepts the settings.
  bool RaiseRTS = true;
  bool RaiseDTR = true;
};

class TSerialDevice : public TLineDevice {
 public:
  TSerialDevice() = default;
  ~TSerialDevice() override;

  // POSIX: a name with a "/" is a path; a bare name such as ttyUSB0 is looked up under /dev/.
  // Windows: a name such as COM5 is opened as \\.\COM5; a name starting with \\ as it is.
  // The message of a failure starts with "Could not open serial port" and names the path.
  void Open(const std::string& PortName);
  // Uses a handle the application opened; it is never closed here. Fails as Open does.
  void Attach(TNativeHandle Handle);
  void Close() override;
  bool IsOpen() const override { return FHandle != InvalidNativeHandle; }
  TNativeHandle Handle() const { return FHandle; }
  // The path opened, or a description of the handle attached, as failures name it.
  const std::string& Name() const override { return FName; }
  static std::string DevicePath(const std::string& PortName);
  // Whether the system's driver paces output by DSR and drives DTR as a handshake.
  static bool SupportsDtrDsrFlowControl();

  // Linux sizes its tty queues itself: there sizes are only checked.
  void SetQueueSizes(int InputSize, int OutputSize);
  // Raw mode, reads that return at once with what is queued.
  void SetRawTimeouts();
  // Checks that the handle can be waited on together with an event.
  void CheckWaitable();
  void ApplyLineSettings(const TLineSettings& Settings);
  // The rate the device runs at, read back from it.
  std::uint32_t CurrentBaudRate() const;

  void SetRTS(bool Level) override;
  void SetDTR(bool Level) override;
  void Purge(bool Input, bool Output) override;
  // Flow control that never lets the bytes go (CTS held low) cannot hold the caller for ever.
  bool Drain(std::uint32_t TimeoutMs) override;
  // The characters written but not yet sent. Virtual so that a test can play a line
  // that never takes them.
  virtual std::size_t OutputPending() const;

  std::size_t Read(std::uint8_t* Data, std::size_t Count) override;
  std::size_t Write(const std::uint8_t* Data, std::size_t Count, std::uint32_t TimeoutMs) override;
  // A hang-up is a failure (EIO).
  TWaitResult WaitForInput(TOsEvent& Break, std::uint32_t TimeoutMs) override;

 private:
  [[noreturn]] void Fail(const char* What) const;

  TNativeHandle FHandle = InvalidNativeHandle;
  bool FOwned = false;
  std::string FName;
  std::uint32_t FCharacterTimeUs = 1042;  // one character at the programmed rate (9600 8E1)
  mutable bool FHasLineStatus = true;     // the device tells when its last character has left
  // What an implementation keeps between calls (Windows: the read in flight).
  struct TPlatformState;
  TPlatformState* FState = nullptr;
};
