// A serial device on POSIX: raw termios (custom rates through termios2), modem
// lines, purge, drain, non-blocking reads and bounded writes, and a wait for
// input that an event can end. termios stays out of this header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class TOsEvent;

struct TLineSettings {
  std::uint32_t BaudRate = 19200;
  int DataBits = 8;            // 7 or 8
  char Parity = 'E';           // 'N', 'O' or 'E'
  int StopBits = 1;            // 1 or 2
  bool RtsCtsFlowControl = false;
  // Levels programmed with the settings; a device without modem lines (a
  // pseudo-terminal) still accepts the settings.
  bool RaiseRTS = true;
  bool RaiseDTR = true;
};

enum class TWaitResult { DataReady, Broken, TimedOut };

class TSerialDevice {
public:
  TSerialDevice() = default;
  ~TSerialDevice();
  TSerialDevice(const TSerialDevice&) = delete;
  TSerialDevice& operator=(const TSerialDevice&) = delete;

  // A name with a "/" is a path; a bare name such as ttyUSB0 is looked up under
  // /dev/. False (errno set) when the device cannot be opened.
  bool Open(const std::string& PortName);
  // Uses a descriptor the application opened; it is never closed here.
  bool Attach(int Handle);
  void Close();
  bool IsOpen() const { return FHandle >= 0; }
  int Handle() const { return FHandle; }
  static std::string DevicePath(const std::string& PortName);

  // Linux sizes its tty queues itself: sizes are only checked.
  bool SetQueueSizes(int InputSize, int OutputSize);
  // Raw mode, reads that return at once with what is queued.
  bool SetRawTimeouts();
  // Checks that the descriptor can be waited on with poll().
  bool CheckWaitable();
  bool ApplyLineSettings(const TLineSettings& Settings);
  // Actual rate read back from the device (0 on failure).
  std::uint32_t CurrentBaudRate() const;

  bool SetRTS(bool Level);
  bool SetDTR(bool Level);
  bool Purge(bool Input, bool Output);
  bool Drain();

  // Reads what is queued, at most Count bytes; 0 when nothing is. Raises
  // std::system_error on a device failure.
  std::size_t Read(std::uint8_t* Data, std::size_t Count);
  // Writes all bytes unless the device stops accepting them for TimeoutMs
  // (InfiniteTimeout: no limit); returns the number written. Raises
  // std::system_error on a device failure.
  std::size_t Write(const std::uint8_t* Data, std::size_t Count, std::uint32_t TimeoutMs);
  // Waits for input, for Break or for the time-out. A hang-up raises
  // std::system_error (EIO) instead of reporting data that never comes.
  TWaitResult WaitForInput(TOsEvent& Break, std::uint32_t TimeoutMs);

private:
  int FHandle = -1;
  bool FOwned = false;
};
