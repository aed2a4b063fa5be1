#include "TcpClient.h"

#include <system_error>

namespace {

// The operating system's error code of a failure, 0 for a resolver failure.
int OSErrorOf(const std::system_error& Error) {
  return Error.code().category() == std::system_category() ? Error.code().value() : 0;
}

}  // namespace

ETcpConnectionError::ETcpConnectionError(const std::string& Message, int OSError)
    : std::runtime_error(Message), FOSError(OSError) {}

TTcpClient::TTcpClient() = default;

TTcpClient::~TTcpClient() {
  Disconnect();
}

std::string TTcpClient::Endpoint() const {
  const bool bracket = FHost.find(':') != std::string::npos;
  return (bracket ? "[" + FHost + "]" : FHost) + ":" + std::to_string(FPort);
}

void TTcpClient::Connect() {
  if (FSocket.IsOpen()) throw ETcpConnectionError("Already connected to " + Endpoint());
  if (FHost.empty()) throw ETcpConnectionError("Cannot connect: no host given");
  try {
    FSocket = TTcpSocket::Connect(FHost, FPort, FIPVersion, FConnectTimeout);
  } catch (const std::system_error& Error) {
    throw ETcpConnectionError("Cannot connect to " + Endpoint() + ": " + Error.code().message(),
                              OSErrorOf(Error));
  }
  FPeerClosed = false;
  FInputBuffer.clear();
  FInputStart = 0;
}

void TTcpClient::Disconnect() noexcept {
  FSocket.Close();
  FPeerClosed = false;
  FInputBuffer.clear();
  FInputStart = 0;
}

bool TTcpClient::Connected() {
  if (!FSocket.IsOpen()) return false;
  try {
    ReceiveAvailable();
  } catch (const ETcpConnectionError&) {
    return false;
  }
  if (FPeerClosed) Disconnect();
  return FSocket.IsOpen();
}

void TTcpClient::CheckForGracefulDisconnect() {
  if (!FSocket.IsOpen()) throw ETcpConnectionError("Not connected to " + Endpoint());
  ReceiveAvailable();
  if (FPeerClosed) ThrowClosedByPeer();
}

void TTcpClient::ThrowClosedByPeer() {
  Disconnect();
  throw ETcpConnectionError("Connection to " + Endpoint() + " closed by the server");
}

void TTcpClient::WriteDirect(std::span<const uint8_t> Bytes) {
  if (!FSocket.IsOpen()) throw ETcpConnectionError("Not connected to " + Endpoint());
  try {
    FSocket.SendAll(Bytes);
  } catch (const std::system_error& Error) {
    FailAndClose("Cannot send to " + Endpoint(), Error);
  }
}

bool TTcpClient::CheckForDataOnSource(int TimeoutMs) {
  if (!FSocket.IsOpen()) throw ETcpConnectionError("Not connected to " + Endpoint());
  if (FPeerClosed) ThrowClosedByPeer();
  bool ready = false;
  try {
    ready = FSocket.WaitReadable(TimeoutMs);
  } catch (const std::system_error& Error) {
    FailAndClose("Cannot wait for data from " + Endpoint(), Error);
  }
  if (!ready) return false;
  const std::size_t before = InputBufferSize();
  ReceiveAvailable();
  const bool added = InputBufferSize() > before;
  // Bytes that came with the close are handed out first; the close is
  // reported on the next look.
  if (FPeerClosed && !added) ThrowClosedByPeer();
  return added;
}

// Moves what the socket holds into the input buffer without waiting, up to
// its capacity. An orderly close by the peer only sets FPeerClosed, so that a
// reply sent just before the close can still be taken.
void TTcpClient::ReceiveAvailable() {
  if (FInputStart > 0) {
    FInputBuffer.erase(FInputBuffer.begin(),
                       FInputBuffer.begin() + static_cast<std::ptrdiff_t>(FInputStart));
    FInputStart = 0;
  }
  if (FPeerClosed) return;
  if (FInputBuffer.size() == InputBufferCapacity) {
    // Full since the last receive: one more byte waiting means the peer sends
    // more than the owner of the connection takes.
    uint8_t probe = 0;
    TTcpSocket::TReceived received;
    try {
      received = FSocket.ReceiveNow({&probe, 1});
    } catch (const std::system_error& Error) {
      FailAndClose("Cannot receive from " + Endpoint(), Error);
    }
    if (received.Count > 0)
      DropBrokenPeer("sends more than the " + std::to_string(InputBufferCapacity) +
                     " bytes of the input buffer without a frame that can be taken");
    FPeerClosed = received.Closed;
    return;
  }
  // What does not fit waits in the socket for the next receive.
  while (!FPeerClosed && FInputBuffer.size() < InputBufferCapacity) {
    const std::size_t held = FInputBuffer.size();
    const std::size_t room = InputBufferCapacity - held;
    FInputBuffer.resize(InputBufferCapacity);
    TTcpSocket::TReceived received;
    try {
      received = FSocket.ReceiveNow(std::span<uint8_t>(FInputBuffer).subspan(held));
    } catch (const std::system_error& Error) {
      FInputBuffer.resize(held);
      FailAndClose("Cannot receive from " + Endpoint(), Error);
    }
    FInputBuffer.resize(held + received.Count);
    FPeerClosed = received.Closed;
    if (received.Count < room) return;
  }
}

void TTcpClient::DropBrokenPeer(const std::string& What) {
  Disconnect();
  throw ETcpConnectionError("Connection to " + Endpoint() + " dropped: the server " + What,
                            BrokenPeerError);
}

void TTcpClient::FailAndClose(const std::string& What, const std::system_error& Error) {
  Disconnect();
  throw ETcpConnectionError(What + ": " + Error.code().message(), OSErrorOf(Error));
}

std::span<const uint8_t> TTcpClient::InputBuffer() const {
  return std::span<const uint8_t>(FInputBuffer).subspan(FInputStart);
}

void TTcpClient::ReadBytes(std::vector<uint8_t>& Dest, std::size_t Count) {
  if (Count > InputBufferSize())
    throw std::out_of_range("ReadBytes: more bytes asked than received");
  const auto first = FInputBuffer.begin() + static_cast<std::ptrdiff_t>(FInputStart);
  Dest.insert(Dest.end(), first, first + static_cast<std::ptrdiff_t>(Count));
  DiscardBytes(Count);
}

void TTcpClient::DiscardBytes(std::size_t Count) {
  if (Count > InputBufferSize())
    throw std::out_of_range("DiscardBytes: more bytes asked than received");
  FInputStart += Count;
  if (FInputStart == FInputBuffer.size()) {
    FInputBuffer.clear();
    FInputStart = 0;
  }
}
