// The serial scan on a pseudo-terminal. A pty has no real baud rate or parity
// (both ends share one set of line settings), so what is shown here is the
// time each try may take, stopping early, and a port that cannot be used.
#include "SerialScan.h"

#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace {

TEST(SerialScan, AFullDefaultScanFitsInThreeMinutes) {
  const TSerialScanSettings defaults;
  std::uint64_t worstMs = 0;
  for (const TBaudRate rate : defaults.BaudRates)
    for (const TParityScheme parity : defaults.Parities)
      worstMs += 247ull * ScanTryTimeout(rate, parity, defaults.ReplyMarginMs);
  EXPECT_LT(worstMs, 180000u);
  // Long enough for the reply at the slowest rate: 7 characters of 11 bits at 9600 baud.
  EXPECT_GT(ScanTryTimeout(br9600, psEven, 0), 7u * 11u * 1000u / 9600u);
}

TEST(SerialScan, StopsEarlyOnASilentLineAndKeepsWhatItFound) {
  int master = -1, slave = -1;
  char name[128] = {};
  ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
  TSerialScanSettings settings;
  settings.Port = name;
  TSerialScan scan(settings);
  int tries = 0;
  scan.OnProgress = [&](const TScanProgress& Progress) {
    tries = Progress.Done;
    EXPECT_EQ(Progress.Total, 3705);
    if (Progress.Done == 5) scan.RequestStop();
  };
  const auto started = std::chrono::steady_clock::now();
  const TScanResult result = scan.Run();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
  EXPECT_TRUE(result.Stopped);
  EXPECT_TRUE(result.Error.empty()) << result.Error;
  EXPECT_TRUE(result.Found.empty());
  EXPECT_EQ(tries, 5);
  close(slave);
  close(master);
}

TEST(SerialScan, APortThatCannotBeOpenedEndsTheScanAtOnce) {
  TSerialScanSettings settings;
  settings.Port = "/dev/nonexistent-kq517-port";
  TSerialScan scan(settings);
  const TScanResult result = scan.Run();
  EXPECT_NE(result.Error.find("/dev/nonexistent-kq517-port"), std::string::npos) << result.Error;
  EXPECT_FALSE(result.Stopped);
}

TEST(SerialScan, FoundTexts) {
  EXPECT_EQ(FoundText({br19200, psEven, 7, 103, 0}),
            "found: slave 7, 19200 baud, parity even, firmware 103");
  EXPECT_EQ(FoundText({br9600, psNone, 1, std::nullopt, 2}),
            "found: slave 1, 9600 baud, parity none, exception 2 instead of the firmware word");
}

}  // namespace
