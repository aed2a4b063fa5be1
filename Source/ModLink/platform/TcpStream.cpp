#include "TcpStream.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <utility>

#include "OsEvent.h"

namespace {

using TClock = std::chrono::steady_clock;

constexpr char Scheme[] = "tcp://";
constexpr std::size_t SchemeLength = sizeof Scheme - 1;
// A purge reads at most this much of a server that never stops sending.
constexpr int PurgeReadsAtMost = 256;

class TStreamCategory : public std::error_category {
 public:
  const char* name() const noexcept override { return "TCP stream"; }
  std::string message(int) const override { return "closed by the server"; }
};

std::error_code ClosedByTheServer() {
  static const TStreamCategory Category;
  return {1, Category};
}

std::optional<std::uint16_t> PortNumber(const std::string& Text) {
  if (Text.empty() || Text.size() > 5 ||
      !std::all_of(Text.begin(), Text.end(), [](unsigned char c) { return std::isdigit(c); }))
    return std::nullopt;
  const unsigned long Number = std::stoul(Text);
  if (Number < 1 || Number > 65535) return std::nullopt;
  return static_cast<std::uint16_t>(Number);
}

std::string NameOf(const TTcpStreamAddress& Address) {
  const bool V6 = Address.Host.find(':') != std::string::npos;
  return Scheme + (V6 ? "[" + Address.Host + "]" : Address.Host) + ":" +
         std::to_string(Address.Port);
}

std::uint32_t MillisecondsUntil(TClock::time_point Deadline) {
  const auto Left = std::chrono::ceil<std::chrono::milliseconds>(Deadline - TClock::now()).count();
  return Left > 0 ? static_cast<std::uint32_t>(Left) : 0;
}

}  // namespace

bool IsTcpStreamName(const std::string& PortName) {
  return PortName.size() >= SchemeLength &&
         std::equal(Scheme, Scheme + SchemeLength, PortName.begin(), [](char a, char b) {
           return a == std::tolower(static_cast<unsigned char>(b));
         });
}

std::optional<TTcpStreamAddress> ParseTcpStreamAddress(const std::string& PortName) {
  if (!IsTcpStreamName(PortName)) return std::nullopt;
  const std::string Rest = PortName.substr(SchemeLength);
  TTcpStreamAddress Address;
  std::size_t PortAt = 0;
  if (!Rest.empty() && Rest.front() == '[') {
    const std::size_t Close = Rest.find(']');
    if (Close == std::string::npos || Close + 1 >= Rest.size() || Rest[Close + 1] != ':')
      return std::nullopt;
    Address.Host = Rest.substr(1, Close - 1);
    PortAt = Close + 2;
  } else {
    const std::size_t Colon = Rest.rfind(':');
    if (Colon == std::string::npos) return std::nullopt;
    Address.Host = Rest.substr(0, Colon);
    // An IPv6 address needs its brackets: its last colon is not the port's.
    if (Address.Host.find(':') != std::string::npos) return std::nullopt;
    PortAt = Colon + 1;
  }
  if (Address.Host.empty() ||
      std::any_of(Address.Host.begin(), Address.Host.end(), [](unsigned char c) {
        return std::isspace(c) || c == '/' || c == '[' || c == ']';
      }))
    return std::nullopt;
  const std::optional<std::uint16_t> Port = PortNumber(Rest.substr(PortAt));
  if (!Port) return std::nullopt;
  Address.Port = *Port;
  return Address;
}

TTcpStream::~TTcpStream() {
  Close();
}

void TTcpStream::Open(const std::string& PortName) {
  Close();
  const std::optional<TTcpStreamAddress> Address = ParseTcpStreamAddress(PortName);
  FName = Address ? NameOf(*Address) : PortName;
  if (!Address)
    throw std::system_error(
        EINVAL, std::generic_category(),
        "Not a TCP address (tcp://HOST:PORT or tcp://[ADDRESS]:PORT): " + PortName);
  FAddress = *Address;
  Connect();
  FOpen = true;
}

void TTcpStream::Close() {
  FSocket.Close();
  FOpen = false;
}

void TTcpStream::Connect() {
  FSocket.Close();
  FPeerClosed = false;
  FEndReason.clear();
  FExchange = TExchange::Idle;
  FCarriedExchange = false;
  FSocket.Connect(FAddress.Host, FAddress.Port, FConnectTimeout.load(),
                  "Could not connect to " + FName);
}

void TTcpStream::End(const std::error_code& Reason) {
  FSocket.Close();
  FEndReason = Reason;
}

void TTcpStream::Purge(bool Input, bool) {
  if (!Input || Ended()) return;
  std::uint8_t Scratch[512];
  for (int Reads = 0; Reads < PurgeReadsAtMost; ++Reads) {
    std::error_code Error;
    const long Got = FSocket.Receive(Scratch, sizeof Scratch, Error);
    if (Got > 0) continue;
    // A server that closes after each reply: the next query goes out on a new connection.
    if (Got != TStreamSocket::WouldBlock) FPeerClosed = true;
    return;
  }
}

std::size_t TTcpStream::Read(std::uint8_t* Data, std::size_t Count) {
  if (Count == 0 || Ended()) return 0;
  std::error_code Error;
  const long Got = FSocket.Receive(Data, Count, Error);
  if (Got > 0) {
    FExchange = TExchange::Answered;
    FCarriedExchange = true;
    return static_cast<std::size_t>(Got);
  }
  // A close or a failure is the wait's to tell: bytes read before it still count.
  if (Got == 0) End(ClosedByTheServer());
  if (Got == TStreamSocket::Failed) End(Error);
  return 0;
}

std::size_t TTcpStream::Write(const std::uint8_t* Data, std::size_t Count,
                              std::uint32_t TimeoutMs) {
  if (Count == 0) return 0;
  if (Ended()) Connect();
  if (FExchange != TExchange::Awaiting) FQuery.clear();
  FQuery.insert(FQuery.end(), Data, Data + Count);
  const bool Bounded = TimeoutMs != TOsEvent::InfiniteTimeout;
  const auto Deadline = TClock::now() + std::chrono::milliseconds(Bounded ? TimeoutMs : 0);
  std::size_t Written = 0;
  while (Written < Count) {
    std::error_code Error;
    const long Put = FSocket.Send(Data + Written, Count - Written, Error);
    if (Put > 0) {
      Written += static_cast<std::size_t>(Put);
      continue;
    }
    if (Put == TStreamSocket::Failed) {
      End(Error);
      FExchange = TExchange::Idle;
      throw std::system_error(Error, "Lost the connection to " + FName);
    }
    // The socket's buffer is full: wait until it takes more, within the time-out.
    const std::uint32_t Left = Bounded ? MillisecondsUntil(Deadline) : TOsEvent::InfiniteTimeout;
    if (Left == 0) break;
    FSocket.Wait(nullptr, Left, true, "wait for " + FName);
  }
  if (Written > 0) FExchange = TExchange::Awaiting;
  if (Written < Count) FQuery.resize(FQuery.size() - (Count - Written));
  return Written;
}

TWaitResult TTcpStream::WaitForInput(TOsEvent& Break, std::uint32_t TimeoutMs) {
  const bool Bounded = TimeoutMs != TOsEvent::InfiniteTimeout;
  const auto Deadline = TClock::now() + std::chrono::milliseconds(Bounded ? TimeoutMs : 0);
  for (;;) {
    if (Ended()) {
      switch (FExchange) {
        case TExchange::Answered:
          // The close ends the answer: nothing more will come.
          return TWaitResult::TimedOut;
        case TExchange::Awaiting: {
          if (FCarriedExchange && !FQuery.empty()) {
            // Closed before the query reached the server: once more on a new connection.
            const std::vector<std::uint8_t> Query = std::move(FQuery);
            Connect();
            const std::uint32_t Left =
                Bounded ? MillisecondsUntil(Deadline) : TOsEvent::InfiniteTimeout;
            if (Write(Query.data(), Query.size(), Left) == Query.size()) continue;
          }
          const std::error_code Reason = FEndReason ? FEndReason : ClosedByTheServer();
          FSocket.Close();
          FExchange = TExchange::Idle;  // reported once; the next query connects again
          throw std::system_error(Reason, "Lost the connection to " + FName);
        }
        case TExchange::Idle:
          // Nothing is awaited (a slave waiting for its next query): connect again.
          Connect();
          break;
      }
    }
    const std::uint32_t Left = Bounded ? MillisecondsUntil(Deadline) : TOsEvent::InfiniteTimeout;
    const TWaitResult Result = FSocket.Wait(&Break, Left, false, "wait for " + FName);
    if (Result != TWaitResult::DataReady) return Result;
    std::error_code Error;
    const long Next = FSocket.Peek(Error);
    if (Next > 0) return TWaitResult::DataReady;
    if (Next == 0) End(ClosedByTheServer());
    if (Next == TStreamSocket::Failed) End(Error);
    // Woken without input (it went to a purge): wait on for the time left.
    if (Next == TStreamSocket::WouldBlock && Bounded && MillisecondsUntil(Deadline) == 0)
      return TWaitResult::TimedOut;
  }
}
