#include "ScriptedTcpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <string>
#include <system_error>

#include "LoopbackPorts.h"

namespace {

[[noreturn]] void ThrowOSError(const char* What) {
  throw std::system_error(errno, std::generic_category(), What);
}

uint16_t Word(const TScriptedTcpServer::TFrame& Frame, std::size_t Offset) {
  return static_cast<uint16_t>((Frame[Offset] << 8) | Frame[Offset + 1]);
}

}  // namespace

TScriptedTcpServer::TScriptedTcpServer(THandler Handler) : FHandler(std::move(Handler)) {
  FStopEvent = ::eventfd(0, EFD_CLOEXEC);
  if (FStopEvent < 0) ThrowOSError("eventfd");
  FPort = 0;  // the system picks a free port
  FListener = ListenLoopback(FPort);
  if (FListener < 0) ThrowOSError("listen");
  FThread = std::thread([this] { Run(); });
}

TScriptedTcpServer::~TScriptedTcpServer() {
  const uint64_t one = 1;
  if (::write(FStopEvent, &one, sizeof(one)) < 0) { /* the thread still ends on close below */
  }
  if (FThread.joinable()) FThread.join();
  ::close(FListener);
  ::close(FStopEvent);
}

std::vector<TScriptedTcpServer::TFrame> TScriptedTcpServer::Requests() const {
  std::lock_guard lock(FLock);
  return FRequests;
}

int TScriptedTcpServer::ConnectionCount() const {
  std::lock_guard lock(FLock);
  return FConnections;
}

bool TScriptedTcpServer::WaitForRequests(std::size_t Count,
                                         std::chrono::milliseconds Timeout) const {
  std::unique_lock lock(FLock);
  return FChanged.wait_for(lock, Timeout, [&] { return FRequests.size() >= Count; });
}

void TScriptedTcpServer::Run() {
  for (;;) {
    pollfd fds[2] = {{FListener, POLLIN, 0}, {FStopEvent, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    const int connection = ::accept4(FListener, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) continue;
    {
      std::lock_guard lock(FLock);
      ++FConnections;
    }
    Serve(connection);
  }
}

void TScriptedTcpServer::Serve(int Connection) {
  for (;;) {
    TFrame request(6);
    if (!ReadExactly(Connection, request.data(), 6)) break;
    const std::size_t rest = Word(request, 4);
    request.resize(6 + rest);
    if (!ReadExactly(Connection, request.data() + 6, rest)) break;
    {
      std::lock_guard lock(FLock);
      FRequests.push_back(request);
    }
    FChanged.notify_all();

    bool open = true;
    for (const TStep& step : FHandler(request)) {
      if (step.Kind == TStep::TKind::Close) {
        open = false;
        break;
      }
      if (step.Kind == TStep::TKind::Pause) {
        if (!Sleep(step.Delay)) {
          open = false;
          break;
        }
        continue;
      }
      if (::send(Connection, step.Bytes.data(), step.Bytes.size(), MSG_NOSIGNAL) !=
          static_cast<ssize_t>(step.Bytes.size())) {
        open = false;
        break;
      }
    }
    if (!open) break;
  }
  ::close(Connection);
}

bool TScriptedTcpServer::ReadExactly(int Connection, uint8_t* Into, std::size_t Count) {
  std::size_t done = 0;
  while (done < Count) {
    pollfd fds[2] = {{Connection, POLLIN, 0}, {FStopEvent, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (fds[1].revents != 0) return false;
    const ssize_t n = ::recv(Connection, Into + done, Count - done, 0);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool TScriptedTcpServer::Sleep(std::chrono::milliseconds Delay) {
  pollfd stop{FStopEvent, POLLIN, 0};
  return ::poll(&stop, 1, static_cast<int>(Delay.count())) == 0;
}

// ---------------------------------------------------------------------------
// Reply builders

TScriptedTcpServer::TFrame TScriptedTcpServer::Reply(const TFrame& Request,
                                                     const std::vector<uint8_t>& Pdu) {
  if (Request.size() < 7) throw std::invalid_argument("request shorter than its header");
  const std::size_t length = Pdu.size() + 1;
  TFrame reply(7 + Pdu.size());
  std::copy(Request.begin(), Request.begin() + 7, reply.begin());
  reply[4] = static_cast<uint8_t>(length >> 8);
  reply[5] = static_cast<uint8_t>(length & 0xFF);
  std::copy(Pdu.begin(), Pdu.end(), reply.begin() + 7);
  return reply;
}

TScriptedTcpServer::TFrame TScriptedTcpServer::RegistersReply(const TFrame& Request,
                                                              const std::vector<uint16_t>& Values) {
  std::vector<uint8_t> pdu{Request.at(7), static_cast<uint8_t>(2 * Values.size())};
  for (const uint16_t value : Values) {
    pdu.push_back(static_cast<uint8_t>(value >> 8));
    pdu.push_back(static_cast<uint8_t>(value & 0xFF));
  }
  return Reply(Request, pdu);
}

TScriptedTcpServer::TFrame TScriptedTcpServer::CoilsReply(const TFrame& Request,
                                                          const std::vector<bool>& Values) {
  std::vector<uint8_t> pdu{Request.at(7), static_cast<uint8_t>((Values.size() + 7) / 8)};
  pdu.resize(2 + pdu[1], 0);
  for (std::size_t i = 0; i < Values.size(); ++i)
    if (Values[i]) pdu[2 + i / 8] = static_cast<uint8_t>(pdu[2 + i / 8] | (1u << (i % 8)));
  return Reply(Request, pdu);
}

TScriptedTcpServer::TFrame TScriptedTcpServer::ExceptionReply(const TFrame& Request,
                                                              uint8_t ExceptionCode) {
  return Reply(Request, {static_cast<uint8_t>(Request.at(7) | 0x80), ExceptionCode});
}

TScriptedTcpServer::TFrame TScriptedTcpServer::WriteReply(const TFrame& Request) {
  if (Request.size() < 12) throw std::invalid_argument("write request too short");
  return Reply(Request, std::vector<uint8_t>(Request.begin() + 7, Request.begin() + 12));
}

TScriptedTcpServer::THandler TScriptedTcpServer::Always(
    std::function<TFrame(const TFrame&)> Reply) {
  return
      [Reply = std::move(Reply)](const TFrame& Request) { return TScript{Send(Reply(Request))}; };
}

// ---------------------------------------------------------------------------
// Register bank

uint16_t TModbusMemory::Register(uint16_t Address) const {
  std::lock_guard lock(FLock);
  return FRegisters[Address];
}

void TModbusMemory::SetRegister(uint16_t Address, uint16_t Value) {
  std::lock_guard lock(FLock);
  FRegisters[Address] = Value;
}

bool TModbusMemory::Coil(uint16_t Address) const {
  std::lock_guard lock(FLock);
  return FCoils[Address];
}

void TModbusMemory::SetCoil(uint16_t Address, bool Value) {
  std::lock_guard lock(FLock);
  FCoils[Address] = Value;
}

TScriptedTcpServer::TFrame TModbusMemory::Answer(const TScriptedTcpServer::TFrame& Request) {
  using Server = TScriptedTcpServer;
  if (Request.size() < 12) return Server::ExceptionReply(Request, 3);
  const uint8_t function = Request[7];
  const std::size_t address = Word(Request, 8);
  const std::size_t count = Word(Request, 10);
  std::lock_guard lock(FLock);
  switch (function) {
    case 1:
    case 2: {
      if (count < 1 || count > 2000) return Server::ExceptionReply(Request, 3);
      if (address + count > FCoils.size()) return Server::ExceptionReply(Request, 2);
      return Server::CoilsReply(
          Request, std::vector<bool>(FCoils.begin() + address, FCoils.begin() + address + count));
    }
    case 3:
    case 4: {
      if (count < 1 || count > 125) return Server::ExceptionReply(Request, 3);
      if (address + count > FRegisters.size()) return Server::ExceptionReply(Request, 2);
      return Server::RegistersReply(Request,
                                    std::vector<uint16_t>(FRegisters.begin() + address,
                                                          FRegisters.begin() + address + count));
    }
    case 5:
      if (count != 0xFF00 && count != 0) return Server::ExceptionReply(Request, 3);
      FCoils[address] = count == 0xFF00;
      return Server::WriteReply(Request);
    case 6:
      FRegisters[address] = static_cast<uint16_t>(count);
      return Server::WriteReply(Request);
    case 15: {
      if (count < 1 || count > 1968 || Request.size() < 13 + (count + 7) / 8)
        return Server::ExceptionReply(Request, 3);
      if (address + count > FCoils.size()) return Server::ExceptionReply(Request, 2);
      for (std::size_t i = 0; i < count; ++i)
        FCoils[address + i] = (Request[13 + i / 8] >> (i % 8) & 1) != 0;
      return Server::WriteReply(Request);
    }
    case 16: {
      if (count < 1 || count > 123 || Request.size() < 13 + 2 * count)
        return Server::ExceptionReply(Request, 3);
      if (address + count > FRegisters.size()) return Server::ExceptionReply(Request, 2);
      for (std::size_t i = 0; i < count; ++i) FRegisters[address + i] = Word(Request, 13 + 2 * i);
      return Server::WriteReply(Request);
    }
    default:
      return Server::ExceptionReply(Request, 1);
  }
}

TScriptedTcpServer::THandler TModbusMemory::Handler() {
  return [this](const TScriptedTcpServer::TFrame& Request) {
    return TScriptedTcpServer::TScript{TScriptedTcpServer::Send(Answer(Request))};
  };
}
