#pragma once
// A Modbus RTU slave on the far side of a pseudo-terminal, scripted by the
// test: it serves "read holding registers" from a register table, or answers
// with an exception, or stays silent, optionally after a delay. The program
// under test opens Path(). Every request it sees is recorded.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "FrameBytes.h"
#include "PtyPair.h"
#include "ScriptedSlave.h"

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

  TScriptedRtuSlave() : FRegisters(65536, 0) {}

  const std::string& Path() const { return FPty.Path(); }

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
  void SetReplyDelay(std::chrono::milliseconds Delay) {
    FDelayMs = static_cast<int>(Delay.count());
  }

  std::vector<TRequest> Requests() const {
    std::lock_guard guard(FLock);
    return FRequests;
  }
  std::size_t RequestCount() const { return Requests().size(); }

 private:
  std::vector<TChunk> Answer(const TBytes& Query) {
    if (Query.size() < 8 || Rtu(TBytes(Query.begin(), Query.end() - 2)) != Query) return {};
    TRequest request{Query[0], Query[1], Word(Query, 2), Word(Query, 4)};
    TBytes reply;
    {
      std::lock_guard guard(FLock);
      FRequests.push_back(request);
      if (request.Address != FAddress || FMode == TMode::Silent) return {};
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
    return {TChunk{FDelayMs.load(), Rtu(reply)}};
  }

  static std::uint16_t Word(const TBytes& Bytes, std::size_t At) {
    return static_cast<std::uint16_t>((Bytes[At] << 8) | Bytes[At + 1]);
  }

  mutable std::mutex FLock;
  std::vector<std::uint16_t> FRegisters;
  std::vector<TRequest> FRequests;
  TMode FMode = TMode::Normal;
  std::uint8_t FExceptionCode = 0;
  std::atomic<std::uint8_t> FAddress{1};
  std::atomic<int> FDelayMs{0};
  TPtyPair FPty;
  // Last: it reads the line until it is destroyed, before anything above goes.
  TScriptedSlave FSlave{FPty.Master(), false,
                        [this](const TBytes& Query) { return Answer(Query); }};
};

}  // namespace serialtest
