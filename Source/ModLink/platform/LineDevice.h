// What the connection reads and writes frames on: a serial port (TSerialDevice) or a TCP
// stream to a serial device server (TTcpStream). The framing, the worker and the client,
// server and monitor above it see only these operations.
//
// Every failure raises std::system_error with the system's error code; its message names
// the device.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class TOsEvent;

enum class TWaitResult { DataReady, Broken, TimedOut };

class TLineDevice {
 public:
  TLineDevice() = default;
  virtual ~TLineDevice() = default;
  TLineDevice(const TLineDevice&) = delete;
  TLineDevice& operator=(const TLineDevice&) = delete;

  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  // The device as failures name it.
  virtual const std::string& Name() const = 0;

  // Modem lines; a device without them (a TCP stream) ignores the call.
  virtual void SetRTS(bool Level) = 0;
  virtual void SetDTR(bool Level) = 0;
  // Drops what the device holds: the input received and not read, the output not yet sent.
  virtual void Purge(bool Input, bool Output) = 0;
  // Waits until everything written has left the device, for TimeoutMs at the most; then
  // drops what is still queued and returns false.
  virtual bool Drain(std::uint32_t TimeoutMs) = 0;
  // Reads what has arrived, at most Count bytes; 0 when nothing has.
  virtual std::size_t Read(std::uint8_t* Data, std::size_t Count) = 0;
  // Writes all bytes unless the device stops accepting them for TimeoutMs
  // (TOsEvent::InfiniteTimeout: no limit); returns the number written.
  virtual std::size_t Write(const std::uint8_t* Data, std::size_t Count,
                            std::uint32_t TimeoutMs) = 0;
  // Waits for input, for Break or for the time-out. A device that has gone away is a
  // failure instead of input that never comes.
  virtual TWaitResult WaitForInput(TOsEvent& Break, std::uint32_t TimeoutMs) = 0;
};
