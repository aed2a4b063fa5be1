// The device control block's flags for each flow control and modem-line setting: the
// rules the port applies at open, checked without a port (Wine does not carry modem
// lines to a pseudo-terminal).
#include <gtest/gtest.h>

#include <system_error>

#include "DcbFlags.h"

namespace {

struct TDcbRow {
  const char* Name;
  TLineSettings Settings;
  std::uint32_t Expected;
};

TLineSettings Line(char Parity, bool RtsCts, bool DtrDsr, bool RaiseRTS, bool RaiseDTR) {
  TLineSettings Settings;
  Settings.Parity = Parity;
  Settings.RtsCtsFlowControl = RtsCts;
  Settings.DtrDsrFlowControl = DtrDsr;
  Settings.RaiseRTS = RaiseRTS;
  Settings.RaiseDTR = RaiseDTR;
  return Settings;
}

using namespace DcbFlag;

class DcbFlagsTest : public testing::TestWithParam<TDcbRow> {};

TEST_P(DcbFlagsTest, MatchTheDeviceBlockLayout) {
  EXPECT_EQ(DcbFlags(GetParam().Settings), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DcbFlagsTest,
    testing::Values(
        TDcbRow{"NoParityBothLinesUp", Line('N', false, false, true, true),
                Binary | RtsControlEnable | DtrControlEnable},
        TDcbRow{"EvenParityChecksParity", Line('E', false, false, true, true),
                Binary | Parity | RtsControlEnable | DtrControlEnable},
        // RTS toggling: the sender raises RTS around each frame, the driver keeps it low.
        TDcbRow{"RtsLeftLow", Line('N', false, false, false, true), Binary | DtrControlEnable},
        TDcbRow{"BothLinesLow", Line('O', false, false, false, false), Binary | Parity},
        TDcbRow{"RtsCtsHandshake", Line('N', true, false, true, true),
                Binary | OutxCtsFlow | RtsControlHandshake | DtrControlEnable},
        TDcbRow{"DtrDsrHandshake", Line('N', false, true, true, true),
                Binary | OutxDsrFlow | DtrControlHandshake | RtsControlEnable},
        TDcbRow{"DtrDsrWithDtrDisabled", Line('N', false, true, false, false),
                Binary | OutxDsrFlow | DtrControlHandshake}),
    [](const testing::TestParamInfo<TDcbRow>& Info) { return std::string(Info.param.Name); });

TEST(DcbCodes, ParityAndStopBits) {
  EXPECT_EQ(DcbParity('N'), 0);
  EXPECT_EQ(DcbParity('O'), 1);
  EXPECT_EQ(DcbParity('E'), 2);
  EXPECT_EQ(DcbStopBits(1), 0);
  EXPECT_EQ(DcbStopBits(2), 2);
}

// A port that is not there fails with the library's text, the device path and the
// system's own error; a closed device stays closed.
TEST(SerialDeviceOpen, MissingPortNamesItsDevicePath) {
  TSerialDevice Device;
  try {
    Device.Open("COM99");
    FAIL() << "COM99 opened";
  } catch (const std::system_error& Error) {
    EXPECT_EQ(std::string(Error.what()).rfind("Could not open serial port \\\\.\\COM99", 0), 0u)
        << Error.what();
    EXPECT_NE(Error.code().value(), 0);
  }
  EXPECT_FALSE(Device.IsOpen());
  EXPECT_EQ(TSerialDevice::DevicePath("\\\\.\\COM10"), "\\\\.\\COM10");
}

}  // namespace
