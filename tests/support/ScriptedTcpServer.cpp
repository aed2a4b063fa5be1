#include "ScriptedTcpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
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

TScriptedTcpServer::TScriptedTcpServer(THandler Handler)
    : TScriptedTcpServer(std::move(Handler), TOptions{}) {}

TScriptedTcpServer::TScriptedTcpServer(THandler Handler, TOptions Options)
    : FHandler(std::move(Handler)), FOptions(Options) {
  FWake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (FWake < 0) ThrowOSError("eventfd");
  FPort = FOptions.Port;
  FListener = ListenLoopback(FPort, 8, FOptions.Family);
  if (FListener < 0) {
    const int error = errno;
    ::close(FWake);
    errno = error;
    ThrowOSError("listen");
  }
  FThread = std::thread([this] { Run(); });
}

TScriptedTcpServer::~TScriptedTcpServer() {
  {
    std::lock_guard lock(FLock);
    FStop = true;
  }
  const uint64_t one = 1;
  if (::write(FWake, &one, sizeof(one)) < 0) { /* an eventfd write fails only on overflow */
  }
  if (FThread.joinable()) FThread.join();
  CloseClient();
  ::close(FListener);
  ::close(FWake);
}

std::vector<TScriptedTcpServer::TFrame> TScriptedTcpServer::Requests() const {
  std::lock_guard lock(FLock);
  return FRequests;
}

int TScriptedTcpServer::ConnectionCount() const {
  std::lock_guard lock(FLock);
  return FConnections;
}

bool TScriptedTcpServer::ClientOpen() const {
  std::lock_guard lock(FLock);
  return FClientOpen;
}

bool TScriptedTcpServer::WaitForRequests(std::size_t Count,
                                         std::chrono::milliseconds Timeout) const {
  std::unique_lock lock(FLock);
  return FChanged.wait_for(lock, Timeout, [&] { return FRequests.size() >= Count; });
}

void TScriptedTcpServer::DropClient() {
  std::unique_lock lock(FLock);
  FDropRequested = true;
  const uint64_t one = 1;
  if (::write(FWake, &one, sizeof(one)) < 0) { /* an eventfd write fails only on overflow */
  }
  FChanged.wait_for(lock, std::chrono::seconds(5), [&] { return !FDropRequested; });
}

void TScriptedTcpServer::Run() {
  constexpr int QuietGapMs = 5;
  for (;;) {
    const bool listening = FClient < 0 || FOptions.NewClient == TNewClient::Replaces;
    pollfd fds[3] = {
        {FWake, POLLIN, 0}, {FClient, POLLIN, 0}, {listening ? FListener : -1, POLLIN, 0}};
    const bool quietEndsRequest = FOptions.Framing == TFraming::QuietGap && !FInput.empty();
    const int ready = ::poll(fds, 3, quietEndsRequest ? QuietGapMs : -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (ready == 0) {  // the line went quiet: what came is one request
      const TFrame request = std::move(FInput);
      FInput.clear();
      Serve(request);
      continue;
    }
    if (fds[0].revents != 0) {
      uint64_t count = 0;
      if (::read(FWake, &count, sizeof count) < 0) { /* already drained */
      }
      std::unique_lock lock(FLock);
      if (FStop) return;
      if (FDropRequested) {
        lock.unlock();
        CloseClient();
        lock.lock();
        FDropRequested = false;
        FChanged.notify_all();
      }
      continue;
    }
    if (FClient >= 0 && fds[1].revents != 0) Receive();
    if (fds[2].revents != 0) Accept();
  }
}

void TScriptedTcpServer::Accept() {
  const int connection = ::accept4(FListener, nullptr, nullptr, SOCK_CLOEXEC);
  if (connection < 0) return;
  CloseClient();  // only open here when the new client replaces it
  // Each step's bytes leave as they are sent, so a reply can arrive in pieces.
  const int one = 1;
  ::setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  FClient = connection;
  std::lock_guard lock(FLock);
  ++FConnections;
  FClientOpen = true;
}

void TScriptedTcpServer::Receive() {
  uint8_t chunk[4096];
  const ssize_t n = ::recv(FClient, chunk, sizeof chunk, 0);
  if (n <= 0) {
    CloseClient();
    return;
  }
  FInput.insert(FInput.end(), chunk, chunk + n);
  if (FOptions.Framing != TFraming::ModbusTcp) return;
  while (FInput.size() >= 6) {
    const std::size_t rest = Word(FInput, 4);
    if (rest < 2) {  // no room for a unit and a function code: not Modbus
      CloseClient();
      return;
    }
    if (FInput.size() < 6 + rest) return;
    const TFrame request(FInput.begin(), FInput.begin() + static_cast<long>(6 + rest));
    FInput.erase(FInput.begin(), FInput.begin() + static_cast<long>(6 + rest));
    if (!Serve(request)) return;
  }
}

bool TScriptedTcpServer::Serve(const TFrame& Request) {
  {
    std::lock_guard lock(FLock);
    FRequests.push_back(Request);
  }
  FChanged.notify_all();
  for (const TStep& step : FHandler(Request)) {
    switch (step.Kind) {
      case TStep::TKind::Send:
        if (::send(FClient, step.Bytes.data(), step.Bytes.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(step.Bytes.size())) {
          CloseClient();
          return false;
        }
        break;
      case TStep::TKind::Pause:
        if (!Sleep(step.Delay)) return false;
        break;
      case TStep::TKind::Close:
      case TStep::TKind::Reset:
        CloseClient(step.Kind == TStep::TKind::Reset);
        return false;
    }
  }
  return true;
}

void TScriptedTcpServer::CloseClient(bool WithReset) {
  if (FClient < 0) return;
  if (WithReset) {
    const linger hard{1, 0};
    ::setsockopt(FClient, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  }
  ::close(FClient);
  FClient = -1;
  FInput.clear();
  std::lock_guard lock(FLock);
  FClientOpen = false;
}

bool TScriptedTcpServer::Sleep(std::chrono::milliseconds Delay) {
  pollfd wake{FWake, POLLIN, 0};
  return ::poll(&wake, 1, static_cast<int>(Delay.count())) == 0;
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
