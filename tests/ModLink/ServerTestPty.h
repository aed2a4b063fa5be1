// Test support for the slave side: a pseudo-terminal pair whose far end the test drives
// with raw bytes, and a reference CRC/LRC computed bit by bit, independently of the library.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace servertest {

using TBytes = std::vector<std::uint8_t>;

inline std::uint16_t ReferenceCrc16(const TBytes& Data) {
  std::uint16_t Crc = 0xFFFF;
  for (const std::uint8_t Byte : Data) {
    Crc ^= Byte;
    for (int Bit = 0; Bit < 8; ++Bit) Crc = (Crc & 1) ? (Crc >> 1) ^ 0xA001 : Crc >> 1;
  }
  return Crc;
}

inline std::uint8_t ReferenceLrc(const TBytes& Data) {
  unsigned Sum = 0;
  for (const std::uint8_t Byte : Data) Sum += Byte;
  return static_cast<std::uint8_t>(0x100 - (Sum & 0xFF));
}

// Appends the RTU CRC, low byte first.
inline TBytes Rtu(TBytes Pdu) {
  const std::uint16_t Crc = ReferenceCrc16(Pdu);
  Pdu.push_back(static_cast<std::uint8_t>(Crc & 0xFF));
  Pdu.push_back(static_cast<std::uint8_t>(Crc >> 8));
  return Pdu;
}

// ":" + hex of the bytes and their LRC + CR LF.
inline std::string Ascii(TBytes Pdu) {
  Pdu.push_back(ReferenceLrc(Pdu));
  static const char* const Digits = "0123456789ABCDEF";
  std::string Text = ":";
  for (const std::uint8_t Byte : Pdu) {
    Text += Digits[Byte >> 4];
    Text += Digits[Byte & 0x0F];
  }
  return Text + "\r\n";
}

inline TBytes Bytes(const std::string& Text) { return TBytes(Text.begin(), Text.end()); }

inline void Raw(termios& Settings) {
  cfmakeraw(&Settings);
  Settings.c_cc[VMIN] = 0;
  Settings.c_cc[VTIME] = 0;
}

// One pseudo-terminal pair. The library opens SlavePath(); the test reads and writes the
// master side. The test keeps its own slave descriptor open so that the master never sees a
// hang-up while the library reopens the port.
class TTestPty {
 public:
  TTestPty() {
    termios Settings{};
    cfmakeraw(&Settings);
    char Name[256] = {};
    if (openpty(&FMaster, &FSlave, Name, &Settings, nullptr) != 0)
      throw std::system_error(errno, std::generic_category(), "openpty");
    FPath = Name;
    ::fcntl(FMaster, F_SETFL, ::fcntl(FMaster, F_GETFL) | O_NONBLOCK);
    termios Master{};
    ::tcgetattr(FMaster, &Master);
    Raw(Master);
    ::tcsetattr(FMaster, TCSANOW, &Master);
  }
  ~TTestPty() {
    CloseMaster();
    ::close(FSlave);
  }
  TTestPty(const TTestPty&) = delete;
  TTestPty& operator=(const TTestPty&) = delete;

  const std::string& SlavePath() const { return FPath; }
  // Hangs the line up, as a device that has gone away.
  void CloseMaster() {
    if (FMaster >= 0) ::close(FMaster);
    FMaster = -1;
  }
  int MasterFd() const { return FMaster; }

  void Write(const TBytes& Data) const { WriteRaw(Data.data(), Data.size()); }
  void Write(const std::string& Text) const { WriteRaw(Text.data(), Text.size()); }

  // Collects what arrives until the line stays quiet for QuietMs after the first byte, or
  // until FirstByteTimeoutMs passes without any byte. Empty when nothing came.
  TBytes Read(int FirstByteTimeoutMs = 2000, int QuietMs = 100) const {
    TBytes Received;
    int Timeout = FirstByteTimeoutMs;
    for (;;) {
      pollfd Poll{FMaster, POLLIN, 0};
      const int Ready = ::poll(&Poll, 1, Timeout);
      if (Ready <= 0 || !(Poll.revents & POLLIN)) return Received;
      std::uint8_t Chunk[512];
      const ssize_t Count = ::read(FMaster, Chunk, sizeof Chunk);
      if (Count <= 0) return Received;
      Received.insert(Received.end(), Chunk, Chunk + Count);
      Timeout = QuietMs;
    }
  }

  std::string ReadText(int FirstByteTimeoutMs = 2000, int QuietMs = 100) const {
    const TBytes Bytes = Read(FirstByteTimeoutMs, QuietMs);
    return std::string(Bytes.begin(), Bytes.end());
  }

 private:
  void WriteRaw(const void* Data, std::size_t Size) const {
    const auto* Bytes = static_cast<const std::uint8_t*>(Data);
    std::size_t Done = 0;
    while (Done < Size) {
      const ssize_t Count = ::write(FMaster, Bytes + Done, Size - Done);
      if (Count < 0 && errno != EAGAIN) throw std::system_error(errno, std::generic_category(), "write");
      if (Count > 0) Done += static_cast<std::size_t>(Count);
    }
  }

  int FMaster = -1;
  int FSlave = -1;
  std::string FPath;
};

}  // namespace servertest
