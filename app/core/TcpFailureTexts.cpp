#include "TcpFailureTexts.h"

#include <cerrno>
#include <cstring>

#include "ValueDecoding.h"

namespace {

std::string SecondsText(double Milliseconds, std::string_view DecimalSeparator) {
  return FormatFloat2(Milliseconds / 1000.0, DecimalSeparator) + " s";
}

// The system's own words for errors without an Italian text here.
std::string SystemReason(int OSError) {
  return std::strerror(OSError);
}

}  // namespace

std::string TcpEndpointText(const std::string& Host, uint16_t Port) {
  const bool bracket = Host.find(':') != std::string::npos;
  return (bracket ? "[" + Host + "]" : Host) + ":" + std::to_string(Port);
}

std::string ConnectFailureText(const std::string& Endpoint, int OSError, int ConnectTimeoutMs,
                               std::string_view DecimalSeparator) {
  std::string reason;
  switch (OSError) {
    case 0:
      reason = "indirizzo sconosciuto";
      break;
    case ECONNREFUSED:
      reason = "connessione rifiutata";
      break;
    case ETIMEDOUT:
      reason = ConnectTimeoutMs > 0
                   ? "nessuna risposta entro " + SecondsText(ConnectTimeoutMs, DecimalSeparator)
                   : "nessuna risposta";
      break;
    case EHOSTUNREACH:
      reason = "dispositivo non raggiungibile";
      break;
    case ENETUNREACH:
      reason = "rete non raggiungibile";
      break;
    default:
      reason = SystemReason(OSError);
      break;
  }
  return "Impossibile connettersi a " + Endpoint + ": " + reason;
}

std::string LostConnectionText(int OSError) {
  std::string reason;
  switch (OSError) {
    case 0:
      reason = "chiusa dal dispositivo";
      break;
    case ECONNRESET:
    case EPIPE:
      reason = "interrotta dal dispositivo";
      break;
    default:
      reason = SystemReason(OSError);
      break;
  }
  return "Connessione col dispositivo persa: " + reason;
}

std::string NoReplyText(uint32_t TimeOutMs, std::string_view DecimalSeparator) {
  return "Nessuna risposta dal dispositivo entro " + SecondsText(TimeOutMs, DecimalSeparator);
}

std::string MismatchedReplyText(uint8_t RequestFunctionCode, uint8_t ResponseFunctionCode) {
  if (RequestFunctionCode == ResponseFunctionCode)
    return "Risposta del dispositivo di lunghezza errata";
  return "Risposta del dispositivo non attesa (funzione " + std::to_string(ResponseFunctionCode) +
         " invece di " + std::to_string(RequestFunctionCode) + ")";
}
