#pragma once
// A Modbus RTU slave on the far side of a pseudo-terminal, scripted by the
// test: it serves "read holding registers" from a register table, or answers
// with an exception, or stays silent, optionally after a delay. The program
// under test opens Path(). Every request it sees is recorded.

#include "ErrorChecks.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace serialtest {

class TScriptedRtuSlave {
public:
  enum class TMode { Normal, Silent, Exception };
  struct TRequest {
    std::uint8_t Address = 0;
    std::uint8_t Function = 0;
    std::uint16_t Start = 0;
    std::uint16_t Count = 0;
  };

  TScriptedRtuSlave() : FRegisters(65536, 0) {
    termios raw{};
    cfmakeraw(&raw);
    char name[256] = {};
    if (openpty(&FMaster, &FSlave, name, &raw, nullptr) != 0)
      throw std::system_error(errno, std::generic_category(), "openpty");
    FPath = name;
    ::fcntl(FMaster, F_SETFL, ::fcntl(FMaster, F_GETFL) | O_NONBLOCK);
    FThread = std::thread([this] { Serve(); });
  }
  ~TScriptedRtuSlave() {
    FStop = true;
    FThread.join();
    ::close(FMaster);
    ::close(FSlave);
  }
  TScriptedRtuSlave(const TScriptedRtuSlave&) = delete;
  TScriptedRtuSlave& operator=(const TScriptedRtuSlave&) = delete;

  const std::string& Path() const { return FPath; }

  void SetRegister(std::uint16_t Address, std::uint16_t Value) {
    std::lock_guard guard(FLock);
    FRegisters[Address] = Value;
  }
  // The slave address answered; requests to other addresses are only recorded.
  void SetAddress(std::uint8_t Address) { FAddress = Address; }
  void SetMode(TMode Mode, std::uint8_t ExceptionCode = 0) {
    std::lock_guard guard(FLock);
    FMode = Mode;
    FExceptionCode = ExceptionCode;
  }
  void SetReplyDelay(std::chrono::milliseconds Delay) { FDelayMs = static_cast<int>(Delay.count()); }

  std::vector<TRequest> Requests() const {
    std::lock_guard guard(FLock);
    return FRequests;
  }
  std::size_t RequestCount() const { return Requests().size(); }

private:
  void Serve() {
    std::vector<std::uint8_t> frame;
    while (!FStop) {
      pollfd fd{FMaster, POLLIN, 0};
      // A frame ends when the line stays quiet for a few milliseconds.
      const int ready = ::poll(&fd, 1, frame.empty() ? 20 : 5);
      if (ready > 0 && (fd.revents & POLLIN)) {
        std::uint8_t chunk[512];
        const ssize_t got = ::read(FMaster, chunk, sizeof chunk);
        if (got > 0) frame.insert(frame.end(), chunk, chunk + got);
        continue;
      }
      if (!frame.empty()) {
        Answer(frame);
        frame.clear();
      }
    }
  }

  void Answer(const std::vector<std::uint8_t>& Query) {
    if (Query.size() < 8 || !CheckCRC(Query)) return;
    TRequest request{Query[0], Query[1], Word(Query, 2), Word(Query, 4)};
    std::vector<std::uint8_t> reply;
    {
      std::lock_guard guard(FLock);
      FRequests.push_back(request);
      if (request.Address != FAddress || FMode == TMode::Silent) return;
      reply = {request.Address};
      if (FMode == TMode::Exception || request.Function != 3) {
        reply.push_back(static_cast<std::uint8_t>(request.Function | 0x80));
        reply.push_back(FMode == TMode::Exception ? FExceptionCode : 1);
      } else {
        reply.push_back(3);
        reply.push_back(static_cast<std::uint8_t>(request.Count * 2));
        for (std::uint32_t i = 0; i < request.Count; ++i) {
          const std::uint16_t value = FRegisters[(request.Start + i) & 0xFFFF];
          reply.push_back(static_cast<std::uint8_t>(value >> 8));
          reply.push_back(static_cast<std::uint8_t>(value & 0xFF));
        }
      }
    }
    const std::uint16_t crc = CRC16(reply.data(), reply.size());
    reply.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    reply.push_back(static_cast<std::uint8_t>(crc >> 8));
    if (FDelayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(FDelayMs.load()));
    for (std::size_t done = 0; done < reply.size();) {
      const ssize_t put = ::write(FMaster, reply.data() + done, reply.size() - done);
      if (put > 0)
        done += static_cast<std::size_t>(put);
      else if (put < 0 && errno != EAGAIN && errno != EINTR)
        return;
    }
  }

  static std::uint16_t Word(const std::vector<std::uint8_t>& Bytes, std::size_t At) {
    return static_cast<std::uint16_t>((Bytes[At] << 8) | Bytes[At + 1]);
  }
  static bool CheckCRC(const std::vector<std::uint8_t>& Frame) {
    const std::uint16_t crc = CRC16(Frame.data(), Frame.size() - 2);
    return Frame[Frame.size() - 2] == (crc & 0xFF) && Frame[Frame.size() - 1] == (crc >> 8);
  }

  int FMaster = -1;
  int FSlave = -1;
  std::string FPath;
  mutable std::mutex FLock;
  std::vector<std::uint16_t> FRegisters;
  std::vector<TRequest> FRequests;
  TMode FMode = TMode::Normal;
  std::uint8_t FExceptionCode = 0;
  std::atomic<std::uint8_t> FAddress{1};
  std::atomic<int> FDelayMs{0};
  std::atomic<bool> FStop{false};
  std::thread FThread;
};

}  // namespace serialtest
