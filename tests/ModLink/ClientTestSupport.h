// Test support for the master side: a pseudo-terminal pair whose far end is a scripted slave
// that answers each query with raw bytes chosen by the test (so any fault can be injected),
// and a rig that opens a connection and a client on the near end.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "ModbusClient.h"
#include "ModbusConnection.h"
#include "platform/MainThread.h"

namespace clienttest {

using TBytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

// CRC and LRC computed bit by bit, independently of the library's tables.
inline std::uint16_t ReferenceCrc16(const TBytes& Data) {
  std::uint16_t Crc = 0xFFFF;
  for (const std::uint8_t Byte : Data) {
    Crc = static_cast<std::uint16_t>(Crc ^ Byte);
    for (int Bit = 0; Bit < 8; ++Bit)
      Crc = static_cast<std::uint16_t>((Crc & 1) ? (Crc >> 1) ^ 0xA001 : Crc >> 1);
  }
  return Crc;
}

inline std::uint8_t ReferenceLrc(const TBytes& Data) {
  unsigned Sum = 0;
  for (const std::uint8_t Byte : Data) Sum += Byte;
  return static_cast<std::uint8_t>(0x100 - (Sum & 0xFF));
}

// Address, function and data with the RTU CRC appended, low byte first.
inline TBytes Rtu(TBytes Pdu) {
  const std::uint16_t Crc = ReferenceCrc16(Pdu);
  Pdu.push_back(static_cast<std::uint8_t>(Crc & 0xFF));
  Pdu.push_back(static_cast<std::uint8_t>(Crc >> 8));
  return Pdu;
}

// ":" + hex of the bytes and their LRC + CR LF.
inline TBytes Ascii(TBytes Pdu) {
  Pdu.push_back(ReferenceLrc(Pdu));
  static const char* const Digits = "0123456789ABCDEF";
  TBytes Text = {':'};
  for (const std::uint8_t Byte : Pdu) {
    Text.push_back(static_cast<std::uint8_t>(Digits[Byte >> 4]));
    Text.push_back(static_cast<std::uint8_t>(Digits[Byte & 0x0F]));
  }
  Text.push_back('\r');
  Text.push_back('\n');
  return Text;
}

// The binary bytes of an RTU frame without its CRC, or of an ASCII frame without its LRC;
// empty when an ASCII frame holds anything but hexadecimal digit pairs.
inline TBytes Pdu(const TBytes& Raw, bool AsciiMode) {
  if (!AsciiMode) return Raw.size() < 2 ? TBytes{} : TBytes(Raw.begin(), Raw.end() - 2);
  const auto Nibble = [](std::uint8_t C) -> int {
    if (C >= '0' && C <= '9') return C - '0';
    if (C >= 'A' && C <= 'F') return C - 'A' + 10;
    return -1;
  };
  TBytes Binary;
  if (Raw.size() < 5 || Raw.front() != ':' || Raw.size() % 2 == 0) return {};
  for (std::size_t i = 1; i + 3 < Raw.size(); i += 2) {
    const int High = Nibble(Raw[i]), Low = Nibble(Raw[i + 1]);
    if (High < 0 || Low < 0) return {};
    Binary.push_back(static_cast<std::uint8_t>(High << 4 | Low));
  }
  Binary.pop_back();  // the LRC
  return Binary;
}

// One pseudo-terminal pair: the library opens Path(); the test drives Master().
class TPty {
 public:
  TPty() {
    termios Settings{};
    cfmakeraw(&Settings);
    char Name[256] = {};
    if (openpty(&FMaster, &FSlave, Name, &Settings, nullptr) != 0)
      throw std::system_error(errno, std::generic_category(), "openpty");
    FPath = Name;
    ::fcntl(FMaster, F_SETFL, ::fcntl(FMaster, F_GETFL) | O_NONBLOCK);
  }
  ~TPty() {
    if (FMaster >= 0) ::close(FMaster);
    if (FSlave >= 0) ::close(FSlave);
  }
  TPty(const TPty&) = delete;
  TPty& operator=(const TPty&) = delete;

  const std::string& Path() const { return FPath; }
  int Master() const { return FMaster; }
  // Hangs the line up: the library's reads and writes fail from now on.
  void CloseMaster() {
    ::close(FMaster);
    ::close(FSlave);
    FMaster = FSlave = -1;
  }

 private:
  int FMaster = -1;
  int FSlave = -1;  // kept open so the master never sees a hang-up between opens
  std::string FPath;
};

// What the slave sends after a query: each chunk after its delay.
struct TChunk {
  int DelayMs = 0;
  TBytes Bytes;
};
using TScript = std::function<std::vector<TChunk>(const TBytes& Query)>;

// Reads one query at a time from the pty's master side (RTU: up to a short silence; ASCII:
// up to LF) and answers it as the script says. Every loop ends when the slave is destroyed.
class TScriptedSlave {
 public:
  TScriptedSlave(int Fd, bool AsciiMode, TScript Script)
      : FFd(Fd), FAscii(AsciiMode), FScript(std::move(Script)), FThread([this] { Run(); }) {}
  ~TScriptedSlave() {
    FStop = true;
    FThread.join();
  }
  TScriptedSlave(const TScriptedSlave&) = delete;
  TScriptedSlave& operator=(const TScriptedSlave&) = delete;

  std::vector<TBytes> Queries() const {
    std::lock_guard<std::mutex> Lock(FLock);
    return FQueries;
  }
  std::size_t QueryCount() const {
    std::lock_guard<std::mutex> Lock(FLock);
    return FQueries.size();
  }

 private:
  bool WaitReadable(int TimeoutMs) {
    pollfd P{FFd, POLLIN, 0};
    return ::poll(&P, 1, TimeoutMs) > 0 && (P.revents & POLLIN);
  }
  void ReadSome(TBytes& Into) {
    std::uint8_t Chunk[512];
    const ssize_t N = ::read(FFd, Chunk, sizeof Chunk);
    if (N > 0) Into.insert(Into.end(), Chunk, Chunk + N);
  }
  // The next whole query from what has been read: ASCII up to its LF, RTU everything that
  // came before the line fell quiet for 5 ms.
  bool NextQuery(TBytes& Query) {
    if (!FAscii) {
      while (!FStop && WaitReadable(5)) ReadSome(FPending);
      Query.swap(FPending);
      FPending.clear();
      return !Query.empty();
    }
    for (;;) {
      const auto Lf = std::find(FPending.begin(), FPending.end(), '\n');
      if (Lf != FPending.end()) {
        Query.assign(FPending.begin(), Lf + 1);
        FPending.erase(FPending.begin(), Lf + 1);
        return true;
      }
      if (FStop || !WaitReadable(200)) return false;
      ReadSome(FPending);
    }
  }
  void Run() {
    while (!FStop) {
      if (FPending.empty() && !WaitReadable(10)) continue;
      TBytes Query;
      if (!NextQuery(Query)) continue;
      {
        std::lock_guard<std::mutex> Lock(FLock);
        FQueries.push_back(Query);
      }
      for (const TChunk& Chunk : FScript(Query)) {
        if (FStop) break;
        if (Chunk.DelayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(Chunk.DelayMs));
        std::size_t Done = 0;
        while (Done < Chunk.Bytes.size() && !FStop) {
          const ssize_t N = ::write(FFd, Chunk.Bytes.data() + Done, Chunk.Bytes.size() - Done);
          if (N > 0) Done += static_cast<std::size_t>(N);
          else std::this_thread::sleep_for(1ms);
        }
      }
    }
  }

  int FFd;
  bool FAscii;
  TScript FScript;
  TBytes FPending;  // read but not yet taken as a query
  mutable std::mutex FLock;
  std::vector<TBytes> FQueries;
  std::atomic<bool> FStop{false};
  std::thread FThread;
};

// A connection and a client on one pty. RTU frames end after a silence of about 50 ms, long
// enough that a busy test machine does not split a frame written at once.
struct TClientRig {
  explicit TClientRig(TTransmissionMode Mode = tmRTU) {
    Connection.SetPort(Pty.Path());
    Connection.SetBaudRate(br19200);
    Connection.SetTransmissionMode(Mode);
    Connection.SetSilentInterval(Mode == tmRTU ? 100 : 50);
    Connection.SetReceiveTimeout(2000);  // generous: a loaded machine may answer late
    Client.SetConnection(&Connection);
  }
  ~TClientRig() {
    Connection.Close();
    Main().ProcessMessages();
  }

  static TQueuedMainThread& Main() { return DefaultMainThread(); }
  // Runs the messages posted to the main thread until Done holds (generous time-out).
  // Short slices, so that a condition no message changes is still seen at once.
  static bool RunUntil(const std::function<bool()>& Done, std::chrono::milliseconds Limit = 10s) {
    const auto Deadline = std::chrono::steady_clock::now() + Limit;
    while (!Main().ProcessMessagesUntil(Done, 5ms))
      if (std::chrono::steady_clock::now() > Deadline) return false;
    return true;
  }

  TPty Pty;
  TModbusConnection Connection;
  TModbusClient Client;
};

}  // namespace clienttest
