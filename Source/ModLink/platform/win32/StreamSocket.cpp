// TStreamSocket on Winsock 2. The socket's network events (input, the other end's close,
// room to write) signal an event object, which is waited on together with the break event;
// a zero-time select() then tells what is ready, so an event that was signalled before is
// never taken for input. Winsock is started once per process, on first use.
#include "../StreamSocket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <chrono>
#include <climits>

#include "../OsEvent.h"

struct TStreamSocket::TPlatformState {
  WSAEVENT Event = WSA_INVALID_EVENT;
};

namespace {

using TClock = std::chrono::steady_clock;

void StartWinsock(const std::string& What) {
  static const int Error = [] {
    WSADATA Data{};
    return WSAStartup(MAKEWORD(2, 2), &Data);
  }();
  if (Error != 0) throw std::system_error(Error, std::system_category(), What);
}

std::error_code LastSocketError() {
  return {WSAGetLastError(), std::system_category()};
}

DWORD WaitTime(bool Bounded, TClock::time_point Deadline) {
  if (!Bounded) return INFINITE;
  const auto Left = std::chrono::ceil<std::chrono::milliseconds>(Deadline - TClock::now()).count();
  return static_cast<DWORD>(std::clamp<long long>(Left, 0, INFINITE - 1));
}

// Whether the socket is ready now: to be read (input, the close, a failure) or written.
bool ReadyNow(SOCKET Socket, bool ForWrite) {
  fd_set Ready, Failed;
  FD_ZERO(&Ready);
  FD_ZERO(&Failed);
  FD_SET(Socket, &Ready);
  FD_SET(Socket, &Failed);
  timeval Zero{0, 0};
  const int Count =
      select(0, ForWrite ? nullptr : &Ready, ForWrite ? &Ready : nullptr, &Failed, &Zero);
  return Count != 0;  // a failed select: the next call reports it
}

// One socket connected to Address within the time left, or INVALID_SOCKET with Error set.
SOCKET ConnectOne(const addrinfo& Address, bool Bounded, TClock::time_point Deadline, int& Error) {
  const SOCKET Socket = socket(Address.ai_family, SOCK_STREAM, IPPROTO_TCP);
  if (Socket == INVALID_SOCKET) {
    Error = WSAGetLastError();
    return INVALID_SOCKET;
  }
  const auto Fail = [&](int Code) {
    closesocket(Socket);
    Error = Code;
    return INVALID_SOCKET;
  };
  SetHandleInformation(reinterpret_cast<HANDLE>(Socket), HANDLE_FLAG_INHERIT, 0);
  u_long NonBlocking = 1;
  if (ioctlsocket(Socket, FIONBIO, &NonBlocking) != 0) return Fail(WSAGetLastError());
  if (connect(Socket, Address.ai_addr, static_cast<int>(Address.ai_addrlen)) != 0) {
    if (WSAGetLastError() != WSAEWOULDBLOCK) return Fail(WSAGetLastError());
    fd_set Done, Failed;
    FD_ZERO(&Done);
    FD_ZERO(&Failed);
    FD_SET(Socket, &Done);
    FD_SET(Socket, &Failed);
    const DWORD Wait = WaitTime(Bounded, Deadline);
    timeval Limit{static_cast<long>(Wait / 1000), static_cast<long>((Wait % 1000) * 1000)};
    const int Count = select(0, nullptr, &Done, &Failed, Bounded ? &Limit : nullptr);
    if (Count == 0) return Fail(WSAETIMEDOUT);
    if (Count < 0) return Fail(WSAGetLastError());
    if (FD_ISSET(Socket, &Failed)) {
      int Code = 0;
      int Length = sizeof Code;
      getsockopt(Socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&Code), &Length);
      return Fail(Code != 0 ? Code : WSAECONNREFUSED);
    }
  }
  // A query is small and waits for its answer: it goes out at once.
  const BOOL One = TRUE;
  setsockopt(Socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&One), sizeof One);
  return Socket;
}

long Transferred(int Count, std::error_code& Error) {
  if (Count != SOCKET_ERROR) return Count;
  if (WSAGetLastError() == WSAEWOULDBLOCK) return TStreamSocket::WouldBlock;
  Error = LastSocketError();
  return TStreamSocket::Failed;
}

int ChunkOf(std::size_t Count) {
  return static_cast<int>(std::min<std::size_t>(Count, INT_MAX));
}

}  // namespace

TStreamSocket::TStreamSocket() = default;

TStreamSocket::~TStreamSocket() {
  Close();
}

void TStreamSocket::Close() noexcept {
  const THandle Handle = FHandle.exchange(NoSocket);
  if (Handle != NoSocket) closesocket(static_cast<SOCKET>(Handle));
  if (FState) {
    if (FState->Event != WSA_INVALID_EVENT) WSACloseEvent(FState->Event);
    delete FState;
    FState = nullptr;
  }
}

void TStreamSocket::Connect(const std::string& Host, std::uint16_t Port, std::uint32_t TimeoutMs,
                            const std::string& What) {
  Close();
  StartWinsock(What);
  addrinfo Hints{};
  Hints.ai_family = AF_UNSPEC;
  Hints.ai_socktype = SOCK_STREAM;
  Hints.ai_protocol = IPPROTO_TCP;
  addrinfo* Found = nullptr;
  const int Resolved = getaddrinfo(Host.c_str(), std::to_string(Port).c_str(), &Hints, &Found);
  if (Resolved != 0) throw std::system_error(Resolved, std::system_category(), What);

  // Every address the name resolves to is tried, all within the one time-out.
  const bool Bounded = TimeoutMs != 0;
  const auto Deadline = TClock::now() + std::chrono::milliseconds(TimeoutMs);
  int LastError = WSAEADDRNOTAVAIL;
  SOCKET Socket = INVALID_SOCKET;
  for (const addrinfo* Address = Found; Address != nullptr; Address = Address->ai_next) {
    Socket = ConnectOne(*Address, Bounded, Deadline, LastError);
    if (Socket != INVALID_SOCKET || (Bounded && TClock::now() >= Deadline)) break;
  }
  freeaddrinfo(Found);
  if (Socket == INVALID_SOCKET) throw std::system_error(LastError, std::system_category(), What);

  auto* State = new TPlatformState;
  State->Event = WSACreateEvent();
  if (State->Event == WSA_INVALID_EVENT ||
      WSAEventSelect(Socket, State->Event, FD_READ | FD_WRITE | FD_CLOSE) != 0) {
    const int Error = WSAGetLastError();
    if (State->Event != WSA_INVALID_EVENT) WSACloseEvent(State->Event);
    delete State;
    closesocket(Socket);
    throw std::system_error(Error, std::system_category(), What);
  }
  FState = State;
  FHandle.store(static_cast<THandle>(Socket));
}

long TStreamSocket::Receive(std::uint8_t* Data, std::size_t Count, std::error_code& Error) {
  return Transferred(
      recv(static_cast<SOCKET>(FHandle.load()), reinterpret_cast<char*>(Data), ChunkOf(Count), 0),
      Error);
}

long TStreamSocket::Peek(std::error_code& Error) {
  char Next = 0;
  return Transferred(recv(static_cast<SOCKET>(FHandle.load()), &Next, 1, MSG_PEEK), Error);
}

long TStreamSocket::Send(const std::uint8_t* Data, std::size_t Count, std::error_code& Error) {
  return Transferred(send(static_cast<SOCKET>(FHandle.load()), reinterpret_cast<const char*>(Data),
                          ChunkOf(Count), 0),
                     Error);
}

TWaitResult TStreamSocket::Wait(TOsEvent* Break, std::uint32_t TimeoutMs, bool ForWrite,
                                const std::string& What) {
  const SOCKET Socket = static_cast<SOCKET>(FHandle.load());
  const bool Bounded = TimeoutMs != TOsEvent::InfiniteTimeout;
  const auto Deadline = TClock::now() + std::chrono::milliseconds(Bounded ? TimeoutMs : 0);
  for (;;) {
    if (ReadyNow(Socket, ForWrite)) return TWaitResult::DataReady;
    const HANDLE Handles[2] = {FState->Event, Break ? Break->Handle() : nullptr};
    const DWORD Result =
        WaitForMultipleObjects(Break ? 2 : 1, Handles, FALSE, WaitTime(Bounded, Deadline));
    if (Result == WAIT_OBJECT_0 + 1) return TWaitResult::Broken;  // auto-reset: consumed
    if (Result == WAIT_TIMEOUT) return TWaitResult::TimedOut;
    if (Result != WAIT_OBJECT_0)
      throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), What);
    // Resets the event; what is ready is select()'s to tell.
    WSANETWORKEVENTS Events{};
    WSAEnumNetworkEvents(Socket, FState->Event, &Events);
  }
}
