#include "NetworkEndpoint.h"

std::optional<THostPort> ParseHostPort(const std::string& Text, std::string& Reason) {
  THostPort target;
  std::string port;
  bool portGiven = false;
  if (!Text.empty() && Text.front() == '[') {
    const auto close = Text.find(']');
    if (close == std::string::npos) {
      Reason = "missing ']' in '" + Text + "'";
      return std::nullopt;
    }
    target.Host = Text.substr(1, close - 1);
    const std::string rest = Text.substr(close + 1);
    if (!rest.empty() && rest[0] != ':') {
      Reason = "unexpected text after ']' in '" + Text + "'";
      return std::nullopt;
    }
    portGiven = !rest.empty();
    if (portGiven) port = rest.substr(1);
  } else if (const auto colon = Text.find(':');
             colon != std::string::npos && Text.find(':', colon + 1) == std::string::npos) {
    target.Host = Text.substr(0, colon);
    port = Text.substr(colon + 1);
    portGiven = true;
  } else {
    target.Host = Text;  // no colon, or a bare IPv6 address
  }
  if (target.Host.empty()) {
    Reason = "missing host in '" + Text + "'";
    return std::nullopt;
  }
  if (portGiven) {
    const bool digits = !port.empty() && port.size() <= 5 &&
                        port.find_first_not_of("0123456789") == std::string::npos;
    if (!digits || std::stol(port) > 65535) {
      Reason = "the port must be a number from 0 to 65535, not '" + port + "'";
      return std::nullopt;
    }
    target.Port = static_cast<std::uint16_t>(std::stol(port));
  }
  return target;
}

THostPort::THostPort(const std::string& Text) {
  std::string reason;
  if (const auto parsed = ParseHostPort(Text, reason)) *this = *parsed;
}

bool IsIPv6Host(const std::string& Host) {
  return Host.find(':') != std::string::npos;
}

TIPVersion IPVersionFor(const std::string& Host) {
  return IsIPv6Host(Host) ? TIPVersion::IPv6 : TIPVersion::IPv4;
}

std::string TcpEndpointText(const std::string& Host, std::uint16_t Port) {
  return (IsIPv6Host(Host) ? "[" + Host + "]" : Host) + ":" + std::to_string(Port);
}
