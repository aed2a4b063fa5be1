// The serial connection's settings, open and close on a pseudo-terminal, lines,
// hooked ports, restore-time activation and the silent interval.
#include <dirent.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <system_error>

#include "ModLinkError.h"
#include "ModLinkErrorText.h"
#include "ModbusClient.h"
#include "ModbusConnection.h"
#include "PtyPair.h"

namespace {

using namespace serialtest;

const char* MustBeClosed = "Connection must NOT be active for the requested action to be performed";
const char* MustBeOpen = "Connection MUST be active for the requested action to be performed";
const char* BadFlow = "Flow control is not valid for the requested action to be performed";

// A port that cannot be opened raises the system's error; its text starts with the
// documented one and goes on with the port and the system's reason.
std::string OpenError(TModbusConnection& Conn) {
  try {
    Conn.Open();
  } catch (const std::system_error& E) {
    return E.what();
  }
  return "<no error>";
}
using ::testing::StartsWith;

// Exposes the silent-interval computation, which otherwise runs only at open.
struct TTestConnection : TModbusConnection {
  using TModbusConnection::UpdateRealSilentInterval;
};

std::uint32_t ProgrammedRate(int SlaveFd) {
  TSerialDevice Probe;
  Probe.Attach(SlaveFd);
  return Probe.CurrentBaudRate();
}

int EntriesOf(const char* Folder) {
  int Count = 0;
  if (DIR* Dir = ::opendir(Folder)) {
    while (::readdir(Dir)) ++Count;
    ::closedir(Dir);
  }
  return Count;
}
int OpenDescriptorCount() {
  return EntriesOf("/proc/self/fd");
}
int ThreadCount() {
  return EntriesOf("/proc/self/task");
}

TEST(ConnectionSettings, DefaultsAndSetterRules) {
  TModbusConnection Conn;
  EXPECT_FALSE(Conn.Active());
  EXPECT_EQ(Conn.Port(), "COM1");
  EXPECT_EQ(Conn.BaudRate(), br19200);
  EXPECT_EQ(Conn.Parity(), psEven);
  EXPECT_EQ(Conn.TransmissionMode(), tmRTU);
  EXPECT_EQ(Conn.ConnectionMode(), cmClient);
  EXPECT_EQ(Conn.MaxRetries(), 1u);
  EXPECT_EQ(Conn.ReceiveTimeout(), 1000u);
  EXPECT_EQ(Conn.TurnaroundDelay(), 100u);
  EXPECT_EQ(Conn.RealSilentInterval(), 16u);

  EXPECT_EQ(ErrorText([&] { Conn.SetMaxRetries(0); }), "Value must be between 1 and 4294967295");
  EXPECT_EQ(Conn.MaxRetries(), 1u);
  Conn.SetMaxRetries(4294967295u);
  EXPECT_EQ(Conn.MaxRetries(), 4294967295u);

  Conn.SetCustomBaudRate(19200);  // the current value: no change, the table rate stays
  EXPECT_EQ(Conn.BaudRate(), br19200);
  Conn.SetCustomBaudRate(31250);
  EXPECT_EQ(Conn.BaudRate(), brCustom);
  EXPECT_EQ(Conn.CountPendingTransactions(nullptr), 0);
  EXPECT_EQ(ErrorText([&] { Conn.SetBaudRate(static_cast<TBaudRate>(40)); }), "Internal error");
  EXPECT_EQ(Conn.BaudRate(), brCustom);
}

struct TSilenceCase {
  TTransmissionMode Mode;
  TBaudRate Rate;
  TParityScheme Parity;
  TStopBits Stop;
  std::uint32_t Characters;
  std::uint32_t Expected;
};

class SilentInterval : public ::testing::TestWithParam<TSilenceCase> {};

TEST_P(SilentInterval, FollowsTheLineAndNeverDropsBelowTheFloor) {
  const TSilenceCase& C = GetParam();
  TTestConnection Conn;
  Conn.SetTransmissionMode(C.Mode);
  Conn.SetBaudRate(C.Rate);
  Conn.SetParity(C.Parity);
  Conn.SetStopBits(C.Stop);
  Conn.SetSilentInterval(C.Characters);
  Conn.UpdateRealSilentInterval();
  EXPECT_EQ(Conn.RealSilentInterval(), C.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SilentInterval,
    ::testing::Values(TSilenceCase{tmRTU, br19200, psEven, sb1, 4, 16},
                      TSilenceCase{tmRTU, br9600, psEven, sb1, 4, 16},
                      TSilenceCase{tmRTU, br1200, psEven, sb1, 4, 34},
                      TSilenceCase{tmRTU, br300, psEven, sb1, 4, 134},
                      TSilenceCase{tmRTU, br110, psEven, sb1, 4, 364},
                      TSilenceCase{tmRTU, br110, psNone, sb2, 4, 364},
                      TSilenceCase{tmASCII, br19200, psEven, sb1, 50, 50},
                      TSilenceCase{tmASCII, br19200, psEven, sb1, 4, 16},
                      // A count whose 32-bit product would wrap still gives the long interval.
                      TSilenceCase{tmRTU, br19200, psEven, sb1, 500000, 260417}));

TEST(ConnectionOpen, EventsAroundOpenAndCloseSeeTheOldState) {
  TPtyPair Pty;
  TModbusConnection Conn;
  Conn.SetPort(Pty.Path());
  std::vector<std::string> Seen;
  Conn.OnBeforeOpen = [&](TModbusConnection& C) {
    Seen.push_back("before-open " + std::to_string(C.Active()));
  };
  Conn.OnAfterOpen = [&](TModbusConnection& C) {
    Seen.push_back("after-open " + std::to_string(C.Active()));
  };
  Conn.OnBeforeClose = [&](TModbusConnection& C) {
    Seen.push_back("before-close " + std::to_string(C.Active()));
  };
  Conn.OnAfterClose = [&](TModbusConnection& C) {
    Seen.push_back("after-close " + std::to_string(C.Active()));
  };
  Conn.Open();
  EXPECT_TRUE(Conn.Active());
  Conn.Open();  // already open: nothing happens
  Conn.Close();
  EXPECT_EQ(Seen, (std::vector<std::string>{"before-open 0", "after-open 0", "before-close 1",
                                            "after-close 1"}));
}

TEST(ConnectionOpen, AFailingAfterEventStillLeavesActiveTellingTheTruth) {
  TPtyPair Pty;
  TModbusConnection Conn;
  Conn.SetPort(Pty.Path());
  Conn.OnAfterOpen = [](TModbusConnection&) { throw std::runtime_error("after open"); };
  EXPECT_THROW(Conn.Open(), std::runtime_error);
  EXPECT_TRUE(Conn.Active());  // the port is open and can be closed
  Conn.OnAfterClose = [](TModbusConnection&) { throw std::runtime_error("after close"); };
  EXPECT_THROW(Conn.Close(), std::runtime_error);
  EXPECT_FALSE(Conn.Active());
  auto Transaction = std::make_unique<TModbusTransaction>(Conn.DetermineMaximumFrameSize());
  EXPECT_EQ(ErrorText([&] { Conn.EnqueueTransaction(std::move(Transaction), nullptr); }),
            MustBeOpen);
}

TEST(ConnectionOpen, FailuresLeaveTheConnectionClosed) {
  TModbusConnection Conn;
  Conn.SetPort("/dev/no-such-serial-port");
  EXPECT_EQ(OpenError(Conn),
            "Could not open serial port /dev/no-such-serial-port: No such file or directory");
  EXPECT_FALSE(Conn.Active());
  Conn.SetPort("no-such-tty-under-dev");
  EXPECT_EQ(OpenError(Conn),
            "Could not open serial port /dev/no-such-tty-under-dev: No such file or directory");

  TPtyPair Pty;
  Conn.SetPort(Pty.Path());
  const int Before = OpenDescriptorCount();
  Conn.OnBeforeOpen = [](TModbusConnection&) { throw std::runtime_error("refused"); };
  EXPECT_THROW(Conn.Open(), std::runtime_error);
  EXPECT_FALSE(Conn.Active());
  EXPECT_EQ(OpenDescriptorCount(), Before);
  Conn.OnBeforeOpen = nullptr;

  Conn.SetFlowControl(fcDtrDsr);
  EXPECT_EQ(ErrorText([&] { Conn.Open(); }),
            "DTR/DSR flow control is not supported on this system");
  EXPECT_EQ(OpenDescriptorCount(), Before);

  Conn.SetFlowControl(fcNone);
  Conn.SetCustomBaudRate(0);
  EXPECT_EQ(ErrorText([&] { Conn.Open(); }), "Failed to update device control block");
  EXPECT_FALSE(Conn.Active());
  EXPECT_EQ(OpenDescriptorCount(), Before);
}

TEST(ConnectionOpen, CyclesLeaveNoDescriptorOrThreadBehind) {
  TPtyPair Pty;
  TModbusConnection Conn;
  Conn.SetPort(Pty.Path());
  Conn.Open();
  Conn.Close();  // warm-up: one-time allocations of the runtime
  const int Descriptors = OpenDescriptorCount();
  const int Threads = ThreadCount();
  for (int i = 0; i < 20; ++i) {
    Conn.Open();
    Conn.Close();
  }
  EXPECT_EQ(OpenDescriptorCount(), Descriptors);
  EXPECT_EQ(ThreadCount(), Threads);
}

TEST(ConnectionOpen, ClosedOnlySettingsAreRefusedWhileOpen) {
  TPtyPair Pty;
  TModbusConnection Conn;
  Conn.SetPort(Pty.Path());
  Conn.Open();
  Conn.SetPort(Pty.Path());  // the same value is no change
  EXPECT_EQ(ErrorText([&] { Conn.SetPort("/dev/ttyS0"); }), MustBeClosed);
  EXPECT_EQ(ErrorText([&] { Conn.SetFlowControl(fcRtsCts); }), MustBeClosed);
  EXPECT_EQ(ErrorText([&] { Conn.SetTransmissionMode(tmASCII); }), MustBeClosed);
  EXPECT_EQ(ErrorText([&] { Conn.SetConnectionMode(cmMonitor); }), MustBeClosed);
  EXPECT_EQ(ErrorText([&] { Conn.SetInputBufferSize(10); }), MustBeClosed);
  EXPECT_EQ(ErrorText([&] { Conn.SetRTSEnabled(false); }), MustBeClosed);
  EXPECT_EQ(Conn.Port(), Pty.Path());
  EXPECT_EQ(Conn.FlowControl(), fcNone);

  // Line settings are reprogrammed at once, the timing ones taken from the next use.
  EXPECT_EQ(ProgrammedRate(Pty.Slave()), 19200u);
  Conn.SetBaudRate(br1200);
  EXPECT_EQ(ProgrammedRate(Pty.Slave()), 1200u);
  EXPECT_EQ(Conn.RealSilentInterval(), 34u);
  Conn.SetCustomBaudRate(31250);
  EXPECT_EQ(ProgrammedRate(Pty.Slave()), 31250u);
  Conn.SetReceiveTimeout(250);
  EXPECT_EQ(Conn.GetReceiveTimeout(), 250u);

  // A rate the device refuses keeps the port open with the new value stored.
  EXPECT_EQ(ErrorText([&] { Conn.SetCustomBaudRate(0); }), "Failed to update device control block");
  EXPECT_TRUE(Conn.Active());
  EXPECT_EQ(Conn.CustomBaudRate(), 0u);
  Conn.Close();
}

TEST(ConnectionOpen, CustomRateIsProgrammedExactlyAtOpen) {
  TPtyPair Pty;
  TModbusConnection Conn;
  Conn.SetPort(Pty.Path());
  Conn.SetCustomBaudRate(250000);
  Conn.Open();
  EXPECT_EQ(ProgrammedRate(Pty.Slave()), 250000u);
}

TEST(ConnectionLines, ChecksComeFirstThenThePtyReportsItHasNoModemLines) {
  TPtyPair Pty;
  TModbusConnection Conn;
  Conn.SetPort(Pty.Path());
  EXPECT_EQ(ErrorText([&] { Conn.ChangeRTS(true); }), MustBeOpen);
  EXPECT_EQ(ErrorText([&] { Conn.ChangeDTR(true); }), MustBeOpen);

  Conn.SetFlowControl(fcRtsCts);
  Conn.Open();
  EXPECT_EQ(ErrorText([&] { Conn.ChangeRTS(true); }), BadFlow);
  Conn.Close();

  Conn.SetFlowControl(fcRtsToggle);
  Conn.Open();
  EXPECT_EQ(ErrorText([&] { Conn.ChangeRTS(false); }), BadFlow);
  Conn.Close();

  Conn.SetFlowControl(fcNone);
  Conn.Open();
  try {
    Conn.ChangeRTS(false);
    FAIL() << "a pseudo-terminal has no RTS line";
  } catch (const std::system_error& E) {
    EXPECT_EQ(E.code().value(), ENOTTY);
  }
  EXPECT_TRUE(Conn.RTSEnabled());
  EXPECT_THROW(Conn.ChangeDTR(true), std::system_error);
}

TEST(ConnectionHook, UsesTheApplicationsDescriptorAndNeverClosesIt) {
  TPtyPair Pty;
  TModbusConnection Conn;
  Conn.SetHookExistingPort(true);
  EXPECT_THAT(OpenError(Conn), StartsWith("Could not open serial port"));
  Conn.OnGetHookedPortHandle = [](TModbusConnection&, int&) {};
  EXPECT_THAT(OpenError(Conn), StartsWith("Could not open serial port"));

  const int Own = ::open(Pty.Path().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(Own, 0);
  Conn.OnGetHookedPortHandle = [Own](TModbusConnection&, int& Handle) { Handle = Own; };
  Conn.Open();
  EXPECT_TRUE(Conn.Active());
  Conn.Close();
  EXPECT_GE(::fcntl(Own, F_GETFD), 0);
  ::close(Own);
}

TEST(ConnectionLoad, ParkedActiveIsAppliedByLoaded) {
  TPtyPair Pty;
  TModbusConnection Conn;
  Conn.BeginLoad();
  Conn.SetActive(true);
  EXPECT_FALSE(Conn.Active());
  Conn.SetPort(Pty.Path());  // settings may change while loading
  Conn.Loaded();
  EXPECT_TRUE(Conn.Active());
  Conn.Close();

  // A failure while applying goes to the application's handler, not to the caller.
  std::string Reported;
  SetApplicationExceptionHandler([&](std::exception_ptr E) {
    try {
      std::rethrow_exception(E);
    } catch (const std::exception& Error) {
      Reported = Error.what();
    }
  });
  TModbusConnection Broken;
  Broken.SetPort("/dev/no-such-serial-port");
  Broken.BeginLoad();
  Broken.SetActive(true);
  EXPECT_NO_THROW(Broken.Loaded());
  SetApplicationExceptionHandler(nullptr);
  EXPECT_THAT(Reported, StartsWith("Could not open serial port"));
  EXPECT_FALSE(Broken.Active());
}

TEST(ConnectionRegistry, ClientsAreListedOnceAndToldWhenTheConnectionGoes) {
  TModbusClient Client;
  {
    TModbusConnection Conn;
    Conn.RegisterClient(&Client);
    Conn.RegisterClient(&Client);
    Conn.RegisterClient(nullptr);
    EXPECT_EQ(Conn.ClientCount(), 1);
    EXPECT_EQ(Conn.GetClient(0), &Client);
    EXPECT_EQ(ErrorText([&] { Conn.GetClient(1); }), "List index out of bounds (1)");
    Conn.UnregisterClient(&Client);
    EXPECT_EQ(Conn.ClientCount(), 0);
    Client.SetConnection(&Conn);
    EXPECT_EQ(Conn.ClientCount(), 1);
    EXPECT_EQ(Conn.GetNextUniqueID(), 0u);
    EXPECT_EQ(Conn.GetNextUniqueID(), 1u);
  }
  EXPECT_EQ(Client.Connection(), nullptr);
}

TEST(ConnectionQueue, EnqueueOnAClosedConnectionLeavesTheTransactionWithTheCaller) {
  TModbusConnection Conn;
  auto Transaction = std::make_unique<TModbusTransaction>(Conn.DetermineMaximumFrameSize());
  EXPECT_EQ(ErrorText([&] { Conn.EnqueueTransaction(std::move(Transaction), nullptr); }),
            MustBeOpen);
  EXPECT_NE(Transaction, nullptr);
  Conn.DiscardPendingTransactions(nullptr);  // closed: nothing to do
}

}  // namespace
