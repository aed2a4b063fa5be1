#include "SocketError.h"

#include <winsock2.h>

#include "TcpClient.h"

// The Winsock codes the texts tell apart; the standard library does not map them.
std::error_condition SocketErrorCondition(int OSError) {
  switch (OSError) {
    case WSAECONNREFUSED:
      return std::errc::connection_refused;
    case WSAETIMEDOUT:
      return std::errc::timed_out;
    case WSAEHOSTUNREACH:
      return std::errc::host_unreachable;
    case WSAENETUNREACH:
      return std::errc::network_unreachable;
    case WSAECONNRESET:
      return std::errc::connection_reset;
    case WSAECONNABORTED:
      return std::errc::connection_aborted;
    case WSAEADDRNOTAVAIL:
      return std::errc::address_not_available;
    case BrokenPeerError:  // the TCP layer's own code, not a Winsock one
      return std::errc::protocol_error;
    default:
      return {OSError, std::system_category()};
  }
}
