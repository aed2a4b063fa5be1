// Winsock reports its own error numbers, not errno values: the texts the window and the
// poller show for a failed connection must still name the cause.
#include <gtest/gtest.h>

#include "TcpFailureTexts.h"

namespace {

struct TWinsockRow {
  const char* Name;
  int Code;
  const char* Expected;
};

class WinsockFailureText : public testing::TestWithParam<TWinsockRow> {};

TEST_P(WinsockFailureText, NamesTheCause) {
  const std::string text = GetParam().Code == 10054
                               ? LostConnectionText(GetParam().Code)
                               : ConnectFailureText("10.0.0.9:502", GetParam().Code, 3000, ".");
  EXPECT_NE(text.find(GetParam().Expected), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, WinsockFailureText,
    testing::Values(TWinsockRow{"Refused", 10061, "connessione rifiutata"},  // WSAECONNREFUSED
                    TWinsockRow{"TimedOut", 10060, "nessuna risposta entro 3 s"},  // WSAETIMEDOUT
                    TWinsockRow{"HostUnreachable", 10065, "dispositivo non raggiungibile"},
                    TWinsockRow{"NetworkUnreachable", 10051, "rete non raggiungibile"},
                    TWinsockRow{"Reset", 10054, "interrotta dal dispositivo"}),  // WSAECONNRESET
    [](const testing::TestParamInfo<TWinsockRow>& Info) { return std::string(Info.param.Name); });

}  // namespace
