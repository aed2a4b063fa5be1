#pragma once
// A network endpoint as a person types it (HOST, HOST:PORT, [IPv6]:PORT), as
// the texts write it, and which IP version reaches it: an address with colons
// can only be an IPv6 one.

#include <cstdint>
#include <optional>
#include <string>

#include "TcpClient.h"  // TIPVersion

// A network endpoint as typed: HOST, HOST:PORT, [IPv6] or [IPv6]:PORT; a bare
// IPv6 address (more than one colon, no brackets) is a host without a port.
struct THostPort {
  THostPort() = default;
  // Parses Text (the command-line parser converts option values through
  // this, after refusing what ParseHostPort cannot parse); empty when it
  // cannot.
  explicit THostPort(const std::string& Text);

  std::string Host;
  std::optional<std::uint16_t> Port;
};

// Parses Text; on failure returns nullopt and says why in Reason (English).
std::optional<THostPort> ParseHostPort(const std::string& Text, std::string& Reason);

// The host is an IPv6 address (it holds a colon, as "::1" or "fe80::1").
bool IsIPv6Host(const std::string& Host);
TIPVersion IPVersionFor(const std::string& Host);

// "127.0.0.1:1502", or "[::1]:1502" for an IPv6 address.
std::string TcpEndpointText(const std::string& Host, std::uint16_t Port);
