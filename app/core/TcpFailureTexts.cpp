#include "TcpFailureTexts.h"

#include <system_error>

#include "SocketError.h"
#include "ValueDecoding.h"

namespace {

std::string SecondsText(double Milliseconds, std::string_view DecimalSeparator) {
  return FormatFloat2(Milliseconds / 1000.0, DecimalSeparator) + " s";
}

// The system's own words for errors without an Italian text here.
std::string SystemReason(int OSError) {
  return std::system_category().message(OSError);
}

bool Is(int OSError, std::errc Condition) {
  return SocketErrorCondition(OSError) == std::make_error_condition(Condition);
}

}  // namespace

std::string ConnectFailureText(const std::string& Endpoint, int OSError, int ConnectTimeoutMs,
                               std::string_view DecimalSeparator) {
  std::string reason;
  if (OSError == 0)
    reason = "indirizzo sconosciuto";
  else if (Is(OSError, std::errc::connection_refused))
    reason = "connessione rifiutata";
  else if (Is(OSError, std::errc::timed_out))
    reason = ConnectTimeoutMs > 0
                 ? "nessuna risposta entro " + SecondsText(ConnectTimeoutMs, DecimalSeparator)
                 : "nessuna risposta";
  else if (Is(OSError, std::errc::host_unreachable))
    reason = "dispositivo non raggiungibile";
  else if (Is(OSError, std::errc::network_unreachable))
    reason = "rete non raggiungibile";
  else
    reason = SystemReason(OSError);
  return "Impossibile connettersi a " + Endpoint + ": " + reason;
}

std::string LostConnectionText(int OSError) {
  std::string reason;
  if (OSError == 0)
    reason = "chiusa dal dispositivo";
  else if (Is(OSError, std::errc::connection_reset) || Is(OSError, std::errc::broken_pipe) ||
           Is(OSError, std::errc::connection_aborted))
    reason = "interrotta dal dispositivo";
  else if (Is(OSError, std::errc::protocol_error))
    reason = "il dispositivo invia dati che non rispondono a nessuna richiesta";
  else
    reason = SystemReason(OSError);
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
