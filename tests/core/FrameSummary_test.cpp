// The one-line summary of a frame, on sound frames of every framing and on
// hostile bytes. Every row's bytes sit in a vector of their exact size, so a
// read past them is caught by the sanitizer build.
#include "FrameSummary.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using F = TFrameFraming;
using O = TFrameOutcome;
using R = TFrameRole;

struct TSummaryRow {
  const char* Name;
  F Framing;
  O Outcome;
  R Role;
  std::vector<std::uint8_t> Bytes;
  const char* Expected;
  TSummaryLanguage Language = TSummaryLanguage::slEnglish;
};

constexpr TSummaryLanguage IT = TSummaryLanguage::slItalian;

std::vector<std::uint8_t> Text(const std::string& Characters) {
  return {Characters.begin(), Characters.end()};
}

const TSummaryRow ROWS[] = {
    // Sound frames (CRCs are not checked by the summary: the stack judged them).
    {"TcpRead",
     F::ffTcp,
     O::foOk,
     R::frRequest,
     {0, 1, 0, 0, 0, 6, 0, 3, 0, 0, 0, 0x7C},
     "read holding registers 0+124"},
    {"TcpUnitNamed",
     F::ffTcp,
     O::foOk,
     R::frRequest,
     {0, 1, 0, 0, 0, 6, 3, 4, 0, 5, 0, 2},
     "unit 3 read input registers 5+2"},
    {"RtuRead",
     F::ffRtu,
     O::foOk,
     R::frRequest,
     {1, 3, 0, 0, 0, 0x0A, 0xC5, 0xCD},
     "slave 1 read holding registers 0+10"},
    {"RtuReply",
     F::ffRtu,
     O::foOk,
     R::frReply,
     {1, 3, 4, 0, 1, 0, 2, 0x2A, 0x32},
     "reply 2 registers"},
    {"RtuException",
     F::ffRtu,
     O::foException,
     R::frReply,
     {1, 0x83, 2, 0xC0, 0xF1},
     "exception 2 illegal data address"},
    {"AsciiRead", F::ffAscii, O::foOk, R::frRequest, Text(":01030000000AF2\r\n"),
     "slave 1 read holding registers 0+10"},
    {"BroadcastWrite",
     F::ffRtu,
     O::foOk,
     R::frRequest,
     {0, 6, 0, 1, 0, 5, 0, 0},
     "broadcast write single register 1 = 5"},
    {"CoilEcho",
     F::ffRtu,
     O::foOk,
     R::frReply,
     {1, 5, 0, 9, 0xFF, 0, 0, 0},
     "reply write single coil 9 on"},
    {"Unmatched",
     F::ffTcp,
     O::foUnmatched,
     R::frReply,
     {0, 2, 0, 0, 0, 5, 0, 3, 2, 0, 1},
     "unmatched reply 1 register"},
    {"ShapeSaysReply", F::ffRtu, O::foOk, R::frUnknown, {1, 3, 2, 0, 7, 0, 0}, "reply 1 register"},
    {"UnknownFunction", F::ffRtu, O::foOk, R::frRequest, {1, 0x41, 0, 0}, "slave 1 function 65"},
    // Outcomes that say it all.
    {"CrcError", F::ffRtu, O::foChecksumError, R::frReply, {1, 3, 0, 0}, "CRC error"},
    {"LrcError", F::ffAscii, O::foChecksumError, R::frReply, Text(":0103FF\r\n"), "LRC error"},
    {"TimeoutEmpty", F::ffTcp, O::foTimeout, R::frReply, {}, "time-out"},
    {"TimeoutPartial", F::ffRtu, O::foTimeout, R::frReply, {1, 3}, "time-out after 2 bytes"},
    {"Length", F::ffRtu, O::foLengthError, R::frReply, {1}, "length error (1 byte)"},
    // Hostile bytes reported as sound.
    {"Empty", F::ffRtu, O::foOk, R::frUnknown, {}, "malformed frame (0 bytes)"},
    {"TcpHeaderOnly",
     F::ffTcp,
     O::foOk,
     R::frReply,
     {0, 1, 0, 0, 0, 1, 0},
     "malformed frame (7 bytes)"},
    {"RequestCut",
     F::ffRtu,
     O::foOk,
     R::frRequest,
     {1, 3, 0, 0, 0},
     "slave 1 read holding registers (length error)"},
    {"ByteCountTooBig",
     F::ffRtu,
     O::foOk,
     R::frReply,
     {1, 3, 0xFA, 0, 1, 0, 0},
     "reply read holding registers (length error)"},
    {"OddRegisterBytes",
     F::ffRtu,
     O::foOk,
     R::frReply,
     {1, 4, 3, 0, 1, 2, 0, 0},
     "reply read input registers (length error)"},
    {"WriteCountPastEnd",
     F::ffRtu,
     O::foOk,
     R::frRequest,
     {1, 0x10, 0, 0, 0, 1, 0xFF, 0, 0},
     "slave 1 write multiple registers (length error)"},
    {"ExceptionTooLong",
     F::ffRtu,
     O::foException,
     R::frReply,
     {1, 0x83, 2, 9, 0, 0},
     "exception reply of 3 bytes (length error)"},
    {"NoFunction", F::ffTcp, O::foOk, R::frReply, {0, 1, 0, 0, 0, 2, 0, 0}, "reply function 0"},
    {"AsciiNotHex", F::ffAscii, O::foOk, R::frRequest, Text(":01G3\r\n"),
     "malformed frame (7 bytes)"},
    {"AsciiOddDigits", F::ffAscii, O::foOk, R::frRequest, Text(":010\r\n"),
     "malformed frame (6 bytes)"},
    {"AsciiNoColon", F::ffAscii, O::foOk, R::frRequest, Text("0103"), "malformed frame (4 bytes)"},
    {"AsciiOnlyLineEnd", F::ffAscii, O::foOk, R::frRequest, Text(":\r\n"),
     "malformed frame (3 bytes)"},
    // The window's words: the same frames in Italian.
    {"ItalianRead",
     F::ffRtu,
     O::foOk,
     R::frRequest,
     {1, 3, 0, 0, 0, 0x0A, 0xC5, 0xCD},
     "slave 1 lettura registri holding 0+10",
     IT},
    {"ItalianReply",
     F::ffRtu,
     O::foOk,
     R::frReply,
     {1, 3, 4, 0, 1, 0, 2, 0x2A, 0x32},
     "risposta 2 registri",
     IT},
    {"ItalianException",
     F::ffRtu,
     O::foException,
     R::frReply,
     {1, 0x83, 2, 0xC0, 0xF1},
     "eccezione 2 indirizzo dati non ammesso",
     IT},
    {"ItalianUnknownException",
     F::ffTcp,
     O::foException,
     R::frReply,
     {0, 1, 0, 0, 0, 3, 0, 0x83, 9},
     "eccezione 9 eccezione sconosciuta",
     IT},
    {"ItalianUnmatched",
     F::ffTcp,
     O::foUnmatched,
     R::frReply,
     {0, 2, 0, 0, 0, 5, 0, 3, 2, 0, 1},
     "non attesa: risposta 1 registro",
     IT},
    {"ItalianTimeout", F::ffRtu, O::foTimeout, R::frReply, {1, 3}, "time-out dopo 2 byte", IT},
    {"ItalianCut",
     F::ffRtu,
     O::foOk,
     R::frRequest,
     {1, 3, 0, 0, 0},
     "slave 1 lettura registri holding (errore di lunghezza)",
     IT},
    {"ItalianMalformed", F::ffRtu, O::foOk, R::frUnknown, {}, "frame malformato (0 byte)", IT},
};

// Test names in CTest's listing show the row's name, not its bytes in memory.
void PrintTo(const TSummaryRow& Row, std::ostream* Out) {
  *Out << Row.Name;
}

class FrameSummaryTest : public ::testing::TestWithParam<TSummaryRow> {};

TEST_P(FrameSummaryTest, DescribesTheFrame) {
  const TSummaryRow& row = GetParam();
  EXPECT_EQ(SummarizeFrame(row.Framing, row.Outcome, row.Bytes, row.Role, row.Language),
            row.Expected);
}

INSTANTIATE_TEST_SUITE_P(Rows, FrameSummaryTest, ::testing::ValuesIn(ROWS),
                         [](const auto& Info) { return std::string(Info.param.Name); });

}  // namespace
