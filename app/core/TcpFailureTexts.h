#pragma once
// The error-bar texts of a TCP collection cycle that did not get its
// registers: the connect failed, the connection was lost, the device did not
// answer in time or answered something else. Italian, like every text of the
// error bar, and each one says why in words a technician can act on.

#include <cstdint>
#include <string>
#include <string_view>

#include "NetworkEndpoint.h"  // TcpEndpointText

// "Impossibile connettersi a 127.0.0.1:1503: connessione rifiutata". OSError
// is the system error code of the failed connect (0 when the name did not resolve);
// ConnectTimeoutMs is the limit that a connect time-out stands for.
std::string ConnectFailureText(const std::string& Endpoint, int OSError, int ConnectTimeoutMs,
                               std::string_view DecimalSeparator);

// "Connessione col dispositivo persa: chiusa dal dispositivo". OSError is the
// system error code of the failed send or receive, 0 when the device closed the
// connection, BrokenPeerError when the client dropped it because the device
// sent what answers no request.
std::string LostConnectionText(int OSError);

// "Nessuna risposta dal dispositivo entro 15 s".
std::string NoReplyText(uint32_t TimeOutMs, std::string_view DecimalSeparator);

// A reply that does not answer the request: another function code, or one
// whose length does not match what was asked for.
std::string MismatchedReplyText(uint8_t RequestFunctionCode, uint8_t ResponseFunctionCode);
