// The PDU sizes by function code that the serial framing, the TCP client's
// reply check and the frame summaries all read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PduSize.h"

namespace {

struct TSizeRow {
  const char* Name;
  bool Reply;
  std::vector<std::uint8_t> Pdu;  // the bytes that have arrived
  int Expected;
  std::uint8_t QueryFunction = 0;
  int QuerySize = 0;
};

void PrintTo(const TSizeRow& Row, std::ostream* Out) {
  *Out << Row.Name;
}

class PduSize : public ::testing::TestWithParam<TSizeRow> {};

TEST_P(PduSize, IsToldByTheFirstBytes) {
  const TSizeRow& row = GetParam();
  const int count = static_cast<int>(row.Pdu.size());
  EXPECT_EQ(row.Reply ? ReplyPduSize(row.Pdu.data(), count, row.QueryFunction, row.QuerySize)
                      : RequestPduSize(row.Pdu.data(), count),
            row.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PduSize,
    ::testing::Values(
        TSizeRow{"NothingYet", false, {}, PduSizeUnknownYet},
        TSizeRow{"ReadHoldingRequest", false, {0x03}, 5},
        TSizeRow{"WriteRegistersRequestByItsByteCount", false, {0x10, 0, 1, 0, 2, 4}, 10},
        TSizeRow{"WriteRegistersRequestBeforeItsByteCount",
                 false,
                 {0x10, 0, 1, 0, 2},
                 PduSizeUnknownYet},
        TSizeRow{
            "ReadWriteRequestByItsWriteByteCount", false, {0x17, 0, 0, 0, 1, 0, 0, 0, 1, 2}, 12},
        TSizeRow{"DiagnosticsEchoRequest", false, {0x08, 0, 0}, PduSizeUnpredictable},
        TSizeRow{"DiagnosticsRequest", false, {0x08, 0, 1}, 5},
        TSizeRow{"UnknownFunction", false, {0x41}, PduSizeUnpredictable},
        TSizeRow{"ReadHoldingReply", true, {0x03, 0xCA}, 204},
        TSizeRow{"ExceptionReply", true, {0x83}, 2},
        TSizeRow{"WriteRegisterReply", true, {0x06}, 5},
        TSizeRow{"FifoReplyByItsWordCount", true, {0x18, 0x00, 0x06}, 9},
        TSizeRow{"DiagnosticsEchoReplyAsItsQuery", true, {0x08, 0, 0}, 7, 0x08, 7},
        TSizeRow{"DiagnosticsEchoReplyWithoutQuery", true, {0x08, 0, 0}, PduSizeUnpredictable}),
    [](const auto& row) { return std::string(row.param.Name); });

TEST(ReadReplyByteCount, BitsPackIntoBytesRegistersTakeTwo) {
  EXPECT_EQ(ReadReplyByteCount(1, 9), 2);
  EXPECT_EQ(ReadReplyByteCount(2, 8), 1);
  EXPECT_EQ(ReadReplyByteCount(3, 125), 250);
  EXPECT_EQ(ReadReplyByteCount(4, 1), 2);
  EXPECT_FALSE(ReadReplyByteCount(16, 2)) << "a write's reply echoes its request";
}

}  // namespace
